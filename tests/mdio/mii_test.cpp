// The register access layer against the fake driver: what mdiorw's command
// line does not show (the context, other interface names, a second use).

#include "capture.hpp"
#include "fake_mii.hpp"
#include "mii.hpp"

#include <fcntl.h>
#include <sys/socket.h>

#include <linux/sockios.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace {

QVTEST_PRINT_CASES_BY_NAME()

using fakemii::Family;
using fakemii::FakeDriver;
using mdio::MiiContext;
using qvtest::capture_call;
using qvtest::RunResult;

const RunResult kQuiet{"", "", 0};

RunResult open_on(MiiContext &ctx, const char *name)
{
    return capture_call([&] { return mdio::mii_open(ctx, name); });
}

RunResult read_at(MiiContext &ctx, int phy, int reg)
{
    ctx.phy_address = phy;
    ctx.register_address = reg;
    return capture_call([&] { return mdio::mii_read(ctx); });
}

RunResult write_at(MiiContext &ctx, int phy, int reg, int value)
{
    ctx.phy_address = phy;
    ctx.register_address = reg;
    ctx.value = value;
    return capture_call([&] { return mdio::mii_write(ctx); });
}

void expect_cleared(const MiiContext &ctx)
{
    EXPECT_FALSE(ctx.socket.valid());
    EXPECT_FALSE(ctx.initialised);
    EXPECT_EQ(ctx.read_command, 0);
    EXPECT_EQ(std::string(ctx.interface_name.data(), ctx.interface_name.size()),
              std::string(IFNAMSIZ, '\0'));
    EXPECT_EQ(ctx.mii, nullptr);
}

class MiiTest : public testing::Test {
protected:
    void open_eth0(Family family = Family::Mii)
    {
        driver.add_interface("eth0", family);
        ASSERT_EQ(open_on(ctx, "eth0"), kQuiet);
    }

    FakeDriver driver;
    MiiContext ctx;
};

TEST_F(MiiTest, OpenAsksTheDriverForItsPhyOnACloseOnExecSocket)
{
    open_eth0();
    EXPECT_TRUE(ctx.initialised);
    EXPECT_EQ(ctx.read_command, 0x8948);
    EXPECT_STREQ(ctx.interface_name.data(), "eth0");
    EXPECT_EQ(driver.socket_types(), std::vector<int>{SOCK_DGRAM | SOCK_CLOEXEC});
    EXPECT_EQ(fcntl(ctx.socket.get(), F_GETFD), FD_CLOEXEC);
    ASSERT_EQ(driver.requests().size(), 1u);
    const fakemii::Request &asked = driver.requests()[0];
    EXPECT_EQ(asked.fd, ctx.socket.get());
    EXPECT_EQ(asked.code, 0x8947u);
    EXPECT_EQ(asked.name, "eth0");
    EXPECT_EQ(asked.phy_id, 0);
}

// Both request families, from open to close: which codes reach the driver,
// and that reads and writes reach the PHY's registers.
struct FamilyCase {
    const char *name;
    Family family;
    std::vector<unsigned long> codes; // open, read, write
    int read_command;
};

class MiiFamily : public MiiTest, public testing::WithParamInterface<FamilyCase> {};

