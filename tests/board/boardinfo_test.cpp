// boardinfo's whole output, and what it does when memory runs out or its
// output cannot be written.

#include "boardinfo.hpp"
#include "capture.hpp"
#include "expected_texts.hpp"

#include <gtest/gtest.h>

#include <algorithm>
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

TEST(Boardinfo, PrintsTheBoardAndItsPorts)
{
    const RunResult r = qvtest::run_tool(program_main, {"boardinfo"});
    EXPECT_EQ(r, (RunResult{kBoardinfoOutput, "", 0}));
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 19);
}

TEST(Boardinfo, IgnoresArguments)
{
    EXPECT_EQ(qvtest::run_tool(program_main, {"boardinfo", "-h", "x"}),
              (RunResult{kBoardinfoOutput, "", 0}));
}

TEST(Boardinfo, StopsAfterTheDescriptionWhenMemoryRunsOut)
{
    g_fail_size = 220;
    const RunResult r = qvtest::run_tool(program_main, {"boardinfo"});
    EXPECT_EQ(g_fail_size, 0u) << "the table's block was never asked for";
    EXPECT_EQ(r, (RunResult{kBoardDescription, "malloc: Cannot allocate memory\n", 255}));
}

class BoardinfoUnwritten : public testing::TestWithParam<qvtest::FailingOutput> {};

TEST_P(BoardinfoUnwritten, FailsTheRun)
{
    EXPECT_EQ(qvtest::run_tool(program_main, {"boardinfo"}, nullptr, GetParam().error),
              (RunResult{"", std::string("boardinfo: write error: ") + GetParam().text + "\n", 255}));
}

INSTANTIATE_TEST_SUITE_P(Outputs, BoardinfoUnwritten, testing::ValuesIn(qvtest::kFailingOutputs),
                         qvtest::ByName{});

} // namespace
