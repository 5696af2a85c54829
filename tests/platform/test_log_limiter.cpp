#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/log_limiter.h"

// A flood of one kind gives its first few lines, then one count a minute; other kinds keep
// their own first few.
TEST(LogLimiter, FirstFewThenOneCountAMinute) {
  auto clock = std::make_unique<TestClock>();
  TestClock* c = clock.get();
  SetClock(c);
  std::vector<std::string> out;
  LogLimiter limiter([&](const std::string& line) { out.push_back(line); });
  for (int i = 0; i < 1000; ++i) limiter.Line("Bad", "bad " + std::to_string(i));
  ASSERT_EQ(out.size(), size_t(LogLimiter::FirstFew) + 1);
  EXPECT_EQ(out[0], "bad 0");
  EXPECT_EQ(out[4], "bad 4");
  EXPECT_EQ(out[5], "Bad: further lines of this kind are counted, one line a minute");
  limiter.Line("Other", "other");
  EXPECT_EQ(out.back(), "other");
  c->Advance(LogLimiter::PeriodMs);
  limiter.Line("Bad", "bad again");
  EXPECT_EQ(out.back(), "Bad: 996 more");
  for (int i = 0; i < 10; ++i) limiter.Line("Bad", "bad");
  EXPECT_EQ(out.back(), "Bad: 996 more");  // not before the next minute
  limiter.Flush();
  EXPECT_EQ(out.back(), "Bad: 10 more");
  const size_t before = out.size();
  limiter.Flush();  // nothing new to tell
  EXPECT_EQ(out.size(), before);
  SetClock(nullptr);
}
