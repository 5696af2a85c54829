#include <gtest/gtest.h>

#include <limits>

#include "platform/datetime.h"

TEST(DateTime, EncodeDecodeRoundTripAndKnownDays) {
  EXPECT_DOUBLE_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_DOUBLE_EQ(EncodeDate(1900, 1, 1), 2.0);
  EXPECT_DOUBLE_EQ(EncodeDate(2000, 1, 1), 36526.0);
  EXPECT_EQ(DayOfWeek(EncodeDate(2026, 12, 6)), 1);  // a Sunday
  EXPECT_EQ(DayOfWeek(EncodeDate(1899, 12, 30)), 7);
  for (int y : {1950, 2000, 2024, 2100})
    for (int m = 1; m <= 12; ++m) {
      int yy, mm, dd;
      DecodeDate(EncodeDate(y, m, DaysInMonth(y, m)), yy, mm, dd);
      EXPECT_EQ(yy, y);
      EXPECT_EQ(mm, m);
      EXPECT_EQ(dd, DaysInMonth(y, m));
    }
  TDateTime out;
  EXPECT_FALSE(TryEncodeDate(2023, 2, 29, out));
  EXPECT_TRUE(TryEncodeDate(2024, 2, 29, out));
}

TEST(DateTime, TimeRoundsToTheMillisecondWithCarry) {
  int h, m, s, ms;
  DecodeTime(EncodeTime(23, 59, 59, 999), h, m, s, ms);
  EXPECT_EQ(h * 10000000 + m * 100000 + s * 1000 + ms, 235959999);
  // A value a hair below midnight is the next day at 00:00.
  TDateTime almost = EncodeDate(2024, 1, 1) + 1.0 - 1e-10;
  int y, mo, d;
  DecodeDate(almost, y, mo, d);
  DecodeTime(almost, h, m, s, ms);
  EXPECT_EQ(d, 2);
  EXPECT_EQ(h + m + s + ms, 0);
}

TEST(DateTime, FormatsTheSystemUses) {
  TDateTime t = EncodeDate(2024, 3, 5) + EncodeTime(14, 7, 9, 45);
  EXPECT_EQ(FormatDateTime("hh:mm:ss.zzz", t), "14:07:09.045");
  EXPECT_EQ(FormatDateTime("hh:mm:ss", t), "14:07:09");
  EXPECT_EQ(FormatDateTime("mmm dd,yyyy, hh:mm", t), "Mar 05,2024, 14:07");
  EXPECT_EQ(FormatDateTime("h:mm:ss am/pm", t), "2:07:09 pm");
  EXPECT_EQ(FormatDateTime("h:mm:ss AM/PM", EncodeTime(0, 5, 0, 0)), "12:05:00 AM");
  EXPECT_EQ(FormatDateTime("mm/dd/yyyy hh:mm:ss", t), "03/05/2024 14:07:09");
  EXPECT_EQ(FormatDateTime("m/d/yyyy", t), "3/5/2024");
  EXPECT_EQ(FormatDateTime("mm//dd/yyyy", t), "03//05/2024");
  EXPECT_EQ(FormatDateTime("mmm d, yyyy hh:mm:ss", t), "Mar 5, 2024 14:07:09");
  EXPECT_EQ(FormatDateTime("dddd, mmmm d, yyyy", t), "Tuesday, March 5, 2024");
  EXPECT_EQ(FormatDateTime("ddddd", t), "3/5/2024");
  EXPECT_EQ(FormatDateTime("dddddd", t), "Tuesday, March 5, 2024");
  EXPECT_EQ(FormatDateTime("yy", t), "24");
  EXPECT_EQ(FormatDateTime("'at' h:nn", t), "at 14:07");
  EXPECT_EQ(FormatDateTime("\"m\"m", t), "m3");
}

TEST(DateTime, UnixMillisecondsRoundTrip) {
  EXPECT_DOUBLE_EQ(UnixMsToDateTime(0), 25569.0);
  for (int64_t ms : {int64_t(0), int64_t(1733500000123), int64_t(-86400001)})
    EXPECT_EQ(DateTimeToUnixMs(UnixMsToDateTime(ms)), ms);
}

TEST(DateTime, ValuesBeyondAnyYearDecodeSafely) {
  EXPECT_TRUE(IsValidDateTime(EncodeDate(9999, 12, 31) + 0.5));
  EXPECT_TRUE(IsValidDateTime(EncodeDate(1, 1, 1)));
  for (double bad : {1e300, -1e300, 3e6, -7e5, std::numeric_limits<double>::infinity()}) {
    EXPECT_FALSE(IsValidDateTime(bad)) << bad;
    int y, m, d;
    DecodeDate(bad, y, m, d);
    EXPECT_EQ(y * 10000 + m * 100 + d, 18991230) << bad;
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:mm", bad), "1899-12-30 00:00");
  }
}
