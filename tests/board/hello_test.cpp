// hello's banner.

#include "capture.hpp"
#include "fixed_outputs.hpp"
#include "hello.hpp"

#include <gtest/gtest.h>

namespace {

using qvtest::RunResult;

TEST(Hello, PrintsTheBanner)
{
    const RunResult r = qvtest::run_tool(tool_main, {"hello", "ignored"});
    EXPECT_EQ(r, (RunResult{qvtest::kHelloOutput, "", 0}));
    EXPECT_EQ(r.out.size(), 41u);
    EXPECT_EQ(r.out.find_first_not_of('>'), 11u);
    EXPECT_EQ(r.out.size() - 1 - r.out.find_last_not_of("<\n"), 15u) << "fourteen '<' and the newline";
}

} // namespace
