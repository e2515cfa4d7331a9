#pragma once

#include "qvf.h"
#include "qvf_static.hpp"
#include "unique_fd.hpp"

#include <array>
#include <cstddef>
#include <cstdint>

#include <sys/types.h>

namespace qvf {

inline constexpr const char *kDevicePath = kInformationPartition.path;

// The identity record at offset 0 of the information partition. All fields
// are byte arrays, so no byte order applies and the layout is the same on
// every processor.
struct InfoRecord {
    std::array<uint8_t, QVF_MAC_FIELD_SIZE> mac;  // address, then 2 spare bytes
    std::array<uint8_t, QVF_TEXT_FIELD_SIZE> uid; // texts end with NUL when shorter
    std::array<uint8_t, QVF_TEXT_FIELD_SIZE> hardware_version;
    std::array<uint8_t, QVF_TEXT_FIELD_SIZE> product_type;
};

static_assert(sizeof(InfoRecord) == QVF_RECORD_SIZE);
static_assert(offsetof(InfoRecord, mac) == 0);
static_assert(offsetof(InfoRecord, uid) == 8);
static_assert(offsetof(InfoRecord, hardware_version) == 40);
static_assert(offsetof(InfoRecord, product_type) == 72);

// Erased flash reads 0xFF: a field whose first byte is 0xFF was never set.
inline constexpr uint8_t kErasedByte = 0xFF;

// One change of the record. read() takes the partition's exclusive lock (an
// image's: its folder's), which this object holds until it goes out of
// scope, so no other program's update falls between the read and the
// rewrite. Both report a failure themselves and return -1; read() returns
// kRefused for a path refused by the checks of a given partition.
class RecordUpdate {
public:
    // checked: the partition is one a user named (the programs' own
    // stores), and its path is checked as Partition says before use.
    explicit RecordUpdate(Partition partition = kInformationPartition, bool checked = false)
        : partition_(partition), checked_(checked)
    {
    }
    int read();
    // Erases the partition and writes `record` through a descriptor opened
    // for writing; an image is replaced by a new file holding it.
    int rewrite() const;

    InfoRecord record{};

private:
    int read_image();
    int rewrite_image() const;

    Partition partition_;
    bool checked_;
    qv::UniqueFd locked_;
    // An image's: its folder (locked), and what the read found there.
    qv::UniqueFd folder_;
    bool image_ = false;
    bool image_exists_ = false;
    mode_t image_mode_ = 0;
    off_t image_size_ = 0;
};

} // namespace qvf
