// The bounded decimal parser at the edges its callers' tests do not reach.
// Digits, signs, leading zeros and a bound of 32 bits or of a port map are
// theirs: mdiorw's numbers (mdiorw_test), kez-tool's ports (kez-tool.cases,
// kez_tool_test), the stand-in switch's clock (kez_sim_test).

#include "capture.hpp"
#include "decimal.hpp"

#include <gtest/gtest.h>

namespace {

QVTEST_PRINT_CASES_BY_NAME()

static_assert(qv::parse_decimal("3600", 3600) == 3600u, "usable where a constant is needed");

struct DecimalCase {
    const char *name;
    const char *text;
    uint64_t max;
    qv::DecimalScan scan; // what scan_decimal gives
    bool parsed;          // whether parse_decimal gives the scan's value
};

class Decimal : public testing::TestWithParam<DecimalCase> {};

TEST_P(Decimal, ScansAndParses)
{
    const DecimalCase &c = GetParam();
    const qv::DecimalScan scan = qv::scan_decimal(c.text, c.max);
    EXPECT_EQ(scan.value, c.scan.value);
    EXPECT_EQ(scan.whole, c.scan.whole);
    EXPECT_EQ(qv::parse_decimal(c.text, c.max), c.parsed ? std::optional(c.scan.value) : std::nullopt);
}

constexpr uint64_t kMost = UINT64_MAX;

INSTANTIATE_TEST_SUITE_P(Texts, Decimal, testing::Values(
    DecimalCase{"a_digit_past_a_bound_below_nine", "7", 5, {0, false}, false},
    DecimalCase{"the_most_64_bits_hold", "18446744073709551615", kMost, {kMost, true}, true},
    DecimalCase{"one_more", "18446744073709551616", kMost, {1844674407370955161, false}, false}),
    qvtest::ByName{});

} // namespace
