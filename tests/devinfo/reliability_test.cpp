// Locking and read-back verification of the record: concurrent programs
// must not lose each other's updates or see a half-written record, flash
// that did not take the data must not pass as stored, and a program stopped
// by a signal in the middle of a store must not leave the partition blank.

#include "mtd_fixture.hpp"
#include "qvf.h"
#include "qvf_static.hpp"

#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <functional>

namespace {

QVTEST_PRINT_CASES_BY_NAME()

using namespace qvtest::flash_words;
const std::string kVerifyFailed =
    "/dev/mtd3: verify failed: the flash does not hold the record written\n";

const std::vector<uint8_t> kRecord =
    RecordBytes{}.mac({2, 0x11, 0x22, 0x33, 0x44, 0x55, 0, 0}).uid("uid").bytes;

class VerifyTest : public MtdTest {};

TEST_F(VerifyTest, FlashThatKeepsOldBitsIsCaught)
{
    dev.program(0, std::vector<uint8_t>(104, 0x00)); // an older record, all zeros
    dev.stuck_blocks = {0};
    EXPECT_EQ(capture_call([] { return qvf_raw_write(kRecord.data()); }),
              (RunResult{"", kVerifyFailed, -1}));
}

TEST_F(VerifyTest, AWriteThatStoresNothingIsCaught)
{
    dev.lost_writes = true;
    EXPECT_EQ(capture_call([] { return qvf_raw_write(kRecord.data()); }),
              (RunResult{"", kVerifyFailed, -1}));
    EXPECT_EQ(dev.open_descriptors, 0);
}

TEST_F(VerifyTest, SettersReportAFailedVerify)
{
    dev.lost_writes = true;
    const char uid[32] = "53-20-01";
    EXPECT_EQ(capture_call([&] { return qvf_uid_set(uid); }),
              (RunResult{"write uid fail\n", kVerifyFailed, -1}));
}

struct LockedOperation {
    const char *name;
    std::function<int()> run;
    size_t locks; // flock calls that reach the device
};

Record g_buffer;
const char kText[32] = "text";
const unsigned char kMac[8] = {2, 1, 2, 3, 4, 5, 0, 0};

const LockedOperation kLocked[] = {
    {"raw_read", [] { return qvf_raw_read(g_buffer.data()); }, 1},
    {"raw_write", [] { return qvf_raw_write(kRecord.data()); }, 1},
    {"uid_set", [] { return qvf_uid_set(kText); }, 1},
    {"mac_set", [] { return qvf_mac_set(kMac); }, 1},
    {"prdt_set", [] { return qvf_prdt_set(kText); }, 1},
    {"hdv_set", [] { return qvf_hdv_set(kText); }, 1},
    {"uid_get", [] { return qvf_uid_get(reinterpret_cast<char *>(g_buffer.data()), 32); }, 1},
    {"mac_get", [] { return qvf_mac_get(g_buffer.data()); }, 1},
};

class Locking : public MtdTest, public ::testing::WithParamInterface<LockedOperation> {};

TEST_P(Locking, LocksOnceAndNeverWaitsOnItself)
{
    ASSERT_EQ(capture_call(GetParam().run).status, 0);
    EXPECT_EQ(dev.count(Call::Flock), GetParam().locks);
    EXPECT_EQ(dev.self_deadlocks, 0);
}

TEST_P(Locking, AFailedLockIsReported)
{
    dev.failures[Call::Flock] = ENOLCK;
    const RunResult r = capture_call(GetParam().run);
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.err, "flock: No locks available\n");
    EXPECT_EQ(dev.count(Call::Write), 0u);
}

INSTANTIATE_TEST_SUITE_P(Operations, Locking, ::testing::ValuesIn(kLocked), qvtest::ByName{});

// A program started with its standard streams closed (`<&- >&- 2>&-`) gets
// descriptor 0 from its next open: the device must never sit there, or the
// failing erase's message would be written into the flash.
class ClosedStreams : public MtdTest, public ::testing::WithParamInterface<LockedOperation> {};

TEST_P(ClosedStreams, NeverPutTheDeviceOnThem)
{
    dev.weak_blocks = {1};
    int saved[3];
    for (int fd = 0; fd < 3; ++fd) {
        saved[fd] = fcntl(fd, F_DUPFD_CLOEXEC, 10);
        ASSERT_GE(saved[fd], 0);
        close(fd);
    }
    (void)capture_call(GetParam().run);
    for (int fd = 0; fd < 3; ++fd) {
        dup2(saved[fd], fd);
        close(saved[fd]);
    }
    ASSERT_FALSE(dev.descriptors.empty());
    EXPECT_GE(*dev.descriptors.begin(), 3);
    EXPECT_EQ(dev.open_descriptors, 0);
}

INSTANTIATE_TEST_SUITE_P(Operations, ClosedStreams, ::testing::ValuesIn(kLocked), qvtest::ByName{});

