// Get and set of the record's fields against the fake flash.

#include "mtd_fixture.hpp"
#include "qvf.h"

#include <array>
#include <functional>

namespace {

QVTEST_PRINT_CASES_BY_NAME()

using namespace qvtest::flash_words;

using Text = std::array<char, 33>;

class FieldTest : public MtdTest {};

struct UidCase {
    const char *name;
    std::string stored; // empty: the field is blank
    uint32_t len;
    int rc;
    std::string expected; // dst afterwards, up to its NUL
};

class UidGet : public FieldTest, public ::testing::WithParamInterface<UidCase> {};

TEST_P(UidGet, CopiesTheTextWhenItFits)
{
    const auto &p = GetParam();
    if (!p.stored.empty())
        dev.program(0, RecordBytes{}.uid(p.stored).bytes);
    Text dst;
    dst.fill('#');
    EXPECT_EQ(capture_call([&] { return qvf_uid_get(dst.data(), p.len); }),
              (RunResult{"", "", p.rc}));
    if (p.rc == 0) {
        EXPECT_EQ(std::string(dst.data(), p.expected.size() + 1),
                  p.expected + std::string(1, '\0'));
    } else {
        EXPECT_EQ(dst[0], '#') << "dst is untouched";
    }
}

const std::string k32(32, 'U');

INSTANTIATE_TEST_SUITE_P(
    Cases, UidGet,
    ::testing::Values(UidCase{"fits_exactly", "53-20-01", 8, 0, "53-20-01"},
                      UidCase{"room_to_spare", "53-20-01", 32, 0, "53-20-01"},
                      UidCase{"one_too_long", "53-20-01", 7, -1, ""},
                      UidCase{"blank_is_empty", "", 0, 0, ""},
                      UidCase{"full_field_has_no_nul", k32, 32, 0, k32},
                      UidCase{"full_field_too_long", k32, 31, -1, ""}),
    qvtest::ByName{});

TEST_F(FieldTest, MacGetPrintsTheWholeField)
{
    dev.program(0, RecordBytes{}.mac({0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x00, 0x00}).bytes);
    std::array<unsigned char, 8> mac;
    mac.fill(0xEE);
    EXPECT_EQ(capture_call([&] { return qvf_mac_get(mac.data()); }),
              (RunResult{"mac = 00:11:22:33:44:55:00:00:\n", "", 0}));
    EXPECT_EQ(mac, (std::array<unsigned char, 8>{0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0xEE, 0xEE}));
}

TEST_F(FieldTest, TextFieldsComeBackWhole)
{
    const std::string type(32, 'P');
    dev.program(0, RecordBytes{}.product_type(type).hardware_version("GE-K47301T_v1.00-10").bytes);
    Text dst;
    dst.fill('#');
    ASSERT_EQ(capture_call([&] { return qvf_prdt_get(dst.data()); }).status, 0);
    EXPECT_EQ(std::string(dst.data(), 33), type + "#") << "32 bytes, nothing added";
    ASSERT_EQ(capture_call([&] { return qvf_hdv_get(dst.data()); }).status, 0);
    EXPECT_EQ(std::string(dst.data()), "GE-K47301T_v1.00-10");
}

struct Setter {
    const char *name;
    std::function<int(const void *)> set;
    size_t offset;
    size_t size;
    const char *failure;
};

const Setter kSetters[] = {
    {"uid", [](const void *s) { return qvf_uid_set(static_cast<const char *>(s)); }, 8, 32,
     "write uid fail\n"},
    {"mac", [](const void *s) { return qvf_mac_set(static_cast<const unsigned char *>(s)); }, 0, 8,
     "write mac fail\n"},
    {"prdt", [](const void *s) { return qvf_prdt_set(static_cast<const char *>(s)); }, 72, 32,
     "write product type fail\n"},
    {"hdv", [](const void *s) { return qvf_hdv_set(static_cast<const char *>(s)); }, 40, 32,
     "write hardware version fail\n"},
};

class Setters : public FieldTest, public ::testing::WithParamInterface<Setter> {
protected:
    std::array<uint8_t, 32> value() const
    {
        std::array<uint8_t, 32> v{};
        for (size_t i = 0; i < GetParam().size; ++i)
            v[i] = static_cast<uint8_t>(0x40 + i);
        return v;
    }
};

TEST_P(Setters, OnBlankFlashTheOtherFieldsBecomeZeros)
{
    const auto v = value();
    EXPECT_EQ(capture_call([&] { return GetParam().set(v.data()); }), (RunResult{"", "", 0}));
    std::vector<uint8_t> expected(104, 0);
    std::copy_n(v.begin(), GetParam().size, expected.begin() + static_cast<long>(GetParam().offset));
    EXPECT_EQ(stored_record(), expected);
    EXPECT_TRUE(erased_from(104));
}

TEST_P(Setters, KeepTheOtherFields)
{
    const auto before = RecordBytes{}.mac({2, 1, 2, 3, 4, 5, 6, 7}).uid("id").hardware_version("hw")
                            .product_type("type").bytes;
    dev.program(0, before);
    const auto v = value();
    ASSERT_EQ(capture_call([&] { return GetParam().set(v.data()); }).status, 0);
    auto expected = before;
    std::copy_n(v.begin(), GetParam().size, expected.begin() + static_cast<long>(GetParam().offset));
    EXPECT_EQ(stored_record(), expected);
}

TEST_P(Setters, ReportAFailedRewrite)
{
    dev.failures[Call::Write] = EIO;
    const auto v = value();
    EXPECT_EQ(capture_call([&] { return GetParam().set(v.data()); }),
              (RunResult{GetParam().failure, "write: Input/output error\n", -1}));
}

TEST_P(Setters, WriteNothingWhenTheReadFails)
{
    dev.failures[Call::Read] = EIO;
    const auto v = value();
    EXPECT_EQ(capture_call([&] { return GetParam().set(v.data()); }),
              (RunResult{"qv_raw_read fail\n", "read: Input/output error\n", -1}));
    EXPECT_EQ(dev.count(Call::Erase), 0u);
    EXPECT_EQ(dev.count(Call::Write), 0u);
}

TEST_P(Setters, RefuseANullSource)
{
    EXPECT_EQ(capture_call([&] { return GetParam().set(nullptr); }),
              (RunResult{"invalid argument\n", "", -1}));
    EXPECT_TRUE(dev.calls.empty());
}

INSTANTIATE_TEST_SUITE_P(Fields, Setters, ::testing::ValuesIn(kSetters),
                         qvtest::ByName{});

TEST_F(FieldTest, AnUnreadableRecordIsNotRewritten)
{
    // Rewriting would store the garbage of the other fields as good data.
    fakemtd::Device nand(fakemtd::kNand);
    fakemtd::Install swap(nand);
    nand.unreadable_pages = {0};
    const char uid[32] = "53-20-01";
    EXPECT_EQ(capture_call([&] { return qvf_uid_set(uid); }),
              (RunResult{"qv_raw_read fail\n", "/dev/mtd3: uncorrectable ECC error\n", -1}));
    EXPECT_EQ(nand.count(Call::Erase), 0u);
    EXPECT_EQ(nand.count(Call::Write), 0u);
}

TEST_F(FieldTest, GettersReportAFailedRead)
{
    dev.present = false;
    const std::string err = "/dev/mtd3: No such file or directory\n";
    const RunResult failed{"qv_raw_read fail\n", err, -1};
    Text dst;
    std::array<unsigned char, 6> mac;
    EXPECT_EQ(capture_call([&] { return qvf_uid_get(dst.data(), 32); }), failed);
    EXPECT_EQ(capture_call([&] { return qvf_mac_get(mac.data()); }), failed);
    EXPECT_EQ(capture_call([&] { return qvf_prdt_get(dst.data()); }), failed);
    EXPECT_EQ(capture_call([&] { return qvf_hdv_get(dst.data()); }), failed);
}

} // namespace
