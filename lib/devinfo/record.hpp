#pragma once

// The record's layout and the pieces of its reading and rewriting that the
// partition's code and the image code share. Nothing here is exported.

#include "qvf.h"
#include "qvf_static.hpp"
#include "unique_fd.hpp"

#include <signal.h>

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

// The four fields, once: each one's bit, where it lies in the record, and
// where its value lies in Fields (the MAC field's two spare bytes are not
// part of the address).
struct FieldPlace {
    unsigned bit;
    size_t offset, size;
    size_t value_offset, value_size;
};
inline constexpr FieldPlace kFieldPlaces[] = {
    {kMacBit, offsetof(InfoRecord, mac), QVF_MAC_FIELD_SIZE, offsetof(Fields, mac), sizeof(Fields::mac)},
    {kUidBit, offsetof(InfoRecord, uid), QVF_TEXT_FIELD_SIZE, offsetof(Fields, uid), QVF_TEXT_FIELD_SIZE},
    {kHardwareVersionBit, offsetof(InfoRecord, hardware_version), QVF_TEXT_FIELD_SIZE,
     offsetof(Fields, hardware_version), QVF_TEXT_FIELD_SIZE},
    {kProductTypeBit, offsetof(InfoRecord, product_type), QVF_TEXT_FIELD_SIZE, offsetof(Fields, product_type),
     QVF_TEXT_FIELD_SIZE},
};

// Takes the flock lock `operation` on fd, waiting at most wait_ms (no
// bound when negative); a wait given up is told, naming path.
bool lock_record(int fd, int operation, const char *path, int wait_ms);
// Reads the record through fd, blank fields as zeros.
int read_record_at(int fd, InfoRecord &record, const char *path);
// Reads the record back through fd and compares it with `record`.
int verify_record(int fd, const unsigned char *record, const char *path);

// The fields as the programs see them, and the record with some replaced.
void fields_of(const InfoRecord &record, Fields &fields);
void replace_fields(InfoRecord &record, const Fields &fields, unsigned which);

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

// One change of the record on an MTD device. A read takes the device's
// exclusive lock, which this object holds until it goes out of scope, so no
// other program's update falls between the read and the rewrite. Each
// reports a failure itself and returns -1.
class RecordUpdate {
public:
    explicit RecordUpdate(Partition partition = kInformationPartition) : partition_(partition) {}
    int read();
    // The read of a device a user named, checked before use as fields_read
    // says, with its bounded wait: kRefused for what is no MTD device,
    // kWriteFailed for a wait given up.
    int read_named();
    // Erases the partition and writes `record` through a descriptor opened
    // for writing.
    int rewrite() const;

    InfoRecord record{};

private:
    Partition partition_;
    qv::UniqueFd locked_;
};

} // namespace qvf
