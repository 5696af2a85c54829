#include <gtest/gtest.h>

#include "core/market_clock.h"
#include "platform/clock.h"

namespace {

int64_t UtcMs(int y, int mo, int d, int h, int mi, int s) {
  return DateTimeToUnixMs(EncodeDate(y, mo, d) + EncodeTime(h, mi, s, 0));
}

std::string Text(TDateTime t) { return FormatDateTime("yyyy-mm-dd hh:nn:ss", t); }

}  // namespace

TEST(MarketClock, FollowsBothDaylightSavingSwitches) {
  TestClock clock;
  ScopedClock scoped(clock);
  struct Case {
    int64_t utc;
    const char* eastern;
  } cases[] = {
      // Spring forward 2024-03-10: 02:00 EST becomes 03:00 EDT.
      {UtcMs(2024, 3, 10, 6, 59, 59), "2024-03-10 01:59:59"},
      {UtcMs(2024, 3, 10, 7, 0, 0), "2024-03-10 03:00:00"},
      // Fall back 2024-11-03: 02:00 EDT becomes 01:00 EST.
      {UtcMs(2024, 11, 3, 5, 59, 59), "2024-11-03 01:59:59"},
      {UtcMs(2024, 11, 3, 6, 0, 0), "2024-11-03 01:00:00"},
      // Across midnight and the year's end in standard time.
      {UtcMs(2025, 1, 1, 3, 30, 0), "2024-12-31 22:30:00"},
      {UtcMs(2024, 7, 4, 14, 0, 0), "2024-07-04 10:00:00"},
  };
  for (const Case& c : cases) {
    clock.SetUtcMs(c.utc);
    EXPECT_EQ(Text(MarketNow()), c.eastern);
    EXPECT_EQ(Text(EasternFromUtcMsByRule(c.utc)), c.eastern);
  }
}

TEST(MarketClock, RuleFallbackAgreesWithTheZoneDatabase) {
  // Every 3 hours from 2008 to 2030, plus the minutes around each switch.
  const int64_t from = UtcMs(2008, 1, 1, 0, 0, 0);
  const int64_t to = UtcMs(2031, 1, 1, 0, 0, 0);
  for (int64_t t = from; t < to; t += 3 * 3600000LL)
    ASSERT_EQ(Text(EasternFromUtcMsByRule(t)), Text(EasternFromUtcMs(t))) << t;
  for (int y = 2008; y <= 2030; ++y)
    for (int64_t base : {UtcMs(y, 3, 8, 6, 0, 0), UtcMs(y, 11, 1, 5, 0, 0)})
      for (int64_t t = base; t < base + 8 * 86400000LL; t += 15 * 60000)
        ASSERT_EQ(Text(EasternFromUtcMsByRule(t)), Text(EasternFromUtcMs(t))) << t;
}

TEST(MarketClock, SynchronisedOffsetAppliesToTheLocalClock) {
  TestClock clock(UtcMs(2024, 5, 6, 12, 0, 0));
  ScopedClock scoped(clock);
  ClockSynced = true;
  EtOffsetCache = 0.25;
  EXPECT_NEAR(MarketNow() - LocalNow(), 0.25, 1e-9);
  ClockSynced = false;
  EtOffsetCache = 0.0;
  EXPECT_EQ(Text(MarketNow()), "2024-05-06 08:00:00");
}

TEST(MarketClock, WeekendIsJudgedOnEasternTime) {
  TestClock clock;
  ScopedClock scoped(clock);
  clock.SetUtcMs(UtcMs(2024, 3, 9, 4, 30, 0));  // Friday 23:30 Eastern, Saturday in UTC
  EXPECT_FALSE(IsWeekend());
  clock.SetUtcMs(UtcMs(2024, 3, 9, 17, 0, 0));  // Saturday
  EXPECT_TRUE(IsWeekend());
  clock.SetUtcMs(UtcMs(2024, 3, 11, 3, 0, 0));  // Sunday 23:00 Eastern, Monday in UTC
  EXPECT_TRUE(IsWeekend());
  clock.SetUtcMs(UtcMs(2024, 3, 11, 4, 0, 0));  // Monday 00:00 Eastern
  EXPECT_FALSE(IsWeekend());
}
