// The one main of every tool. A tool's work is in its tool_main, which the
// tests run in-process; its result is the exit status (-1 gives 255).
//
// Scripts take the tools' answers from standard output, so output that was
// not written (a full disk, a reader that has gone while SIGPIPE is ignored)
// fails the run whatever the tool's own result: one line on standard error
// with the program's fixed name, QV_PROGRAM, and status 255.

#include <cerrno>
#include <cstdio>
#include <cstring>

int tool_main(int argc, char **argv);

int main(int argc, char **argv)
{
    const int status = tool_main(argc, argv);
    // Output to a pipe, a file or a device is written here, so errno is this
    // flush's. A write that failed before (a full buffer, a line on a
    // terminal, a refresh of kez-tool's display, which stops at once) left
    // the stream's error flag and its errno, which stays the write's unless
    // a later call of the tool failed too.
    if (fflush(stdout) == 0 && ferror(stdout) == 0)
        return status;
    fprintf(stderr, "%s: write error: %s\n", QV_PROGRAM, strerror(errno));
    return -1;
}
