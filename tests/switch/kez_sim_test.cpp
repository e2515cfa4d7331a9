// The stand-in switch library, called directly as kez-tool would.

#include "expected_texts.hpp"
#include "capture.hpp"
#include "kez.h"
#include "sim_state.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

QVTEST_PRINT_CASES_BY_NAME()

using qvtest::capture_call;
using qvtest::RunResult;

// Each test has its own switch: a private state file and a fixed clock.
class SimSwitch : public testing::Test {
protected:
    static void at(int seconds) { ASSERT_EQ(setenv("KEZ_SIM_CLOCK", std::to_string(seconds).c_str(), 1), 0); }

    // The counters of a switch port as show_mibs prints them.
    static std::map<std::string, uint64_t> counters(int port)
    {
        EXPECT_EQ(MIB_dump(0, port), 0);
        std::istringstream lines(capture_call([port] { show_mibs(port); }).out);
        std::map<std::string, uint64_t> values;
        std::string line;
        char name[32];
        uint64_t value;
        while (std::getline(lines, line))
            if (sscanf(line.c_str(), "%31s %" SCNu64, name, &value) == 2)
                values[name] = value;
        return values;
    }

    qvtest::PrivateSimState sim_;
    const std::string state_ = sim_.path();
};

// Without the interface there is no switch, and the library says nothing:
// kez-tool stops silently.
TEST(SimInit, NeedsTheInterface)
{
    EXPECT_EQ(kez_init("lo"), 0);
    EXPECT_EQ(capture_call([] { return kez_init("kez-nosuch0"); }), (RunResult{"", "", -1}));
}

TEST_F(SimSwitch, CountersGrowWithTime)
{
    at(1000);
    ASSERT_EQ(loop_kez(), 0);
    at(1010);
    ASSERT_EQ(MIB_dump(0, 6), 0);
    EXPECT_EQ(capture_call([] { show_mibs(6); }), (RunResult{qvtest::expected::kez_port3_after_10s, "", 0}));
}

TEST_F(SimSwitch, ClearHoldsForLaterRunsOfThatPortOnly)
{
    at(1000);
    ASSERT_EQ(loop_kez(), 0);
    at(1010);
    ASSERT_EQ(MIB_clear(0, 6), 0);
    EXPECT_EQ(counters(6)["RxUnicast"], 0u);
    at(1013);
    EXPECT_EQ(counters(6)["RxUnicast"], 3u * 2100);
    EXPECT_EQ(counters(5)["RxUnicast"], 13u * 15000);
}

TEST_F(SimSwitch, ShowsOnlyFetchedCounters)
{
    at(1000);
    EXPECT_EQ(capture_call([] { show_mibs(4); }).out, "switch port 4: counters not fetched\n");
}

// The rate display's figures are the counters' growth over one second.
TEST_F(SimSwitch, RatesAgreeWithCounters)
{
    at(2000);
    const std::string rates = capture_call(show_rates).out;
    std::istringstream lines(rates);
    std::string line;
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_EQ(line, "Port   Link    Rx kbit/s    Tx kbit/s  Rx frames/s  Tx frames/s");
    for (int front = 0; front < KEZ_PORT_MAP_SIZE; ++front) {
        const int port = L_GE_K47301T[front];
        at(2000);
        ASSERT_EQ(MIB_clear(0, port), 0);
        at(2001);
        auto c = counters(port);
        ASSERT_TRUE(std::getline(lines, line));
        char label[8], link[8];
        uint64_t rx_kbit, tx_kbit, rx_frames, tx_frames;
        ASSERT_EQ(sscanf(line.c_str(), "%7s %7s %" SCNu64 " %" SCNu64 " %" SCNu64 " %" SCNu64, label, link,
                         &rx_kbit, &tx_kbit, &rx_frames, &tx_frames), 6) << line;
        EXPECT_EQ(label, front == 0 ? std::string("cpu") : std::to_string(front));
        EXPECT_EQ(rx_kbit, c["RxOctets"] * 8 / 1000) << line;
        EXPECT_EQ(tx_kbit, c["TxOctets"] * 8 / 1000) << line;
        EXPECT_EQ(rx_frames, c["RxUnicast"] + c["RxMulticast"] + c["RxBroadcast"]) << line;
        EXPECT_EQ(tx_frames, c["TxUnicast"] + c["TxMulticast"] + c["TxBroadcast"]) << line;
        EXPECT_EQ(std::string(link) == "down", rx_frames + tx_frames == 0) << line;
    }
    EXPECT_FALSE(std::getline(lines, line));
}

