// Erase, read and write of the record against the fake flash.

#include "mtd_fixture.hpp"
#include "qvf.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <array>

namespace {

QVTEST_PRINT_CASES_BY_NAME()

using namespace qvtest::flash_words;

std::vector<uint8_t> bytes_of(const Record &r)
{
    return {r.begin(), r.end()};
}

// ---- read ----------------------------------------------------------------

class ReadTest : public MtdTest {
protected:
    RunResult read_into(Record &r)
    {
        return capture_call([&] { return qvf_raw_read(r.data()); });
    }
};

TEST_F(ReadTest, BlankPartitionReadsAsZeros)
{
    Record r;
    r.fill(0x55);
    EXPECT_EQ(read_into(r), (RunResult{"", "", 0}));
    EXPECT_EQ(bytes_of(r), std::vector<uint8_t>(104, 0));
    EXPECT_EQ(dev.open_descriptors, 0);
}

struct BlankFieldCase {
    const char *name;
    size_t offset; // of the field whose first byte is 0xFF
    size_t size;
};

class BlankFieldRule : public ReadTest, public ::testing::WithParamInterface<BlankFieldCase> {};

TEST_P(BlankFieldRule, OnlyTheBlankFieldReadsAsZeros)
{
    auto stored = RecordBytes{}.mac({0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77})
                      .uid("uid-1").hardware_version("hw-2").product_type("pt-3").bytes;
    stored[GetParam().offset] = 0xFF;
    dev.program(0, stored);

    Record r;
    ASSERT_EQ(read_into(r).status, 0);
    auto expected = stored;
    std::fill_n(expected.begin() + static_cast<long>(GetParam().offset), GetParam().size, 0);
    EXPECT_EQ(bytes_of(r), expected);
}

INSTANTIATE_TEST_SUITE_P(Fields, BlankFieldRule,
                         ::testing::Values(BlankFieldCase{"mac", 0, 8}, BlankFieldCase{"uid", 8, 32},
                                           BlankFieldCase{"hardware_version", 40, 32},
                                           BlankFieldCase{"product_type", 72, 32}),
                         qvtest::ByName{});

TEST_F(ReadTest, OnlyTheFirstByteOfAFieldDecides)
{
    auto stored = RecordBytes{}.mac({0x02, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}).bytes;
    stored[9] = 0xFF; // uid: "\0" then erased bytes
    stored[8] = 0x00;
    dev.program(0, stored);

    Record r;
    ASSERT_EQ(read_into(r).status, 0);
    EXPECT_EQ(std::vector<uint8_t>(r.begin(), r.begin() + 40),
              std::vector<uint8_t>(stored.begin(), stored.begin() + 40));
}

TEST_F(ReadTest, ShortReadLeavesTheTailZero)
{
    dev.program(0, RecordBytes{}.mac({2, 0, 0, 0, 0, 1, 0, 0}).uid("u").hardware_version("h")
                       .product_type("p").bytes);
    dev.read_limit = 50;
    Record r;
    r.fill(0x55);
    ASSERT_EQ(read_into(r), (RunResult{"", "", 0}));
    EXPECT_EQ(r[40], 'h');
    EXPECT_EQ(std::vector<uint8_t>(r.begin() + 50, r.end()), std::vector<uint8_t>(54, 0));
}

struct ReadFailure {
    const char *name;
    Call call;
    int error;
    RunResult expected;
};

class ReadFailures : public ReadTest, public ::testing::WithParamInterface<ReadFailure> {};

TEST_P(ReadFailures, ReportTheErrorAndCloseTheDevice)
{
    dev.failures[GetParam().call] = GetParam().error;
    Record r;
    r.fill(0x55);
    EXPECT_EQ(read_into(r), GetParam().expected);
    EXPECT_EQ(r[0], 0x55) << "the caller's buffer is untouched";
    EXPECT_EQ(dev.open_descriptors, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, ReadFailures,
    ::testing::Values(
        ReadFailure{"open", Call::Open, ENOENT, {"", "/dev/mtd3: No such file or directory\n", -1}},
        ReadFailure{"open_denied", Call::Open, EACCES, {"", "/dev/mtd3: Permission denied\n", -1}},
        ReadFailure{"read", Call::Read, EIO, {"", "read: Input/output error\n", -1}}),
    qvtest::ByName{});

TEST_F(ReadTest, NullBufferIsRefused)
{
    EXPECT_EQ(capture_call([] { return qvf_raw_read(nullptr); }),
              (RunResult{"invalid argument\n", "", -1}));
    EXPECT_TRUE(dev.calls.empty());
}

struct EccCase {
    const char *name;
    bool driver_counts; // ECCGETSTATS answers
    RunResult expected;
};

class UnreadablePage : public MtdTest, public ::testing::WithParamInterface<EccCase> {
protected:
    UnreadablePage() : MtdTest(fakemtd::kNand) {}
};

TEST_P(UnreadablePage, IsAFailedReadWhereTheDriverCountsIt)
{
    dev.program(0, RecordBytes{}.mac({2, 1, 2, 3, 4, 5, 0, 0}).bytes);
    dev.unreadable_pages = {0};
    if (!GetParam().driver_counts)
        dev.failures[Call::EccStats] = ENOTTY;
    Record r;
    r.fill(0x55);
    EXPECT_EQ(capture_call([&] { return qvf_raw_read(r.data()); }), GetParam().expected);
    if (GetParam().expected.status != 0) {
        EXPECT_EQ(r[0], 0x55) << "the caller's buffer is untouched";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Drivers, UnreadablePage,
    ::testing::Values(EccCase{"counted", true, {"", "/dev/mtd3: uncorrectable ECC error\n", -1}},
                      // A driver that keeps no count cannot tell: the garbage passes.
                      EccCase{"not_counted", false, {"", "", 0}}),
    qvtest::ByName{});

// ---- erase ---------------------------------------------------------------

class EraseTest : public MtdTest {
protected:
    EraseTest() { std::fill(dev.flash.begin(), dev.flash.end(), 0x00); } // all programmed

    RunResult erase()
    {
        int fd = open("/dev/mtd3", O_RDWR | O_CLOEXEC);
        EXPECT_GE(fd, 0);
        RunResult r = capture_call([&] { return qvf_erase_partition(fd); });
        close(fd);
        return r;
    }
    bool block_erased(uint32_t block) const
    {
        const uint32_t size = dev.geometry.erasesize;
        return flash(block * size, size) == std::vector<uint8_t>(size, 0xFF);
    }
};

TEST_F(EraseTest, ErasesEveryBlock)
{
    EXPECT_EQ(erase(), (RunResult{"", "", 0}));
    EXPECT_EQ(dev.erased_blocks, (std::vector<uint32_t>{0, 1, 2, 3}));
    EXPECT_TRUE(erased_from(0));
}

TEST_F(EraseTest, BadBlocksAreReportedAndSkipped)
{
    dev.bad_blocks = {0, 2};
    EXPECT_EQ(erase(), (RunResult{"\nSkipping bad block at 0x00000000"
                                  "\nSkipping bad block at 0x00020000",
                                  "", 0}));
    EXPECT_EQ(dev.erased_blocks, (std::vector<uint32_t>{1, 3}));
    EXPECT_FALSE(block_erased(0));
    EXPECT_FALSE(block_erased(2));
}

TEST_F(EraseTest, FailedBadBlockQueryStillErases)
{
    dev.failures[Call::GetBadBlock] = EIO;
    EXPECT_EQ(erase(), (RunResult{"MEMGETBADBLOCK errorMEMGETBADBLOCK error"
                                  "MEMGETBADBLOCK errorMEMGETBADBLOCK error",
                                  "", 0}));
    EXPECT_TRUE(erased_from(0));
}

TEST_F(EraseTest, FailedBlockEraseIsReportedAndTheRestErased)
{
    dev.weak_blocks = {1};
    EXPECT_EQ(erase(), (RunResult{"", "MEMERASE: Input/output error\n", -1}));
    EXPECT_EQ(dev.erased_blocks, (std::vector<uint32_t>{0, 2, 3}));
    EXPECT_FALSE(block_erased(1));
}

TEST_F(EraseTest, NotACharacterDeviceIsSaidAndErased)
{
    dev.char_device = false;
    EXPECT_EQ(erase(), (RunResult{"/dev/mtd3: not a char device", "", 0}));
    EXPECT_TRUE(erased_from(0));
}

struct GeometryFailure {
    const char *name;
    Call call;              // fails with EIO/ENOTTY, or
    fakemtd::Geometry told; // reported by MEMGETINFO
    std::string error;
};

class EraseRefusals : public EraseTest, public ::testing::WithParamInterface<GeometryFailure> {};

TEST_P(EraseRefusals, NothingIsErased)
{
    const auto &p = GetParam();
    if (p.call == Call::Fstat)
        dev.failures[Call::Fstat] = EIO;
    else if (p.call == Call::Flock)
        dev.failures[Call::Flock] = ENOLCK;
    else if (p.call == Call::GetInfo && p.told.size == 0)
        dev.failures[Call::GetInfo] = ENOTTY;
    else
        dev.reported = p.told;
    EXPECT_EQ(erase(), (RunResult{"", p.error, -1}));
    EXPECT_EQ(dev.count(Call::Erase), 0u);
    EXPECT_EQ(dev.count(Call::GetBadBlock), 0u);
}

constexpr fakemtd::Geometry kUnset{};
constexpr fakemtd::Geometry with(uint32_t erasesize, uint32_t writesize)
{
    return {3, 4 * 0x10000, erasesize, writesize};
}

INSTANTIATE_TEST_SUITE_P(
    Geometry, EraseRefusals,
    ::testing::Values(
        GeometryFailure{"flock", Call::Flock, kUnset, "flock: No locks available\n"},
        GeometryFailure{"fstat", Call::Fstat, kUnset, "fstat: Input/output error\n"},
        GeometryFailure{"getinfo", Call::GetInfo, kUnset,
                        "MEMGETINFO: Inappropriate ioctl for device\n"},
        GeometryFailure{"erasesize0", Call::GetInfo, with(0, 1),
                        "/dev/mtd3: unusable flash geometry: erase size 0, write size 1\n"},
        GeometryFailure{"writesize0", Call::GetInfo, with(0x10000, 0),
                        "/dev/mtd3: unusable flash geometry: erase size 65536, write size 0\n"},
        GeometryFailure{"writesize128k", Call::GetInfo, with(0x20000, 0x20000),
                        "/dev/mtd3: unusable flash geometry: erase size 131072, write size 131072\n"}),
    qvtest::ByName{});

// A second open file of the device, as a concurrent reader has one: its
// lock requests go to the kernel, which weighs them against the caller's.
class OtherOpenFile {
public:
    explicit OtherOpenFile(const fakemtd::Device &dev)
        : fd_(open(("/proc/self/fd/" + std::to_string(dev.memory_fd)).c_str(), O_RDONLY | O_CLOEXEC))
    {
    }
    ~OtherOpenFile() { close(fd_); }
    OtherOpenFile(const OtherOpenFile &) = delete;
    OtherOpenFile &operator=(const OtherOpenFile &) = delete;

    // True when a reader's shared lock would have to wait.
    bool held_off() const
    {
        if (flock(fd_, LOCK_SH | LOCK_NB) == 0)
            return flock(fd_, LOCK_UN) != 0;
        return errno == EWOULDBLOCK;
    }

private:
    int fd_;
};

struct EraseLockCase {
    const char *name;
    int callers_lock; // held through the descriptor before the call: 0, LOCK_SH, LOCK_EX
};

class EraseLocking : public EraseTest, public ::testing::WithParamInterface<EraseLockCase> {};

// Readers wait while the partition is blank, and after it, until the
// caller who erased it closes the descriptor (having written, as a rule).
TEST_P(EraseLocking, HoldsReadersOffUntilTheDescriptorCloses)
{
    const int fd = open("/dev/mtd3", O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    if (GetParam().callers_lock != 0) {
        ASSERT_EQ(flock(fd, GetParam().callers_lock), 0);
    }
    const OtherOpenFile reader(dev);
    std::vector<bool> held_off;
    dev.after_erase = [&](uint32_t) { held_off.push_back(reader.held_off()); };

    EXPECT_EQ(capture_call([&] { return qvf_erase_partition(fd); }), (RunResult{"", "", 0}));
    EXPECT_EQ(held_off, std::vector<bool>(4, true)) << "a reader during the erase";
    EXPECT_EQ(dev.self_deadlocks, 0) << "the caller's own lock does not block it";
    EXPECT_TRUE(reader.held_off()) << "the lock stays with the descriptor";
    close(fd);
    EXPECT_FALSE(reader.held_off());
}

INSTANTIATE_TEST_SUITE_P(CallersLock, EraseLocking,
                         ::testing::Values(EraseLockCase{"none", 0}, EraseLockCase{"shared", LOCK_SH},
                                           EraseLockCase{"exclusive", LOCK_EX}),
                         qvtest::ByName{});

// ---- write ---------------------------------------------------------------

const std::vector<uint8_t> kRecord = RecordBytes{}
                                         .mac({0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x00, 0x00})
                                         .uid("53-20-01-0A-01-10-00-00")
                                         .hardware_version("GE-K47301T_v1.00-10")
                                         .product_type("QV-MR16-PL4C2-AX")
                                         .bytes;

RunResult write_record(const std::vector<uint8_t> &record)
{
    return capture_call([&] { return qvf_raw_write(record.data()); });
}

class WriteTest : public MtdTest {
protected:
    WriteTest() { dev.program(0, std::vector<uint8_t>(300, 0x00)); } // an older record
};

class NandWriteTest : public MtdTest {
protected:
    NandWriteTest() : MtdTest(fakemtd::kNand) {}
};

TEST_F(WriteTest, NorTakesTheRecordInOneWrite)
{
    EXPECT_EQ(write_record(kRecord), (RunResult{"", "", 0}));
    EXPECT_EQ(stored_record(), kRecord);
    EXPECT_TRUE(erased_from(104));
    EXPECT_EQ(dev.write_sizes, (std::vector<size_t>{104}));
    EXPECT_EQ(dev.open_descriptors, 0);
}

TEST_F(NandWriteTest, NandTakesOneWholePage)
{
    EXPECT_EQ(write_record(kRecord), (RunResult{"", "", 0}));
    EXPECT_EQ(stored_record(), kRecord);
    EXPECT_TRUE(erased_from(104));
    EXPECT_EQ(dev.write_sizes, (std::vector<size_t>{2048}));
}

TEST_F(NandWriteTest, BadBlockLaterInThePartitionIsSkipped)
{
    dev.bad_blocks = {1};
    EXPECT_EQ(write_record(kRecord), (RunResult{"\nSkipping bad block at 0x00020000", "", 0}));
    EXPECT_EQ(stored_record(), kRecord);
}

// Its erase would be skipped, and the record programmed over the old one.
TEST_F(NandWriteTest, BadBlockUnderTheRecordIsNeverProgrammed)
{
    dev.bad_blocks = {0};
    dev.program(0, kRecord);
    EXPECT_EQ(write_record(std::vector<uint8_t>(104, 0)),
              (RunResult{"", "/dev/mtd3: the record's erase block at 0x00000000 is bad\n", -1}));
    EXPECT_EQ(dev.count(Call::Erase) + dev.count(Call::Write), 0u);
    EXPECT_EQ(stored_record(), kRecord);
}

TEST_F(WriteTest, WrittenRecordReadsBackButForBlankFields)
{
    auto record = kRecord;
    record[40] = 0xFF; // hardware version starts like erased flash
    ASSERT_EQ(write_record(record).status, 0);
    Record back;
    ASSERT_EQ(capture_call([&] { return qvf_raw_read(back.data()); }).status, 0);
    auto expected = record;
    std::fill_n(expected.begin() + 40, 32, 0);
    EXPECT_EQ(bytes_of(back), expected);
}

TEST_F(WriteTest, FailedEraseWritesNothing)
{
    dev.weak_blocks = {0};
    EXPECT_EQ(write_record(kRecord), (RunResult{"", "MEMERASE: Input/output error\n", -1}));
    EXPECT_EQ(dev.count(Call::Write), 0u);
    EXPECT_EQ(dev.open_descriptors, 0);
}

TEST_F(WriteTest, RefusedGeometryWritesNothing)
{
    dev.failures[Call::GetInfo] = ENOTTY;
    EXPECT_EQ(write_record(kRecord),
              (RunResult{"", "MEMGETINFO: Inappropriate ioctl for device\n", -1}));
    EXPECT_EQ(dev.count(Call::Erase), 0u);
    EXPECT_EQ(dev.count(Call::Write), 0u);
}

struct WriteFailure {
    const char *name;
    Call call;
    int error;
    std::optional<size_t> write_limit;
    RunResult expected;
    bool erased_after; // the partition was erased before the failure
};

class WriteFailures : public WriteTest, public ::testing::WithParamInterface<WriteFailure> {};

TEST_P(WriteFailures, AreReportedOnce)
{
    const auto &p = GetParam();
    if (p.error != 0)
        dev.failures[p.call] = p.error;
    dev.write_limit = p.write_limit;
    EXPECT_EQ(write_record(kRecord), p.expected);
    EXPECT_EQ(erased_from(p.write_limit.value_or(0)), p.erased_after);
    EXPECT_EQ(dev.open_descriptors, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, WriteFailures,
    ::testing::Values(
        WriteFailure{"open", Call::Open, EACCES, {}, {"", "/dev/mtd3: Permission denied\n", -1}, false},
        WriteFailure{"write", Call::Write, EIO, {}, {"", "write: Input/output error\n", -1}, true},
        WriteFailure{"short_write", Call::Write, 0, 50,
                     {"", "/dev/mtd3: short write, 50 of 104 bytes\n", -1}, true}),
    qvtest::ByName{});

TEST_F(WriteTest, NullRecordIsRefused)
{
    EXPECT_EQ(capture_call([] { return qvf_raw_write(nullptr); }),
              (RunResult{"invalid argument\n", "", -1}));
    EXPECT_TRUE(dev.calls.empty());
}

} // namespace
