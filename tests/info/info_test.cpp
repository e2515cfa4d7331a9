// qv_info run in-process against the fake flash, and on image files. The
// command lines it refuses, its usage and its output that cannot be written
// are rows of tests/cases/qv_info.cases; here, what needs the fake: the
// record each run finds and leaves, and what reaches the flash.

#include "info.hpp"
#include "mtd_fixture.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

QVTEST_PRINT_CASES_BY_NAME()

using namespace qvtest::flash_words;

RunResult info(std::vector<std::string> args, int stdout_error = 0)
{
    return qvtest::run_program("qv_info", std::move(args), stdout_error);
}

const std::vector<uint8_t> &kBlank = qvtest::kBlankFlash;
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
    RunCase{"show_provisioned", {"show", "-p"}, {kShown, "", 0}, kProvisioned},
    RunCase{"show_provisioned_odd", {"show", "-p"}, {"mac: multicast address\nuid: not printable\nhdv=" + k32H + "\nprdt: not set\n", "", 1}, kOdd},
    RunCase{"set_four", {"set", "mac=02-AA-bb-cc-dd-ee", "uid=SN 1", "hdv=", "prdt=P"}, {"", "", 0}, kBlank, four_set().bytes},
    RunCase{"set_keeps_the_rest", {"set", "uid=SN0002"}, {"", "", 0}, kProvisioned, RecordBytes{.bytes = kProvisioned}.uid("SN0002").bytes},
    RunCase{"missing_device", {"set", "uid=x"}, {"", "/dev/mtd3: No such file or directory\n", 255}, kBlank, {},
            [](Device &d) { d.present = false; }},
    RunCase{"missing_device_named", {"-d", "/dev/mtd3", "verify"}, {"", "/dev/mtd3: No such file or directory\n", 255}, kBlank, {},
            [](Device &d) { d.present = false; }},
    RunCase{"unreadable", {"get", "uid"}, {"", "read: Input/output error\nqv_info: the record on /dev/mtd3 could not be read\n", 255}, kProvisioned, {},
            [](Device &d) { d.failures[Call::Read] = EIO; }},
    RunCase{"bad_record_block", {"set", "uid=x"}, {"", "/dev/mtd3: the record's erase block at 0x00000000 is bad\nqv_info: the record on /dev/mtd3 was not stored\n", 255},
            kProvisioned, {}, [](Device &d) { d.bad_blocks = {0}; }}),
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
    FileCase{"crlf_comments_and_no_last_line_end", "# line 7\r\n\r\n  \nmac=02:00:00:00:00:07\r\nuid=SN  7\r\nprdt=a=b",
             {"", "", 0}, "mac=02:00:00:00:00:07\nuid=SN  7\nhdv=rev-B\nprdt=a=b\n"},
    FileCase{"twice_across_lines", "uid=1\r\nuid=2\r\n", {"", "qv_info: {F}:2: field 'uid' named twice\n", 2}},
    FileCase{"only_comments", "# nothing\n\n", {"", "qv_info: {F}: no FIELD=VALUE in it\n", 2}},
    FileCase{"too_large", std::string(16385, '#'), {"", "qv_info: {F}: larger than 16384 bytes\n", 2}}),
    qvtest::ByName{});