TEST_F(SimSwitch, RefusesPortsAndUnitsItHasNot)
{
    EXPECT_EQ(capture_call([] { return MIB_dump(0, 11); }), (RunResult{"", "kez: no switch port 11\n", -1}));
    EXPECT_EQ(capture_call([] { return MIB_clear(0, -1); }), (RunResult{"", "kez: no switch port -1\n", -1}));
    EXPECT_EQ(capture_call([] { return MIB_dump(1, 3); }), (RunResult{"", "kez: no switch unit 1\n", -1}));
    EXPECT_EQ(capture_call([] { show_atu_entry(ATU_dump(2)); }).err,
              "kez: no switch unit 2\nkez: no address table entries read\n");
    EXPECT_EQ(capture_call([] { show_regs(regs_dump(2)); }).out, "Addr    Value\n");
}

TEST_F(SimSwitch, DamagedStateFileStartsAfresh)
{
    std::ofstream(state_) << "not a state";
    at(3000);
    EXPECT_EQ(capture_call(loop_kez),
              (RunResult{"", "kez: " + state_ + " is not a switch state file, starting afresh\n", 0}));
    at(3002);
    EXPECT_EQ(counters(10)["TxUnicast"], 2u * 18500);
}

TEST_F(SimSwitch, ReportsAStateItCannotLock)
{
    const std::string path = sim_.dir() + "/missing/state";
    ASSERT_EQ(setenv("KEZ_SIM_STATE", path.c_str(), 1), 0);
    EXPECT_EQ(capture_call(loop_kez), (RunResult{"", path + ".lock: No such file or directory\n", -1}));
}

// Every switch port cleared at the same moment by a run of its own, round
// after round: no run may save over another's clear with the state it
// loaded before. (A clear that held shows no traffic; one lost shows the
// second since the last round.)
TEST_F(SimSwitch, ConcurrentClearsLoseNone)
{
    at(1000);
    ASSERT_EQ(loop_kez(), 0);
    for (int when = 1001; when <= 1020; ++when) {
        at(when);
        int gate[2];
        ASSERT_EQ(pipe(gate), 0);
        std::vector<pid_t> runs;
        for (int port = 0; port < KEZ_PORT_MAP_SIZE; ++port) {
            const pid_t pid = fork();
            if (pid == 0) {
                // All start when the gate closes.
                char go;
                (void)close(gate[1]);
                _exit(read(gate[0], &go, 1) == 0 && MIB_clear(0, port) == 0 ? 0 : 1);
            }
            if (pid < 0)
                break;
            runs.push_back(pid);
        }
        (void)close(gate[0]);
        (void)close(gate[1]);
        for (const pid_t pid : runs) {
            int status = 0;
            EXPECT_EQ(waitpid(pid, &status, 0), pid);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        }
        ASSERT_EQ(runs.size(), size_t{KEZ_PORT_MAP_SIZE}) << "fork failed";
        for (int port = 0; port < KEZ_PORT_MAP_SIZE; ++port)
            EXPECT_EQ(counters(port)["RxOctets"], 0u) << "port " << port << " at " << when;
        if (HasFailure())
            break; // one round tells
    }
}

// Where the switch keeps its state: KEZ_SIM_STATE, else a file of the
// user's own (in the runtime folder, or in /tmp under the user's id), as
// another user cannot read or replace a file of mode 0600. A FIFO or
// another user's file planted at the name is refused and left as it was.
enum class Planted { kNothing, kFifo, kOtherUsersFile };

struct StatePathCase {
    const char *name;
    // KEZ_SIM_STATE and XDG_RUNTIME_DIR, each a path in the test's folder,
    // empty, or unset (null).
    const char *named;
    const char *runtime;
    const char *file; // in the test's folder; null: the one in /tmp
    Planted planted = Planted::kNothing;
};

