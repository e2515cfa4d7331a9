// hello's banner, and a run whose output cannot be written.

#include "capture.hpp"
#include "expected_texts.hpp"
#include "hello.hpp"

#include <gtest/gtest.h>

namespace {

using qvtest::RunResult;

TEST(Hello, PrintsTheBanner)
{
    const RunResult r = qvtest::run_tool(program_main, {"hello", "ignored"});
    EXPECT_EQ(r, (RunResult{qvtest::expected::hello, "", 0}));
    EXPECT_EQ(r.out.size(), 41u);
    EXPECT_EQ(r.out.find_first_not_of('>'), 11u);
    EXPECT_EQ(r.out.size() - 1 - r.out.find_last_not_of("<\n"), 15u) << "fourteen '<' and the newline";
}

class HelloUnwritten : public testing::TestWithParam<qvtest::FailingOutput> {};

TEST_P(HelloUnwritten, FailsTheRun)
{
    EXPECT_EQ(qvtest::run_tool(program_main, {"hello"}, nullptr, GetParam().error),
              (RunResult{"", std::string("hello: write error: ") + GetParam().text + "\n", 255}));
}

INSTANTIATE_TEST_SUITE_P(Outputs, HelloUnwritten, testing::ValuesIn(qvtest::kFailingOutputs),
                         qvtest::ByName{});

} // namespace
