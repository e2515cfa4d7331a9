/*
 * qvf-fields: the library's test client. The system tests on the boards and
 * the device checks reach libqvf's field operations with it, through the
 * installed libqvf.so and its C header.
 *
 *   qvf-fields get uid [LEN] | get prdt | get hdv | get mac
 *   qvf-fields set uid|prdt|hdv TEXT | set mac XX:XX:XX:XX:XX:XX
 *   qvf-fields raw read | raw write   (the 104 bytes on standard input)
 *   qvf-fields bad-block
 *
 * A get prints the field as text on a line of its own (the MAC get prints
 * its own line); a raw read prints the record's bytes in hex, 16 to a line,
 * as od -An -tx1 does; a set or a raw write prints nothing of its own. The
 * MAC set stores the address with two zero spare bytes. Exit status 0 when
 * the library returned 0, 1 when it returned -1, 2 for a wrong command line.
 *
 * bad-block asks the flash driver, not the library, whether the erase block
 * that holds the record (offset 0 of /dev/mtd3) is marked bad, and prints
 * "bad" or "good" (NOR flash has no bad blocks: its driver answers good).
 * Exit status 0 when it could ask, 1 with the failed call's error otherwise.
 */
#define _POSIX_C_SOURCE 200809L

#include <qvf.h>

#include <errno.h>
#include <fcntl.h>
#include <mtd/mtd-user.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int usage(void)
{
    fputs("usage: qvf-fields get uid [LEN] | get prdt|hdv|mac | set uid|prdt|hdv TEXT"
          " | set mac ADDRESS | raw read|write | bad-block\n",
          stderr);
    return 2;
}

static int get_field(const char *field, const char *len_text)
{
    char text[QVF_TEXT_FIELD_SIZE + 1] = {0};
    unsigned char mac[6];
    int result;

    if (strcmp(field, "uid") == 0) {
        char *end = NULL;
        unsigned long len = len_text ? strtoul(len_text, &end, 10) : QVF_TEXT_FIELD_SIZE;
        if ((len_text && *end != '\0') || len > QVF_TEXT_FIELD_SIZE)
            return usage();
        result = qvf_uid_get(text, (uint32_t)len);
    } else if (strcmp(field, "prdt") == 0) {
        result = qvf_prdt_get(text);
    } else if (strcmp(field, "hdv") == 0) {
        result = qvf_hdv_get(text);
    } else if (strcmp(field, "mac") == 0) {
        return qvf_mac_get(mac) == 0 ? 0 : 1;
    } else {
        return usage();
    }
    if (result != 0)
        return 1;
    printf("%.32s\n", text);
    return 0;
}

static int set_mac(const char *value)
{
    unsigned char mac[QVF_MAC_FIELD_SIZE] = {0};
    char end;
    if (sscanf(value, "%2hhx:%2hhx:%2hhx:%2hhx:%2hhx:%2hhx%c", &mac[0], &mac[1], &mac[2], &mac[3],
               &mac[4], &mac[5], &end) != 6)
        return usage();
    return qvf_mac_set(mac) == 0 ? 0 : 1;
}

static int set_field(const char *field, const char *value)
{
    /* The setters take the whole field: the text, zero-filled. */
    char text[QVF_TEXT_FIELD_SIZE] = {0};
    size_t len = strlen(value);
    memcpy(text, value, len < sizeof text ? len : sizeof text);

    if (strcmp(field, "uid") == 0)
        return qvf_uid_set(text) == 0 ? 0 : 1;
    if (strcmp(field, "prdt") == 0)
        return qvf_prdt_set(text) == 0 ? 0 : 1;
    if (strcmp(field, "hdv") == 0)
        return qvf_hdv_set(text) == 0 ? 0 : 1;
    if (strcmp(field, "mac") == 0)
        return set_mac(value);
    return usage();
}

static int raw(const char *operation)
{
    unsigned char record[QVF_RECORD_SIZE];

    if (strcmp(operation, "read") == 0) {
        if (qvf_raw_read(record) != 0)
            return 1;
        for (int i = 0; i < QVF_RECORD_SIZE; i++)
            printf(" %02x%s", record[i], i % 16 == 15 || i == QVF_RECORD_SIZE - 1 ? "\n" : "");
        return 0;
    }
    if (strcmp(operation, "write") == 0) {
        if (fread(record, 1, sizeof record, stdin) != sizeof record)
            return usage();
        return qvf_raw_write(record) == 0 ? 0 : 1;
    }
    return usage();
}

static int bad_block(void)
{
    static const char node[] = "/dev/mtd3";
    __kernel_loff_t offset = 0;
    int fd = open(node, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        perror(node);
        return 1;
    }
    int bad = ioctl(fd, MEMGETBADBLOCK, &offset);
    int error = errno;
    (void)close(fd);
    if (bad < 0) {
        errno = error;
        perror("MEMGETBADBLOCK");
        return 1;
    }
    puts(bad ? "bad" : "good");
    return 0;
}

int main(int argc, char **argv)
{
    if (argc >= 3 && argc <= 4 && strcmp(argv[1], "get") == 0)
        return get_field(argv[2], argc == 4 ? argv[3] : NULL);
    if (argc == 4 && strcmp(argv[1], "set") == 0)
        return set_field(argv[2], argv[3]);
    if (argc == 3 && strcmp(argv[1], "raw") == 0)
        return raw(argv[2]);
    if (argc == 2 && strcmp(argv[1], "bad-block") == 0)
        return bad_block();
    return usage();
}
