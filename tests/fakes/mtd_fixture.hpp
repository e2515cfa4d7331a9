#pragma once

#include "capture.hpp"
#include "fake_mtd.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace qvtest {

inline constexpr size_t kRecordSize = 104;

// A caller's buffer for the whole record.
using Record = std::array<uint8_t, kRecordSize>;

// The flash as it leaves the factory's programmer: every byte erased.
inline const std::vector<uint8_t> kBlankFlash(kRecordSize, 0xFF);

// Builds record bytes: fields given as text are NUL-padded; a field left
// empty is left as erased flash (0xFF).
struct RecordBytes {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(kRecordSize, 0xFF);

    RecordBytes &mac(std::vector<uint8_t> field)
    {
        std::copy(field.begin(), field.end(), bytes.begin());
        return *this;
    }
    RecordBytes &text(size_t offset, const std::string &value)
    {
        std::fill_n(bytes.begin() + static_cast<long>(offset), 32, 0);
        memcpy(bytes.data() + offset, value.data(), std::min<size_t>(value.size(), 32));
        return *this;
    }
    RecordBytes &uid(const std::string &v) { return text(8, v); }
    RecordBytes &hardware_version(const std::string &v) { return text(40, v); }
    RecordBytes &product_type(const std::string &v) { return text(72, v); }
};

// A test with the fake /dev/mtd3 installed. NOR-like flash unless the
// fixture is given NAND geometry.
class MtdTest : public ::testing::Test {
protected:
    explicit MtdTest(fakemtd::Geometry g = fakemtd::kNor) : dev(g), install(dev) {}

    std::vector<uint8_t> flash(size_t from, size_t n) const
    {
        return {dev.flash.begin() + static_cast<long>(from),
                dev.flash.begin() + static_cast<long>(from + n)};
    }
    std::vector<uint8_t> stored_record() const { return flash(0, kRecordSize); }
    // True when every byte from `from` to the end of the partition is erased.
    bool erased_from(size_t from) const
    {
        for (size_t i = from; i < dev.flash.size(); ++i)
            if (dev.flash[i] != 0xFF)
                return false;
        return true;
    }

    fakemtd::Device dev;
    fakemtd::Install install;
};

} // namespace qvtest

// The words the tests over the fake flash share: `using namespace
// qvtest::flash_words;` in a test's own namespace.
namespace qvtest::flash_words {
using fakemtd::Call;
using fakemtd::Device;
using qvtest::capture_call;
using qvtest::MtdTest;
using qvtest::Record;
using qvtest::RecordBytes;
using qvtest::RunResult;
} // namespace qvtest::flash_words
