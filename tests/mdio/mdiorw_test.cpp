// The mdiorw command line: number parsing, and whole runs against the fake
// driver compared by output and exit status. Its usage, the numbers it
// refuses and its output that cannot be written are rows of
// tests/cases/mdiorw.cases; here, what needs the fake driver.

#include "capture.hpp"
#include "fake_mii.hpp"
#include "mdiorw.hpp"

#include <linux/sockios.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <ostream>
#include <string>
#include <vector>

namespace {

QVTEST_PRINT_CASES_BY_NAME()

using fakemii::Family;
using fakemii::FakeDriver;
using qvtest::RunResult;

struct NumberCase {
    const char *text;
    int result;
    uint32_t value; // what the output holds afterwards
};

// Names the case in test listings.
void PrintTo(const NumberCase &c, std::ostream *os) { *os << '"' << c.text << '"'; }

constexpr uint32_t kUntouched = 0xDEADBEEF;

class ParseNumber : public testing::TestWithParam<NumberCase> {};

TEST_P(ParseNumber, GivesResultAndValue)
{
    const NumberCase &c = GetParam();
    uint32_t value = kUntouched;
    EXPECT_EQ(mdio::parse_number(c.text, value), c.result);
    EXPECT_EQ(value, c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseNumber,
    testing::Values(
        NumberCase{"31", 0, 31}, NumberCase{"0x1f", 0, 31}, NumberCase{"0X1F", 0, 31},
        NumberCase{"0xaBc", 0, 0xABC}, NumberCase{"0x", -1, kUntouched},
        NumberCase{"0X", -1, kUntouched}, NumberCase{"", 0, 0}, NumberCase{"0", 0, 0},
        NumberCase{"010", 0, 10}, NumberCase{"4294967295", 0, 0xFFFFFFFF},
        NumberCase{"4294967296", -1, 429496729}, NumberCase{"4294967300", -1, 429496730},
        NumberCase{"0xFFFFFFFF", 0, 0xFFFFFFFF}, NumberCase{"0xffffffff", 0, 0xFFFFFFFF},
        NumberCase{"0x100000000", -1, 0x10000000}, NumberCase{"0x00000000001f", 0, 31},
        NumberCase{"12a", -1, 12}, NumberCase{"0x1g", -1, 1}, NumberCase{"-1", -1, 0},
        NumberCase{"+1", -1, 0}, NumberCase{" 1", -1, 0}, NumberCase{"1 ", -1, 1},
        NumberCase{"0x-1", -1, 0}, NumberCase{"0b1", -1, 0}));

// One run of the program on eth0 behind a driver of the given family, or
// with no eth0 at all.
struct RunCase {
    const char *name;
    Family family;
    std::vector<std::string> args;
    RunResult expected;
    void (*setup)(FakeDriver &) = nullptr;
    bool has_eth0 = true;
};

class MdiorwRun : public testing::TestWithParam<RunCase> {};

TEST_P(MdiorwRun, PrintsAndExitsAsExpected)
{
    const RunCase &c = GetParam();
    FakeDriver driver;
    if (c.has_eth0)
        driver.add_interface("eth0", c.family);
    if (c.setup != nullptr)
        c.setup(driver);
    std::vector<std::string> argv{"mdiorw"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(qvtest::run_tool(program_main, argv), c.expected);
    EXPECT_EQ(driver.open_sockets(), 0);
}

void deny_net_admin(FakeDriver &d) { d.set_net_admin(false); }
void refuse_reads(FakeDriver &d)
{
    d.refuse(SIOCGMIIREG, EIO);
    d.refuse(SIOCDEVPRIVATE + 1, EIO);
}
void refuse_writes(FakeDriver &d) { d.refuse(SIOCSMIIREG, EFAULT); }

const std::string kNoMiiAccess = "SIOCGMIIPHY on eth0 failed: Operation not supported\nsmi init fail\n";

INSTANTIATE_TEST_SUITE_P(
    Runs, MdiorwRun,
    testing::Values(
        RunCase{"read", Family::Mii, {"1", "2"}, {"dev_addr 1, reg_addr 2\nread data: 22\n", "", 0}},
        RunCase{"read_private", Family::Private, {"1", "1"},
                {"dev_addr 1, reg_addr 1\nread data: 7949\n", "", 0}},
        RunCase{"read_hex", Family::Mii, {"0x3", "0X3"},
                {"dev_addr 3, reg_addr 3\nread data: 1623\n", "", 0}},
        RunCase{"read_absent_phy", Family::Mii, {"0x1f", "2"},
                {"dev_addr 1f, reg_addr 2\nread data: ffff\n", "", 0}},
        RunCase{"write", Family::Mii, {"1", "0", "0x1340"}, {"", "", 0}},
        RunCase{"write_private", Family::Private, {"1", "0", "4928"}, {"", "", 0}},
        // The driver is asked before the arguments are counted.
        RunCase{"usage_without_mii", Family::None, {"1"}, {"", kNoMiiAccess, 255}},
        RunCase{"no_eth0", Family::Mii, {"1", "2"},
                {"", "SIOCGMIIPHY on eth0 failed: No such device\nsmi init fail\n", 255},
                nullptr, false},
        // A refused read shows no value: none was read.
        RunCase{"read_refused", Family::Mii, {"1", "2"},
                {"dev_addr 1, reg_addr 2\n",
                 "SIOCGMIIREG on eth0 failed: Input/output error, ioctl type = 8948\n", 255},
                refuse_reads},
        RunCase{"read_refused_private", Family::Private, {"1", "2"},
                {"dev_addr 1, reg_addr 2\n",
                 "SIOCGMIIREG on eth0 failed: Input/output error, ioctl type = 89f1\n", 255},
                refuse_reads},
        // Each number is cut to 16 bits: 65569 is PHY 33, beyond the bus.
        RunCase{"read_beyond_bus", Family::Mii, {"65569", "0x10002"},
                {"dev_addr 21, reg_addr 2\n",
                 "SIOCGMIIREG on eth0 failed: No such device or address, ioctl type = 8948\n",
                 255}},
        RunCase{"write_refused", Family::Mii, {"1", "32", "0"},
                {"", "SIOCSMIIREG on eth0 failed: Bad address\n", 255}, refuse_writes},
        // Without CAP_NET_ADMIN the kernel refuses every MII request, the
        // PHY's too; the private request then reaches a driver that has
        // none, and its error is the one told (as the boards' drivers do).
        RunCase{"read_without_net_admin", Family::Mii, {"1", "2"}, {"", kNoMiiAccess, 255},
                deny_net_admin},
        RunCase{"write_without_net_admin", Family::Mii, {"1", "4", "0x5e1"},
                {"", kNoMiiAccess, 255}, deny_net_admin},
        // A driver of the private requests checks the right itself: only
        // for writes.
        RunCase{"read_private_without_net_admin", Family::Private, {"1", "1"},
                {"dev_addr 1, reg_addr 1\nread data: 7949\n", "", 0}, deny_net_admin},
        RunCase{"write_refused_private", Family::Private, {"1", "0", "0x8000"},
                {"", "SIOCSMIIREG on eth0 failed: Operation not permitted\n", 255},
                deny_net_admin}),
    qvtest::ByName{});

// What reached the driver in a write, and that it stayed in the PHY.
struct WriteCase {
    const char *name;
    Family family;
    std::vector<unsigned long> codes;
};

class MdiorwWrite : public testing::TestWithParam<WriteCase> {};

TEST_P(MdiorwWrite, StoresSixteenBitsAndReadsThemBack)
{
    const WriteCase &c = GetParam();
    FakeDriver driver;
    driver.add_interface("eth0", c.family);
    ASSERT_EQ(qvtest::run_tool(tool_main, {"mdiorw", "65538", "4", "0x10de1"}).status, 0);
    const fakemii::Request &asked = driver.requests().back();
    EXPECT_EQ(asked.code, c.codes.back());
    EXPECT_EQ(asked.phy_id, 2);
    EXPECT_EQ(asked.reg_num, 4);
    EXPECT_EQ(asked.val_in, 0x0DE1);
    EXPECT_EQ(driver.codes(), c.codes);
    EXPECT_EQ(qvtest::run_tool(tool_main, {"mdiorw", "2", "4"}).out,
              "dev_addr 2, reg_addr 4\nread data: de1\n");
}

INSTANTIATE_TEST_SUITE_P(
    Drivers, MdiorwWrite,
    testing::Values(WriteCase{"mii", Family::Mii, {0x8947, 0x8949}},
                    WriteCase{"private", Family::Private, {0x8947, 0x89F0, 0x89F2}}),
    qvtest::ByName{});

} // namespace
