#include "fake_mtd.hpp"

#include <fcntl.h>
#include <mtd/mtd-user.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
int __real_open(const char *path, int flags, ...);
int __real_close(int fd);
ssize_t __real_pread(int fd, void *buf, size_t count, off_t offset);
ssize_t __real_pwrite(int fd, const void *buf, size_t count, off_t offset);
int __real_fstat(int fd, struct stat *st);
int __real_ioctl(int fd, unsigned long request, ...);
int __real_flock(int fd, int operation);
int __real_fcntl(int fd, int cmd, ...);
}

namespace fakemtd {
namespace {

constexpr const char *kPath = "/dev/mtd3";

struct OpenFile {
    int accmode;
    int lock;        // 0, LOCK_SH or LOCK_EX
    int description; // the open file: shared by a descriptor and its duplicates
};

Device *g_device = nullptr;
std::map<int, OpenFile> g_files;

OpenFile *file_of(int fd)
{
    if (g_device == nullptr)
        return nullptr;
    auto it = g_files.find(fd);
    return it == g_files.end() ? nullptr : &it->second;
}

// The open file behind a call that reaches the device, noting the
// descriptor it came through.
OpenFile *device_file(int fd)
{
    OpenFile *f = file_of(fd);
    if (f != nullptr)
        g_device->descriptors.insert(fd);
    return f;
}

// Records the call; returns false with errno set when it is to fail.
bool enter(Call c)
{
    g_device->calls.push_back(c);
    auto it = g_device->failures.find(c);
    if (it == g_device->failures.end())
        return true;
    errno = it->second;
    return false;
}

int fail(int error)
{
    errno = error;
    return -1;
}

bool can_write(const OpenFile &f)
{
    return f.accmode == O_WRONLY || f.accmode == O_RDWR;
}

int get_info(mtd_info_user *info)
{
    if (!enter(Call::GetInfo))
        return -1;
    const Geometry g = g_device->reported.value_or(g_device->geometry);
    *info = {};
    info->type = g.type;
    info->flags = g_device->writeable ? MTD_WRITEABLE : 0;
    info->size = g.size;
    info->erasesize = g.erasesize;
    info->writesize = g.writesize;
    info->oobsize = g.type == MTD_NANDFLASH ? 64 : 0;
    return 0;
}

int get_bad_block(const int64_t *offset)
{
    if (!enter(Call::GetBadBlock))
        return -1;
    const Geometry &g = g_device->geometry;
    if (*offset < 0 || *offset >= g.size)
        return fail(EINVAL);
    return g_device->bad_blocks.count(static_cast<uint32_t>(*offset / g.erasesize)) ? 1 : 0;
}

int erase(const OpenFile &f, const erase_info_user *request)
{
    if (!enter(Call::Erase))
        return -1;
    if (!can_write(f))
        return fail(EPERM);
    const Geometry &g = g_device->geometry;
    if (request->start % g.erasesize || request->length % g.erasesize ||
        uint64_t{request->start} + request->length > g.size)
        return fail(EINVAL);
    for (uint32_t at = request->start; at < request->start + request->length; at += g.erasesize) {
        const uint32_t block = at / g.erasesize;
        if (g_device->bad_blocks.count(block) || g_device->weak_blocks.count(block))
            return fail(EIO);
        if (!g_device->stuck_blocks.count(block))
            std::fill_n(g_device->flash.begin() + at, g.erasesize, 0xFF);
        g_device->erased_blocks.push_back(block);
        if (g_device->after_erase)
            g_device->after_erase(block);
    }
    return 0;
}

} // namespace

Device::Device(Geometry g) : geometry(g), memory_fd(memfd_create("fake-mtd3", MFD_CLOEXEC))
{
    if (memory_fd < 0 || ftruncate(memory_fd, g.size) < 0)
        abort();
    void *map = mmap(nullptr, g.size, PROT_READ | PROT_WRITE, MAP_SHARED, memory_fd, 0);
    if (map == MAP_FAILED)
        abort();
    flash = {static_cast<uint8_t *>(map), g.size};
    std::fill(flash.begin(), flash.end(), 0xFF);
}

Device::~Device()
{
    munmap(flash.data(), flash.size());
    __real_close(memory_fd);
}

size_t Device::count(Call c) const
{
    return static_cast<size_t>(std::count(calls.begin(), calls.end(), c));
}

void Device::program(uint32_t offset, const std::vector<uint8_t> &bytes)
{
    std::copy(bytes.begin(), bytes.end(), flash.begin() + offset);
}

Install::Install(Device &device)
{
    g_device = &device;
}

Install::~Install()
{
    for (auto &[fd, file] : g_files)
        __real_close(fd);
    g_files.clear();
    g_device = nullptr;
}

} // namespace fakemtd

using namespace fakemtd;

extern "C" int __wrap_open(const char *path, int flags, ...)
{
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list ap;
        va_start(ap, flags);
        mode = static_cast<mode_t>(va_arg(ap, int));
        va_end(ap);
    }
    if (g_device == nullptr || strcmp(path, kPath) != 0)
        return __real_open(path, flags, mode);
    if (!enter(Call::Open))
        return -1;
    if (!g_device->present)
        return fail(ENOENT);
    const int accmode = flags & O_ACCMODE;
    if (accmode != O_RDONLY && !g_device->writeable)
        return fail(EACCES);
    // A new open file of the device's inode: a unique descriptor number,
    // and flock() behaves as on the real device.
    char inode[64];
    snprintf(inode, sizeof inode, "/proc/self/fd/%d", g_device->memory_fd);
    const int fd = __real_open(inode, O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return -1;
    g_files[fd] = OpenFile{accmode, 0, fd};
    ++g_device->open_descriptors;
    return fd;
}

