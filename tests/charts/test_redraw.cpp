// The chart redraw without a display: incremental against full, the sliding window, the spike
// filter, and the axes.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "chart_test_data.h"
#include "charts/chart_redraw.h"

using namespace charttest;

namespace {

struct Chart {
  std::array<SeriesPoints, 8> price;
  std::array<SeriesPoints, 3> bottom;
  ChartRedraw redraw;
  Chart()
      : redraw({&price[0], &price[1], &price[2], &price[3], &price[4], &price[5], &price[6], &price[7]},
               {&bottom[0], &bottom[1], &bottom[2]}) {}
};

ChartSettings AllIndicators(int period) {
  ChartSettings s;
  s.Period = period;
  s.CustomMinutes = 45;
  s.IndName[1] = "SMA";
  s.IndName[2] = "EMA";
  s.IndName[3] = "PV Trend";
  s.IndName[4] = "Bollinger High";
  s.IndName[5] = "Bollinger Low";
  s.IndName[6] = "Slow Stoch.";
  return s;
}

bool Same(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

void ExpectSameSeries(const SeriesPoints& a, const SeriesPoints& b, const char* what) {
  ASSERT_EQ(a.Count(), b.Count()) << what;
  for (int i = 0; i < a.Count(); ++i) {
    ASSERT_EQ(a.X(i), b.X(i)) << what << " point " << i;
    ASSERT_TRUE(Same(a.Y(i), b.Y(i))) << what << " point " << i << ": " << a.Y(i) << " vs " << b.Y(i);
  }
}

}  // namespace

TEST(Redraw, ManyIncrementalRedrawsEqualOneFullRedraw) {
  std::mt19937 rng(3);
  RedrawEnv env;
  for (int period : {PeriodAllDay, Period10Min, PeriodCustom}) {
    for (bool withGaps : {false, true}) {
      ChartSettings s = AllIndicators(period);
      VectorSource src;
      Chart inc;
      auto all = RandomWalk(rng, 1500, At(9, 30), 40);
      // Spikes and missing quotes along the way.
      for (size_t i = 50; i < all.size(); i += 97) all[i].Last *= 1.6f;
      if (withGaps)
        for (size_t i = 10; i < all.size(); i += 13) all[i].Bid = all[i].Ask = 0;
      // Every batch adds something, so the last incremental call really redraws.
      std::uniform_int_distribution<int> batch(1, 40);
      size_t next = 0;
      RedrawResult last;
      while (next < all.size()) {
        const size_t n = std::min(all.size(), next + static_cast<size_t>(batch(rng)));
        for (; next < n; ++next) src.Append(all[next]);
        last = inc.redraw.AddToChart(false, &src, s, false, env);
        ASSERT_TRUE(last.Error.empty()) << last.Error;
      }
      Chart full;
      const RedrawResult r = full.redraw.AddToChart(true, &src, s, false, env);
      for (int k = 0; k < 8; ++k) ExpectSameSeries(inc.price[k], full.price[k], "price");
      for (int k = 0; k < 3; ++k) ExpectSameSeries(inc.bottom[k], full.bottom[k], "bottom");
      EXPECT_EQ(inc.redraw.PriceMin, full.redraw.PriceMin);
      EXPECT_EQ(inc.redraw.PriceMax, full.redraw.PriceMax);
      EXPECT_EQ(inc.redraw.TimeMin, full.redraw.TimeMin);
      ASSERT_FALSE(last.Skipped);
      EXPECT_FALSE(last.WasFull);
      EXPECT_EQ(last.PriceIncrement, r.PriceIncrement);
      EXPECT_EQ(last.PriceAxisMin, r.PriceAxisMin);
      EXPECT_EQ(last.PriceAxisMax, r.PriceAxisMax);
      EXPECT_EQ(last.BottomAxisMin, r.BottomAxisMin);
      EXPECT_EQ(last.BottomAxisMax, r.BottomAxisMax);
      EXPECT_EQ(last.TimeAxisMax, r.TimeAxisMax);
      EXPECT_GT(full.price[7].Count(), 0);
      EXPECT_GT(full.bottom[1].Count(), 0);
    }
  }
}

TEST(Redraw, NoSourceGivesAnEmptyDrawableChart) {
  Chart c;
  ChartSettings s;
  s.IndName[6] = "MACD";
  RedrawEnv env;
  const RedrawResult r = c.redraw.AddToChart(false, nullptr, s, false, env);
  EXPECT_TRUE(r.Error.empty());
  EXPECT_FALSE(r.Skipped);
  EXPECT_TRUE(r.NoData);
  // The unit ranges of an empty chart, not the "not yet drawn" markers.
  EXPECT_EQ(c.redraw.PriceMin, 0);
  EXPECT_EQ(c.redraw.PriceMax, 1);
  EXPECT_LT(r.PriceAxisMin, 0);
  EXPECT_GT(r.PriceAxisMax, 1);
  EXPECT_GT(r.PriceIncrement, 0);
  EXPECT_EQ(r.TimeAxisMin, 0);
  EXPECT_GT(r.TimeAxisMax, 1);
  EXPECT_EQ(r.BottomAxisMin, 0);
  EXPECT_GT(r.BottomAxisMax, 0);
  EXPECT_GT(r.BottomIncrement, 0);
}

TEST(Redraw, WindowFollowsTheLastSnapshotAndSlides) {
  VectorSource src;
  Chart c;
  ChartSettings s;
  s.Period = Period10Min;
  RedrawEnv env;
  // An hour of snapshots, the last an hour ago on the clock: the window still shows its ten
  // minutes.
  for (int m = 0; m < 60; ++m) src.Append(Snap(At(9, m), 10.0f + m * 0.01f, 10, 10.1f, 0));
  c.redraw.AddToChart(false, &src, s, false, env);
  ASSERT_EQ(c.price[0].Count(), 11);
  EXPECT_NEAR(c.price[0].X(0), At(9, 49), 1e-9);
  for (int m = 60; m < 70; ++m) src.Append(Snap(At(9, m), 10.0f, 10, 10.1f, 0));
  const RedrawResult r = c.redraw.AddToChart(false, &src, s, false, env);
  EXPECT_FALSE(r.WasFull);
  ASSERT_EQ(c.price[0].Count(), 11);
  EXPECT_NEAR(c.price[0].X(0), At(9, 59), 1e-9);
  EXPECT_EQ(c.price[1].Count(), 11);  // bid and ask leave together with the price
  // Nothing new: the call returns at once.
  EXPECT_TRUE(c.redraw.AddToChart(false, &src, s, false, env).Unchanged);
  // A lock that is not obtained changes nothing.
  src.Refuse = true;
  src.Append(Snap(At(10, 10), 11, 10, 10.1f));
  EXPECT_TRUE(c.redraw.AddToChart(false, &src, s, false, env).Skipped);
  EXPECT_EQ(c.price[0].Count(), 11);
}

TEST(Redraw, SpikesAreDrawnFlatAndNeverBecomeTheReference) {
  VectorSource src;
  Chart c;
  ChartSettings s;
  RedrawEnv env;  // 30 %
  src.Append(Snap(At(10, 0), 10, 9.9f, 10.1f));
  src.Append(Snap(At(10, 1), 20, 19.9f, 20.1f));  // +100 %: spike
  c.redraw.AddToChart(false, &src, s, false, env);
  // Snapshot 2 is compared with the last plotted price 10, not with the spike's 20.
  src.Append(Snap(At(10, 2), 12, 11.9f, 12.1f));
  src.Append(Snap(At(10, 3), 0, 0, 0));  // a zero price after a real one: spike for a stock
  const RedrawResult r = c.redraw.AddToChart(false, &src, s, false, env);
  ASSERT_EQ(c.price[0].Count(), 4);
  EXPECT_EQ(c.price[0].Y(1), 10);
  EXPECT_EQ(c.price[0].Y(2), 12);
  EXPECT_EQ(c.price[0].Y(3), 12);
  EXPECT_EQ(c.price[1].Y(1), 9.9f);
  EXPECT_LT(r.PriceAxisMax, 12.5);  // the spike never widened the range
  // An index chart draws the same jumps.
  Chart idx;
  idx.redraw.AddToChart(true, &src, s, true, env);
  EXPECT_EQ(idx.price[0].Y(1), 20);
  EXPECT_EQ(idx.price[0].Y(3), 0);
}

TEST(Redraw, MissingBidAndAskNeitherFreezeNorSquashTheChart) {
  VectorSource src;
  Chart c;
  ChartSettings s;
  RedrawEnv env;
  for (int m = 0; m < 5; ++m) src.Append(Snap(At(10, m), 10.0f + m * 0.5f, 0, 0));  // no bid/ask
  const RedrawResult r = c.redraw.AddToChart(false, &src, s, false, env);
  ASSERT_EQ(c.price[0].Count(), 5);
  EXPECT_EQ(c.price[0].Y(4), 12);  // the price moves on
  EXPECT_TRUE(std::isnan(c.price[1].Y(2)));  // a gap, not a line at 0
  EXPECT_GT(r.PriceAxisMin, 9);
  // Bid and ask turning up later are drawn, and do not count as a jump from nothing.
  src.Append(Snap(At(10, 5), 12.5f, 12.4f, 12.6f));
  c.redraw.AddToChart(false, &src, s, false, env);
  EXPECT_EQ(c.price[0].Y(5), 12.5);
  EXPECT_FLOAT_EQ(c.price[1].Y(5), 12.4f);
}

TEST(Redraw, EmptyOneAndShortenedLists) {
  VectorSource src;
  Chart c;
  ChartSettings s;
  RedrawEnv env;
  RedrawResult r = c.redraw.AddToChart(false, &src, s, false, env);
  EXPECT_TRUE(r.NoData);
  EXPECT_EQ(r.PriceAxisMin < 0.01 && r.PriceAxisMax > 0.99, true);
  EXPECT_EQ(r.TimeAxisMin, 0);
  EXPECT_GT(r.TimeAxisMax, 1);
  src.Append(Snap(At(10, 0), 10));
  r = c.redraw.AddToChart(false, &src, s, false, env);
  EXPECT_TRUE(r.NoData);
  src.Append(Snap(At(10, 1), 10.2f));
  r = c.redraw.AddToChart(false, &src, s, false, env);
  EXPECT_FALSE(r.NoData);
  // The list emptied (chart cleared) and refilled with one snapshot: a full redraw.
  src.Items.clear();
  src.Append(Snap(At(11, 0), 20));
  r = c.redraw.AddToChart(false, &src, s, false, env);
  EXPECT_TRUE(r.WasFull);
  EXPECT_EQ(c.price[0].Count(), 1);
  // The last plotted snapshot replaced in place (same second) is noticed too.
  src.Append(Snap(At(11, 1), 21));
  c.redraw.AddToChart(false, &src, s, false, env);
  src.Items.back().Last = 22;
  src.Append(Snap(At(11, 2), 23));
  r = c.redraw.AddToChart(false, &src, s, false, env);
  EXPECT_TRUE(r.WasFull);
  EXPECT_EQ(c.price[0].Y(1), 22);
}

TEST(Redraw, AxisSteps) {
  // 10.00 .. 10.50, 150 px, text 13: raw 0.0748 -> 0.1, or 1/8 with fractions.
  const double rows = (150 - 19.5) / 19.5;
  EXPECT_EQ(PriceIncrement(0.5 / rows, false), 0.1);
  EXPECT_EQ(PriceIncrement(0.5 / rows, true), 0.125);
  EXPECT_EQ(PriceIncrement(20000, false), 10000);
  EXPECT_EQ(PriceIncrement(7, true), 7);
  EXPECT_EQ(BottomIncrement(0.000015), 0.00002);
  EXPECT_EQ(BottomIncrement(3), 5);

  VectorSource src;
  Chart c;
  ChartSettings s;
  s.IndName[1] = "Horiz. Line";
  s.IndParam[0][1] = 50;
  s.IndParam[1][1] = 0;  // no "Adjust Scale"
  s.IndName[6] = "MACD";
  RedrawEnv env;
  for (int m = 0; m < 6; ++m) src.Append(Snap(At(10, m), 0.02f + 0.001f * m * (m % 2)));
  RedrawResult r = c.redraw.AddToChart(false, &src, s, false, env);
  EXPECT_TRUE(r.SmallPriceFormat);
  EXPECT_LT(r.PriceAxisMax, 1);  // the line at 50 does not widen the scale
  EXPECT_EQ(c.price[3].Count(), 6);
  EXPECT_EQ(r.BottomAxisMin, -r.BottomAxisMax);
  EXPECT_EQ(r.BottomTitle, "MACD(5,10,3)");
  s.IndParam[1][1] = 1;
  r = c.redraw.AddToChart(true, &src, s, false, env);
  EXPECT_GT(r.PriceAxisMax, 50);
}
