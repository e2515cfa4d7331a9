// qv_entity run in-process against the fake flash, with snmpd's requests
// on its standard input: each row's requests, and the answers, messages and
// status they get. What snmpd itself makes of the answers is the test of
// tests/entity/snmpd_test.sh.

#include "entity.hpp"
#include "mtd_fixture.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

namespace {

QVTEST_PRINT_CASES_BY_NAME()

using namespace qvtest::flash_words;

const std::vector<uint8_t> kProvisioned =
    RecordBytes{}.mac({2, 0x11, 0x22, 0x33, 0x44, 0x55, 0, 0}).uid("SN0001").hardware_version("rev-B").product_type("QV-SW10").bytes;
// A text of 32 bytes fills its field, with no NUL after it. (What a blank
// or an unprintable field shows, snmpd's own rows show: tests/entity/snmpd_test.sh.)
const std::vector<uint8_t> kFull = RecordBytes{}.hardware_version(std::string(32, 'H')).bytes;

using namespace std::string_literals;

const std::string kTable = ".1.3.6.1.2.1.47.1.1.1";
const std::string kEntry = kTable + ".1.";
std::string get(const std::string &oid) { return "get\n" + oid + "\n"; }
std::string next(const std::string &oid) { return "getnext\n" + oid + "\n"; }
std::string none() { return "NONE\n"; }
std::string text(int column, const std::string &value) { return kEntry + std::to_string(column) + ".1\nstring\n" + value + "\n"; }
std::string empty(int column) { return kEntry + std::to_string(column) + ".1\noctet\n\n"; }

// The whole row of a provisioned record, released as 23.05.3.
const std::string kRow = text(2, "QV managed Ethernet switch, 10 ports") + kEntry + "3.1\nobjectid\n.0.0\n" +
                         kEntry + "4.1\ninteger\n0\n" + kEntry + "5.1\ninteger\n3\n" + kEntry + "6.1\ninteger\n-1\n" +
                         text(7, "chassis") + text(8, "rev-B") + empty(9) + text(10, "23.05.3") + text(11, "SN0001") +
                         text(12, "QV") + text(13, "QV-SW10") + empty(14) + empty(15) + kEntry + "16.1\ninteger\n2\n" +
                         kEntry + "17.1\noctet\n00 00 00 00 00 00 00 00\n" + empty(18);

// Descr's instance and more: 128 components, the longest OID snmpd has.
const std::string k128 = [] {
    std::string oid = kEntry + "2.1";
    for (int i = 13; i < 128; ++i)
        oid += ".0";
    return oid;
}();

// A walk as snmpd makes it: getnext from the table, then from each answer.
std::string walk()
{
    std::string requests = next(kTable);
    for (int column = 2; column <= 18; ++column)
        requests += next(kEntry + std::to_string(column) + ".1");
    return requests;
}

struct Case {
    const char *name;
    std::string requests;
    RunResult expected;
    std::vector<uint8_t> record = kProvisioned;
    std::string release = "DISTRIB_ID='OpenWrt'\nDISTRIB_RELEASE='23.05.3'\nDISTRIB_REVISION='r1'\n";
    std::vector<std::string> args = {"-r", "{R}"}; // {R}: the release file
    void (*fault)(Device &) = nullptr;
    int stdout_error = 0;
};

class EntityTest : public qvtest::MtdTest {
protected:
    EntityTest()
    {
        if (mkdtemp(dir_) == nullptr)
            ADD_FAILURE() << "mkdtemp";
    }
    ~EntityTest() override
    {
        unlink(release_path().c_str());
        rmdir(dir_);
    }
    std::string release_path() const { return std::string(dir_) + "/openwrt_release"; }

