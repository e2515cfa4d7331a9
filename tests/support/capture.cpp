#include "capture.hpp"

#include <getopt.h>

#include <cstdlib>

namespace qvtest {

namespace {

template <class Sink>
ssize_t keep(void *cookie, const char *data, size_t size)
{
    auto *sink = static_cast<Sink *>(cookie);
    if (sink->error != 0) {
        errno = sink->error;
        return -1;
    }
    sink->text.append(data, size);
    return static_cast<ssize_t>(size);
}

// A stream that keeps what is written out of its buffer in the sink.
template <class Sink>
FILE *open_capture(Sink &sink)
{
    FILE *f = fopencookie(&sink, "w", {nullptr, keep<Sink>, nullptr, nullptr});
    if (f == nullptr || setvbuf(f, nullptr, _IOFBF, BUFSIZ) != 0)
        abort();
    return f;
}

// Kept apart from run_tool, so that the jump back lands in a frame with
// nothing to lose.
int call(ToolMain tool, int argc, char **argv, std::jmp_buf *stop)
{
    if (stop == nullptr)
        return tool(argc, argv);
    if (setjmp(*stop) == 0)
        return tool(argc, argv);
    return 0;
}

} // namespace

CaptureOutput::CaptureOutput(int stdout_error) : saved_out_(stdout), saved_err_(stderr)
{
    out_.error = stdout_error;
    fflush(stdout);
    fflush(stderr);
    stdout = open_capture(out_);
    stderr = open_capture(err_);
}

CaptureOutput::~CaptureOutput()
{
    finish();
}

void CaptureOutput::finish()
{
    if (finished_)
        return;
    finished_ = true;
    fclose(stdout);
    fclose(stderr);
    stdout = saved_out_;
    stderr = saved_err_;
}

std::string CaptureOutput::out()
{
    finish();
    return out_.text;
}

std::string CaptureOutput::err()
{
    finish();
    return err_.text;
}

RunResult run_tool(ToolMain tool, const std::vector<std::string> &args, std::jmp_buf *stop,
                   int stdout_error)
{
    std::vector<std::string> storage = args;
    std::vector<char *> argv;
    for (auto &a : storage)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    optind = 0; // glibc: 0 also resets getopt's internal state
    opterr = 1;
    CaptureOutput capture(stdout_error);
    const int rc = call(tool, static_cast<int>(storage.size()), argv.data(), stop);
    std::string out = capture.out();
    return RunResult{out, capture.err(), rc & 0xff};
}

void PrintTo(const RunResult &r, std::ostream *os)
{
    *os << "{status " << r.status << ", stdout \"" << r.out << "\", stderr \"" << r.err << "\"}";
}

} // namespace qvtest
