// qv_info run in-process against the fake flash, and on image files. The
// command lines it refuses, its usage and its output that cannot be written
// are rows of tests/cases/qv_info.cases; here, what needs the fake: the
// record each run finds and leaves, and what reaches the flash.

#include "info.hpp"
#include "mtd_fixture.hpp"

#include <fstream>
#include <iterator>

namespace {

QVTEST_PRINT_CASES_BY_NAME()

using fakemtd::Call;
using fakemtd::Device;
using qvtest::RecordBytes;
using qvtest::RunResult;

RunResult info(std::vector<std::string> args, int stdout_error = 0)
{
    args.insert(args.begin(), "qv_info");
    return qvtest::run_tool(program_main, args, nullptr, stdout_error);
}

const std::vector<uint8_t> kBlank(104, 0xFF);
const std::vector<uint8_t> kProvisioned = RecordBytes{}
    .mac({2, 0x11, 0x22, 0x33, 0x44, 0x55, 0xAA, 0xBB}).uid("SN0001").hardware_version("rev-B").product_type("QV-SW10").bytes;
// Texts with every kind of byte that must be escaped, and one of 32 bytes.
const std::vector<uint8_t> kOdd = RecordBytes{}
    .mac({3, 0, 0, 0, 0, 1, 0, 0}).uid("a\\b\"c\n\x7f\x80").hardware_version(std::string(32, 'H')).bytes;
const std::string k32H(32, 'H');
const std::string kShown = "mac=02:11:22:33:44:55\nuid=SN0001\nhdv=rev-B\nprdt=QV-SW10\n";

struct RunCase {
    const char *name;
    std::vector<std::string> args;
    RunResult expected;
    std::vector<uint8_t> before;      // the record the run finds
    std::vector<uint8_t> after = {};  // the record it leaves (empty: as before)
    void (*fault)(Device &) = nullptr;
};

class Runs : public qvtest::MtdTest, public ::testing::WithParamInterface<RunCase> {};

TEST_P(Runs, PrintCheckAndStore)
{
    const RunCase &r = GetParam();
    dev.program(0, r.before);
    if (r.fault != nullptr)
        r.fault(dev);
    EXPECT_EQ(info(r.args), r.expected);
    EXPECT_EQ(stored_record(), r.after.empty() ? r.before : r.after);
}

RecordBytes four_set() { return RecordBytes{}.mac({2, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0, 0}).uid("SN 1").hardware_version("").product_type("P"); }

INSTANTIATE_TEST_SUITE_P(CommandLines, Runs, ::testing::Values(
    RunCase{"show", {}, {kShown, "", 0}, kProvisioned},
    RunCase{"show_blank", {"show"}, {"mac=00:00:00:00:00:00\nuid=\nhdv=\nprdt=\n", "", 0}, kBlank},
    RunCase{"show_escaped", {"show"}, {"mac=03:00:00:00:00:01\nuid=a\\x5cb\"c\\x0a\\x7f\\x80\nhdv=" + k32H + "\nprdt=\n", "", 0}, kOdd},
    RunCase{"json_escaped", {"-j"}, {"{\"mac\":\"03:00:00:00:00:01\",\"uid\":\"a\\\\b\\\"c\\u000a\\u007f\\u0080\",\"hdv\":\"" + k32H + "\",\"prdt\":\"\"}\n", "", 0}, kOdd},
    RunCase{"get", {"get", "mac"}, {"02:11:22:33:44:55\n", "", 0}, kProvisioned},
    RunCase{"verify_provisioned", {"verify"}, {"", "", 0}, kProvisioned},
    RunCase{"verify_blank", {"verify"}, {"mac: not set\nuid: not set\nhdv: not set\nprdt: not set\n", "", 1}, kBlank},
    RunCase{"verify_odd", {"verify"}, {"mac: multicast address\nuid: not printable\nprdt: not set\n", "", 1}, kOdd},
    RunCase{"set_four", {"set", "mac=02-AA-bb-cc-dd-ee", "uid=SN 1", "hdv=", "prdt=P"}, {"", "", 0}, kBlank, four_set().bytes},
    RunCase{"set_keeps_the_rest", {"set", "uid=SN0002"}, {"", "", 0}, kProvisioned, RecordBytes{.bytes = kProvisioned}.uid("SN0002").bytes},
    RunCase{"unreadable", {"get", "uid"}, {"", "read: Input/output error\nqv_info: the record on /dev/mtd3 could not be read\n", 255}, kProvisioned, {},
            [](Device &d) { d.failures[Call::Read] = EIO; }},
    RunCase{"bad_record_block", {"set", "uid=x"}, {"", "/dev/mtd3: the record's erase block at 0x00000000 is bad\nqv_info: the record on /dev/mtd3 was not stored\n", 255},
            kProvisioned, {}, [](Device &d) { d.bad_blocks = {0}; }}),
    qvtest::ByName{});

// The command lines the case table refuses (status 2): none of them reaches
// the flash.
class Refused : public qvtest::MtdTest, public ::testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(Refused, NeverReachTheFlash)
{
    EXPECT_EQ(info(GetParam()).status, 2);
    EXPECT_TRUE(dev.calls.empty());
}

INSTANTIATE_TEST_SUITE_P(CommandLines, Refused, ::testing::Values(
    std::vector<std::string>{"set", "mac=01:00:5e:00:00:01"}, std::vector<std::string>{"set", "mac=ff:ff:ff:ff:ff:ff"},
    std::vector<std::string>{"set", "mac=00:00:00:00:00:00"}, std::vector<std::string>{"set", "mac=02:11-22:33:44:55"},
    std::vector<std::string>{"set", "mac=02:11:22:33:44:55:66"}, std::vector<std::string>{"set", "uid=" + k32H + "H"},
    std::vector<std::string>{"set", "uid=ok", "hdv=a\tb"}, std::vector<std::string>{"set", "uid=a", "uid=a"},
    std::vector<std::string>{"set", "serial\n=1"}, std::vector<std::string>{"set", "uid"}, std::vector<std::string>{"set"},
    std::vector<std::string>{"-j", "get", "uid"}, std::vector<std::string>{"-d"}));

// However many fields it names, a set is one read, one erase of every
// block, one write and its read-back, under one lock.
TEST_F(Runs, ASetOfFourFieldsRewritesThePartitionOnce)
{
    ASSERT_EQ(info({"set", "mac=02:aa:bb:cc:dd:ee", "uid=SN 1", "hdv=", "prdt=P"}).status, 0);
    EXPECT_EQ(dev.erased_blocks, (std::vector<uint32_t>{0, 1, 2, 3}));
    EXPECT_EQ(dev.count(Call::Write), 1u);
    EXPECT_EQ(dev.count(Call::Read), 2u);
    EXPECT_EQ(dev.count(Call::Flock), 1u);
}

// A file of assignments: each case's text, and what it stores or why not.
struct FileCase {
    const char *name;
    std::string text;
    RunResult expected; // "{F}" in stderr stands for the file's path
    std::string shown = kShown;
};

class Files : public qvtest::MtdTest, public ::testing::WithParamInterface<FileCase> {};

TEST_P(Files, AreTakenWholeOrNotAtAll)
{
    const FileCase &c = GetParam();
    char dir[] = "/tmp/qv_info_test.XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/factory";
    std::ofstream(path) << c.text;
    dev.program(0, kProvisioned);
    RunResult expected = c.expected;
    if (size_t at = expected.err.find("{F}"); at != std::string::npos)
        expected.err.replace(at, 3, path);
    EXPECT_EQ(info({"set", "-f", path}), expected);
    EXPECT_EQ(info({}).out, c.shown);
    unlink(path.c_str());
    rmdir(dir);
}

INSTANTIATE_TEST_SUITE_P(Texts, Files, ::testing::Values(
    FileCase{"crlf_comments_and_no_last_line_end", "# line 7\r\n\r\n  \nmac=02:00:00:00:00:07\r\nuid=SN 7 \r\nprdt=a=b",
             {"", "", 0}, "mac=02:00:00:00:00:07\nuid=SN 7 \nhdv=rev-B\nprdt=a=b\n"},
    FileCase{"twice_across_lines", "uid=1\r\nuid=2\r\n", {"", "qv_info: {F}:2: field 'uid' named twice\n", 2}},
    FileCase{"only_comments", "# nothing\n\n", {"", "qv_info: {F}: no FIELD=VALUE in it\n", 2}},
    FileCase{"too_large", std::string(16385, '#'), {"", "qv_info: {F}: larger than 16384 bytes\n", 2}}),
    qvtest::ByName{});

// Images made offline: a missing one is created as the record alone; in
// one that is there, everything past the record reads as erased flash.
TEST(Images, AreErasedAndWrittenAsThePartition)
{
    char dir[] = "/tmp/qv_info_test.XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string made = std::string(dir) + "/made", kept = std::string(dir) + "/kept";
    std::ofstream(kept) << std::string(300, '\0');
    for (const std::string &image : {made, kept}) {
        ASSERT_EQ(info({"-d", image, "set", "mac=02:11:22:33:44:55", "uid=SN0001", "hdv=rev-B", "prdt=QV-SW10"}),
                  (RunResult{"", "", 0}));
        std::ifstream in(image, std::ios::binary);
        const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
        auto expected = RecordBytes{.bytes = kProvisioned}.mac({2, 0x11, 0x22, 0x33, 0x44, 0x55, 0, 0}).bytes;
        expected.resize(image == made ? 104 : 300, 0xFF);
        EXPECT_EQ(bytes, expected) << image;
        EXPECT_EQ(info({"-d", image}), (RunResult{kShown, "", 0}));
        unlink(image.c_str());
    }
    EXPECT_EQ(info({"-d", made, "verify"}).err, made + ": No such file or directory\nqv_info: the record on " + made + " could not be read\n");
    rmdir(dir);
}

} // namespace
