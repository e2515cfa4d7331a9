// What boardinfo does when memory runs out. What it prints, also with
// arguments or when its output cannot be written, is compared with the
// fixed text by the rows of tests/cases/boardinfo.cases.

#include "boardinfo.hpp"
#include "capture.hpp"
#include "expected_texts.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>

namespace {

const std::string &kBoardinfoOutput = qvtest::expected::boardinfo;
// The key=value lines, before the port table.
const std::string kBoardDescription(kBoardinfoOutput, 0, kBoardinfoOutput.find("[0]: "));
using qvtest::RunResult;

// Fails the next allocation of this many bytes, as malloc does when memory
// runs out; every other allocation goes through.
size_t g_fail_size = 0;

} // namespace

extern "C" void *__real_malloc(size_t size);
extern "C" void *__wrap_malloc(size_t size)
{
    if (g_fail_size != 0 && size == g_fail_size) {
        g_fail_size = 0;
        errno = ENOMEM;
        return nullptr;
    }
    return __real_malloc(size);
}

namespace {

TEST(Boardinfo, StopsAfterTheDescriptionWhenMemoryRunsOut)
{
    g_fail_size = 220;
    const RunResult r = qvtest::run_tool(program_main, {"boardinfo"});
    EXPECT_EQ(g_fail_size, 0u) << "the table's block was never asked for";
    EXPECT_EQ(r, (RunResult{kBoardDescription, "malloc: Cannot allocate memory\n", 255}));
}

} // namespace
