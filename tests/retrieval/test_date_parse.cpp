// Times and dates read from pages, against a market clock set to Saturday 2024-06-15 12:00 ET.
#include <gtest/gtest.h>

#include <cmath>

#include "core/market_clock.h"
#include "platform/clock.h"
#include "retrieval/date_parse.h"

namespace {

class DateParse : public ::testing::Test {
protected:
  // 16:00 UTC is 12:00 in New York under daylight saving time.
  TestClock clock{DateTimeToUnixMs(EncodeDate(2024, 6, 15) + EncodeTime(16, 0, 0, 0))};
  ScopedClock scoped{clock};
};

double Hms(int h, int m, int s = 0) { return (h * 3600.0 + m * 60 + s) / 86400.0; }

TEST_F(DateParse, TimesOfDay) {
  ASSERT_NEAR(MarketNow(), EncodeDate(2024, 6, 15) + 0.5, 1e-6);
  const struct {
    const char* text;
    double want;
  } cases[] = {
      {"4:05pm", Hms(16, 5)},      {"4:05 P.M.", Hms(16, 5)},   {"12:00 AM", 0},
      {"12:15am", Hms(0, 15)},     {"12:30 PM", Hms(12, 30)},   {"10:30:15 AM", Hms(10, 30, 15)},
      {"23:59:59", Hms(23, 59, 59)}, {"093015", Hms(9, 30, 15)}, {"163000", Hms(16, 30)},
      {"Last trade 9:45 ET", Hms(9, 45)}, {"4 PM", Hms(16, 0)},
      {"", 0}, {"abc", 0}, {"25:00", 0}, {"13:00 PM", 0}, {"0:00 AM", 0}, {"9:5", 0}, {"1234", 0},
  };
  for (const auto& c : cases) EXPECT_NEAR(ParseTimeText(c.text, true), c.want, 1e-9) << c.text;
  // Without the flag an unreadable text gives the market clock's time of day.
  EXPECT_NEAR(ParseTimeText("", false), 0.5, 1e-6);
  EXPECT_NEAR(ParseTimeText("n/a", false), 0.5, 1e-6);
  EXPECT_NEAR(ParseTimeText("4:05pm", false), Hms(16, 5), 1e-9);
}

TEST_F(DateParse, DatesWithNamesNumbersAndTheYearBackRule) {
  const struct {
    const char* text;
    int y, m, d;  // y 0: the result is 0
  } cases[] = {
      {"Jun 14, 2024", 2024, 6, 14},
      {"June 4th, 24", 2024, 6, 4},
      {"5th March 1999", 1999, 3, 5},
      {"Tuesday, June 4th 2024 10:30", 2024, 6, 4},
      {"Sept 1st, 2023", 2023, 9, 1},
      {"6/4/2024", 2024, 6, 4},
      {"6-4-69", 2069, 6, 4},
      {"6/4/70", 1970, 6, 4},
      {"2024-06-04", 2024, 6, 4},
      {"Mar 3", 2024, 3, 3},             // missing year: the market clock's
      {"6/16", 2024, 6, 16},             // one day ahead is still this year
      {"Jun 17", 2023, 6, 17},           // more than a day ahead: a year earlier
      {"Dec 31st", 2023, 12, 31},
      {"Jun 20, 2024", 2024, 6, 20},     // a written year is kept
      {"13/40/2024", 0, 0, 0},
      {"Feb 30 2024", 0, 0, 0},
      {"nonsense", 0, 0, 0},
      {"", 0, 0, 0},
  };
  for (const auto& c : cases) {
    double want = c.y ? EncodeDate(c.y, c.m, c.d) : 0.0;
    EXPECT_DOUBLE_EQ(ParseDateText(c.text, true), want) << c.text;
  }
  EXPECT_DOUBLE_EQ(ParseDateText("nonsense", false), EncodeDate(2024, 6, 15));
}

}  // namespace