    // tool_main with the requests as its standard input; "{R}" in its
    // messages stands for the release file.
    RunResult run(const Case &c)
    {
        std::vector<std::string> args{"qv_entity"};
        for (const std::string &a : c.args)
            args.push_back(a == "{R}" ? release_path() : a);
        FILE *in = tmpfile();
        EXPECT_NE(in, nullptr);
        EXPECT_EQ(fwrite(c.requests.data(), 1, c.requests.size(), in), c.requests.size());
        rewind(in);
        FILE *const saved = stdin;
        stdin = in;
        const RunResult result = qvtest::run_tool(program_main, args, nullptr, c.stdout_error);
        stdin = saved;
        fclose(in);
        return result;
    }
    RunResult expected(RunResult r) const
    {
        if (const size_t at = r.err.find("{R}"); at != std::string::npos)
            r.err.replace(at, 3, release_path());
        return r;
    }

private:
    char dir_[32] = "/tmp/qv_entity_test.XXXXXX";
};

class Requests : public EntityTest, public ::testing::WithParamInterface<Case> {};

TEST_P(Requests, GetOneAnswerEach)
{
    const Case &c = GetParam();
    dev.program(0, c.record);
    if (!c.release.empty())
        std::ofstream(release_path()) << c.release;
    if (c.fault != nullptr)
        c.fault(dev);
    EXPECT_EQ(run(c), c.expected);
    EXPECT_EQ(stored_record(), c.record);
    EXPECT_EQ(dev.count(Call::Write) + dev.count(Call::Erase), 0u);
}

INSTANTIATE_TEST_SUITE_P(Protocol, Requests, ::testing::Values(
    Case{"ping", "PING\n", {"PONG\n", "", 0}},
    Case{"end_of_input", "", {"", "", 0}},
    Case{"end_of_input_within_a_request", "PING\nget\n", {"PONG\n", "", 0}},
    Case{"last_line_without_its_end", "PING\nget\n" + kEntry + "11.1", {"PONG\n" + text(11, "SN0001"), "", 0}},
    Case{"walk", walk(), {kRow + none(), "", 0}},
    Case{"get_each_kind", get(kEntry + "5.1") + get(kEntry + "3.1") + get(kEntry + "17.1") + get(kEntry + "13.1") + get(kEntry + "9.1"),
         {kEntry + "5.1\ninteger\n3\n" + kEntry + "3.1\nobjectid\n.0.0\n" + kEntry + "17.1\noctet\n00 00 00 00 00 00 00 00\n" +
          text(13, "QV-SW10") + empty(9), "", 0}},
    Case{"get_only_instances", get(kTable) + get(kEntry + "11") + get(kEntry + "11.2") + get(kEntry + "11.1.0") +
         get(kEntry + "1.1") + get(kEntry + "19.1"), {none() + none() + none() + none() + none() + none(), "", 0}},
    Case{"getnext_from_before_the_table", next(".1") + next("1.3.6.1.2.1.47") + next(kEntry + "1.1") + next(".0"),
         {text(2, "QV managed Ethernet switch, 10 ports") + text(2, "QV managed Ethernet switch, 10 ports") +
          text(2, "QV managed Ethernet switch, 10 ports") + text(2, "QV managed Ethernet switch, 10 ports"), "", 0}},
    Case{"getnext_between_columns", next(kEntry + "10") + next(kEntry + "10.0") + next(kEntry + "10.1.0") + next(kEntry + "10.2"),
         {text(10, "23.05.3") + text(10, "23.05.3") + text(11, "SN0001") + text(11, "SN0001"), "", 0}},
    Case{"getnext_past_the_table", next(kEntry + "18.1") + next(kEntry + "18.1.1") + next(kEntry + "19") + next(".2") +
         next(kEntry + "4294967295"), {none() + none() + none() + none() + none(), "", 0}},
    Case{"getnext_from_the_last_column", next(kEntry + "18"), {empty(18), "", 0}},
    Case{"malformed_oids", get("") + get(".") + get("x") + get(kEntry + "11.1.") + get(kEntry + ".11.1") +
         get(kEntry + "11.1 ") + get(kEntry + "11.1\r") + next(kEntry + "4294967296") + get("-1") + "PING\n",
         {none() + none() + none() + none() + none() + none() + none() + none() + none() + "PONG\n", "", 0}},
    Case{"oids_as_long_as_snmpd_sends_and_longer", next(k128) + next(k128 + ".0") + "PING\n",
         {kEntry + "3.1\nobjectid\n.0.0\n" + none() + "PONG\n", "", 0}},
    Case{"a_line_longer_than_any_request", next(std::string(5000, '1')) + "PING\n", {none() + "PONG\n", "", 0}},
    Case{"unknown_commands", "GET\nping\nPING \nPING\r\nPI\0NG\nPING\n"s, {none() + none() + none() + none() + none() + "PONG\n", "", 0}},
    Case{"blank_lines_are_not_answered", "\n\nPING\n\n", {"PONG\n", "", 0}},
    // snmpd 5.9 ends a set with a blank line; another snmpd might not.
    Case{"set_is_refused", "set\n" + kEntry + "11.1\nstring \"x\"\n\nset\n" + kEntry + "99\ninteger 1\nPING\n",
         {"not-writable\nnot-writable\nPONG\n", "", 0}},
    Case{"a_full_field", get(kEntry + "8.1"), {text(8, std::string(32, 'H')), "", 0}, kFull},
    Case{"record_unreadable", get(kEntry + "2.1") + next(kTable) + "PING\n",
         {none() + none() + "PONG\n", "read: Input/output error\nread: Input/output error\n", 0}, kProvisioned,
         Case{}.release, Case{}.args, [](Device &d) { d.failures[Call::Read] = EIO; }},
    Case{"no_flash_device", get(kEntry + "11.1"), {none(), "/dev/mtd3: No such file or directory\n", 0}, kProvisioned,
         Case{}.release, Case{}.args, [](Device &d) { d.present = false; }},
    Case{"snmpd_gone", "PING\n", {"", "qv_entity: write error: Broken pipe\n", 255}, kProvisioned, Case{}.release,
         Case{}.args, nullptr, EPIPE}),
    qvtest::ByName{});

// Each answer comes from one read of the record, under one lock.
TEST_F(EntityTest, EachAnswerReadsTheRecordOnce)
{
    dev.program(0, kProvisioned);
    Case c{"walk", walk() + "PING\n" + get(kTable), {}};
    c.args = {"-r", "/nonexistent"};
    ASSERT_EQ(run(c).status, 0);
    EXPECT_EQ(dev.count(Call::Read), 17u);
    EXPECT_EQ(dev.count(Call::Flock), 17u);
    EXPECT_EQ(dev.open_descriptors, 0);
}

// The firmware's release, as OpenWrt's release file gives it: SoftwareRev.
struct ReleaseCase {
    const char *name;
    std::string file; // empty: none
    RunResult expected;
};

class Releases : public EntityTest, public ::testing::WithParamInterface<ReleaseCase> {};

TEST_P(Releases, AreTakenOnlyAsOneQuotedValue)
{
    const ReleaseCase &r = GetParam();
    dev.program(0, kProvisioned);
    Case c{r.name, get(kEntry + "10.1"), {}};
    c.release = r.file;
    if (!c.release.empty())
        std::ofstream(release_path()) << c.release;
    EXPECT_EQ(run(c), expected(r.expected));
}

INSTANTIATE_TEST_SUITE_P(Files, Releases, ::testing::Values(
    ReleaseCase{"none", "", {empty(10), "", 0}},
    ReleaseCase{"last_line_without_its_end", "DISTRIB_RELEASE='SNAPSHOT r2 (x)'", {text(10, "SNAPSHOT r2 (x)"), "", 0}},
    ReleaseCase{"empty_value", "DISTRIB_RELEASE=''\n", {empty(10), "", 0}},
    ReleaseCase{"double_quotes", "DISTRIB_RELEASE=\"23.05.3\"\n", {empty(10), "", 0}},
    ReleaseCase{"unquoted", "DISTRIB_RELEASE=23.05.3\n", {empty(10), "", 0}},
    ReleaseCase{"a_quote_inside", "DISTRIB_RELEASE='23'.05'\n", {empty(10), "", 0}},
    ReleaseCase{"a_double_quote_inside", "DISTRIB_RELEASE='23\".05'\n", {empty(10), "", 0}},
    ReleaseCase{"a_tab_inside", "DISTRIB_RELEASE='23\t05'\n", {empty(10), "", 0}},
    ReleaseCase{"crlf", "DISTRIB_RELEASE='23.05.3'\r\n", {empty(10), "", 0}},
    ReleaseCase{"two_lines", "DISTRIB_RELEASE='23.05.3'\nDISTRIB_RELEASE='24.10'\n", {empty(10), "", 0}},
    ReleaseCase{"another_name_ending_so", "X_DISTRIB_RELEASE='1'\nDISTRIB_RELEASE_X='2'\n", {empty(10), "", 0}},
    ReleaseCase{"longest", "DISTRIB_RELEASE='" + std::string(255, 'r') + "'\n", {text(10, std::string(255, 'r')), "", 0}},
    ReleaseCase{"too_long", "DISTRIB_RELEASE='" + std::string(256, 'r') + "'\n", {empty(10), "", 0}},
    ReleaseCase{"too_large_a_file", std::string(4097, '#'), {empty(10), "qv_entity: {R}: larger than 4096 bytes\n", 0}}),
    qvtest::ByName{});

} // namespace
