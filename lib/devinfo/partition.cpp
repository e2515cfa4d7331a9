// Erase, read and rewrite of the identity record on the information partition.

#include "record.hpp"
#include "unique_fd.hpp"

#include <fcntl.h>
#include <mtd/mtd-user.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
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
using qvf::kDevicePath;
using qvf::Partition;

// The MTD user interface's request codes, as the kernel defines them.
constexpr unsigned long kMemGetInfo = 0x80204D01;
constexpr unsigned long kMemGetBadBlock = 0x40084D0B;
constexpr unsigned long kMemErase = 0x40084D02;
static_assert(kMemGetInfo == MEMGETINFO);
static_assert(kMemGetBadBlock == MEMGETBADBLOCK);
constexpr unsigned long kEccGetStats = 0x80104D12;
static_assert(kMemErase == MEMERASE);
static_assert(kEccGetStats == ECCGETSTATS);

constexpr const char *kNotCharDevice = "not a character device";

// Largest flash page we are prepared to write in one piece.
constexpr uint32_t kMaxWriteSize = 64 * 1024;

// Reads the partition's geometry and refuses one we cannot loop over.
bool query_geometry(int fd, mtd_info_user &info, const char *path = kDevicePath)
{
    struct stat st;
    if (fstat(fd, &st) < 0) {
        perror("fstat");
        return false;
    }
    if (!S_ISCHR(st.st_mode))
        printf("%s: not a char device", path);
    if (ioctl(fd, kMemGetInfo, &info) < 0) {
        perror("MEMGETINFO");
        return false;
    }
    if (info.erasesize == 0 || info.writesize == 0 || info.writesize > kMaxWriteSize) {
        fprintf(stderr, "%s: unusable flash geometry: erase size %u, write size %u\n",
                path, info.erasesize, info.writesize);
        return false;
    }
    return true;
}

// Erases every good block. A block that fails to erase is reported and the
// rest are still erased, but the caller learns that the partition is not
// blank.
int erase_blocks(int fd, const mtd_info_user &info)
{
    int result = 0;
    erase_info_user request{0, info.erasesize};
    // 64-bit so that the last step cannot wrap around a 4 GiB partition.
    for (uint64_t start = 0; start < info.size; start += info.erasesize) {
        int64_t offset = static_cast<int64_t>(start);
        int bad = ioctl(fd, kMemGetBadBlock, &offset);
        if (bad > 0) {
            printf("\nSkipping bad block at 0x%08x", static_cast<unsigned>(start));
            continue;
        }
        if (bad < 0)
            printf("MEMGETBADBLOCK error");
        request.start = static_cast<uint32_t>(start);
        if (ioctl(fd, kMemErase, &request) < 0) {
            perror("MEMERASE");
            result = -1;
        }
    }
    return result;
}

// A heap block freed when it goes out of scope.
struct HeapBuffer {
    explicit HeapBuffer(size_t size) : data(static_cast<uint8_t *>(malloc(size))) {}
    HeapBuffer(const HeapBuffer &) = delete;
    HeapBuffer &operator=(const HeapBuffer &) = delete;
    ~HeapBuffer() { free(data); }
    uint8_t *data;
};

// Writes the record as whole flash pages: NAND takes nothing smaller. The
// padding is 0xFF, which leaves the rest of the page erased.
int write_record(int fd, const unsigned char *record, uint32_t write_size, const char *path)
{
    const size_t size = (QVF_RECORD_SIZE + write_size - 1) / write_size * write_size;
    HeapBuffer page(size);
    if (page.data == nullptr) {
        perror("malloc");
        return -1;
    }
    memset(page.data, qvf::kErasedByte, size);
    memcpy(page.data, record, QVF_RECORD_SIZE);

    ssize_t written = pwrite(fd, page.data, size, 0);
    if (written < 0) {
        perror("write");
        return -1;
    }
    if (static_cast<size_t>(written) != size) {
        fprintf(stderr, "%s: short write, %zd of %zu bytes\n", path, written, size);
        return -1;
    }
    return 0;
}

// Compares a record with what the flash gave back. A plain loop: the
// library stays within the imports it has (every one costs the file bytes).
bool same_bytes(const InfoRecord *stored, const unsigned char *record)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(stored);
    for (size_t i = 0; i < sizeof *stored; ++i)
        if (bytes[i] != record[i])
            return false;
    return true;
}

} // namespace

