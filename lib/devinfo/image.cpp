// The record on a path a user names: the partition, or an image file made
// offline. Only qv_info reads and writes images; this is its own archive.

#include "qvf_image.hpp"
#include "record.hpp"
#include "unique_fd.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <linux/stat.h> // statx's attributes: not every C library declares statx
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using qvf::InfoRecord;
using qvf::Partition;
using qvf::StoreResult;

constexpr const char *kNotDeviceOrFile = "not a character device or a regular file";

// While a new image is written its mode is this alone: a file of this name
// pattern and mode whose lock nobody holds was left by a store that was
// killed.
constexpr mode_t kWritingMode = 0200;

// The folder a path names its file in, in `folder`; false when it does not fit.
bool folder_of(const char *path, char (&folder)[PATH_MAX])
{
    const char *slash = strrchr(path, '/');
    if (slash == nullptr)
        return snprintf(folder, sizeof folder, ".") > 0;
    const int length = slash == path ? 1 : static_cast<int>(slash - path);
    const int n = snprintf(folder, sizeof folder, "%.*s", length, path);
    return n > 0 && static_cast<size_t>(n) < sizeof folder;
}

// Whether the path's folder, links resolved, is /dev or below it: there only
// device nodes belong, and a missing one is a driver that did not attach.
bool in_dev(const char *path)
{
    char folder[PATH_MAX], resolved[PATH_MAX];
    if (!folder_of(path, folder) || realpath(folder, resolved) == nullptr)
        return false; // nothing can be made there either
    return strcmp(resolved, "/dev") == 0 || strncmp(resolved, "/dev/", 5) == 0;
}

enum class Kind { kDevice, kImage, kMissing, kFailed, kRefused };

// What a path holds: under /dev a device (the partition's code checks it),
// elsewhere a character device, an image, or nothing yet. A link is not
// followed; anything else is refused in one line.
Kind kind_of(const char *path)
{
    if (in_dev(path))
        return Kind::kDevice;
    struct stat st;
    if (lstat(path, &st) < 0) {
        if (errno == ENOENT)
            return Kind::kMissing;
        perror(path);
        return Kind::kFailed;
    }
    if (S_ISCHR(st.st_mode))
        return Kind::kDevice;
    if (S_ISREG(st.st_mode))
        return Kind::kImage;
    fprintf(stderr, "%s: %s\n", path, kNotDeviceOrFile);
    return Kind::kRefused;
}

// The milliseconds left of a wait that began at `start`; -1: no bound.
int left_ms(const timespec &start, int wait_ms)
{
    timespec now{};
    if (wait_ms < 0 || clock_gettime(CLOCK_MONOTONIC, &now) < 0)
        return wait_ms;
    const long waited = (now.tv_sec - start.tv_sec) * 1000L + (now.tv_nsec - start.tv_nsec) / 1000000L;
    return waited >= wait_ms ? 0 : wait_ms - static_cast<int>(waited);
}

enum Opened { kOpened = 0, kGone = 1 };

// Opens the image and takes the lock `operation` on it. A store replaces the
// file: one that finished while this waited leaves the lock on the old file,
// so the new one is opened and locked in its place, and what is read is what
// the last store left. kGone: there is no image (any more).
int open_image(const Partition &partition, int flags, int operation, qv::UniqueFd &fd, struct stat &st)
{
    timespec start{};
    (void)clock_gettime(CLOCK_MONOTONIC, &start); // the monotonic clock is always there
    for (;;) {
        fd = qv::open_fd(partition.path, flags | O_NOFOLLOW | O_NONBLOCK);
        if (!fd.valid() && errno == ENOENT)
            return kGone;
        if (!fd.valid()) {
            perror(partition.path);
            return qvf::kWriteFailed;
        }
        if (fstat(fd.get(), &st) < 0) {
            perror("fstat");
            return qvf::kReadFailed;
        }
        if (!S_ISREG(st.st_mode)) {
            fprintf(stderr, "%s: %s\n", partition.path, kNotDeviceOrFile);
            return qvf::kRefused;
        }
        if (!qvf::lock_record(fd.get(), operation, partition.path, left_ms(start, partition.lock_wait_ms)))
            return qvf::kWriteFailed;
        struct stat now;
        if (lstat(partition.path, &now) == 0 && now.st_ino == st.st_ino && now.st_dev == st.st_dev)
            return kOpened;
        // Replaced or removed meanwhile: whatever is there now is opened.
    }
}

