/* A C program using libqvf through its installed header: the header must be
 * plain C and the library must link from C. Without a device every call
 * fails; the NULL checks fail before the device is touched. */
#include <qvf.h>

#include <stddef.h>
#include <stdio.h>

int main(void)
{
    char text[QVF_TEXT_FIELD_SIZE + 1];
    int failures = 0;

    failures += qvf_raw_read(NULL) == -1;
    failures += qvf_raw_write(NULL) == -1;
    failures += qvf_uid_set(NULL) == -1;
    failures += qvf_mac_set(NULL) == -1;
    failures += qvf_prdt_set(NULL) == -1;
    failures += qvf_hdv_set(NULL) == -1;
    failures += qvf_uid_get(NULL, sizeof text - 1) == -1;
    failures += qvf_mac_get(NULL) == -1;
    failures += qvf_prdt_get(NULL) == -1;
    failures += qvf_hdv_get(NULL) == -1;
    (void)text;
    printf("%d refused\n", failures);
    return failures == 10 ? 0 : 1;
}
