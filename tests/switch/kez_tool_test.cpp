// kez-tool's command line against a recording fake of the switch library:
// which library calls each command line makes, in which order. Its usage,
// its refusals and its output that cannot be written are rows of
// tests/cases/kez-tool.cases.

#include "capture.hpp"
#include "fake_kez.hpp"
#include "kez_tool.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <csetjmp>
#include <string>
#include <vector>

namespace {

QVTEST_PRINT_CASES_BY_NAME()

using qvtest::RunResult;
using Calls = std::vector<std::string>;

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

// Every run can be left from the endless rate display: the fake's third
// sleep jumps back out of it.
class KezToolRun : public testing::Test {
protected:
    void SetUp() override
    {
        fakekez::reset();
        fakekez::library().sleeps_before_stop = 3;
        fakekez::library().stop = &stop_;
    }
    RunResult run(std::vector<std::string> args, int stdout_error = 0)
    {
        args.insert(args.begin(), "kez-tool");
        return qvtest::run_tool(program_main, args, &stop_, stdout_error);
    }
    static const Calls &calls() { return fakekez::library().calls; }

    std::jmp_buf stop_;
};

struct Case {
    const char *name;
    std::vector<std::string> args;
    RunResult expected;
    Calls after_start;
    int stdout_error = 0; // every write of stdout fails so
};

class KezToolOptions : public KezToolRun, public testing::WithParamInterface<Case> {};

TEST_P(KezToolOptions, PrintsAndCallsTheLibraryInOrder)
{
    EXPECT_EQ(run(GetParam().args, GetParam().stdout_error), GetParam().expected);
    EXPECT_EQ(calls(), started_then(GetParam().after_start));
}

const Case kCases[] = {
    {"NoOptions", {}, {"", "", 0}, {}},
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
    // Refreshes every second until killed, each written out before the
    // sleep; the registers asked for after it never come.
    {"RateDisplay",
     {"-a", "-R", "-g"},
     {"<atu>\n\33[2J<rates>\n<rates>\n<rates>\n", "", 0},
     {"ATU_dump(0)", "show_atu_entry(23)", "show_rates()", "usleep(1000000) pending=0", "show_rates()",
      "usleep(1000000) pending=0", "show_rates()", "usleep(1000000) pending=0"}},
    // Output that never arrives fails the run; the rate display stops at
    // the first refresh that cannot be written, before its next sleep.
    {"RateDisplayToAClosedPipe",
     {"-a", "-R", "-g"},
     {"", "kez-tool: write error: Broken pipe\n", 255},
     {"ATU_dump(0)", "show_atu_entry(23)", "show_rates()"},
     EPIPE},
};

INSTANTIATE_TEST_SUITE_P(Cases, KezToolOptions, testing::ValuesIn(kCases), qvtest::ByName{});

class KezToolPorts : public KezToolRun, public testing::WithParamInterface<const char *> {};

// A port that names no entry of the port map stops the program before the
// library sees it; options before it have been carried out.
TEST_P(KezToolPorts, RefusesPortOutsideTheMap)
{
    const std::string port = GetParam();
    for (const char *option : {"-m", "-c"}) {
        fakekez::reset();
        EXPECT_EQ(run({"-a", option, port, "-g"}), (RunResult{"<atu>\n", "invalid port: " + port + "\n", 255}))
            << option;
        EXPECT_EQ(calls(), started_then({"ATU_dump(0)", "show_atu_entry(23)"}));
    }
}

INSTANTIATE_TEST_SUITE_P(NotAPort, KezToolPorts,
                         testing::Values("abc", "11", "-1", "", "3x", " 3", "+3", "0x3",
                                         "99999999999999999999"));

TEST_F(KezToolRun, StopsSilentlyWhenTheLibraryDoesNotStart)
{
    fakekez::library().init_result = -1;
    EXPECT_EQ(run({"-h", "-a"}), (RunResult{"", "", 255}));
    EXPECT_EQ(calls(), Calls{"kez_init(eth0)"});
}

} // namespace
