// qv_setmac run in-process against the fake flash.

#include "mtd_fixture.hpp"
#include "setmac.hpp"

namespace {

QVTEST_PRINT_CASES_BY_NAME()

using fakemtd::Call;
using qvtest::MtdTest;
using qvtest::RecordBytes;
using qvtest::RunResult;

RunResult setmac(std::vector<std::string> args)
{
    args.insert(args.begin(), "qv_setmac");
    return qvtest::run_tool(tool_main, args);
}

std::string byte_lines(std::initializer_list<const char *> bytes)
{
    std::string lines;
    int i = 0;
    for (const char *b : bytes)
        lines += "mac [" + std::to_string(i++) + "] = [" + b + "]\n";
    return lines;
}

const std::string kAllSix = byte_lines({"00", "11", "22", "33", "44", "55"});
const std::vector<uint8_t> kStoredSix = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};

class SetmacTest : public MtdTest {
protected:
    std::vector<uint8_t> stored_mac() const { return flash(0, 8); }
    const std::vector<uint8_t> untouched = std::vector<uint8_t>(8, 0xFF);
};

TEST_F(SetmacTest, ShowOnBlankFlash)
{
    EXPECT_EQ(setmac({}), (RunResult{"mac = [00:00:00:00:00:00]\n", "", 0}));
}

TEST_F(SetmacTest, ShowTheStoredAddress)
{
    dev.program(0, RecordBytes{}.mac({0x02, 0xab, 0xcd, 0xef, 0x01, 0x9f, 0, 0}).bytes);
    EXPECT_EQ(setmac({}), (RunResult{"mac = [02:ab:cd:ef:01:9f]\n", "", 0}));
}

TEST_F(SetmacTest, ShowFailsWhenTheRecordCannotBeRead)
{
    dev.present = false;
    EXPECT_EQ(setmac({}),
              (RunResult{"qv_raw_read fail\n", "/dev/mtd3: No such file or directory\n", 255}));
}

struct MacText {
    const char *name;
    const char *text;
    RunResult expected;
    std::vector<uint8_t> flash_after; // first bytes of the MAC field
};

class MacTexts : public SetmacTest, public ::testing::WithParamInterface<MacText> {};

TEST_P(MacTexts, ParseAndStore)
{
    EXPECT_EQ(setmac({GetParam().text}), GetParam().expected);
    const auto &after = GetParam().flash_after;
    EXPECT_EQ(flash(0, after.size()), after);
    if (GetParam().expected.status != 0) {
        EXPECT_EQ(dev.count(Call::Open), 0u) << "a rejected text never reaches the flash";
    }
}

const std::vector<uint8_t> kErased(8, 0xFF);

INSTANTIATE_TEST_SUITE_P(
    Texts, MacTexts,
    ::testing::Values(
        MacText{"colons", "00:11:22:33:44:55", {kAllSix, "", 0}, {0, 0x11, 0x22, 0x33, 0x44, 0x55, 0, 0}},
        MacText{"hyphens", "00-11-22-33-44-55", {kAllSix, "", 0}, kStoredSix},
        MacText{"any_separator", "00.11/22 33_44x55", {kAllSix, "", 0}, kStoredSix},
        MacText{"mixed_case", "0a:Bc:dE:F0:aB:Cd",
                {byte_lines({"0a", "bc", "de", "f0", "ab", "cd"}), "", 0},
                {0x0a, 0xbc, 0xde, 0xf0, 0xab, 0xcd}},
        MacText{"tail_ignored", "00:11:22:33:44:55:66", {kAllSix, "", 0}, kStoredSix},
        MacText{"one_digit_short", "00:11:22:33:44:5",
                {byte_lines({"00", "11", "22", "33", "44"}) + "invalid mac format\n", "", 255},
                kErased},
        MacText{"bad_first_pair", "0g:11:22:33:44:55", {"invalid mac format\n", "", 255}, kErased},
        MacText{"ends_on_separator", "00:11",
                {byte_lines({"00", "11"}) + "invalid mac format\n", "", 255}, kErased},
        MacText{"empty", "", {"invalid mac format\n", "", 255}, kErased},
        MacText{"multicast", "01:00:5e:00:00:01",
                {byte_lines({"01", "00", "5e", "00", "00", "01"}) + "invalid mac address: multicast\n",
                 "", 255},
                kErased},
        MacText{"broadcast", "ff:ff:ff:ff:ff:ff",
                {byte_lines({"ff", "ff", "ff", "ff", "ff", "ff"}) + "invalid mac address: multicast\n",
                 "", 255},
                kErased}),
    qvtest::ByName{});

TEST_F(SetmacTest, StoreKeepsTheSpareBytesAndTheOtherFields)
{
    const auto before = RecordBytes{}.mac({0x02, 0, 0, 0, 0, 1, 0xAA, 0xBB}).uid("53-20-01").bytes;
    dev.program(0, before);
    ASSERT_EQ(setmac({"00:11:22:33:44:55"}).status, 0);
    auto expected = before;
    std::copy(kStoredSix.begin(), kStoredSix.end(), expected.begin());
    std::fill_n(expected.begin() + 40, 64, 0); // the blank fields come back as zeros
    EXPECT_EQ(stored_record(), expected);
    EXPECT_EQ(setmac({}), (RunResult{"mac = [00:11:22:33:44:55]\n", "", 0}));
}

struct StoreFailure {
    const char *name;
    Call call;
    int error;
    RunResult expected;
};

class StoreFailures : public SetmacTest, public ::testing::WithParamInterface<StoreFailure> {};

TEST_P(StoreFailures, EndWithStatus255)
{
    dev.failures[GetParam().call] = GetParam().error;
    EXPECT_EQ(setmac({"00:11:22:33:44:55"}), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, StoreFailures,
    ::testing::Values(
        StoreFailure{"read", Call::Read, EIO,
                     {kAllSix + "qv_raw_read fail\n", "read: Input/output error\n", 255}},
        StoreFailure{"open", Call::Open, EACCES,
                     {kAllSix + "qv_raw_read fail\n", "/dev/mtd3: Permission denied\n", 255}},
        StoreFailure{"erase", Call::Erase, EIO,
                     {kAllSix + "write mac fail\n",
                      "MEMERASE: Input/output error\n"
                          "MEMERASE: Input/output error\nMEMERASE: Input/output error\n"
                          "MEMERASE: Input/output error\n",
                      255}},
        StoreFailure{"write", Call::Write, EIO,
                     {kAllSix + "write mac fail\n", "write: Input/output error\n", 255}}),
    qvtest::ByName{});

TEST_F(SetmacTest, NandFlashStoresTheAddressToo)
{
    fakemtd::Device nand(fakemtd::kNand);
    fakemtd::Install swap(nand);
    EXPECT_EQ(setmac({"00:11:22:33:44:55"}), (RunResult{kAllSix, "", 0}));
    EXPECT_EQ(std::vector<uint8_t>(nand.flash.begin(), nand.flash.begin() + 6), kStoredSix);
    EXPECT_EQ(nand.write_sizes, (std::vector<size_t>{2048}));
}

} // namespace
