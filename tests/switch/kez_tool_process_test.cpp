// The built kez-tool over the stand-in switch library, run as a process in a
// network namespace that has an eth0 (see with-eth0.sh): what the rows of
// tests/cases/kez-tool.cases, which run it so too, cannot show.

#include "expected_texts.hpp"
#include "process.hpp"
#include "sim_state.hpp"

#include <gtest/gtest.h>
#include <net/if.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

using qvtest::RunResult;

const std::string &kAtuTable = qvtest::expected::kez_atu;

class KezToolProcess : public testing::Test {
protected:
    void SetUp() override
    {
        if (if_nametoindex("eth0") == 0)
            GTEST_SKIP() << "no interface eth0 here: run this test under with-eth0.sh";
    }

    // One run of kez-tool with the switch's clock at `seconds`.
    static RunResult run_at(int seconds, const std::vector<std::string> &options)
    {
        EXPECT_EQ(setenv("KEZ_SIM_CLOCK", std::to_string(seconds).c_str(), 1), 0);
        std::vector<std::string> args{"kez-tool"};
        args.insert(args.end(), options.begin(), options.end());
        return qvtest::run_program(KEZ_TOOL, args);
    }

    qvtest::PrivateSimState sim_;
};

// Clearing one port leaves the others counting from when the switch came
// up.
TEST_F(KezToolProcess, ClearingOnePortLeavesTheOthers)
{
    EXPECT_EQ(run_at(1000, {}), (RunResult{"", "", 0}));
    EXPECT_EQ(run_at(1020, {"-c", "3"}), (RunResult{"", "", 0}));
    const RunResult other = run_at(1020, {"-m", "6"});
    EXPECT_NE(other.out.find("RxUnicast                  300000\n"), std::string::npos) << other.out;
}

// The rate display runs until it is killed: the table, one clear-screen,
// then whole refreshes, and never the registers asked for after it.
TEST_F(KezToolProcess, RateDisplayUntilKilled)
{
    ASSERT_EQ(setenv("KEZ_SIM_CLOCK", "1000", 1), 0);
    const RunResult r = qvtest::run_program("timeout", {"timeout", "3", KEZ_TOOL, "-a", "-R", "-g"});
    EXPECT_EQ(r.status, 124) << "timeout's status when it had to stop the program";
    EXPECT_EQ(r.err, "");
    const std::string head = kAtuTable + "\33[2J";
    ASSERT_EQ(r.out.substr(0, head.size()), head);
    const std::string rates = r.out.substr(head.size());
    const std::string header = "Port   Link    Rx kbit/s    Tx kbit/s  Rx frames/s  Tx frames/s\n";
    ASSERT_EQ(rates.substr(0, header.size()), header);
    const size_t second = rates.find(header, header.size());
    const std::string refresh = rates.substr(0, second);
    EXPECT_EQ(std::count(refresh.begin(), refresh.end(), '\n'), 12);
    for (size_t at = 0; at < rates.size(); at += refresh.size())
        EXPECT_EQ(rates.substr(at, refresh.size()), refresh) << "refresh at " << at;
    EXPECT_EQ(r.out.find("Addr"), std::string::npos);
    EXPECT_EQ(r.out.find("\33[2J", head.size()), std::string::npos);
}

// In a namespace of its own, without eth0, the library does not start.
TEST_F(KezToolProcess, SilentWithoutTheSwitchInterface)
{
    const RunResult probe = qvtest::run_program("unshare", {"unshare", "-rn", "true"});
    if (probe.status != 0)
        GTEST_SKIP() << "cannot make a network namespace without eth0: " << probe.err;
    EXPECT_EQ(qvtest::run_program("unshare", {"unshare", "-rn", KEZ_TOOL, "-h", "-a"}),
              (RunResult{"", "", 255}));
}

} // namespace
