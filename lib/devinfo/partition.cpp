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

// Reads the record back and compares: flash that did not take the data
// (a failed program, a block that was not erased) must not pass as stored.
// Like every read and write of the record, it names its offset: no seek
// has to succeed first.
int verify_record(int fd, const unsigned char *record, const char *path)
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

// Every program that uses the record locks the device itself, so they
// cooperate without a lock file. A flock lock belongs to the open file:
// whoever holds one must not take another through a second descriptor.
// With a bound (milliseconds, not negative) the wait gives up after it, told.
bool lock_partition(int fd, int operation, const char *path = kDevicePath, int wait_ms = -1)
{
    timespec start{};
    if (wait_ms >= 0 && clock_gettime(CLOCK_MONOTONIC, &start) < 0) {
        perror("clock_gettime");
        return false;
    }
    for (;;) {
        if (flock(fd, wait_ms < 0 ? operation : operation | LOCK_NB) == 0)
            return true;
        if (errno != EINTR && errno != EWOULDBLOCK) {
            perror("flock");
            return false;
        }
        if (wait_ms < 0 || errno == EINTR)
            continue;
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
}

template <size_t N>
void clear_if_blank(std::array<uint8_t, N> &field)
{
    if (field[0] == qvf::kErasedByte)
        field.fill(0);
}

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
qv::UniqueFd open_locked(const char *path, int flags, int operation, int wait = -1)
{
    qv::UniqueFd fd = open_partition(path, flags);
    if (fd.valid() && !lock_partition(fd.get(), operation, path, wait))
        fd.reset();
    return fd;
}

// Reads the record, blank fields as zeros; fails at once when the
// partition did not open.
int read_record(const qv::UniqueFd &partition, InfoRecord &record, const char *path = kDevicePath)
{
    if (!partition.valid())
        return -1;
    const int fd = partition.get();
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
    clear_if_blank(record.mac);
    clear_if_blank(record.uid);
    clear_if_blank(record.hardware_version);
    clear_if_blank(record.product_type);
    return 0;
}

// Holds back, for its lifetime, every signal that can be held: one that
// arrives meanwhile (Ctrl-C, a closed terminal, `timeout`, a user's own
// SIGUSR1, a file-size limit's SIGXFSZ) stays pending and is delivered as
// soon as the caller's own mask is back, so the program still ends by it,
// after the store. Neither call can fail with these arguments.
class HeldSignals {
public:
    HeldSignals()
    {
        sigset_t held;
        (void)sigfillset(&held);
        (void)pthread_sigmask(SIG_BLOCK, &held, &callers_);
    }
    HeldSignals(const HeldSignals &) = delete;
    HeldSignals &operator=(const HeldSignals &) = delete;
    ~HeldSignals() { (void)pthread_sigmask(SIG_SETMASK, &callers_, nullptr); }

private:
    sigset_t callers_;
};

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
    const HeldSignals held;
    if (erase_blocks(fd.get(), info) < 0)
        return -1;
    if (write_record(fd.get(), record, info.writesize, path) < 0)
        return -1;
    return verify_record(fd.get(), record, path);
}

// ------------------------------------------------------------------ images

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

enum class Place { kOpened, kMissing, kFailed, kRefused };

// Opens a partition a user named: a character device, or with images and
// outside /dev a regular file (`image`). A link is not followed and a FIFO's
// open does not wait for a writer. What is none of these is refused in one
// line, as is a missing path where no image may be made.
Place open_place(const Partition &partition, int flags, qv::UniqueFd &fd, struct stat &st)
{
    const char *path = partition.path;
    const bool images = partition.images && !in_dev(path);
    const char *kinds = images ? "not a character device or a regular file" : "not a character device";
    fd = qv::open_fd(path, flags | O_NOFOLLOW | O_NONBLOCK);
    if (!fd.valid()) {
        const int error = errno;
        if (error == ENOENT && images)
            return Place::kMissing;
        if (error == ENOENT) {
            fprintf(stderr, "%s: %s\n", path, strerror(error));
            return Place::kRefused;
        }
        // A link, a socket or a folder opened for writing fails here.
        if (lstat(path, &st) == 0 && !S_ISCHR(st.st_mode) && !(images && S_ISREG(st.st_mode))) {
            fprintf(stderr, "%s: %s\n", path, kinds);
            return Place::kRefused;
        }
        errno = error;
        perror(path);
        return Place::kFailed;
    }
    if (fstat(fd.get(), &st) < 0) {
        perror("fstat");
        return Place::kFailed;
    }
    if (S_ISCHR(st.st_mode) || (images && S_ISREG(st.st_mode)))
        return Place::kOpened;
    fd.reset();
    fprintf(stderr, "%s: %s\n", path, kinds);
    return Place::kRefused;
}

// Writes all of data at offset; false when told.
bool write_all(int fd, const uint8_t *data, size_t size, off_t offset)
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

// The image's new content in a new file: the record, then erased flash up
// to the old image's size.
bool fill_image(int fd, const unsigned char *record, off_t size)
{
    if (!write_all(fd, record, QVF_RECORD_SIZE, 0))
        return false;
    uint8_t erased[4096];
    memset(erased, qvf::kErasedByte, sizeof erased);
    for (off_t at = QVF_RECORD_SIZE; at < size;) {
        const off_t left = size - at;
        const size_t n = left < static_cast<off_t>(sizeof erased) ? static_cast<size_t>(left) : sizeof erased;
        if (!write_all(fd, erased, n, at))
            return false;
        at += static_cast<off_t>(n);
    }
    return true;
}

