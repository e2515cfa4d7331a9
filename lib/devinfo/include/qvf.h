/*
 * libqvf: the device's identity record on the information partition
 * (/dev/mtd3): MAC address, unique id, hardware version and product type.
 *
 * Every function returns 0 on success and -1 on failure, and reports a
 * failure itself with one line of text. Buffers belong to the caller.
 */
#ifndef QVF_H
#define QVF_H

#include <stdint.h>

#if defined(__GNUC__)
#define QVF_API __attribute__((visibility("default")))
#else
#define QVF_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Size of the record and of its fields. */
#define QVF_RECORD_SIZE 104
#define QVF_MAC_FIELD_SIZE 8
#define QVF_TEXT_FIELD_SIZE 32

/* Erases every good erase block of the partition open for writing on fd,
 * holding the partition's exclusive lock (flock on fd) while it erases, as
 * the other functions here hold the lock while they read or write. A caller
 * that holds the lock through fd already goes straight on (a shared lock
 * becomes exclusive); one that holds it through another descriptor it opened
 * itself waits forever, as a lock belongs to the open file. The lock stays
 * with fd after the call: other programs' reads and writes of the record wait
 * until the caller has written the new record and closes fd (or unlocks it,
 * flock(fd, LOCK_UN)), instead of finding the partition blank. */
QVF_API int qvf_erase_partition(int fd);
/* Reads the record into record[0..103]; a blank (0xFF) field reads as zeros. */
QVF_API int qvf_raw_read(unsigned char *record);
/* Replaces the partition's content with record[0..103]. */
QVF_API int qvf_raw_write(const unsigned char *record);

/* Copies the unique id and its NUL to dst, which holds len + 1 bytes;
 * fails when the id is longer than len. */
QVF_API int qvf_uid_get(char *dst, uint32_t len);
/* Stores src[0..31] as the unique id. */
QVF_API int qvf_uid_set(const char *src);
/* Copies the 6 address bytes to mac and prints the whole 8-byte field. */
QVF_API int qvf_mac_get(unsigned char *mac);
/* Stores mac[0..7]: the address and the field's two spare bytes. */
QVF_API int qvf_mac_set(const unsigned char *mac);
/* Copies the 32-byte product type field to dst. */
QVF_API int qvf_prdt_get(char *dst);
/* Stores src[0..31] as the product type. */
QVF_API int qvf_prdt_set(const char *src);
/* Copies the 32-byte hardware version field to dst. */
QVF_API int qvf_hdv_get(char *dst);
/* Stores src[0..31] as the hardware version. */
QVF_API int qvf_hdv_set(const char *src);

#ifdef __cplusplus
}
#endif

#endif /* QVF_H */