// Whether the path is where something is mounted (a file bound onto it):
// such a file cannot be replaced. Where the kernel cannot tell, the rename
// says so.
bool mount_point(const char *path)
{
    struct statx sx {};
    if (syscall(SYS_statx, AT_FDCWD, path, AT_SYMLINK_NOFOLLOW, 0, &sx) < 0)
        return false;
    return (sx.stx_attributes_mask & sx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
}

void tell_mount_point(const char *path)
{
    fprintf(stderr, "%s: a file mounted there cannot be replaced\n", path);
}

// Writes all of data at offset; false when told.
bool pwrite_all(int fd, const uint8_t *data, size_t size, off_t offset)
{
    while (size > 0) {
        const ssize_t written = pwrite(fd, data, size, offset);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            perror("write");
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
        offset += written;
    }
    return true;
}

// The image's new content: the record, then erased flash up to `size`.
bool fill_image(int fd, const unsigned char *record, off_t size)
{
    if (!pwrite_all(fd, record, QVF_RECORD_SIZE, 0))
        return false;
    uint8_t erased[4096];
    memset(erased, qvf::kErasedByte, sizeof erased);
    for (off_t at = QVF_RECORD_SIZE; at < size;) {
        const off_t left = size - at;
        const size_t n = left < static_cast<off_t>(sizeof erased) ? static_cast<size_t>(left) : sizeof erased;
        if (!pwrite_all(fd, erased, n, at))
            return false;
        at += static_cast<off_t>(n);
    }
    return true;
}

// Whether a name in the image's folder is one of our new images: ".qv" and
// six letters or digits (without the dot where the file system refuses
// names that begin with one). Short, so that it fits beside any name and
// in an 8.3 folder.
bool temp_name(const char *name)
{
    name += name[0] == '.';
    if (strncmp(name, "qv", 2) != 0 || strlen(name) != 8)
        return false;
    for (const char *c = name + 2; *c != '\0'; ++c)
        if (!(*c >= '0' && *c <= '9') && !((*c | 0x20) >= 'a' && (*c | 0x20) <= 'z'))
            return false;
    return true;
}

// Removes the new images that stores killed before their rename left in the
// folder: a living store holds its new file's lock. Only files of this
// program's user or of the image's owner (`owner`: the new file was theirs
// by then) are ours: in a folder shared with others, such as /tmp, anyone
// else's stays.
void remove_left_files(const char *folder, uid_t owner)
{
    DIR *dir = opendir(folder);
    if (dir == nullptr)
        return; // nothing to tidy where the folder cannot be listed
    // readdir64: a 32-bit program's readdir fails on a folder whose entries
    // the file system numbers with 64 bits (ext4's hashes, seen under
    // qemu-user on a 64-bit kernel).
    for (;;) {
        errno = 0;
        const dirent64 *entry = readdir64(dir);
        if (entry == nullptr) {
            if (errno != 0)
                perror(folder);
            break;
        }
        if (!temp_name(entry->d_name))
            continue;
        const qv::UniqueFd fd = qv::above_stdio(
            openat(dirfd(dir), entry->d_name, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat st;
        if (!fd.valid() || flock(fd.get(), LOCK_EX | LOCK_NB) < 0 || fstat(fd.get(), &st) < 0 ||
            !S_ISREG(st.st_mode) || (st.st_mode & 07777) != kWritingMode || st.st_nlink == 0 ||
            (st.st_uid != geteuid() && st.st_uid != owner))
            continue;
        if (unlinkat(dirfd(dir), entry->d_name, 0) < 0)
            perror(entry->d_name);
    }
    (void)closedir(dir);
}

// A new file beside the image, locked and of the writing mode from the
// start, removed again unless it took the image's place.
class NewImage {
public:
    explicit NewImage(const char *folder)
    {
        for (const char *dot : {".", ""}) {
            const int n = snprintf(path_, sizeof path_, "%s/%sqvXXXXXX", folder, dot);
            if (n < 0 || static_cast<size_t>(n) >= sizeof path_) {
                fprintf(stderr, "%s: name too long\n", folder);
                return;
            }
            fd = qv::above_stdio(mkostemp(path_, O_CLOEXEC));
            if (fd.valid() || errno != EINVAL)
                break; // EINVAL: a file system without names that begin with a dot
        }
        if (!fd.valid()) {
            perror(path_);
            return;
        }
        if (flock(fd.get(), LOCK_EX) < 0 || fchmod(fd.get(), kWritingMode) < 0) {
            perror(path_);
            fd.reset();
            (void)unlink(path_);
        }
    }
    NewImage(const NewImage &) = delete;
    NewImage &operator=(const NewImage &) = delete;
    ~NewImage()
    {
        if (fd.valid() && !renamed_ && unlink(path_) < 0)
            perror(path_);
    }
    bool rename_to(const char *image)
    {
        if (rename(path_, image) < 0) {
            if (errno == EBUSY)
                tell_mount_point(image);
            else
                perror("rename");
            return false;
        }
        renamed_ = true;
        return true;
    }

    qv::UniqueFd fd;

private:
    char path_[PATH_MAX] = "";
    bool renamed_ = false;
};

// The mode a new file gets from open(..., 0644): the umask's bits cleared.
mode_t new_file_mode()
{
    const mode_t mask = umask(0); // cannot fail; put back at once
    (void)umask(mask);
    return 0644 & ~mask;
}

// The folder a path names its file in, opened; false when told why not.
bool open_folder(const char *path, char (&folder)[PATH_MAX], qv::UniqueFd &fd)
{
    if (!folder_of(path, folder)) {
        fprintf(stderr, "%s: name too long\n", path);
        return false;
    }
    fd = qv::open_fd(folder, O_RDONLY | O_DIRECTORY);
    if (!fd.valid())
        perror(folder);
    return fd.valid();
}

// Writes the image anew in a new file of its folder (`folder`, open as
// folder_fd), flushed and read back, with the old one's owner, group and
// mode (`old`; none for a new image), and renames it over the image; then
// flushes the folder.
StoreResult replace_image(const char *path, const char *folder, const qv::UniqueFd &folder_fd,
                          const InfoRecord &record, const struct stat *old)
{
    remove_left_files(folder, old != nullptr ? old->st_uid : geteuid());
    const auto *bytes = reinterpret_cast<const unsigned char *>(&record);
    const qvf::HeldSignals held;
    NewImage temp(folder);
    const int fd = temp.fd.get();
    if (!temp.fd.valid())
        return qvf::kWriteFailed;
    if (old != nullptr && (old->st_uid != geteuid() || old->st_gid != getegid()) &&
        fchown(fd, old->st_uid, old->st_gid) < 0) {
        perror("fchown"); // the image keeps its owner, or is not replaced
        return qvf::kWriteFailed;
    }
    const off_t size = old == nullptr || old->st_size < QVF_RECORD_SIZE ? QVF_RECORD_SIZE : old->st_size;
    if (!fill_image(fd, bytes, size))
        return qvf::kWriteFailed;
    if (fsync(fd) < 0) {
        perror("fsync");
        return qvf::kWriteFailed;
    }
    if (qvf::verify_record(fd, bytes, path) < 0)
        return qvf::kWriteFailed;
    // The set-id bits are never carried over: a store by root must not make
    // a file someone planted run as its owner.
    if (fchmod(fd, old == nullptr ? new_file_mode() : old->st_mode & 01777) < 0) {
        perror("fchmod");
        return qvf::kWriteFailed;
    }
    if (!temp.rename_to(path))
        return qvf::kWriteFailed;
    if (fsync(folder_fd.get()) < 0) {
        perror("fsync");
        return qvf::kUnsure;
    }
    return qvf::kStored;
}

// A store into an image that is not there yet: the folder is locked while it
// is made, so that two stores do not both make it.
StoreResult store_new_image(const Partition &partition, const qvf::Fields &fields, unsigned which,
                            bool &appeared)
{
    char folder[PATH_MAX];
    qv::UniqueFd folder_fd;
    if (!open_folder(partition.path, folder, folder_fd))
        return qvf::kWriteFailed;
    if (!qvf::lock_record(folder_fd.get(), LOCK_EX, folder, partition.lock_wait_ms))
        return qvf::kWriteFailed;
    struct stat st;
    appeared = lstat(partition.path, &st) == 0;
    if (appeared)
        return qvf::kWriteFailed; // made meanwhile: stored into as any image
    InfoRecord record{}; // blank, as a new record
    qvf::replace_fields(record, fields, which);
    return replace_image(partition.path, folder, folder_fd, record, nullptr);
}

StoreResult store_image(const Partition &partition, const qvf::Fields &fields, unsigned which)
{
    for (;;) {
        qv::UniqueFd fd;
        struct stat st;
        const int opened = open_image(partition, O_RDWR, LOCK_EX, fd, st);
        if (opened == kGone) {
            bool appeared = false;
            const StoreResult made = store_new_image(partition, fields, which, appeared);
            if (appeared)
                continue;
            return made;
        }
        if (opened < 0)
            return static_cast<StoreResult>(opened);
        if ((st.st_mode & 0222) == 0) {
            // A read-only image stays as it is, whoever stores.
            fprintf(stderr, "%s: %s\n", partition.path, strerror(EACCES));
            return qvf::kWriteFailed;
        }
        if (mount_point(partition.path)) {
            tell_mount_point(partition.path);
            return qvf::kRefused;
        }
        InfoRecord record;
        if (qvf::read_record_at(fd.get(), record, partition.path) < 0)
            return qvf::kReadFailed;
        qvf::replace_fields(record, fields, which);
        char folder[PATH_MAX];
        qv::UniqueFd folder_fd;
        if (!open_folder(partition.path, folder, folder_fd))
            return qvf::kWriteFailed;
        return replace_image(partition.path, folder, folder_fd, record, &st);
    }
}

} // namespace

int qvf::any_fields_read(Partition partition, Fields &fields)
{
    const Kind kind = kind_of(partition.path);
    if (kind == Kind::kDevice)
        return fields_read(partition, fields);
    if (kind == Kind::kRefused || kind == Kind::kFailed)
        return kind == Kind::kRefused ? kRefused : kReadFailed;
    qv::UniqueFd fd;
    struct stat st;
    const int opened = open_image(partition, O_RDONLY, LOCK_SH, fd, st);
    if (opened == kGone) {
        errno = ENOENT;
        perror(partition.path);
        return kReadFailed;
    }
    InfoRecord record;
    if (opened < 0 || read_record_at(fd.get(), record, partition.path) < 0)
        return opened == kRefused ? kRefused : kReadFailed;
    fields_of(record, fields);
    return 0;
}

qvf::StoreResult qvf::any_fields_store(Partition partition, const Fields &fields, unsigned which)
{
    const Kind kind = kind_of(partition.path);
    if (kind == Kind::kDevice)
        return fields_store(partition, fields, which);
    if (kind == Kind::kRefused || kind == Kind::kFailed)
        return kind == Kind::kRefused ? kRefused : kWriteFailed;
    return store_image(partition, fields, which);
}