// Reads the record back and compares: flash that did not take the data
// (a failed program, a block that was not erased) must not pass as stored.
// Like every read and write of the record, it names its offset: no seek
// has to succeed first.
int qvf::verify_record(int fd, const unsigned char *record, const char *path)
{
    InfoRecord stored; // compared only when read whole
    const ssize_t got = pread(fd, &stored, sizeof stored, 0);
    if (got < 0) {
        perror("read");
        return -1;
    }
    if (got != sizeof stored || !same_bytes(&stored, record)) {
        fprintf(stderr, "%s: verify failed: the flash does not hold the record written\n",
                path);
        return -1;
    }
    return 0;
}

namespace {

// Every program that uses the record locks the device itself, so they
// cooperate without a lock file. A flock lock belongs to the open file:
// whoever holds one must not take another through a second descriptor.
bool wait_for_lock(int fd, int operation)
{
    while (flock(fd, operation) < 0) {
        if (errno != EINTR) {
            perror("flock");
            return false;
        }
    }
    return true;
}

} // namespace

// With a bound (milliseconds, not negative) the wait gives up after it, told.
// Only what a user names waits with a bound: the library's own functions,
// which have nothing to tell a bound with, never reach this.
bool qvf::lock_record(int fd, int operation, const char *path, int wait_ms)
{
    timespec start{};
    if (wait_ms < 0)
        return wait_for_lock(fd, operation);
    if (clock_gettime(CLOCK_MONOTONIC, &start) < 0) {
        perror("clock_gettime");
        return false;
    }
    while (flock(fd, operation | LOCK_NB) < 0) {
        if (errno != EINTR && errno != EWOULDBLOCK) {
            perror("flock");
            return false;
        }
        timespec now{};
        if (clock_gettime(CLOCK_MONOTONIC, &now) < 0) {
            perror("clock_gettime");
            return false;
        }
        const long waited_ms = (now.tv_sec - start.tv_sec) * 1000L + (now.tv_nsec - start.tv_nsec) / 1000000L;
        if (waited_ms >= wait_ms) {
            if (wait_ms % 1000 == 0)
                fprintf(stderr, "%s: still locked by another program after %d s\n", path, wait_ms / 1000);
            else
                fprintf(stderr, "%s: still locked by another program after %d ms\n", path, wait_ms);
            return false;
        }
        const timespec pause{0, 20 * 1000 * 1000};
        (void)nanosleep(&pause, nullptr); // woken early by a signal: only looks again sooner
    }
    return true;
}

namespace {

// How many reads the flash's error correction could not mend, or -1 when the
// driver keeps no count.
int64_t ecc_failures(int fd)
{
    mtd_ecc_stats stats{};
    return ioctl(fd, kEccGetStats, &stats) < 0 ? -1 : stats.failed;
}

// Opens the partition; a failure is reported with its name.
qv::UniqueFd open_partition(const char *path, int flags)
{
    qv::UniqueFd fd = qv::open_fd(path, flags, 0644);
    if (!fd.valid())
        perror(path);
    return fd;
}

// Opens the partition and takes the lock `operation`, which lasts as long as
// the descriptor returned (none on failure).
qv::UniqueFd open_locked(const char *path, int flags, int operation)
{
    qv::UniqueFd fd = open_partition(path, flags);
    if (fd.valid() && !wait_for_lock(fd.get(), operation))
        fd.reset();
    return fd;
}

} // namespace

// Reads the record, blank fields as zeros.
int qvf::read_record_at(int fd, InfoRecord &record, const char *path)
{
    record = InfoRecord{}; // a short read leaves the tail zero
    // NAND hands back a page its error correction could not mend as if the
    // read had worked; only the driver's count of such reads tells.
    const int64_t failures = ecc_failures(fd);
    if (pread(fd, &record, sizeof record, 0) < 0) {
        perror("read");
        return -1;
    }
    if (failures >= 0 && ecc_failures(fd) > failures) {
        fprintf(stderr, "%s: uncorrectable ECC error\n", path);
        return -1;
    }
    auto *bytes = reinterpret_cast<uint8_t *>(&record);
    for (const FieldPlace &f : kFieldPlaces)
        if (bytes[f.offset] == kErasedByte)
            memset(bytes + f.offset, 0, f.size);
    return 0;
}

