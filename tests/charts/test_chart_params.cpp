// The per-symbol settings line: round trip, older layouts, limits, and pruning.
#include <gtest/gtest.h>

#include <cmath>

#include "charts/chart_caption.h"
#include "charts/chart_params.h"
#include "core/settings_file.h"
#include "platform/string_list.h"

TEST(ChartParams, RoundTripAndDefaultLine) {
  ChartSettings s;
  s.Left = 12;
  s.Top = 34;
  s.Width = 640;
  s.Height = 480;
  s.Period = PeriodCustom;
  s.CustomMinutes = 90;
  s.ShowBottom = false;
  s.SplitRatio = 0.5f;
  s.IndName[2] = "Horiz. Line";
  s.IndParam[0][2] = 0.25;
  s.IndParam[1][2] = 1;
  s.IndName[6] = "Slow Stoch.";
  s.IndParam[2][6] = 7;
  s.IndicatorsOn = false;
  const std::string line = BuildChartParams(s, 45356.5);
  ChartSettings back;
  ParseChartParams(line, true, false, back);
  EXPECT_EQ(BuildChartParams(back, 45356.5), line);
  EXPECT_EQ(back.IndParam[0][2], 0.25);  // a level below 1 survives

  const std::string def = BuildChartParams(ChartSettings(), 1.5);
  EXPECT_EQ(def.substr(def.find(",1001,")),
            ",1001,Y,0.660000026226044,Y,!***NONE***,10,10,10,***NONE***,10,10,10,***NONE***,10,10,10,"
            "***NONE***,10,10,10,***NONE***,10,10,10,Volume,5,10,3,Y,Y,10,1.5,");
  // Another symbol's (the default) line keeps the window's own position.
  ChartSettings other;
  other.Left = 1;
  other.Top = 2;
  ParseChartParams(line, false, false, other);
  EXPECT_EQ(other.Left, 1);
  EXPECT_EQ(other.Width, 640);
}

TEST(ChartParams, OlderLayoutsAndBadFieldsNeverAbort) {
  ChartSettings s;
  // Two parameters per slot, a zero parameter, and the slot-6 flag of an older layout.
  ParseChartParams("5,6,300,200,1002,N,0,Y,SMA,0,4,EMA,20,2,***NONE***,1,1,***NONE***,1,1,***NONE***,1,1,N,1,1,N,Y,",
                   true, false, s);
  EXPECT_EQ(s.Period, Period10Min);
  EXPECT_FALSE(s.ShowBottom);
  EXPECT_FLOAT_EQ(s.SplitRatio, 0.66f);
  EXPECT_EQ(s.IndParam[0][1], 10.0);
  EXPECT_EQ(s.IndParam[2][1], 10.0);
  EXPECT_EQ(s.IndName[6], "Volume");
  EXPECT_FALSE(s.IndicatorsOn);

  ChartSettings t;
  ParseChartParams("x,y,abc,99999999,77,Y,7.5,Y,!Bogus,1e400,-3,nan,Fast Stoch.,1,1,1,Horiz. Line,-2,1,1,"
                   "SMA,5,5,5,EMA,5,5,5,Fast Stoch.,5000,0.2,3,Y,Y,99999,",
                   true, false, t);
  EXPECT_EQ(t.Period, PeriodAllDay);  // unknown command
  EXPECT_LE(t.Height, 10000);
  EXPECT_FLOAT_EQ(t.SplitRatio, 0.9f);
  EXPECT_EQ(t.IndName[1], IndNone);  // unknown name: the default
  EXPECT_EQ(t.IndName[2], IndNone);  // a stochastic is no price indicator
  EXPECT_EQ(t.IndParam[0][3], 10.0);  // a level must be above 0
  EXPECT_EQ(t.IndParam[0][6], 1000);
  EXPECT_EQ(t.IndParam[1][6], 1);
  EXPECT_EQ(t.CustomMinutes, 1440);

  // A chart without volume never takes volume indicators.
  ChartSettings idx;
  idx.SetIndicatorDefaults(true);
  ParseChartParams(BuildChartParams(ChartSettings(), 2.5), true, true, idx);
  EXPECT_EQ(idx.IndName[6], "MACD");
  ParseChartParams("", true, false, idx);  // nothing to read: unchanged
  EXPECT_EQ(idx.IndName[6], "MACD");
}

