#include "capture.hpp"

#include <getopt.h>

#include <cstdlib>

namespace qvtest {

namespace {

ssize_t keep(void *text, const char *data, size_t size)
{
    static_cast<std::string *>(text)->append(data, size);
    return static_cast<ssize_t>(size);
}

// A stream that keeps what is written out of its buffer in `text`.
FILE *open_capture(std::string &text)
{
    FILE *f = fopencookie(&text, "w", {nullptr, keep, nullptr, nullptr});
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

CaptureOutput::CaptureOutput() : saved_out_(stdout), saved_err_(stderr)
{
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
    return out_;
}

std::string CaptureOutput::err()
{
    finish();
    return err_;
}

RunResult run_tool(ToolMain tool, const std::vector<std::string> &args, std::jmp_buf *stop)
{
    std::vector<std::string> storage = args;
    std::vector<char *> argv;
    for (auto &a : storage)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    optind = 0; // glibc: 0 also resets getopt's internal state
    opterr = 1;
    CaptureOutput capture;
    const int rc = call(tool, static_cast<int>(storage.size()), argv.data(), stop);
    std::string out = capture.out();
    return RunResult{out, capture.err(), rc & 0xff};
}

void PrintTo(const RunResult &r, std::ostream *os)
{
    *os << "{status " << r.status << ", stdout \"" << r.out << "\", stderr \"" << r.err << "\"}";
}

} // namespace qvtest
