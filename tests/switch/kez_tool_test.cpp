// kez-tool's command line against a recording fake of the switch library.

#include "capture.hpp"
#include "fake_kez.hpp"
#include "kez_tool.hpp"

#include <getopt.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <csetjmp>
#include <string>
#include <vector>

namespace {

using qvtest::RunResult;
using Calls = std::vector<std::string>;

const std::string kUsage =
    "  Usage: kez-tool [options]\n"
    "\tOptions:\n"
    "\t-s         Show the mibs describe \n"
    "\t-h         Show the kez-tool usage \n"
    "\t-a         Display the mac address of the device \n"
    "\t-m <port>  Display the MIB Statistics of the select port \n"
    "\t-c <port>  Clear the MIB Statistics of the select port \n"
    "\t-R         Display the speed on real time(1s) \n"
    "\t-g         Display the all of the registers on the device \n"
    "\n";

// What every run that starts the library calls first.
Calls started()
{
    return {"kez_init(eth0)", "kez_id_init(" + std::to_string(getpid() & 0xFF) + ")", "loop_kez()"};
}

Calls started_then(const Calls &more)
{
    Calls calls = started();
    calls.insert(calls.end(), more.begin(), more.end());
    return calls;
}

struct Case {
    const char *name;
    std::vector<std::string> args;
    RunResult expected;
    Calls after_start;
};

class KezToolOptions : public testing::TestWithParam<Case> {
protected:
    void SetUp() override { fakekez::reset(); }
};

TEST_P(KezToolOptions, PrintsAndCallsTheLibraryInOrder)
{
    const Case &c = GetParam();
    std::vector<std::string> args{"kez-tool"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(qvtest::run_tool(tool_main, args), c.expected);
    EXPECT_EQ(fakekez::library().calls, started_then(c.after_start));
}

const Case kCases[] = {
    {"NoOptions", {}, {"", "", 0}, {}},
    {"Usage", {"-h"}, {kUsage, "", 0}, {}},
    {"UsageThenTable", {"-h", "-a"}, {kUsage + "<atu>\n", "", 0}, {"ATU_dump(0)", "show_atu_entry(23)"}},
    {"UnknownOptionEndsBeforeTable",
     {"-x", "-a"},
     {kUsage, "kez-tool: invalid option -- 'x'\n", 0},
     {}},
    {"MissingPort", {"-m"}, {kUsage, "kez-tool: option requires an argument -- 'm'\n", 0}, {}},
    {"MissingPortAfterTable",
     {"-a", "-c"},
     {"<atu>\n" + kUsage, "kez-tool: option requires an argument -- 'c'\n", 0},
     {"ATU_dump(0)", "show_atu_entry(23)"}},
    {"MibsOfFrontPort3", {"-m", "3"}, {"<mibs 6>\n", "", 0}, {"MIB_dump(0,6)", "show_mibs(6)"}},
    {"MibsOfCpuPort", {"-m0"}, {"<mibs 9>\n", "", 0}, {"MIB_dump(0,9)", "show_mibs(9)"}},
    {"ClearLastPort", {"-c", "10"}, {"", "", 0}, {"MIB_clear(0,1)"}},
    {"LeadingZero", {"-c", "08"}, {"", "", 0}, {"MIB_clear(0,3)"}},
    {"Help", {"-s"}, {"<mib help>\n", "", 0}, {"show_mib_help()"}},
    {"Registers", {"-g"}, {"<regs>\n", "", 0}, {"regs_dump(0)", "show_regs(42)"}},
    {"InOrderGiven",
     {"-g", "-c", "1", "-m", "1", "-sa"},
     {"<regs>\n<mibs 10>\n<mib help>\n<atu>\n", "", 0},
     {"regs_dump(0)", "show_regs(42)", "MIB_clear(0,10)", "MIB_dump(0,10)", "show_mibs(10)",
      "show_mib_help()", "ATU_dump(0)", "show_atu_entry(23)"}},
};

INSTANTIATE_TEST_SUITE_P(Cases, KezToolOptions, testing::ValuesIn(kCases),
                         [](const auto &param_info) { return std::string(param_info.param.name); });

class KezToolPorts : public testing::TestWithParam<const char *> {
protected:
    void SetUp() override { fakekez::reset(); }
};

// A port that names no entry of the port map stops the program before the
// library sees it; options before it have been carried out.
TEST_P(KezToolPorts, RefusesPortOutsideTheMap)
{
    const std::string port = GetParam();
    for (const char *option : {"-m", "-c"}) {
        fakekez::reset();
        const RunResult r = qvtest::run_tool(tool_main, {"kez-tool", "-a", option, port, "-g"});
        EXPECT_EQ(r, (RunResult{"<atu>\n", "invalid port: " + port + "\n", 255})) << option;
        EXPECT_EQ(fakekez::library().calls, started_then({"ATU_dump(0)", "show_atu_entry(23)"}));
    }
}

INSTANTIATE_TEST_SUITE_P(NotAPort, KezToolPorts,
                         testing::Values("abc", "11", "-1", "", "3x", " 3", "+3", "0x3",
                                         "99999999999999999999"));

TEST(KezTool, StopsSilentlyWhenTheLibraryDoesNotStart)
{
    fakekez::reset();
    fakekez::library().init_result = -1;
    EXPECT_EQ(qvtest::run_tool(tool_main, {"kez-tool", "-h", "-a"}), (RunResult{"", "", 255}));
    EXPECT_EQ(fakekez::library().calls, Calls{"kez_init(eth0)"});
}

std::jmp_buf g_stop;
std::string g_written;

// tool_main until the fake's last sleep jumps back out of the endless display.
void run_until_stopped(int argc, char **argv)
{
    if (setjmp(g_stop) == 0)
        (void)tool_main(argc, argv);
}

// A stdout that buffers like one on a pipe and keeps what it writes out.
ssize_t keep_written(void *cookie, const char *data, size_t size)
{
    static_cast<std::string *>(cookie)->append(data, size);
    return static_cast<ssize_t>(size);
}

TEST(KezTool, RateDisplayRefreshesEverySecondAndNeverReturns)
{
    fakekez::reset();
    g_written.clear();
    fakekez::library().sleeps_before_stop = 3;
    fakekez::library().stop = &g_stop;
    fakekez::library().written = &g_written;
    std::string name = "kez-tool", a = "-a", R = "-R", g = "-g";
    char *argv[] = {name.data(), a.data(), R.data(), g.data(), nullptr};

    FILE *const saved = stdout;
    stdout = fopencookie(&g_written, "w", {nullptr, keep_written, nullptr, nullptr});
    ASSERT_NE(stdout, nullptr);
    ASSERT_EQ(setvbuf(stdout, nullptr, _IOFBF, BUFSIZ), 0);
    optind = 0;
    run_until_stopped(4, argv);
    fclose(stdout);
    stdout = saved;

    EXPECT_EQ(g_written, "<atu>\n\33[2J<rates>\n<rates>\n<rates>\n");
    // Each refresh has been written out before the sleep; the registers never come.
    EXPECT_EQ(fakekez::library().calls,
              started_then({"ATU_dump(0)", "show_atu_entry(23)", "show_rates()", "usleep(1000000) written=18",
                            "show_rates()", "usleep(1000000) written=26", "show_rates()",
                            "usleep(1000000) written=34"}));
}

} // namespace