// A regular file's bytes; nothing for anything else (a FIFO is not opened).
std::vector<uint8_t> bytes_of(const std::string &path)
{
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Images made offline: a missing one is created as the record alone; in
// one that is there, everything past the record reads as erased flash, and
// the image keeps its mode.
TEST(Images, AreErasedAndWrittenAsThePartition)
{
    char dir[] = "/tmp/qv_info_test.XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string made = std::string(dir) + "/made", kept = std::string(dir) + "/kept";
    std::ofstream(kept) << std::string(300, '\0');
    ASSERT_EQ(chmod(kept.c_str(), 0604), 0);
    for (const std::string &image : {made, kept}) {
        ASSERT_EQ(info({"-d", image, "set", "mac=02:11:22:33:44:55", "uid=SN0001", "hdv=rev-B", "prdt=QV-SW10"}),
                  (RunResult{"", "", 0}));
        auto expected = RecordBytes{.bytes = kProvisioned}.mac({2, 0x11, 0x22, 0x33, 0x44, 0x55, 0, 0}).bytes;
        expected.resize(image == made ? 104 : 300, 0xFF);
        EXPECT_EQ(bytes_of(image), expected) << image;
        struct stat st {};
        EXPECT_EQ(stat(image.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, image == made ? 0644 & ~umask(022) : 0604u) << image;
        EXPECT_EQ(info({"-d", image}), (RunResult{kShown, "", 0}));
        unlink(image.c_str());
    }
    EXPECT_EQ(info({"-d", made, "verify"}).err, made + ": No such file or directory\nqv_info: the record on " + made + " could not be read\n");
    rmdir(dir);
}

// What -d may name: a device or an image, never something it would wait on,
// follow or make under /dev. Each case leaves what is there as it was, and
// nothing new beside it.
struct PathCase {
    const char *name;
    void (*make)(const std::string &path, const std::string &dir);
    std::vector<std::string> args; // after -d PATH
    RunResult expected;            // "{P}" stands for PATH
    const char *path = "{D}/image"; // "{D}": the case's folder
    long file_size_limit = -1;      // a file-size limit, with SIGXFSZ ignored
};

// A provisioned image of 40 KiB.
void make_image(const std::string &path, const std::string &)
{
    std::vector<uint8_t> bytes = kProvisioned;
    bytes.resize(40 * 1024, 0xFF);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}
std::vector<std::string> entries_of(const char *dir)
{
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}
std::string refused_path(const char *why) { return std::string("{P}: ") + why + "\n"; }

class Paths : public ::testing::TestWithParam<PathCase> {};

TEST_P(Paths, AreRefusedOrLeftWhole)
{
    const PathCase &c = GetParam();
    char dir[] = "/tmp/qv_info_test.XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string path = c.path;
    if (const size_t at = path.find("{D}"); at != std::string::npos)
        path.replace(at, 3, dir);
    if (c.make != nullptr)
        c.make(std::string(dir) + "/image", dir);
    const std::vector<uint8_t> before = bytes_of(std::string(dir) + "/image");
    const std::vector<std::string> entries = entries_of(dir);
    RunResult expected = c.expected;
    for (size_t at; (at = expected.err.find("{P}")) != std::string::npos;)
        expected.err.replace(at, 3, path);
    std::vector<std::string> args{"-d", path};
    args.insert(args.end(), c.args.begin(), c.args.end());
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const rlimit limit{static_cast<rlim_t>(c.file_size_limit), saved.rlim_max};
    if (c.file_size_limit >= 0) {
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    }
    const sighandler_t xfsz = signal(SIGXFSZ, SIG_IGN);
    EXPECT_EQ(info(args), expected);
    signal(SIGXFSZ, xfsz);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
    EXPECT_EQ(bytes_of(std::string(dir) + "/image"), before);
    if (expected.err.find("No such file") != std::string::npos) {
        EXPECT_NE(access(path.c_str(), F_OK), 0) << "nothing made at " << path;
    }
    EXPECT_EQ(entries_of(dir), entries) << "nothing left beside it";
    std::filesystem::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Kinds, Paths, ::testing::Values(
    PathCase{"fifo", [](const std::string &p, const std::string &) { mkfifo(p.c_str(), 0600); }, {"show"},
             {"", refused_path("not a character device or a regular file"), 255}},
    PathCase{"fifo_set", [](const std::string &p, const std::string &) { mkfifo(p.c_str(), 0600); }, {"set", "uid=x"},
             {"", refused_path("not a character device or a regular file"), 255}},
    PathCase{"folder", [](const std::string &p, const std::string &) { mkdir(p.c_str(), 0700); }, {"verify"},
             {"", refused_path("not a character device or a regular file"), 255}},
    PathCase{"link_to_an_image", [](const std::string &p, const std::string &d) { make_image(p, d); (void)symlink(p.c_str(), (d + "/link").c_str()); },
             {"set", "uid=x"}, {"", refused_path("not a character device or a regular file"), 255}, "{D}/link"},
    PathCase{"missing_under_a_link_to_dev", [](const std::string &, const std::string &d) { (void)symlink("/dev", (d + "/dev").c_str()); },
             {"set", "uid=x"}, {"", refused_path("No such file or directory"), 255}, "{D}/dev/qv_info_test_missing"},
    PathCase{"file_size_limit", make_image, {"set", "uid=NEW"},
             {"", "write: File too large\nqv_info: the record on {P} was not stored\n", 255}, "{D}/image", 8 * 1024}),
    qvtest::ByName{});

// Two programs storing into one image at once: each store works on what the
// one before it stored, so neither's fields are lost.
TEST(Images, ConcurrentStoresLoseNoUpdate)
{
    char dir[] = "/tmp/qv_info_test.XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string image = std::string(dir) + "/image";
    constexpr int kStores = 30;
    pid_t writers[2];
    for (int w = 0; w < 2; ++w) {
        writers[w] = fork();
        ASSERT_GE(writers[w], 0);
        if (writers[w] == 0) {
            for (int i = 1; i <= kStores; ++i)
                if (info({"-d", image, "set", std::string(w ? "hdv=" : "uid=") + std::to_string(i)}).status != 0)
                    _exit(1);
            _exit(0);
        }
    }
    for (const pid_t pid : writers) {
        int status = -1;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_EQ(status, 0);
    }
    EXPECT_EQ(info({"-d", image}).out, "mac=00:00:00:00:00:00\nuid=30\nhdv=30\nprdt=\n");
    std::filesystem::remove_all(dir);
}

// With -w, a record another program keeps locked is given up on.
TEST(Images, LockWaitGivesUp)
{
    char dir[] = "/tmp/qv_info_test.XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string image = std::string(dir) + "/image";
    make_image(image, dir);
    const int held = open(image.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    EXPECT_EQ(info({"-d", image, "-w", "0", "show"}),
              (RunResult{"", image + ": still locked by another program after 0 s\nqv_info: the record on " + image + " could not be read\n", 255}));
    close(held);
    std::filesystem::remove_all(dir);
}

} // namespace
