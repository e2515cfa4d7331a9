// qv_info run in-process against the fake flash, and on image files.

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
    bool usage = false;               // the usage follows the message on stderr
    void (*fault)(Device &) = nullptr;
    int stdout_error = 0;
};

class Runs : public qvtest::MtdTest, public ::testing::WithParamInterface<RunCase> {};

TEST_P(Runs, PrintCheckAndStore)
{
    const RunCase &r = GetParam();
    dev.program(0, r.before);
    if (r.fault != nullptr)
        r.fault(dev);
    RunResult expected = r.expected;
    if (r.usage)
        expected.err += info({"-h"}).out;
    dev.calls.clear();
    EXPECT_EQ(info(r.args, r.stdout_error), expected);
    EXPECT_EQ(stored_record(), r.after.empty() ? r.before : r.after);
    if (r.expected.status == 2) {
        EXPECT_TRUE(dev.calls.empty()) << "a refused command line never reaches the flash";
    }
}

RecordBytes four_set() { return RecordBytes{}.mac({2, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0, 0}).uid("SN 1").hardware_version("").product_type("P"); }
RunResult refused(const std::string &err) { return {"", "qv_info: " + err + "\n", 2}; }

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
    RunCase{"multicast", {"set", "mac=01:00:5e:00:00:01"}, refused("mac: multicast address"), kBlank},
    RunCase{"broadcast", {"set", "mac=ff:ff:ff:ff:ff:ff"}, refused("mac: multicast address"), kBlank},
    RunCase{"zero_mac", {"set", "mac=00:00:00:00:00:00"}, refused("mac: all zeros"), kBlank},
    RunCase{"mixed_separators", {"set", "mac=02:11-22:33:44:55"}, refused("mac: not six pairs of hex digits separated by ':' or by '-'"), kBlank},
    RunCase{"mac_tail", {"set", "mac=02:11:22:33:44:55:66"}, refused("mac: not six pairs of hex digits separated by ':' or by '-'"), kBlank},
    RunCase{"text_too_long", {"set", "uid=" + k32H + "H"}, refused("uid: longer than 32 bytes"), kBlank},
    RunCase{"unprintable", {"set", "uid=ok", "hdv=a\tb"}, refused("hdv: not printable (bytes 0x20 to 0x7e only)"), kBlank},
    RunCase{"named_twice", {"set", "uid=a", "uid=a"}, refused("field 'uid' named twice"), kBlank},
    RunCase{"unknown_field", {"set", "serial\n=1"}, refused("unknown field 'serial\\x0a' (mac, uid, hdv or prdt)"), kBlank},
    RunCase{"no_equals", {"set", "uid"}, refused("'uid' is not FIELD=VALUE"), kBlank},
    RunCase{"no_assignment", {"set"}, refused("set needs FIELD=VALUE"), kBlank, {}, true},
    RunCase{"json_for_get", {"-j", "get", "uid"}, refused("-j is for show"), kBlank, {}, true},
    RunCase{"d_without_path", {"-d"}, refused("unknown option, or -d without PATH or given twice"), kBlank, {}, true},
    RunCase{"unreadable", {"get", "uid"}, {"", "read: Input/output error\nqv_info: the record on /dev/mtd3 could not be read\n", 255}, kProvisioned, {}, false,
            [](Device &d) { d.failures[Call::Read] = EIO; }},
    RunCase{"bad_record_block", {"set", "uid=x"}, {"", "/dev/mtd3: the record's erase block at 0x00000000 is bad\nqv_info: the record on /dev/mtd3 was not stored\n", 255},
            kProvisioned, {}, false, [](Device &d) { d.bad_blocks = {0}; }},
    RunCase{"show_to_a_full_device", {}, {"", "qv_info: write error: No space left on device\n", 255}, kProvisioned, {}, false, nullptr, ENOSPC}),
    qvtest::ByName{});

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
    FileCase{"bad_line", "uid=SN 7\n\nmac=01:00:5e:00:00:01\n", {"", "qv_info: {F}:3: mac: multicast address\n", 2}},
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