// A new file beside the image, removed again unless it took the image's
// place.
class TempFile {
public:
    explicit TempFile(const char *image)
    {
        const int n = snprintf(path_, sizeof path_, "%s.new-XXXXXX", image);
        if (n < 0 || static_cast<size_t>(n) >= sizeof path_) {
            fprintf(stderr, "%s: name too long\n", image);
            return;
        }
        fd = qv::above_stdio(mkostemp(path_, O_CLOEXEC));
        if (!fd.valid())
            perror(path_);
    }
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;
    ~TempFile()
    {
        if (fd.valid() && !renamed_ && unlink(path_) < 0)
            perror(path_);
    }
    bool rename_to(const char *image)
    {
        if (rename(path_, image) < 0) {
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

} // namespace

// An image is never changed in place: the new one is written to a new file
// in the same folder, flushed, read back and renamed over the old one, and
// the folder is flushed. Whatever fails before the rename (a full disk, a
// file-size limit, an I/O error) leaves the old image as it was and no new
// file; the signals wait until the new file is in place or gone.
int qvf::RecordUpdate::rewrite_image() const
{
    const char *path = partition_.path;
    if (image_exists_ && !qv::open_fd(path, O_WRONLY | O_NOFOLLOW | O_NONBLOCK).valid()) {
        perror(path); // an image we may not write is not replaced either
        return -1;
    }
    const auto *bytes = reinterpret_cast<const unsigned char *>(&record);
    const HeldSignals held;
    TempFile temp(path);
    if (!temp.fd.valid())
        return -1;
    const mode_t mode = image_exists_ ? image_mode_ & 07777 : new_file_mode();
    if (fchmod(temp.fd.get(), mode) < 0) {
        perror("fchmod");
        return -1;
    }
    if (!fill_image(temp.fd.get(), bytes, image_size_))
        return -1;
    if (fsync(temp.fd.get()) < 0) {
        perror("fsync");
        return -1;
    }
    if (verify_record(temp.fd.get(), bytes, path) < 0 || !temp.rename_to(path))
        return -1;
    if (fsync(folder_.get()) < 0) {
        perror("fsync");
        return -1;
    }
    return 0;
}

// A given partition that is an image: its folder is locked first, as a store
// replaces the file, and the image is opened again under that lock, so a
// store that waited reads what the one before it stored.
int qvf::RecordUpdate::read_image()
{
    char folder[PATH_MAX];
    if (!folder_of(partition_.path, folder)) {
        fprintf(stderr, "%s: name too long\n", partition_.path);
        return -1;
    }
    folder_ = qv::open_fd(folder, O_RDONLY | O_DIRECTORY);
    if (!folder_.valid()) {
        perror(folder);
        return -1;
    }
    if (!lock_partition(folder_.get(), LOCK_EX, partition_.path, partition_.lock_wait_ms))
        return -1;
    struct stat st;
    const Place place = open_place(partition_, O_RDONLY, locked_, st);
    if (place != Place::kOpened && place != Place::kMissing)
        return place == Place::kRefused ? kRefused : -1;
    if (place == Place::kMissing) {
        image_size_ = QVF_RECORD_SIZE;
        return 0; // blank, as a new record
    }
    image_exists_ = true;
    image_mode_ = st.st_mode;
    image_size_ = st.st_size < QVF_RECORD_SIZE ? QVF_RECORD_SIZE : st.st_size;
    return read_record(locked_, record, partition_.path);
}

int qvf::RecordUpdate::read()
{
    if (!checked_) {
        locked_ = open_locked(partition_.path, O_RDONLY, LOCK_EX);
        return read_record(locked_, record, partition_.path);
    }
    struct stat st;
    const Place place = open_place(partition_, O_RDONLY, locked_, st);
    if (place != Place::kOpened && place != Place::kMissing)
        return place == Place::kRefused ? kRefused : -1;
    if (place == Place::kMissing || S_ISREG(st.st_mode)) {
        image_ = true;
        locked_.reset(); // opened again under the folder's lock
        return read_image();
    }
    if (!lock_partition(locked_.get(), LOCK_EX, partition_.path, partition_.lock_wait_ms))
        return -1;
    return read_record(locked_, record, partition_.path);
}

int qvf::RecordUpdate::rewrite() const
{
    if (image_)
        return rewrite_image();
    // Not locked again: the lock belongs to the read's open file, and
    // another on this one would wait for it.
    return rewrite_record(open_partition(partition_.path, O_RDWR),
                          reinterpret_cast<const unsigned char *>(&record), partition_.path);
}

int qvf::fields_read(Partition partition, Fields &fields)
{
    qv::UniqueFd fd;
    struct stat st;
    switch (open_place(partition, O_RDONLY, fd, st)) {
    case Place::kRefused:
        return kRefused;
    case Place::kFailed:
        return kReadFailed;
    case Place::kMissing:
        errno = ENOENT;
        perror(partition.path);
        return kReadFailed;
    case Place::kOpened:
        break;
    }
    // An image is replaced whole, never changed in place: its lock only
    // waits for whoever holds it, as the device's does.
    InfoRecord record;
    if (!lock_partition(fd.get(), LOCK_SH, partition.path, partition.lock_wait_ms) ||
        read_record(fd, record, partition.path) < 0)
        return kReadFailed;
    memcpy(fields.mac, record.mac.data(), sizeof fields.mac);
    memcpy(fields.uid, record.uid.data(), sizeof fields.uid);
    memcpy(fields.hardware_version, record.hardware_version.data(), sizeof fields.hardware_version);
    memcpy(fields.product_type, record.product_type.data(), sizeof fields.product_type);
    return 0;
}

// The caller's descriptor keeps the lock: the partition is blank until the
// caller has written through it, and no reader may take that for a record.
extern "C" int qvf_erase_partition(int fd)
{
    mtd_info_user info;
    if (!lock_partition(fd, LOCK_EX) || !query_geometry(fd, info))
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
