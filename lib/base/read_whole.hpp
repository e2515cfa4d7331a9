#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace qv {

// Reads fd to its end into buffer, at most `size` bytes: the count read, or
// -1 with errno set. A count of `size` means the input may go on: a caller
// that takes at most N bytes gives a buffer of N + 1 and refuses a full one.
inline ssize_t read_whole(int fd, char *buffer, size_t size)
{
    size_t count = 0;
    while (count < size) {
        const ssize_t got = read(fd, buffer + count, size - count);
        if (got == 0)
            break;
        if (got < 0 && errno != EINTR)
            return -1;
        count += got > 0 ? static_cast<size_t>(got) : 0;
    }
    return static_cast<ssize_t>(count);
}

} // namespace qv