class SimStatePath : public testing::TestWithParam<StatePathCase> {
protected:
    SimStatePath()
    {
        if (const char *runtime = getenv("XDG_RUNTIME_DIR"))
            saved_runtime_ = runtime;
    }
    ~SimStatePath() override
    {
        if (saved_runtime_)
            (void)setenv("XDG_RUNTIME_DIR", saved_runtime_->c_str(), 1);
        else
            (void)unsetenv("XDG_RUNTIME_DIR");
    }
    // Sets the variable to `value` in the test's folder, to empty, or unsets it.
    void set_in_folder(const char *variable, const char *value) const
    {
        if (value == nullptr) {
            ASSERT_EQ(unsetenv(variable), 0);
            return;
        }
        const std::string path = value[0] == '\0' ? "" : sim_.dir() + "/" + value;
        ASSERT_EQ(setenv(variable, path.c_str(), 1), 0);
    }

    qvtest::PrivateSimState sim_;
    std::optional<std::string> saved_runtime_;
};

TEST_P(SimStatePath, IsTheUsersOwn)
{
    const StatePathCase &c = GetParam();
    const std::string dir = sim_.dir();
    const std::string in_tmp = "/tmp/kez-sim-" + std::to_string(getuid()) + ".state";
    const std::string file = c.file != nullptr ? dir + "/" + c.file : in_tmp;
    const bool was_there = access(file.c_str(), F_OK) == 0;
    set_in_folder("KEZ_SIM_STATE", c.named);
    set_in_folder("XDG_RUNTIME_DIR", c.runtime);
    if (c.planted == Planted::kFifo) {
        ASSERT_EQ(mkfifo(file.c_str(), 0644), 0);
    }
    if (c.planted == Planted::kOtherUsersFile) {
        if (geteuid() != 0)
            GTEST_SKIP() << "only root can give a file to another user";
        std::ofstream(file) << "planted";
        ASSERT_EQ(chown(file.c_str(), 65534, 65534), 0);
    }
    // What the run leaves: a new file of the user's, or the planted one as it was.
    struct stat want{};
    want.st_mode = S_IFREG | 0600;
    want.st_uid = getuid();
    if (c.planted != Planted::kNothing) {
        ASSERT_EQ(stat(file.c_str(), &want), 0);
    }
    const bool refused = c.planted != Planted::kNothing;
    const std::string refusal = "kez: " + file + " is not this user's own regular file, refused\n";
    // The switch comes up with its state: kez-tool stops (255) where it is refused.
    EXPECT_EQ(capture_call([] { return kez_init("lo"); }), (RunResult{"", refused ? refusal : "", refused ? -1 : 0}));
    struct stat st{};
    ASSERT_EQ(stat(file.c_str(), &st), 0) << file;
    EXPECT_EQ(st.st_uid, want.st_uid);
    EXPECT_EQ(st.st_mode, want.st_mode);
    EXPECT_EQ(access((file + ".lock").c_str(), F_OK), 0);
    if (!was_there) {
        (void)unlink(file.c_str());
        (void)unlink((file + ".lock").c_str());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Environments, SimStatePath,
    testing::Values(StatePathCase{"named", "named", ".", "named"},
                    StatePathCase{"runtime_folder", nullptr, ".", "./kez-sim.state"},
                    StatePathCase{"tmp_by_user", nullptr, nullptr, nullptr},
                    StatePathCase{"empty_is_unset", "", ".", "./kez-sim.state"},
                    StatePathCase{"fifo_planted", nullptr, ".", "./kez-sim.state", Planted::kFifo},
                    StatePathCase{"other_users_file_planted", nullptr, ".", "./kez-sim.state",
                                  Planted::kOtherUsersFile}),
    qvtest::ByName{});

TEST_F(SimSwitch, ClockMustBeSeconds)
{
    ASSERT_EQ(setenv("KEZ_SIM_CLOCK", "99999999999999999999", 1), 0);
    EXPECT_EQ(capture_call(loop_kez),
              (RunResult{"", "kez: KEZ_SIM_CLOCK=99999999999999999999 is not a number of seconds\n", 0}));
}

TEST_F(SimSwitch, AddressTableAndRegisters)
{
    EXPECT_EQ(capture_call([] { show_atu_entry(ATU_dump(0)); }).out, qvtest::expected::kez_atu);
    const std::string regs = capture_call([] { show_regs(regs_dump(0)); }).out;
    const std::string regs_head = "Addr    Value\n0x0000  0x4731\n";
    EXPECT_EQ(regs.substr(0, regs_head.size()), regs_head);
    EXPECT_EQ(std::count(regs.begin(), regs.end(), '\n'), 27);
}

} // namespace