// Another process erases the partition under the lock and writes a new
// record a little later; a read meanwhile must wait for it, not return the
// blank partition as zeros.
TEST_F(VerifyTest, AReadWaitsForAWriterInAnotherProcess)
{
    dev.program(0, RecordBytes{}.mac({2, 0, 0, 0, 0, 1, 0, 0}).bytes);
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int fd = open("/dev/mtd3", O_RDWR | O_CLOEXEC);
        if (fd < 0 || flock(fd, LOCK_EX) < 0)
            _exit(1);
        std::fill(dev.flash.begin(), dev.flash.end(), 0xFF); // erased
        (void)!::write(ready[1], "x", 1);
        usleep(100 * 1000);
        std::copy(kRecord.begin(), kRecord.end(), dev.flash.begin());
        _exit(0);
    }
    char c;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    Record r;
    EXPECT_EQ(capture_call([&] { return qvf_raw_read(r.data()); }).status, 0);
    EXPECT_EQ(std::vector<uint8_t>(r.begin(), r.begin() + 8),
              std::vector<uint8_t>(kRecord.begin(), kRecord.begin() + 8));
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(status, 0);
    close(ready[0]);
    close(ready[1]);
}

// ---- a store stopped by a signal --------------------------------------------

// What the flash held when the signal's handler ran.
const fakemtd::Device *g_flash = nullptr;
volatile sig_atomic_t g_deliveries = 0;
Record g_flash_at_delivery;

void note_delivery(int)
{
    g_deliveries = g_deliveries + 1;
    std::copy_n(g_flash->flash.begin(), g_flash_at_delivery.size(), g_flash_at_delivery.begin());
}

const std::vector<uint8_t> kOldRecord = RecordBytes{}
                                            .mac({2, 0, 0, 0, 0, 1, 0, 0})
                                            .uid("uid-old")
                                            .hardware_version("hdv-old")
                                            .product_type("prdt-old")
                                            .bytes;
const char kNewHdv[32] = "hdv-new";
const char kNewUid[32] = "uid-new";
const uint8_t kNewAddress[6] = {2, 0x11, 0x22, 0x33, 0x44, 0x55};

struct StoppedStore {
    const char *name;
    int signal; // raised by the flash once the record's block is erased
    std::function<int()> store;
    std::vector<uint8_t> flash_after; // at the signal's delivery and at the end
    bool caller_blocks = false;       // the caller holds the signal back itself
    bool write_fails = false;
};

const StoppedStore kStoppedStores[] = {
    {"raw_write_ctrl_c", SIGINT, [] { return qvf_raw_write(kRecord.data()); }, kRecord},
    {"hdv_set_terminated", SIGTERM, [] { return qvf_hdv_set(kNewHdv); },
     RecordBytes{kOldRecord}.hardware_version("hdv-new").bytes},
    {"setmac_hangup", SIGHUP, [] { return qvf::mac_address_set(kNewAddress); },
     RecordBytes{kOldRecord}.mac({2, 0x11, 0x22, 0x33, 0x44, 0x55, 0, 0}).bytes},
    {"uid_set_quit", SIGQUIT, [] { return qvf_uid_set(kNewUid); },
     RecordBytes{kOldRecord}.uid("uid-new").bytes},
    // Not only the stopping signals: any that would end the program.
    {"prdt_set_user_signal", SIGUSR1, [] { return qvf_prdt_set(kNewUid); },
     RecordBytes{kOldRecord}.product_type("uid-new").bytes},
    // The caller's own mask is what comes back: a signal it blocked stays
    // blocked, and pending, until it unblocks it.
    {"blocked_by_the_caller", SIGTERM, [] { return qvf_raw_write(kRecord.data()); }, kRecord, true},
    // A failed write leaves the partition blank, as before; the signal
    // still comes, after the failure.
    {"failed_write", SIGTERM, [] { return qvf_raw_write(kRecord.data()); },
     std::vector<uint8_t>(104, 0xFF), false, true},
};

// Record bytes in hex, readable in a failure.
std::string hex(const uint8_t *bytes, size_t n)
{
    std::string text;
    char digits[4];
    for (size_t i = 0; i < n; ++i) {
        snprintf(digits, sizeof digits, "%02x ", bytes[i]);
        text += digits;
    }
    return text;
}
std::string hex(const std::vector<uint8_t> &bytes)
{
    return hex(bytes.data(), bytes.size());
}

class StoppedStores : public MtdTest, public ::testing::WithParamInterface<StoppedStore> {};

