#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/datetime.h"
#include "windows/news/news_logic.h"

namespace {

TEST(NewsLayout, SplitAndPaneHeightsStayWithinTheirBounds) {
  EXPECT_EQ(ClampSplitPercent(-20), 5);
  EXPECT_EQ(ClampSplitPercent(0), 5);
  EXPECT_EQ(ClampSplitPercent(100), 95);
  EXPECT_EQ(ClampSplitPercent(42.5), 42.5);
  EXPECT_EQ(ClampSplitPercent(std::nan("")), 50);

  EXPECT_EQ(HeadlinePaneHeight(400, 50, 5, true), 200);
  EXPECT_EQ(HeadlinePaneHeight(400, 95, 5, true), 380);
  EXPECT_EQ(HeadlinePaneHeight(100, 95, 5, true), 91);  // splitter and 4 pixels stay below
  EXPECT_EQ(HeadlinePaneHeight(400, 5, 5, true), 62);    // never lower than 62
  EXPECT_EQ(HeadlinePaneHeight(400, 5, 5, false), 400);

  EXPECT_EQ(HeadingColumnWidth(500, 20, 120, 100, 15, true), 500 - 20 - 2 - 120 - 2 - 100 - 6);
  EXPECT_EQ(HeadingColumnWidth(500, 20, 120, 100, 15, false), 500 - 20 - 2 - 120 - 2 - 100 - 6 - 15);
}

// The buttons of one row lie within the span, in order, none touching another.
void ExpectRow(const HeadlineButtonPlaces& p, std::vector<int> row, int left, int right, int y) {
  for (size_t k = 0; k < row.size(); ++k) {
    const int i = row[k];
    EXPECT_EQ(p.Y[i], y) << i;
    EXPECT_GE(p.X[i], left) << i;
    EXPECT_LE(p.X[i] + p.W[i], right) << i;
    if (k > 0) EXPECT_LT(p.X[row[k - 1]] + p.W[row[k - 1]], p.X[i]) << i;
  }
}

TEST(NewsLayout, HeadlineButtonsTakeOneRowThenCompactThenTwoRows) {
  const HeadlineButtonWidths natural{80, 70, 90, 60, 60, 75, 85, 50};
  const HeadlineButtonWidths compact{60, 50, 70, 45, 45, 55, 65, 40};
  const std::vector<int> all{0, 1, 2, 3, 4, 5, 6, 7};
  // Room enough: the buttons' own widths, "Select All" and "Detail" at the edges, the group in
  // the middle.
  HeadlineButtonPlaces p = PlaceHeadlineButtons(natural, compact, 2, 702, 10, 24, 2);
  EXPECT_EQ(p.Rows, 1);
  EXPECT_EQ(p.W, natural);
  ExpectRow(p, all, 2, 702, 10);
  EXPECT_EQ(p.X[0], 2);
  EXPECT_EQ(p.X[7] + p.W[7], 702);
  EXPECT_NEAR(p.X[1] - (p.X[0] + p.W[0]), p.X[7] - (p.X[6] + p.W[6]), 1);
  // Too narrow for them, wide enough for the compact ones: still one row.
  p = PlaceHeadlineButtons(natural, compact, 2, 502, 10, 24, 2);
  EXPECT_EQ(p.Rows, 1);
  EXPECT_EQ(p.W, compact);
  ExpectRow(p, all, 2, 502, 10);
  // Narrower still: the marking buttons between the edge ones, the refresh buttons and
  // "Preferences" centred below; down to the narrowest span the buttons claim.
  const int least = HeadlineButtonsMinWidth(compact);
  for (int span : {400, least}) {
    p = PlaceHeadlineButtons(natural, compact, 2, 2 + span, 10, 24, 2);
    EXPECT_EQ(p.Rows, 2) << span;
    EXPECT_EQ(p.W, compact);
    ExpectRow(p, {0, 1, 2, 3, 7}, 2, 2 + span, 10);
    ExpectRow(p, {4, 5, 6}, 2, 2 + span, 10 + 24 + 2);
    EXPECT_NEAR(p.X[4] - 2, 2 + span - (p.X[6] + p.W[6]), 1) << span;
  }
}

TEST(NewsLayout, BannerPartsDropInTheirOrder) {
  BannerRowWidths w;
  w.Banner = 468;
  w.Labels = 172;
  w.LeftPair = 88;
  w.Place3 = 120;
  w.Place4 = 120;
  w.RightPair = 88;
  BannerRowShown s = FitBannerRow(w, 2000);
  EXPECT_TRUE(s.Labels && s.LeftPair && s.Place3 && s.Place4 && s.RightPair);
  s = FitBannerRow(w, 468 + 88 + 120 + 120 + 88 + 4 * 4);
  EXPECT_TRUE(!s.Labels && s.LeftPair && s.Place3 && s.Place4 && s.RightPair);
  s = FitBannerRow(w, 468 + 88 + 120 + 120 + 3 * 4);
  EXPECT_TRUE(!s.Labels && !s.RightPair && s.LeftPair && s.Place3 && s.Place4);
  s = FitBannerRow(w, 468 + 120 + 4);
  EXPECT_TRUE(!s.Labels && !s.RightPair && !s.LeftPair && !s.Place4 && s.Place3);
  s = FitBannerRow(w, 300);
  EXPECT_FALSE(s.Labels || s.RightPair || s.LeftPair || s.Place4 || s.Place3);
  // Places without ads take no part.
  w.Place3 = w.LeftPair = 0;
  s = FitBannerRow(w, 2000);
  EXPECT_FALSE(s.Place3 || s.LeftPair);
}

TEST(NewsForce, WholeSymbolsOnlyAndNoDuplicates) {
  std::string list;
  EXPECT_EQ(PrependForceSymbols(list, {"IBM"}), 1);
  EXPECT_EQ(list, "IBM");
  // "IBMX" and "XIBM" hold "IBM" as text but are other symbols.
  list = "IBMX XIBM ";
  EXPECT_EQ(PrependForceSymbols(list, {"IBM"}), 1);
  EXPECT_EQ(list, "IBM IBMX XIBM");
  EXPECT_EQ(PrependForceSymbols(list, {"IBM", "XIBM", "  "}), 0);
  EXPECT_EQ(list, "IBM IBMX XIBM");
  // A batch goes in as one prepend after the other: the last first, each once.
  EXPECT_EQ(PrependForceSymbols(list, {" AAA", "IBM", "BBB", "AAA", "CCC "}), 3);
  EXPECT_EQ(list, "CCC BBB AAA IBM IBMX XIBM");

  EXPECT_EQ(HandOverSymbols("|IBM||MSFT||IBM|"), (std::vector<std::string>{"IBM", "MSFT"}));
  EXPECT_TRUE(HandOverSymbols("").empty());
  EXPECT_TRUE(HandOverSymbols("||").empty());
}

TEST(NewsCaptionText, LaterOfTheTwoTimesOrNeverChecked) {
  EXPECT_EQ(NewsCaption("", 0, 0), "News");
  EXPECT_EQ(NewsCaption("IBM", 0, 0), "News for IBM - never checked yet");
  const TDateTime checked = EncodeDate(2024, 6, 11) + (10 * 60 + 31) / 1440.0;
  const TDateTime unread = EncodeDate(2024, 6, 10);
  EXPECT_EQ(NewsCaption("IBM", checked, unread), "News for IBM last checked on Jun 11, 2024 at 10:31 Eastern Time");
  EXPECT_EQ(NewsCaption("IBM", unread, checked), "News for IBM last checked on Jun 11, 2024 at 10:31 Eastern Time");
  EXPECT_EQ(NewsCaption("IBM", EncodeDate(1989, 12, 31), 0), "News for IBM - never checked yet");

  // A headline dated after the market clock never moves the caption into the future.
  TestClock clock(1718116260000);  // 2024-06-11 14:31 UTC: 10:31 Eastern
  ScopedClock use(clock);
  EXPECT_EQ(NewsCaption("IBM", checked, EncodeDate(9999, 12, 31)),
            "News for IBM last checked on Jun 11, 2024 at 10:31 Eastern Time");
  EXPECT_EQ(NewsCaption("IBM", 0, EncodeDate(2024, 6, 12)), "News for IBM - never checked yet");
  EXPECT_EQ(NewsCaption("IBM", unread, checked - 1.0 / 1440),
            "News for IBM last checked on Jun 11, 2024 at 10:30 Eastern Time");
}

}  // namespace
