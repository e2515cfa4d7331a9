// hello's banner as the fixed text holds it. What hello prints, also when
// its output cannot be written, is compared with it by the rows of
// tests/cases/hello.cases.

#include "expected_texts.hpp"

#include <gtest/gtest.h>

namespace {

TEST(Hello, TheBannerHasItsShape)
{
    const std::string &banner = qvtest::expected::hello;
    EXPECT_EQ(banner.size(), 41u);
    EXPECT_EQ(banner.find_first_not_of('>'), 11u);
    EXPECT_EQ(banner.size() - 1 - banner.find_last_not_of("<\n"), 15u) << "fourteen '<' and the newline";
}

} // namespace
