#pragma once

// What a program that carries the identity store compiled in (it links
// qvf_static, as qv_setmac and qv_info do) may use besides the C interface
// of qvf.h. libqvf.so does not export these. Failures are reported as by the
// qvf_ functions.

#include "qvf.h"

#include <cstdint>

namespace qvf {

// Where the record is kept: the information partition, or another MTD
// device a user names. Nothing else is opened there: not a link, a FIFO, a
// folder, a block device or a character device that is no MTD device.
struct Partition {
    const char *path;
    int lock_wait_ms = -1; // how long to wait for the record's lock at most; -1: no bound
};
inline constexpr Partition kInformationPartition{"/dev/mtd3"};

// The record's four fields. Texts are NUL-padded, with no NUL when they
// fill the field; a blank field reads as zeros.
struct Fields {
    uint8_t mac[6]; // the address; the MAC field's two spare bytes stay as stored
    char uid[QVF_TEXT_FIELD_SIZE];
    char hardware_version[QVF_TEXT_FIELD_SIZE];
    char product_type[QVF_TEXT_FIELD_SIZE];
};

// Which fields a store changes.
enum FieldBits : unsigned {
    kMacBit = 1,
    kUidBit = 2,
    kHardwareVersionBit = 4,
    kProductTypeBit = 8,
};

// kRefused: the path is not one the record may be kept at (above), or is
// missing where nothing may be made; told in one line, nothing was opened
// for writing. kWriteFailed: nothing was stored (a wait for the lock given
// up among it). kUnsure: the record was written and read back, but the
// change may not survive a power loss (an image's folder could not be
// flushed).
enum StoreResult { kStored = 0, kReadFailed = -1, kWriteFailed = -2, kRefused = -3, kUnsure = -4 };

// Reads every field: 0, kReadFailed or kRefused.
int fields_read(Partition partition, Fields &fields);
// Stores the fields named in `which` and keeps the others as read: one read,
// one erase, one write and one read-back, under the record's lock.
StoreResult fields_store(Partition partition, const Fields &fields, unsigned which);

// Copies the six address bytes of the MAC field to address.
int mac_address_get(uint8_t address[6]);
// Stores the six address bytes; the field's two spare bytes keep what the
// record holds, read under the same lock as the rewrite.
int mac_address_set(const uint8_t address[6]);

} // namespace qvf
