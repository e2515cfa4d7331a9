#pragma once

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace qv {

// Owns one file descriptor (a device or a socket) and closes it once.
// close() is never retried: on Linux the descriptor is gone even when
// close reports EINTR.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;
    UniqueFd(UniqueFd &&other) noexcept : fd_(other.release()) {}
    UniqueFd &operator=(UniqueFd &&other) noexcept
    {
        reset(other.release());
        return *this;
    }
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1)
    {
        if (fd_ >= 0)
            (void)::close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

// Takes a new descriptor (-1 with errno set passes through) and keeps it off
// 0, 1 and 2. A program started with a standard stream closed gets that
// number back from its next open or socket, and everything it then prints
// to the stream (perror's messages among it) would go into the device or the
// file instead. A descriptor that lands there is moved to 3 or above.
inline UniqueFd above_stdio(int fd)
{
    UniqueFd owned(fd);
    if (fd < 0 || fd > STDERR_FILENO)
        return owned;
    UniqueFd moved(fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1));
    const int error = errno;
    owned.reset();
    errno = error;
    return moved;
}

// open() for everything the tools open: close-on-exec, never on 0 to 2.
inline UniqueFd open_fd(const char *path, int flags, mode_t mode = 0)
{
    return above_stdio(open(path, flags | O_CLOEXEC, mode));
}

} // namespace qv