extern "C" int __wrap_close(int fd)
{
    if (file_of(fd) == nullptr)
        return __real_close(fd);
    g_device->calls.push_back(Call::Close);
    g_files.erase(fd);
    --g_device->open_descriptors;
    return __real_close(fd);
}

extern "C" ssize_t __wrap_pread(int fd, void *buf, size_t count, off_t offset)
{
    OpenFile *f = device_file(fd);
    if (f == nullptr)
        return __real_pread(fd, buf, count, offset);
    if (!enter(Call::Read))
        return -1;
    if (f->accmode == O_WRONLY)
        return fail(EBADF);
    if (offset < 0)
        return fail(EINVAL);
    const size_t size = g_device->geometry.size;
    const size_t from = std::min(size, static_cast<size_t>(offset));
    size_t n = std::min(count, size - from);
    n = std::min(n, g_device->read_limit.value_or(n));
    memcpy(buf, g_device->flash.data() + from, n);
    // Like the kernel's MTD device, hand over what a page beyond the ECC's
    // reach gave, and only count the failure.
    const size_t page = g_device->geometry.writesize;
    for (size_t at = from / page * page; at < from + n; at += page) {
        if (!g_device->unreadable_pages.count(static_cast<uint32_t>(at / page)))
            continue;
        ++g_device->ecc_failed;
        for (size_t i = std::max(at, from); i < std::min(at + page, from + n); ++i)
            static_cast<uint8_t *>(buf)[i - from] ^= 0xA5;
    }
    return static_cast<ssize_t>(n);
}

extern "C" ssize_t __wrap_pwrite(int fd, const void *buf, size_t count, off_t offset)
{
    OpenFile *f = device_file(fd);
    if (f == nullptr)
        return __real_pwrite(fd, buf, count, offset);
    if (!enter(Call::Write))
        return -1;
    g_device->write_sizes.push_back(count);
    if (!can_write(*f))
        return fail(EBADF);
    if (offset < 0)
        return fail(EINVAL);
    const Geometry &g = g_device->geometry;
    const size_t at = static_cast<size_t>(offset);
    if (at >= g.size)
        return fail(ENOSPC);
    if (at % g.writesize || count % g.writesize)
        return fail(EINVAL); // NAND programs whole pages only
    size_t n = std::min(count, g.size - at);
    n = std::min(n, g_device->write_limit.value_or(n));
    const auto *bytes = static_cast<const uint8_t *>(buf);
    for (size_t i = 0; i < n && !g_device->lost_writes; ++i)
        g_device->flash[at + i] &= bytes[i]; // bits only clear
    return static_cast<ssize_t>(n);
}

extern "C" int __wrap_fstat(int fd, struct stat *st)
{
    if (device_file(fd) == nullptr)
        return __real_fstat(fd, st);
    if (!enter(Call::Fstat))
        return -1;
    *st = {};
    st->st_mode = static_cast<mode_t>((g_device->char_device ? S_IFCHR : S_IFREG) | 0600);
    st->st_rdev = makedev(90, 6);
    return 0;
}

extern "C" int __wrap_ioctl(int fd, unsigned long request, ...)
{
    va_list ap;
    va_start(ap, request);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    OpenFile *f = device_file(fd);
    if (f == nullptr)
        return __real_ioctl(fd, request, arg);
    switch (request) {
    case MEMGETINFO:
        return get_info(static_cast<mtd_info_user *>(arg));
    case MEMGETBADBLOCK:
        return get_bad_block(static_cast<const int64_t *>(arg));
    case MEMERASE:
        return erase(*f, static_cast<const erase_info_user *>(arg));
    case ECCGETSTATS:
        if (!enter(Call::EccStats))
            return -1;
        *static_cast<mtd_ecc_stats *>(arg) = {0, g_device->ecc_failed,
                                              static_cast<uint32_t>(g_device->bad_blocks.size()), 0};
        return 0;
    default:
        return fail(ENOTTY);
    }
}

extern "C" int __wrap_flock(int fd, int operation)
{
    OpenFile *f = device_file(fd);
    if (f == nullptr)
        return __real_flock(fd, operation);
    if (!enter(Call::Flock))
        return -1;
    const int wanted = operation & ~LOCK_NB;
    if (wanted != LOCK_UN) {
        for (const auto &[other_fd, other] : g_files) {
            const bool conflict = other.lock == LOCK_EX || (other.lock == LOCK_SH && wanted == LOCK_EX);
            if (other.description != f->description && conflict) {
                ++g_device->self_deadlocks;
                return fail(EDEADLK); // the kernel would make this process wait forever
            }
        }
    }
    if (__real_flock(fd, operation) < 0)
        return -1;
    for (auto &[other_fd, other] : g_files)
        if (other.description == f->description)
            other.lock = wanted == LOCK_UN ? 0 : wanted;
    return 0;
}

// A duplicate shares the open file, its access mode and its lock.
extern "C" int __wrap_fcntl(int fd, int cmd, ...)
{
    va_list ap;
    va_start(ap, cmd);
    const long arg = va_arg(ap, long);
    va_end(ap);
    const int result = __real_fcntl(fd, cmd, arg);
    const OpenFile *f = file_of(fd);
    if (f != nullptr && result >= 0 && (cmd == F_DUPFD || cmd == F_DUPFD_CLOEXEC)) {
        const OpenFile copy = *f;
        g_files[result] = copy;
        ++g_device->open_descriptors;
    }
    return result;
}
