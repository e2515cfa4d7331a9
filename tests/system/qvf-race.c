/*
 * qvf-race: several processes at once on the identity record, through the
 * installed libqvf.so, as programs of the device would meet on its flash.
 *
 *   qvf-race [SETS]
 *
 * Four setters, one per field (MAC address, unique id, hardware version,
 * product type), each store their field SETS times (default 50), counting
 * up; four readers read the whole record until the setters are done. Every
 * field is stored once before they start, so a reader must never find a
 * field blank (zero), a value that is not one the setters wrote, or a
 * setter's count going back. Afterwards each field must hold its setter's
 * last value; one that does not is a lost update. Prints
 *
 *   processes N, sets N, reads N, lost updates N, blank reads N
 *
 * and exits 0 when nothing was lost, blank, garbled or failed, else 1.
 */
#define _GNU_SOURCE
#include <qvf.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

enum { FIELDS = 4, READERS = 4, PROCESSES = FIELDS + READERS };

/* Field offsets in the record, and the text a setter stores in each. */
static const size_t offsets[FIELDS] = {0, 8, 40, 72};
static const char *const prefixes[FIELDS] = {"", "uid-", "hdv-", "prdt-"};

/* What the children tell the parent, one slot each. */
struct shared {
    int setters_done; /* set by the parent once every setter has exited */
    long failed[PROCESSES];
    long reads[READERS];
    long blank[READERS]; /* reads that found a field blank */
    long garbled[READERS];
    long backwards[READERS];
};

/* Stores value number n in field f. */
static int set_value(int f, unsigned n)
{
    if (f == 0) {
        const unsigned char mac[QVF_MAC_FIELD_SIZE] = {0x02, 0, 0, 0, n >> 8, n & 0xff, 0, 0};
        return qvf_mac_set(mac);
    }
    char text[QVF_TEXT_FIELD_SIZE] = {0};
    snprintf(text, sizeof text, "%s%04u", prefixes[f], n);
    if (f == 1)
        return qvf_uid_set(text);
    if (f == 2)
        return qvf_hdv_set(text);
    return qvf_prdt_set(text);
}

/* The value number field f holds in record, -1 when blank (all zero
 * first byte), -2 when it is none the setters write. */
static long value_of(const unsigned char *record, int f)
{
    const unsigned char *field = record + offsets[f];
    if (field[0] == 0)
        return -1;
    if (f == 0) {
        static const unsigned char zero[4] = {0};
        if (field[0] != 0x02 || memcmp(field + 1, zero, 3) != 0 || field[6] || field[7])
            return -2;
        return field[4] << 8 | field[5];
    }
    char text[QVF_TEXT_FIELD_SIZE + 1] = {0};
    memcpy(text, field, QVF_TEXT_FIELD_SIZE);
    size_t len = strlen(prefixes[f]);
    char *end = NULL;
    if (strncmp(text, prefixes[f], len) != 0 || strlen(text) != len + 4)
        return -2;
    long n = strtol(text + len, &end, 10);
    return *end == '\0' ? n : -2;
}

static void setter(struct shared *sh, int f, unsigned sets)
{
    for (unsigned n = 1; n <= sets; n++)
        if (set_value(f, n) != 0)
            sh->failed[f]++;
}

static void reader(struct shared *sh, int r)
{
    long last[FIELDS] = {0};
    unsigned char record[QVF_RECORD_SIZE];
    do {
        if (qvf_raw_read(record) != 0) {
            sh->failed[FIELDS + r]++;
            continue;
        }
        sh->reads[r]++;
        int blank = 0;
        for (int f = 0; f < FIELDS; f++) {
            long n = value_of(record, f);
            if (n == -1)
                blank = 1;
            else if (n == -2)
                sh->garbled[r]++;
            else if (n < last[f])
                sh->backwards[r]++;
            else
                last[f] = n;
        }
        sh->blank[r] += blank;
    } while (!__atomic_load_n(&sh->setters_done, __ATOMIC_SEQ_CST));
}

/* Starts the children; each runs one setter or reader and exits. */
static int start(struct shared *sh, unsigned sets, pid_t *pids)
{
    fflush(NULL);
    for (int i = 0; i < PROCESSES; i++) {
        pids[i] = fork();
        if (pids[i] < 0) {
            perror("fork");
            return -1;
        }
        if (pids[i] == 0) {
            if (i < FIELDS)
                setter(sh, i, sets);
            else
                reader(sh, i - FIELDS);
            exit(0);
        }
    }
    return 0;
}

static long sum(const long *values, int count)
{
    long total = 0;
    for (int i = 0; i < count; i++)
        total += values[i];
    return total;
}

/* Fields that do not hold their setter's last value. */
static int lost_updates(unsigned sets)
{
    unsigned char record[QVF_RECORD_SIZE];
    int lost = 0;
    if (qvf_raw_read(record) != 0)
        return FIELDS;
    for (int f = 0; f < FIELDS; f++)
        if (value_of(record, f) != (long)sets)
            lost++;
    return lost;
}

int main(int argc, char **argv)
{
    char *end = NULL;
    unsigned long sets = argc > 1 ? strtoul(argv[1], &end, 10) : 50;
    if (argc > 2 || (argc > 1 && (*end != '\0' || sets == 0 || sets > 9999))) {
        fputs("usage: qvf-race [SETS]  (1 to 9999, default 50)\n", stderr);
        return 2;
    }
    struct shared *sh = mmap(NULL, sizeof *sh, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (sh == MAP_FAILED) {
        perror("mmap");
        return 1;
    }
    for (int f = 0; f < FIELDS; f++)
        if (set_value(f, 0) != 0)
            return 1;

    pid_t pids[PROCESSES] = {0};
    int status = start(sh, (unsigned)sets, pids) == 0 ? 0 : 1;
    /* The setters first; the readers stop once they are all gone, even
     * one that died. */
    for (int i = 0; i < PROCESSES; i++) {
        int child;
        if (i == FIELDS)
            __atomic_store_n(&sh->setters_done, 1, __ATOMIC_SEQ_CST);
        if (pids[i] > 0 && (waitpid(pids[i], &child, 0) < 0 || !WIFEXITED(child) || WEXITSTATUS(child) != 0))
            status = 1;
    }
    int lost = lost_updates((unsigned)sets);
    long blank = sum(sh->blank, READERS), garbled = sum(sh->garbled, READERS);
    long backwards = sum(sh->backwards, READERS), failed = sum(sh->failed, PROCESSES);
    printf("processes %d, sets %lu, reads %ld, lost updates %d, blank reads %ld\n", PROCESSES,
           FIELDS * sets, sum(sh->reads, READERS), lost, blank);
    if (garbled || backwards || failed)
        fprintf(stderr, "qvf-race: %ld garbled fields, %ld values gone back, %ld failed calls\n",
                garbled, backwards, failed);
    return status || lost || blank || garbled || backwards || failed;
}
