#pragma once

// Running code under test in-process and catching what it prints: for the
// unit tests and the fuzz harnesses alike (no GoogleTest here).

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <ostream>
#include <string>
#include <type_traits>
#include <vector>

// A tool's program as it ships: the shared main of tools/main.cpp, which
// runs tool_main and then sees to the output. A test executable links it,
// under this name, from the object library <program>_main.
int program_main(int argc, char **argv);

namespace qvtest {

// Redirects stdout and stderr into memory for its lifetime. The streams
// are swapped at the stdio level, so printf, puts and perror are all
// caught, each stream kept apart. Both are fully buffered, as on a pipe.
// With stdout_error, every write of stdout fails with that error instead
// and nothing of it is kept.
class CaptureOutput {
public:
    explicit CaptureOutput(int stdout_error = 0);
    ~CaptureOutput();
    CaptureOutput(const CaptureOutput &) = delete;
    CaptureOutput &operator=(const CaptureOutput &) = delete;

    // Ends the capture (idempotent) and returns what was written.
    std::string out();
    std::string err();

private:
    void finish();

    // Where a stream's writes go: kept in text, or refused with error.
    struct Sink {
        std::string text;
        int error = 0;
    };

    FILE *saved_out_;
    FILE *saved_err_;
    Sink out_;
    Sink err_;
    bool finished_ = false;
};

// What one in-process run of a tool did.
struct RunResult {
    std::string out;
    std::string err;
    int status; // as the shell sees it: 0..255

    bool operator==(const RunResult &) const = default;
};

using ToolMain = int (*)(int argc, char **argv);

// Runs tool(argv) in this process with captured output. args[0] is the
// program name. getopt is reset first, so every run starts fresh. A tool
// that never returns (kez-tool's rate display) is left by a longjmp to
// `stop` from a fake it calls; such a run has status 0. With stdout_error,
// the run's standard output takes nothing (see CaptureOutput).
RunResult run_tool(ToolMain tool, const std::vector<std::string> &args, std::jmp_buf *stop = nullptr,
                   int stdout_error = 0);

// Runs the program under test, its shipped main, with args after its name.
inline RunResult run_program(const char *name, std::vector<std::string> args, int stdout_error = 0)
{
    args.insert(args.begin(), name);
    return run_tool(program_main, args, nullptr, stdout_error);
}

// Calls fn() with captured output; status is fn's own result (0 for void).
template <class Fn>
RunResult capture_call(Fn fn)
{
    CaptureOutput capture;
    int rc = 0;
    if constexpr (std::is_void_v<std::invoke_result_t<Fn>>)
        fn();
    else
        rc = fn();
    std::string out = capture.out();
    return RunResult{out, capture.err(), rc};
}

// Names the cases of a parameterized table by their `name` member.
struct ByName {
    template <class ParamInfo>
    std::string operator()(const ParamInfo &c) const
    {
        return c.param.name;
    }
};

// Put in the namespace of a file's case tables: GoogleTest then shows a
// case by its name instead of dumping its bytes into the test's name.
#define QVTEST_PRINT_CASES_BY_NAME()                                                \
    template <class Case>                                                          \
        requires requires(const Case &c) { c.name; }                               \
    [[maybe_unused]] void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

// Prints a RunResult readably in test failures.
void PrintTo(const RunResult &r, std::ostream *os);

} // namespace qvtest