namespace {

// Reads the record, blank fields as zeros; fails at once when the
// partition did not open.
int read_record(const qv::UniqueFd &partition, InfoRecord &record, const char *path = kDevicePath)
{
    return partition.valid() ? qvf::read_record_at(partition.get(), record, path) : -1;
}

// Opens an MTD device a user named. A link is not followed and a FIFO's
// open does not wait for a writer; what is no MTD device, or missing, is
// refused in one line (kRefused), and any other failure is told (-1).
int open_named(const char *path, int flags, qv::UniqueFd &fd)
{
    fd = qv::open_fd(path, flags | O_NOFOLLOW | O_NONBLOCK);
    struct stat st;
    if (!fd.valid()) {
        const int error = errno;
        // A link, a socket or a folder opened for writing fails here.
        if (error == ENOENT || (lstat(path, &st) == 0 && !S_ISCHR(st.st_mode))) {
            fprintf(stderr, "%s: %s\n", path, error == ENOENT ? strerror(error) : kNotCharDevice);
            return qvf::kRefused;
        }
        errno = error;
        perror(path);
        return -1;
    }
    if (fstat(fd.get(), &st) < 0) {
        perror("fstat");
        return -1;
    }
    mtd_info_user info;
    // Any other character device (a terminal, /dev/null, a random source)
    // refuses the MTD query: only a flash is a flash.
    const char *why = !S_ISCHR(st.st_mode)                      ? kNotCharDevice
                      : ioctl(fd.get(), kMemGetInfo, &info) < 0 ? "not an MTD device"
                                                                : nullptr;
    if (why == nullptr)
        return 0;
    fd.reset();
    fprintf(stderr, "%s: %s\n", path, why);
    return qvf::kRefused;
}

// A block the driver reports bad is never erased, so programming the record
// over the one it holds would leave neither readable: the store is refused
// before anything is changed.
bool record_block_is_bad(int fd, const char *path)
{
    int64_t offset = 0;
    if (ioctl(fd, kMemGetBadBlock, &offset) <= 0)
        return false; // a failed query is reported by the erase
    fprintf(stderr, "%s: the record's erase block at 0x00000000 is bad\n", path);
    return true;
}

// Erases the partition, open for writing, and writes the record; fails at
// once when the partition did not open. From the erase to the end of the
// verified write the partition holds no record: a program stopped there
// would leave it blank, so the stopping signals wait until the record is
// back (SIGKILL and a power cut cannot be held back).
int rewrite_record(const qv::UniqueFd &fd, const unsigned char *record, const char *path = kDevicePath)
{
    if (!fd.valid())
        return -1;
    mtd_info_user info;
    if (!query_geometry(fd.get(), info, path) || record_block_is_bad(fd.get(), path))
        return -1;
    const qvf::HeldSignals held;
    if (erase_blocks(fd.get(), info) < 0)
        return -1;
    if (write_record(fd.get(), record, info.writesize, path) < 0)
        return -1;
    return qvf::verify_record(fd.get(), record, path);
}

} // namespace

int qvf::RecordUpdate::read()
{
    locked_ = open_locked(partition_.path, O_RDONLY, LOCK_EX);
    return read_record(locked_, record, partition_.path);
}

int qvf::RecordUpdate::read_named()
{
    const int opened = open_named(partition_.path, O_RDONLY, locked_);
    if (opened < 0)
        return opened;
    if (!qvf::lock_record(locked_.get(), LOCK_EX, partition_.path, partition_.lock_wait_ms))
        return qvf::kWriteFailed;
    return read_record(locked_, record, partition_.path);
}

int qvf::RecordUpdate::rewrite() const
{
    // Not locked again: the lock belongs to the read's open file, and
    // another on this one would wait for it.
    return rewrite_record(open_partition(partition_.path, O_RDWR),
                          reinterpret_cast<const unsigned char *>(&record), partition_.path);
}

int qvf::fields_read(Partition partition, Fields &fields)
{
    qv::UniqueFd fd;
    const int opened = open_named(partition.path, O_RDONLY, fd);
    if (opened < 0)
        return opened;
    InfoRecord record;
    if (!qvf::lock_record(fd.get(), LOCK_SH, partition.path, partition.lock_wait_ms) ||
        read_record(fd, record, partition.path) < 0)
        return kReadFailed;
    fields_of(record, fields);
    return 0;
}

// The caller's descriptor keeps the lock: the partition is blank until the
// caller has written through it, and no reader may take that for a record.
extern "C" int qvf_erase_partition(int fd)
{
    mtd_info_user info;
    if (!wait_for_lock(fd, LOCK_EX) || !query_geometry(fd, info))
        return -1;
    return erase_blocks(fd, info);
}

extern "C" int qvf_raw_read(unsigned char *record)
{
    if (record == nullptr) {
        puts("invalid argument");
        return -1;
    }
    InfoRecord local;
    if (read_record(open_locked(kDevicePath, O_RDONLY, LOCK_SH), local) < 0)
        return -1;
    memcpy(record, &local, sizeof local);
    return 0;
}

extern "C" int qvf_raw_write(const unsigned char *record)
{
    if (record == nullptr) {
        puts("invalid argument");
        return -1;
    }
    return rewrite_record(open_locked(kDevicePath, O_RDWR, LOCK_EX), record);
}

