#pragma once

#include "qvf.h"
#include "qvf_static.hpp"
#include "unique_fd.hpp"

#include <array>
#include <cstddef>
#include <cstdint>

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

// One change of the record. read() takes the partition's exclusive lock,
// which this object holds until it goes out of scope, so no other program's
// update falls between the read and the rewrite. Both report a failure
// themselves and return -1.
class RecordUpdate {
public:
    explicit RecordUpdate(Partition partition = kInformationPartition) : partition_(partition) {}
    int read();
    // Erases the partition and writes `record` through a descriptor opened
    // for writing.
    int rewrite() const;
    // rewrite(), or where the partition may be an image and is a regular
    // file, the same for the image.
    int rewrite_device_or_image() const;

    InfoRecord record{};

private:
    Partition partition_;
    qv::UniqueFd locked_;
};

} // namespace qvf
