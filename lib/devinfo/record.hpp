#pragma once

#include "qvf.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace qvf {

inline constexpr const char *kDevicePath = "/dev/mtd3";

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

// Replaces `size` bytes of the record at `offset` with src, holding the
// partition's exclusive lock from the read to the end of the rewrite, so
// that concurrent updates of other fields are not lost. Prints
// "qv_raw_read fail" when the record cannot be read and `failure` when it
// cannot be rewritten.
int update_record(size_t offset, const void *src, size_t size, const char *failure);

} // namespace qvf
