/*
 * as-user: runs a command as another user, as a program started by a
 * daemon that is not root would run: without root's groups and without
 * any capability.
 *
 *   as-user UID COMMAND [ARGS...]
 *
 * The group is the same number as the user. Exit status: the command's,
 * or 127 when it could not be started.
 */
#define _GNU_SOURCE
#include <grp.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    char *end = NULL;
    unsigned long uid;

    if (argc < 3) {
        fputs("usage: as-user UID COMMAND [ARGS...]\n", stderr);
        return 127;
    }
    uid = strtoul(argv[1], &end, 10);
    if (*argv[1] == '\0' || *end != '\0' || uid == 0) {
        fputs("as-user: UID must be a number other than 0\n", stderr);
        return 127;
    }
    if (setgroups(0, NULL) < 0 || setgid((gid_t)uid) < 0 || setuid((uid_t)uid) < 0) {
        perror("as-user");
        return 127;
    }
    execvp(argv[2], argv + 2);
    perror(argv[2]);
    return 127;
}
