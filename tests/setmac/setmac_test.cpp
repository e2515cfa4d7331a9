// qv_setmac run in-process against the fake flash. How the library reports
// the flash's faults is tested with the library (tests/devinfo); here, what
// the program adds: its lines and its status, and what reaches the flash.
// The texts it rejects, and its output that cannot be written, are rows of
// tests/cases/qv_setmac.cases.

#include "mtd_fixture.hpp"
#include "setmac.hpp"

namespace {

QVTEST_PRINT_CASES_BY_NAME()

using namespace qvtest::flash_words;

RunResult setmac(std::vector<std::string> args, int stdout_error = 0)
{
    return qvtest::run_program("qv_setmac", std::move(args), stdout_error);
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
const std::vector<uint8_t> kErased(8, 0xFF);

struct RunCase {
    const char *name;
    std::vector<std::string> args;
    RunResult expected;
    std::vector<uint8_t> flash_after; // first bytes of the MAC field
    void (*fault)(Device &) = nullptr; // the flash as the run finds it
    int stdout_error = 0;              // every write of stdout fails so
};

class SetmacTest : public MtdTest {};

class Runs : public SetmacTest, public ::testing::WithParamInterface<RunCase> {};

TEST_P(Runs, PrintAndStore)
{
    const RunCase &r = GetParam();
    if (r.fault != nullptr)
        r.fault(dev);
    EXPECT_EQ(setmac(r.args, r.stdout_error), r.expected);
    EXPECT_EQ(flash(0, r.flash_after.size()), r.flash_after);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, Runs,
    ::testing::Values(
        RunCase{"show_blank", {}, {"mac = [00:00:00:00:00:00]\n", "", 0}, kErased},
        RunCase{"show_stored", {}, {"mac = [02:ab:cd:ef:01:9f]\n", "", 0}, {0x02, 0xab},
            [](Device &d) { d.program(0, RecordBytes{}.mac({0x02, 0xab, 0xcd, 0xef, 0x01, 0x9f, 0, 0}).bytes); }},
        RunCase{"show_no_device", {},
            {"qv_raw_read fail\n", "/dev/mtd3: No such file or directory\n", 255}, {},
            [](Device &d) { d.present = false; }},
        RunCase{"colons", {"00:11:22:33:44:55"}, {kAllSix, "", 0}, {0, 0x11, 0x22, 0x33, 0x44, 0x55, 0, 0}},
        RunCase{"hyphens", {"00-11-22-33-44-55"}, {kAllSix, "", 0}, kStoredSix},
        RunCase{"any_separator", {"00.11/22 33_44x55"}, {kAllSix, "", 0}, kStoredSix},
        RunCase{"mixed_case", {"0a:Bc:dE:F0:aB:Cd"},
            {byte_lines({"0a", "bc", "de", "f0", "ab", "cd"}), "", 0},
            {0x0a, 0xbc, 0xde, 0xf0, 0xab, 0xcd}},
        RunCase{"tail_ignored", {"00:11:22:33:44:55:66"}, {kAllSix, "", 0}, kStoredSix},
        RunCase{"store_unreadable", {"00:11:22:33:44:55"},
            {kAllSix + "qv_raw_read fail\n", "read: Input/output error\n", 255}, kErased,
            [](Device &d) { d.failures[Call::Read] = EIO; }},
        // The record reads, but the rewrite's open for writing is refused.
        RunCase{"store_read_only_node", {"00:11:22:33:44:55"},
            {kAllSix + "write mac fail\n", "/dev/mtd3: Permission denied\n", 255}, kErased,
            [](Device &d) { d.writeable = false; }},
        RunCase{"store_over_a_bad_record_block", {"00:11:22:33:44:55"},
            {kAllSix + "write mac fail\n",
             "/dev/mtd3: the record's erase block at 0x00000000 is bad\n", 255},
            {2, 0, 0, 0, 0, 7}, [](Device &d) { d.bad_blocks = {0}; d.program(0, {2, 0, 0, 0, 0, 7}); }},
        // Output that never arrives fails the run; the store itself is done.
        RunCase{"store_to_a_closed_pipe", {"00:11:22:33:44:55"},
            {"", "qv_setmac: write error: Broken pipe\n", 255}, kStoredSix, nullptr, EPIPE}),
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

} // namespace
