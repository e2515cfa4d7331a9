#include "capture.hpp"

#include <getopt.h>

#include <cstdlib>
#include <ostream>

namespace qvtest {

CaptureOutput::CaptureOutput() : saved_out_(stdout), saved_err_(stderr)
{
    fflush(stdout);
    fflush(stderr);
    stdout = open_memstream(&out_buf_, &out_len_);
    stderr = open_memstream(&err_buf_, &err_len_);
    if (stdout == nullptr || stderr == nullptr)
        abort();
}

CaptureOutput::~CaptureOutput()
{
    finish();
    free(out_buf_);
    free(err_buf_);
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
    return std::string(out_buf_, out_len_);
}

std::string CaptureOutput::err()
{
    finish();
    return std::string(err_buf_, err_len_);
}

RunResult run_tool(ToolMain tool, const std::vector<std::string> &args)
{
    std::vector<std::string> storage = args;
    std::vector<char *> argv;
    for (auto &a : storage)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    optind = 0; // glibc: 0 also resets getopt's internal state
    opterr = 1;
    CaptureOutput capture;
    int rc = tool(static_cast<int>(storage.size()), argv.data());
    RunResult r{capture.out(), capture.err(), rc & 0xff};
    return r;
}

void PrintTo(const RunResult &r, std::ostream *os)
{
    *os << "{status " << r.status << ", stdout \"" << r.out << "\", stderr \"" << r.err << "\"}";
}

} // namespace qvtest