TEST(ChartParams, PruningRemovesTheLeastRecentlySaved) {
  TMyIniFile& ini = Ini();
  ini.EraseSection("Charts");
  ChartSettings s;
  // Key names run against saving times, so that alphabetical order would prune the newest.
  for (int i = 0; i < 80; ++i) {
    char key[8];
    std::snprintf(key, sizeof key, "S%02d", 79 - i);
    ini.WriteString("Charts", key, BuildChartParams(s, 45000.0 + i));
  }
  SaveChartParams("NEW", BuildChartParams(s, 46000));  // a new symbol never prunes
  StringList keys;
  ini.ReadSection("Charts", keys);
  EXPECT_EQ(keys.Count(), 81);
  ini.DeleteKey("Charts", "NEW");
  SaveChartParams("S79", BuildChartParams(s, 46000));  // the oldest line, saved again
  ini.ReadSection("Charts", keys);
  EXPECT_EQ(keys.Count(), 65);
  EXPECT_NE(ini.ReadString("Charts", "S79", "-"), "-");
  EXPECT_NE(ini.ReadString("Charts", "S00", "-"), "-");  // the newest stay
  EXPECT_EQ(ini.ReadString("Charts", "S78", "-"), "-");  // the oldest went
  ini.EraseSection("Charts");
}

TEST(ChartParams, IndicatorParametersFollowTheirType) {
  EXPECT_EQ(ClampIndParam("Horiz. Line", 0, 0.25), 0.25);  // a level below 1 is a price
  EXPECT_EQ(ClampIndParam("Horiz. Line", 0, 0), 10);
  EXPECT_EQ(ClampIndParam("Horiz. Line", 1, 0), 0);  // the "Adjust Scale" flag off
  EXPECT_EQ(ClampIndParam("SMA", 0, 0.5), 1);
  EXPECT_EQ(ClampIndParam("Slow Stoch.", 2, 5000), 1000);
  EXPECT_EQ(ClampIndParam("MACD", 1, 5000), 5000);
  EXPECT_EQ(ClampIndParam("RSI", 0, std::nan("")), 10);
}

TEST(ChartCaption, StockIndexAndPortfolio) {
  EXPECT_EQ(PeriodText(PeriodAllDay, 10), "All");
  EXPECT_EQ(PeriodText(Period2Hours, 10), "2h");
  EXPECT_EQ(PeriodText(PeriodCustom, 90), "1h30m");
  EXPECT_EQ(ChartCaption(ChartKind::Stock, "ABC", 25.5, false, Period10Min, 10), "ABC: 25.5 (10m)");
  EXPECT_EQ(ChartCaption(ChartKind::Index, "Industrials", 10500.256, false, PeriodAllDay, 10),
            "Industrials: 10500.26 (All)");
  EXPECT_EQ(ChartCaption(ChartKind::Portfolio, "My Port", 1234.5, false, Period1Hour, 10), "My Port: $1234.50 (1h)");
  EXPECT_EQ(ChartCaption(ChartKind::Portfolio, "My Port", -2.5, true, PeriodCustom, 45), "My Port: -2.50% (45m)");
}

TEST(ChartCaption, ResearchAddressIsEncodedAndWebOnly) {
  EXPECT_EQ(ChartResearchAddress("RESEARCH......  https://x.test/q?s=##STOCKS## ", "A&B"),
            "https://x.test/q?s=A%26B");
  EXPECT_EQ(ChartResearchAddress("RESEARCH......javascript:alert(1)", "A"), "");
  EXPECT_EQ(ChartResearchAddress("RESEARCH......http://x.test/a b", "A"), "");
}
