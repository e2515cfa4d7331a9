// The register access layer against the fake driver.

#include "fake_mii.hpp"
#include "mii.hpp"

#include "capture.hpp"

#include <fcntl.h>
#include <sys/socket.h>

#include <linux/sockios.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <ostream>
#include <cstring>
#include <string>
#include <vector>

namespace {

using fakemii::Family;
using fakemii::FakeDriver;
using mdio::MiiContext;

struct Call {
    int result;
    std::string out;
    std::string err;
};

template <typename F>
Call captured(F f)
{
    qvtest::CaptureOutput capture;
    const int result = f();
    return {result, capture.out(), capture.err()};
}

Call open_on(MiiContext &ctx, const char *name)
{
    return captured([&] { return mdio::mii_open(ctx, name); });
}

Call read_at(MiiContext &ctx, int phy, int reg)
{
    ctx.phy_address = phy;
    ctx.register_address = reg;
    return captured([&] { return mdio::mii_read(ctx); });
}

Call write_at(MiiContext &ctx, int phy, int reg, int value)
{
    ctx.phy_address = phy;
    ctx.register_address = reg;
    ctx.value = value;
    return captured([&] { return mdio::mii_write(ctx); });
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

TEST(MiiOpen, AsksTheDriverForItsPhyOnACloseOnExecSocket)
{
    FakeDriver driver;
    driver.add_interface("eth0", Family::Mii);
    MiiContext ctx;
    const Call open = open_on(ctx, "eth0");
    EXPECT_EQ(open.result, 0);
    EXPECT_EQ(open.out, "");
    EXPECT_EQ(open.err, "");
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

// Names the case in test listings.
void PrintTo(const FamilyCase &c, std::ostream *os) { *os << '"' << c.name << '"'; }

class MiiFamily : public testing::TestWithParam<FamilyCase> {};

TEST_P(MiiFamily, ReadsAndWritesWithItsCodes)
{
    const FamilyCase &c = GetParam();
    FakeDriver driver;
    driver.add_interface("eth0", c.family);
    MiiContext ctx;
    ASSERT_EQ(open_on(ctx, "eth0").result, 0);
    EXPECT_EQ(ctx.read_command, c.read_command);

    const Call read = read_at(ctx, 2, 3);
    EXPECT_EQ(read.result, 0);
    EXPECT_EQ(read.out, "dev_addr 2, reg_addr 3\n");
    EXPECT_EQ(read.err, "");
    EXPECT_EQ(ctx.value, 0x1622);

    const Call write = write_at(ctx, 1, 4, 0x0DE1);
    EXPECT_EQ(write.result, 0);
    EXPECT_EQ(write.out, "");
    EXPECT_EQ(write.err, "");
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
    [](const auto &p) { return std::string(p.param.name); });

// Opens that fail: one line on stderr, a cleared context, no socket left.
struct OpenFailure {
    const char *name;
    void (*setup)(FakeDriver &);
    std::vector<unsigned long> codes;
    const char *err;
};

void PrintTo(const OpenFailure &c, std::ostream *os) { *os << '"' << c.name << '"'; }

class MiiOpenFailure : public testing::TestWithParam<OpenFailure> {};

TEST_P(MiiOpenFailure, ReportsOnceAndLeavesTheContextCleared)
{
    const OpenFailure &c = GetParam();
    FakeDriver driver;
    c.setup(driver);
    MiiContext ctx;
    const Call open = open_on(ctx, "eth0");
    EXPECT_EQ(open.result, -1);
    EXPECT_EQ(open.out, "");
    EXPECT_EQ(open.err, c.err);
    EXPECT_EQ(driver.codes(), c.codes);
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
    [](const auto &p) { return std::string(p.param.name); });

TEST(MiiRead, CutsAddressesToSixteenBits)
{
    FakeDriver driver;
    driver.add_interface("eth0", Family::Mii);
    MiiContext ctx;
    ASSERT_EQ(open_on(ctx, "eth0").result, 0);
    // 65569 is 0x10021: PHY 33, beyond the bus's 32 addresses.
    const Call read = read_at(ctx, 65569, 0x10002);
    EXPECT_EQ(read.result, -1);
    EXPECT_EQ(read.out, "dev_addr 21, reg_addr 2\n");
    EXPECT_EQ(read.err,
              "SIOCGMIIREG on eth0 failed: No such device or address, ioctl type = 8948\n");
    EXPECT_EQ(driver.requests().back().phy_id, 33);
    EXPECT_EQ(driver.requests().back().reg_num, 2);
}

TEST(MiiRead, RefusedReadKeepsTheValueAndTheContextUsable)
{
    FakeDriver driver;
    driver.add_interface("eth0", Family::Mii);
    driver.refuse(SIOCGMIIREG, EIO);
    MiiContext ctx;
    ASSERT_EQ(open_on(ctx, "eth0").result, 0);
    ctx.value = 0x55;
    const Call read = read_at(ctx, 1, 1);
    EXPECT_EQ(read.result, -1);
    EXPECT_EQ(read.out, "dev_addr 1, reg_addr 1\n");
    EXPECT_EQ(read.err, "SIOCGMIIREG on eth0 failed: Input/output error, ioctl type = 8948\n");
    EXPECT_EQ(ctx.value, 0x55);

    driver.refuse(SIOCGMIIREG, 0);
    const Call again = read_at(ctx, 1, 1);
    EXPECT_EQ(again.result, 0);
    EXPECT_EQ(again.err, "");
    EXPECT_EQ(ctx.value, 0x7949);
}

TEST(MiiWrite, CutsAllThreeToSixteenBits)
{
    FakeDriver driver;
    driver.add_interface("eth0", Family::Mii);
    MiiContext ctx;
    ASSERT_EQ(open_on(ctx, "eth0").result, 0);
    EXPECT_EQ(write_at(ctx, 0x10001, 0x10004, 0x10DE1).result, 0);
    const fakemii::Request &asked = driver.requests().back();
    EXPECT_EQ(asked.phy_id, 1);
    EXPECT_EQ(asked.reg_num, 4);
    EXPECT_EQ(asked.val_in, 0x0DE1);
    EXPECT_EQ(driver.read_register("eth0", 1, 4), 0x0DE1);
}

class MiiWriteRefused : public testing::TestWithParam<Family> {};

TEST_P(MiiWriteRefused, WithoutTheRightToAdministerTheNetwork)
{
    FakeDriver driver;
    driver.add_interface("eth0", GetParam());
    driver.set_net_admin(false);
    MiiContext ctx;
    ASSERT_EQ(open_on(ctx, "eth0").result, 0);
    const Call write = write_at(ctx, 1, 0, 0x8000);
    EXPECT_EQ(write.result, -1);
    EXPECT_EQ(write.out, "");
    EXPECT_EQ(write.err, "SIOCSMIIREG on eth0 failed: Operation not permitted\n");
    EXPECT_EQ(driver.read_register("eth0", 1, 0), 0x1140);
    // Reading needs no such right.
    EXPECT_EQ(read_at(ctx, 1, 0).result, 0);
    EXPECT_EQ(ctx.value, 0x1140);
}

INSTANTIATE_TEST_SUITE_P(Drivers, MiiWriteRefused, testing::Values(Family::Mii, Family::Private));

// Interface names: the warning threshold, the fixed-width copy, and every
// name printed within its 16 bytes.
struct NameCase {
    const char *label;
    const char *name;
    const char *sent; // the name field as the driver saw it
    const char *err;
};

void PrintTo(const NameCase &c, std::ostream *os) { *os << '"' << c.label << '"'; }

class MiiName : public testing::TestWithParam<NameCase> {};

TEST_P(MiiName, IsBoundedToTheRequestField)
{
    const NameCase &c = GetParam();
    FakeDriver driver;
    driver.add_interface("eth0", Family::Mii);
    MiiContext ctx;
    const Call open = open_on(ctx, c.name);
    EXPECT_EQ(open.result, -1);
    EXPECT_EQ(open.err, c.err);
    ASSERT_EQ(driver.requests().size(), 2u);
    EXPECT_EQ(driver.requests()[0].name, c.sent);
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
    [](const auto &p) { return std::string(p.param.label); });

TEST(MiiName, KernelEndsAFullNameAtItsSixteenthByte)
{
    // So this interface answers a request that carries all 16 bytes, and
    // the answer comes back with the name cut to 15.
    FakeDriver driver;
    driver.add_interface("abcdefghijklmno", Family::Mii);
    driver.refuse(SIOCGMIIREG, EIO);
    MiiContext ctx;
    const Call open = open_on(ctx, "abcdefghijklmnop");
    ASSERT_EQ(open.result, 0);
    EXPECT_EQ(open.err, "");
    EXPECT_EQ(driver.requests()[0].name, "abcdefghijklmnop");
    EXPECT_EQ(std::string(ctx.interface_name.data(), IFNAMSIZ), "abcdefghijklmnop");
    EXPECT_EQ(read_at(ctx, 1, 1).err,
              "SIOCGMIIREG on abcdefghijklmno failed: Input/output error, ioctl type = 8948\n");
}

TEST(MiiName, FullRequestFieldIsPrintedWithoutWhatFollowsIt)
{
    FakeDriver driver;
    driver.add_interface("eth0", Family::Mii);
    MiiContext ctx;
    ASSERT_EQ(open_on(ctx, "eth0").result, 0);
    // A name field with no NUL, followed by the MII record's nonzero bytes.
    memset(ctx.request.ifr_name, 'x', IFNAMSIZ);
    const std::string name(IFNAMSIZ, 'x');
    EXPECT_EQ(read_at(ctx, 0x4141, 0x4141).err,
              "SIOCGMIIREG on " + name + " failed: No such device, ioctl type = 8948\n");
    EXPECT_EQ(write_at(ctx, 0x4141, 0x4141, 0x4141).err,
              "SIOCSMIIREG on " + name + " failed: No such device\n");
}

TEST(MiiLifecycle, ClearedContextRefusesWork)
{
    FakeDriver driver;
    driver.add_interface("eth0", Family::Mii);
    MiiContext never_opened;
    EXPECT_EQ(read_at(never_opened, 1, 1).err, "context not initialized\n");
    EXPECT_EQ(write_at(never_opened, 1, 1, 1).result, -1);

    MiiContext closed;
    ASSERT_EQ(open_on(closed, "eth0").result, 0);
    EXPECT_EQ(mdio::mii_close(closed), 0);
    const Call read = read_at(closed, 1, 1);
    EXPECT_EQ(read.result, -1);
    EXPECT_EQ(read.out, "");
    EXPECT_EQ(read.err, "context not initialized\n");
    EXPECT_EQ(write_at(closed, 1, 1, 1).err, "context not initialized\n");
    EXPECT_EQ(driver.codes(), std::vector<unsigned long>{0x8947});
}

TEST(MiiLifecycle, OpeningAgainReleasesTheFirstSocket)
{
    FakeDriver driver;
    driver.add_interface("eth0", Family::Mii);
    MiiContext ctx;
    ASSERT_EQ(open_on(ctx, "eth0").result, 0);
    ASSERT_EQ(open_on(ctx, "eth0").result, 0);
    EXPECT_EQ(driver.open_sockets(), 1);
    EXPECT_EQ(driver.socket_types().size(), 2u);
}

} // namespace