TEST_P(MiiFamily, ReadsAndWritesWithItsCodes)
{
    const FamilyCase &c = GetParam();
    open_eth0(c.family);
    EXPECT_EQ(ctx.read_command, c.read_command);
    EXPECT_EQ(read_at(ctx, 2, 3), (RunResult{"dev_addr 2, reg_addr 3\n", "", 0}));
    EXPECT_EQ(ctx.value, 0x1622);
    EXPECT_EQ(write_at(ctx, 1, 4, 0x0DE1), kQuiet);
    EXPECT_EQ(driver.read_register("eth0", 1, 4), 0x0DE1);
    EXPECT_EQ(driver.codes(), c.codes);

    EXPECT_EQ(mdio::mii_close(ctx), 0);
    expect_cleared(ctx);
    EXPECT_EQ(driver.open_sockets(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Drivers, MiiFamily,
    testing::Values(FamilyCase{"mii", Family::Mii, {0x8947, 0x8948, 0x8949}, 0x8948},
                    FamilyCase{"private", Family::Private, {0x8947, 0x89F0, 0x89F1, 0x89F2},
                               0x89F1}),
    qvtest::ByName{});

// Opens that fail: one line on stderr, a cleared context, no socket left.
struct OpenFailure {
    const char *name;
    void (*setup)(FakeDriver &);
    std::vector<unsigned long> codes;
    const char *err;
};

class MiiOpenFailure : public MiiTest, public testing::WithParamInterface<OpenFailure> {};

TEST_P(MiiOpenFailure, ReportsOnceAndLeavesTheContextCleared)
{
    GetParam().setup(driver);
    EXPECT_EQ(open_on(ctx, "eth0"), (RunResult{"", GetParam().err, -1}));
    EXPECT_EQ(driver.codes(), GetParam().codes);
    expect_cleared(ctx);
    EXPECT_EQ(driver.open_sockets(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Drivers, MiiOpenFailure,
    testing::Values(
        OpenFailure{"no_mii_access",
                    [](FakeDriver &d) { d.add_interface("eth0", Family::None); },
                    {0x8947, 0x89F0},
                    "SIOCGMIIPHY on eth0 failed: Operation not supported\n"},
        OpenFailure{"no_interface", [](FakeDriver &d) { d.add_interface("eth1", Family::Mii); },
                    {0x8947, 0x89F0},
                    "SIOCGMIIPHY on eth0 failed: No such device\n"},
        // The error told is the one of the older request, the last asked.
        OpenFailure{"private_request_busy",
                    [](FakeDriver &d) {
                        d.add_interface("eth0", Family::Private);
                        d.refuse(SIOCDEVPRIVATE, EBUSY);
                    },
                    {0x8947, 0x89F0},
                    "SIOCGMIIPHY on eth0 failed: Device or resource busy\n"},
        OpenFailure{"no_socket",
                    [](FakeDriver &d) {
                        d.add_interface("eth0", Family::Mii);
                        d.fail_socket(EMFILE);
                    },
                    {},
                    "socket: Too many open files\n"}),
    qvtest::ByName{});

TEST_F(MiiTest, RefusedReadKeepsTheValueAndTheContextUsable)
{
    open_eth0();
    driver.refuse(SIOCGMIIREG, EIO);
    ctx.value = 0x55;
    EXPECT_EQ(read_at(ctx, 1, 1),
              (RunResult{"dev_addr 1, reg_addr 1\n",
                         "SIOCGMIIREG on eth0 failed: Input/output error, ioctl type = 8948\n", -1}));
    EXPECT_EQ(ctx.value, 0x55);

    driver.refuse(SIOCGMIIREG, 0);
    EXPECT_EQ(read_at(ctx, 1, 1), (RunResult{"dev_addr 1, reg_addr 1\n", "", 0}));
    EXPECT_EQ(ctx.value, 0x7949);
}

// Interface names: the warning threshold, the fixed-width copy, and every
// name printed within its 16 bytes.
struct NameCase {
    const char *name;
    const char *interface;
    const char *sent; // the name field as the driver saw it
    const char *err;
};

class MiiName : public MiiTest, public testing::WithParamInterface<NameCase> {};

TEST_P(MiiName, IsBoundedToTheRequestField)
{
    driver.add_interface("eth0", Family::Mii);
    EXPECT_EQ(open_on(ctx, GetParam().interface), (RunResult{"", GetParam().err, -1}));
    ASSERT_EQ(driver.requests().size(), 2u);
    EXPECT_EQ(driver.requests()[0].name, GetParam().sent);
}

INSTANTIATE_TEST_SUITE_P(
    Names, MiiName,
    testing::Values(
        NameCase{"sixteen", "abcdefghijklmnop", "abcdefghijklmnop",
                 "SIOCGMIIPHY on abcdefghijklmnop failed: No such device\n"},
        NameCase{"seventeen", "abcdefghijklmnopq", "abcdefghijklmnop",
                 "devname [abcdefghijklmnop] maybe invalid\n"
                 "SIOCGMIIPHY on abcdefghijklmnop failed: No such device\n"},
        NameCase{"empty", "", "",
                 "devname [] maybe invalid\nSIOCGMIIPHY on  failed: No such device\n"}),
    qvtest::ByName{});

TEST_F(MiiTest, KernelEndsAFullNameAtItsSixteenthByte)
{
    // So this interface answers a request that carries all 16 bytes, and
    // the answer comes back with the name cut to 15.
    driver.add_interface("abcdefghijklmno", Family::Mii);
    driver.refuse(SIOCGMIIREG, EIO);
    ASSERT_EQ(open_on(ctx, "abcdefghijklmnop"), kQuiet);
    EXPECT_EQ(driver.requests()[0].name, "abcdefghijklmnop");
    EXPECT_EQ(std::string(ctx.interface_name.data(), IFNAMSIZ), "abcdefghijklmnop");
    EXPECT_EQ(read_at(ctx, 1, 1).err,
              "SIOCGMIIREG on abcdefghijklmno failed: Input/output error, ioctl type = 8948\n");
}

TEST_F(MiiTest, FullRequestFieldIsPrintedWithoutWhatFollowsIt)
{
    open_eth0();
    // A name field with no NUL, followed by the MII record's nonzero bytes.
    memset(ctx.request.ifr_name, 'x', IFNAMSIZ);
    const std::string name(IFNAMSIZ, 'x');
    EXPECT_EQ(read_at(ctx, 0x4141, 0x4141).err,
              "SIOCGMIIREG on " + name + " failed: No such device, ioctl type = 8948\n");
    EXPECT_EQ(write_at(ctx, 0x4141, 0x4141, 0x4141).err,
              "SIOCSMIIREG on " + name + " failed: No such device\n");
}

TEST_F(MiiTest, ClearedContextRefusesWork)
{
    const RunResult refused{"", "context not initialized\n", -1};
    EXPECT_EQ(read_at(ctx, 1, 1), refused);
    EXPECT_EQ(write_at(ctx, 1, 1, 1), refused);

    open_eth0();
    EXPECT_EQ(mdio::mii_close(ctx), 0);
    EXPECT_EQ(read_at(ctx, 1, 1), refused);
    EXPECT_EQ(write_at(ctx, 1, 1, 1), refused);
    EXPECT_EQ(driver.codes(), std::vector<unsigned long>{0x8947});
}

TEST_F(MiiTest, OpeningAgainReleasesTheFirstSocket)
{
    open_eth0();
    ASSERT_EQ(open_on(ctx, "eth0"), kQuiet);
    EXPECT_EQ(driver.open_sockets(), 1);
    EXPECT_EQ(driver.socket_types().size(), 2u);
}

} // namespace
