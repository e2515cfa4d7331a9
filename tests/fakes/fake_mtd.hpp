#pragma once

// A fake MTD character device at /dev/mtd3, reached by the code under test
// through the link-time seam -Wl,--wrap=open,close,pread,pwrite,fstat,ioctl,flock,fcntl.
// It behaves as the kernel's MTD driver does: erased flash reads 0xFF, a
// write can only clear bits, NAND refuses writes that are not whole pages,
// a bad block stays bad and cannot be erased, and the ioctls refuse what the
// kernel refuses. Calls on descriptors it does not own go to the real system.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <vector>

namespace fakemtd {

// Read and Write are the positioned calls, pread and pwrite.
enum class Call { Open, Close, Read, Write, Fstat, GetInfo, GetBadBlock, Erase, Flock, EccStats };

struct Geometry {
    uint8_t type;
    uint32_t size;
    uint32_t erasesize;
    uint32_t writesize;
};

// Four blocks, as the information partition has.
inline constexpr Geometry kNor{3 /* MTD_NORFLASH */, 4 * 0x10000, 0x10000, 1};
inline constexpr Geometry kNand{4 /* MTD_NANDFLASH */, 4 * 0x20000, 0x20000, 0x800};

struct Device {
    explicit Device(Geometry g);
    ~Device();
    Device(const Device &) = delete;
    Device &operator=(const Device &) = delete;

    Geometry geometry;
    int memory_fd; // the device's inode: holds the flash, carries the locks
    std::span<uint8_t> flash; // starts erased
    std::set<uint32_t> bad_blocks;      // block numbers the driver reports bad
    std::set<uint32_t> weak_blocks;     // block numbers whose erase fails with EIO
    std::set<uint32_t> stuck_blocks;    // erase reports success but changes nothing
    bool lost_writes = false;           // writes report success but store nothing
    std::set<uint32_t> unreadable_pages; // beyond the ECC: read as garbage, counted as failed
    uint32_t ecc_failed = 0;            // the driver's count of uncorrectable reads
    std::map<Call, int> failures;       // every such call fails with this errno
    std::optional<size_t> write_limit;  // a write stores at most this many bytes
    std::optional<size_t> read_limit;   // a read returns at most this many bytes
    std::optional<Geometry> reported;   // what MEMGETINFO says, if not the truth
    // Called after each block an erase request has erased: what happens
    // while the erase is under way (a reader, a signal).
    std::function<void(uint32_t block)> after_erase;
    bool present = true;
    bool char_device = true;
    bool writeable = true;

    // What reached the device, in order.
    std::vector<Call> calls;
    std::vector<uint32_t> erased_blocks;
    std::vector<size_t> write_sizes;
    int open_descriptors = 0;
    std::set<int> descriptors; // every descriptor a call on the device was made through
    int self_deadlocks = 0; // waits on a lock this process holds itself

    size_t count(Call c) const;
    // Stores bytes as they would be after an erase and a program.
    void program(uint32_t offset, const std::vector<uint8_t> &bytes);
};

// Installs the fake for the lifetime of this object.
class Install {
public:
    explicit Install(Device &device);
    ~Install();
    Install(const Install &) = delete;
    Install &operator=(const Install &) = delete;
};

} // namespace fakemtd