TEST_P(StoppedStores, TheSignalComesOnceTheRecordIsBack)
{
    const StoppedStore &p = GetParam();
    dev.program(0, kOldRecord);
    if (p.write_fails)
        dev.failures[Call::Write] = EIO;
    g_flash = &dev;
    g_deliveries = 0;
    struct sigaction action {};
    struct sigaction saved_action {};
    action.sa_handler = note_delivery;
    ASSERT_EQ(sigaction(p.signal, &action, &saved_action), 0);
    sigset_t callers;
    sigset_t saved_mask;
    sigemptyset(&callers);
    if (p.caller_blocks)
        sigaddset(&callers, p.signal);
    ASSERT_EQ(pthread_sigmask(SIG_SETMASK, &callers, &saved_mask), 0);
    dev.after_erase = [&](uint32_t block) {
        if (block == 0)
            raise(p.signal);
    };

    const int status = capture_call(p.store).status;
    sigset_t after;
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, nullptr, &after), 0);
    for (int s = 1; s < SIGRTMIN; ++s)
        EXPECT_EQ(sigismember(&after, s), sigismember(&callers, s)) << "the caller's mask is back: " << s;
    EXPECT_EQ(g_deliveries, p.caller_blocks ? 0 : 1);
    ASSERT_EQ(pthread_sigmask(SIG_SETMASK, &saved_mask, nullptr), 0);
    ASSERT_EQ(sigaction(p.signal, &saved_action, nullptr), 0);

    EXPECT_EQ(status, p.write_fails ? -1 : 0);
    EXPECT_EQ(g_deliveries, 1);
    EXPECT_EQ(hex(g_flash_at_delivery.data(), g_flash_at_delivery.size()), hex(p.flash_after))
        << "the flash when the signal was delivered";
    EXPECT_EQ(hex(stored_record()), hex(p.flash_after));
}

INSTANTIATE_TEST_SUITE_P(Signals, StoppedStores, ::testing::ValuesIn(kStoppedStores), qvtest::ByName{});

// Figures shared between the processes of the concurrency run.
struct Tally {
    std::atomic<int> writers_done;
    std::atomic<int> sets;
    std::atomic<int> failed_sets;
    std::atomic<int> reads;
    std::atomic<int> blank_reads;
};

constexpr int kFields = 4;
constexpr int kSetsPerWriter = 50;
constexpr int kReaders = 4;

std::array<uint8_t, 32> field_value(int field, int round)
{
    std::array<uint8_t, 32> v{};
    snprintf(reinterpret_cast<char *>(v.data()), v.size(), "%c%d-round-%02d", 'A' + field, field,
             round);
    return v;
}

int set_field(int field, const std::array<uint8_t, 32> &v)
{
    const auto *text = reinterpret_cast<const char *>(v.data());
    switch (field) {
    case 0:
        // 'A' (0x41) has the group bit set: the library stores any address,
        // only qv_setmac refuses such.
        return qvf_mac_set(v.data());
    case 1:
        return qvf_uid_set(text);
    case 2:
        return qvf_hdv_set(text);
    default:
        return qvf_prdt_set(text);
    }
}

void run_writer(int field, Tally &tally)
{
    for (int round = 0; round < kSetsPerWriter; ++round) {
        if (set_field(field, field_value(field, round)) != 0)
            ++tally.failed_sets;
        ++tally.sets;
    }
    ++tally.writers_done;
}

void run_reader(Tally &tally)
{
    Record r;
    while (tally.writers_done < kFields) {
        if (qvf_raw_read(r.data()) != 0 || r[0] == 0 || r[8] == 0 || r[40] == 0 || r[72] == 0)
            ++tally.blank_reads;
        ++tally.reads;
    }
}

TEST_F(VerifyTest, ConcurrentSettersLoseNoUpdate)
{
    for (int field = 0; field < kFields; ++field)
        ASSERT_EQ(capture_call([&] { return set_field(field, field_value(field, 99)); }).status, 0);
    void *shared = mmap(nullptr, sizeof(Tally), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS,
                        -1, 0);
    ASSERT_NE(shared, MAP_FAILED);
    auto *tally = new (shared) Tally{};

    std::vector<pid_t> children;
    for (int p = 0; p < kFields + kReaders; ++p) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            if (p < kFields)
                run_writer(p, *tally);
            else
                run_reader(*tally);
            _exit(0);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_EQ(status, 0);
    }

    const std::vector<uint8_t> stored = stored_record();
    const size_t offsets[kFields] = {0, 8, 40, 72};
    const size_t sizes[kFields] = {8, 32, 32, 32};
    int lost = 0;
    for (int field = 0; field < kFields; ++field) {
        const auto last = field_value(field, kSetsPerWriter - 1);
        if (!std::equal(last.begin(), last.begin() + static_cast<long>(sizes[field]),
                        stored.begin() + static_cast<long>(offsets[field])))
            ++lost;
    }
    printf("processes %d, sets %d, reads %d, failed sets %d, lost updates %d, blank reads %d\n",
           kFields + kReaders, tally->sets.load(), tally->reads.load(), tally->failed_sets.load(),
           lost, tally->blank_reads.load());
    EXPECT_EQ(tally->sets, kFields * kSetsPerWriter);
    EXPECT_EQ(tally->failed_sets, 0);
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(tally->blank_reads, 0);
    munmap(shared, sizeof(Tally));
}

} // namespace
