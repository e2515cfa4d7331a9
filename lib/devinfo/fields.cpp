// Get and set of the record's four fields. Each call reads the whole
// record; a set rewrites all of it.

#include "qvf_static.hpp"
#include "record.hpp"

#include <cstddef>
#include <cstdio>
#include <cstring>

namespace {

using qvf::InfoRecord;
using TextField = std::array<uint8_t, QVF_TEXT_FIELD_SIZE> InfoRecord::*;

// The MAC field holds the address, then two spare bytes.
constexpr size_t kAddressBytes = 6;

// A getter's read of the whole record into `record`, for the caller's
// buffer dst; a failure (no buffer, no record) told as the getters tell it.
int read_for_get(const void *dst, InfoRecord &record)
{
    if (dst == nullptr) {
        puts("invalid argument");
        return -1;
    }
    if (qvf_raw_read(reinterpret_cast<unsigned char *>(&record)) < 0) {
        puts("qv_raw_read fail");
        return -1;
    }
    return 0;
}

// Replaces `size` bytes of the record at `offset` with src; `failure` says
// which field could not be written.
int set_field(size_t offset, const void *src, size_t size, const char *failure)
{
    if (src == nullptr) {
        puts("invalid argument");
        return -1;
    }
    qvf::RecordUpdate update;
    if (update.read() < 0) {
        puts("qv_raw_read fail");
        return -1;
    }
    memcpy(reinterpret_cast<unsigned char *>(&update.record) + offset, src, size);
    if (update.rewrite() < 0) {
        puts(failure);
        return -1;
    }
    return 0;
}

int get_text_field(TextField field, char *dst)
{
    InfoRecord record;
    if (read_for_get(dst, record) < 0)
        return -1;
    memcpy(dst, (record.*field).data(), QVF_TEXT_FIELD_SIZE);
    return 0;
}

} // namespace

void qvf::fields_of(const InfoRecord &record, Fields &fields)
{
    for (const FieldPlace &f : kFieldPlaces)
        memcpy(reinterpret_cast<char *>(&fields) + f.value_offset,
               reinterpret_cast<const char *>(&record) + f.offset, f.value_size);
}

void qvf::replace_fields(InfoRecord &record, const Fields &fields, unsigned which)
{
    for (const FieldPlace &f : kFieldPlaces)
        if (which & f.bit)
            memcpy(reinterpret_cast<char *>(&record) + f.offset,
                   reinterpret_cast<const char *>(&fields) + f.value_offset, f.value_size);
}

qvf::StoreResult qvf::fields_store(Partition partition, const Fields &fields, unsigned which)
{
    RecordUpdate update(partition);
    if (const int read = update.read_named(); read < 0)
        return read == kRefused || read == kWriteFailed ? static_cast<StoreResult>(read) : kReadFailed;
    replace_fields(update.record, fields, which);
    return update.rewrite() < 0 ? kWriteFailed : kStored;
}

int qvf::mac_address_get(uint8_t address[6])
{
    InfoRecord record;
    if (read_for_get(address, record) < 0)
        return -1;
    memcpy(address, record.mac.data(), kAddressBytes);
    return 0;
}

int qvf::mac_address_set(const uint8_t address[6])
{
    return set_field(offsetof(InfoRecord, mac), address, kAddressBytes, "write mac fail");
}

extern "C" int qvf_uid_get(char *dst, uint32_t len)
{
    InfoRecord record;
    if (read_for_get(dst, record) < 0)
        return -1;
    // A UID of 32 characters fills the field with no NUL after it.
    const auto *uid = reinterpret_cast<const char *>(record.uid.data());
    size_t length = 0;
    while (length < record.uid.size() && uid[length] != '\0')
        ++length;
    if (length > len)
        return -1;
    memcpy(dst, uid, length);
    dst[length] = '\0';
    return 0;
}

extern "C" int qvf_uid_set(const char *src)
{
    return set_field(offsetof(InfoRecord, uid), src, QVF_TEXT_FIELD_SIZE, "write uid fail");
}

extern "C" int qvf_mac_get(unsigned char *mac)
{
    InfoRecord record;
    if (read_for_get(mac, record) < 0)
        return -1;
    memcpy(mac, record.mac.data(), kAddressBytes);
    printf("mac = ");
    for (const uint8_t byte : record.mac)
        printf("%02x:", byte);
    puts("");
    return 0;
}

extern "C" int qvf_mac_set(const unsigned char *mac)
{
    return set_field(offsetof(InfoRecord, mac), mac, QVF_MAC_FIELD_SIZE, "write mac fail");
}

extern "C" int qvf_prdt_get(char *dst)
{
    return get_text_field(&InfoRecord::product_type, dst);
}

extern "C" int qvf_prdt_set(const char *src)
{
    return set_field(offsetof(InfoRecord, product_type), src, QVF_TEXT_FIELD_SIZE,
                     "write product type fail");
}

extern "C" int qvf_hdv_get(char *dst)
{
    return get_text_field(&InfoRecord::hardware_version, dst);
}

extern "C" int qvf_hdv_set(const char *src)
{
    return set_field(offsetof(InfoRecord, hardware_version), src, QVF_TEXT_FIELD_SIZE,
                     "write hardware version fail");
}
