// boardinfo's whole output, and what it does when memory runs out.

#include "boardinfo.hpp"
#include "capture.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace {

using qvtest::RunResult;

const std::string kDescription = "cpu=IMX6UL\n"
                                 "hardware_version=GE-K47301T_v1.00-10\n"
                                 "product_type=QV-MR16-PL4C2-AX\n"
                                 "ports_total=10\n"
                                 "ports_optical=2\n"
                                 "ports_ether=8\n"
                                 "uid=53-20-01-0A-01-10-00-00\n"
                                 "cpu_seq=9\n";

// Panel index, unit, fibre flag, port class, switch port.
const std::string kPortTable = "[0]: 0:0:0:9\n"
                               "[1]: 0:1:1:10\n"
                               "[2]: 0:1:1:8\n"
                               "[3]: 0:0:2:6\n"
                               "[4]: 0:0:2:7\n"
                               "[5]: 0:0:2:4\n"
                               "[6]: 0:0:2:5\n"
                               "[7]: 0:0:2:2\n"
                               "[8]: 0:0:2:3\n"
                               "[9]: 0:0:2:0\n"
                               "[10]: 0:0:2:1\n";

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
    const RunResult r = qvtest::run_tool(tool_main, {"boardinfo"});
    EXPECT_EQ(r, (RunResult{kDescription + kPortTable, "", 0}));
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 19);
}

TEST(Boardinfo, IgnoresArguments)
{
    EXPECT_EQ(qvtest::run_tool(tool_main, {"boardinfo", "-h", "x"}),
              (RunResult{kDescription + kPortTable, "", 0}));
}

TEST(Boardinfo, StopsAfterTheDescriptionWhenMemoryRunsOut)
{
    g_fail_size = 220;
    const RunResult r = qvtest::run_tool(tool_main, {"boardinfo"});
    EXPECT_EQ(g_fail_size, 0u) << "the table's block was never asked for";
    EXPECT_EQ(r, (RunResult{kDescription, "malloc: Cannot allocate memory\n", 255}));
}

} // namespace
