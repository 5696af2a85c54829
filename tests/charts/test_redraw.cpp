// The chart redraw without a display: incremental against full, the sliding window, the spike
// filter, and the axes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <memory>
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

// The scale takes every indicator point still on the chart from the redraw before, EMA and
// PV Trend included, before they are computed again; a "Horiz. Line" only with "Adjust Scale".
TEST(Redraw, IndicatorPointsLeftOnTheChartWidenTheScale) {
  VectorSource src;
  Chart c;
  ChartSettings s;
  s.Period = Period10Min;
  s.IndName[1] = "EMA";
  s.IndParam[0][1] = 3;
  s.IndName[2] = "PV Trend";
  s.IndName[3] = "Horiz. Line";
  s.IndParam[0][3] = 500;
  s.IndParam[1][3] = 0;
  RedrawEnv env;
  // A fall on light volume, then a small rise on heavy volume: the volume flow peaks at the
  // end, so its line is drawn at the top of the scale, which the early high prices set.
  float volume = 0;
  for (int m = 0; m <= 5; ++m) src.Append(Snap(At(9, m), 110.0f - m * 2.0f, 0, 0, volume += 1));
  for (int m = 6; m <= 10; ++m) src.Append(Snap(At(9, m), 100.0f + (m - 5) * 0.2f, 0, 0, volume += 1e6f));
  c.redraw.AddToChart(false, &src, s, false, env);
  const SeriesPoints before[2] = {c.price[3], c.price[4]};
  ASSERT_GT(before[1].Count(), 0);
  // Five minutes later the high prices have left the window; the flow's points have not.
  for (int m = 11; m <= 16; ++m) src.Append(Snap(At(9, m), 101, 0, 0, volume += 1));
  const RedrawResult r = c.redraw.AddToChart(false, &src, s, false, env);
  ASSERT_FALSE(r.WasFull);
  const double start = c.price[0].X(0);
  double highestLeft = -1e9, highestPrice = -1e9;
  for (const SeriesPoints& p : before)
    for (int i = 0; i < p.Count(); ++i)
      if (p.X(i) >= start) highestLeft = std::max(highestLeft, p.Y(i));
  for (int i = 0; i < c.price[0].Count(); ++i) highestPrice = std::max(highestPrice, c.price[0].Y(i));
  ASSERT_GT(highestLeft, highestPrice + 1) << "the case needs indicator points above the prices";
  EXPECT_GE(c.redraw.PriceMax, highestLeft);
  // The line at 500 without "Adjust Scale" stays out of the scale.
  EXPECT_LT(c.redraw.PriceMax, 200);
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

namespace {

// Redraws after every snapshot and once in full; both must agree. Returns the full chart.
std::unique_ptr<Chart> IncrementalAndFull(const std::vector<ValueRec>& all, const ChartSettings& s, int filter,
                                          RedrawResult& full) {
  RedrawEnv env;
  env.FilterPercent = filter;
  VectorSource src;
  Chart inc;
  for (const ValueRec& r : all) {
    src.Append(r);
    inc.redraw.AddToChart(false, &src, s, false, env);
  }
  auto c = std::make_unique<Chart>();
  full = c->redraw.AddToChart(true, &src, s, false, env);
  for (int k = 0; k < 8; ++k) ExpectSameSeries(inc.price[k], c->price[k], "price");
  for (int k = 0; k < 3; ++k) ExpectSameSeries(inc.bottom[k], c->bottom[k], "bottom");
  EXPECT_EQ(inc.redraw.LastPrice, c->redraw.LastPrice);
  return c;
}

std::vector<ValueRec> Prices(std::initializer_list<float> prices) {
  std::vector<ValueRec> v;
  int k = 0;
  for (float p : prices) {
    v.push_back(Snap(At(10, 0, 10.0 * k), p, p - 0.05f, p + 0.05f, 100.0f * k));
    ++k;
  }
  return v;
}

}  // namespace

TEST(Redraw, AMoveThatHoldsIsTakenAfterThreeAgreeingSnapshots) {
  ChartSettings s;
  // +40 % and -35 % with Filter 30, -6 % with Filter 5: the line, the caption's price and the
  // scale follow the new level from the third snapshot at it.
  for (const auto& [filter, factor] : {std::pair{30, 1.40f}, std::pair{30, 0.65f}, std::pair{5, 0.94f}}) {
    std::vector<ValueRec> all;
    for (int k = 0; k < 20; ++k) {
      const float p = k < 10 ? 100.0f : 100.0f * factor + 0.01f * (k % 2);
      all.push_back(Snap(At(10, k), p, p - 0.05f, p + 0.05f, 100.0f * k));
    }
    RedrawResult r;
    const auto c = IncrementalAndFull(all, s, filter, r);
    SCOPED_TRACE(testing::Message() << "filter " << filter << " factor " << factor);
    EXPECT_EQ(c->price[0].Y(10), 100);  // the first two at the new level are held ...
    EXPECT_EQ(c->price[0].Y(11), 100);
    EXPECT_FLOAT_EQ(c->price[0].Y(12), all[12].Last);  // ... the third takes it
    EXPECT_FLOAT_EQ(c->price[0].Y(19), all[19].Last);
    EXPECT_FLOAT_EQ(c->redraw.LastPrice, all[19].Last);
    EXPECT_FLOAT_EQ(c->price[1].Y(19), all[19].Bid);
    EXPECT_LE(r.PriceAxisMin, std::min(100.0f, all[19].Last));
    EXPECT_GE(r.PriceAxisMax, std::max(100.0f, all[19].Last));
  }
}

TEST(Redraw, OneOrTwoBadTicksNeverMoveTheLine) {
  ChartSettings s;
  RedrawResult r;
  // A single bad tick, two that agree with each other, and two that do not.
  const auto one = Prices({50, 50.1f, 80, 50.2f, 50.1f});
  const auto c1 = IncrementalAndFull(one, s, 30, r);
  EXPECT_FLOAT_EQ(c1->price[0].Y(2), 50.1f);
  EXPECT_LT(r.PriceAxisMax, 51);
  const auto two = Prices({50, 50.1f, 80, 80.5f, 50.2f, 50.1f});
  const auto c2 = IncrementalAndFull(two, s, 30, r);
  EXPECT_FLOAT_EQ(c2->price[0].Y(2), 50.1f);
  EXPECT_FLOAT_EQ(c2->price[0].Y(3), 50.1f);
  EXPECT_FLOAT_EQ(c2->price[0].Y(4), 50.2f);
  EXPECT_LT(r.PriceAxisMax, 51);
  // A run that breaks up starts over: 80, 20, 80 never agree, so nothing is taken.
  const auto mixed = Prices({50, 80, 20, 80, 20, 50.3f});
  const auto c3 = IncrementalAndFull(mixed, s, 30, r);
  for (int i = 1; i <= 4; ++i) EXPECT_FLOAT_EQ(c3->price[0].Y(i), 50) << i;
  EXPECT_FLOAT_EQ(c3->redraw.LastPrice, 50.3f);
  // Zero prices never become a level, however many come in a row.
  const auto zeros = Prices({50, 0, 0, 0, 0});
  const auto c4 = IncrementalAndFull(zeros, s, 30, r);
  EXPECT_FLOAT_EQ(c4->price[0].Y(4), 50);
}

TEST(Redraw, ARejectedTickMovesNeitherOverlaysNorIndicatorsNorTheScale) {
  // A stock trading between 46 and 50, with one bad tick at 75.
  std::vector<ValueRec> good;
  for (int k = 0; k < 240; ++k) {
    const float p = 48.0f + 2.0f * static_cast<float>(std::sin(k / 9.0));
    good.push_back(Snap(At(9, 30, 30.0 * k), p, p - 0.05f, p + 0.05f, 1000.0f * k));
  }
  std::vector<ValueRec> bad = good;
  bad[150].Last = 75;
  bad[150].Bid = 74.9f;
  bad[150].Ask = 75.1f;
  // What the chart should show: the bad tick carrying the last accepted prices.
  good[150].Last = good[149].Last;
  good[150].Bid = good[149].Bid;
  good[150].Ask = good[149].Ask;
  for (const char* bottom : {"RSI", "MACD", "Slow Stoch.", "Volume"}) {
    ChartSettings s;
    s.IndName[1] = "SMA";
    s.IndName[2] = "Bollinger High";
    s.IndName[3] = "Bollinger Low";
    s.IndName[4] = "EMA";
    s.IndName[5] = "PV Trend";
    s.IndName[6] = bottom;
    RedrawResult rb, rg;
    const auto cb = IncrementalAndFull(bad, s, 30, rb);
    const auto cg = IncrementalAndFull(good, s, 30, rg);
    SCOPED_TRACE(bottom);
    // The bands get no point at a rejected snapshot; everything else is as if it never came.
    for (int k : {4, 5}) {
      SeriesPoints without;
      for (int i = 0; i < cg->price[k].Count(); ++i)
        if (cg->price[k].X(i) != bad[150].Time) without.Append(cg->price[k].X(i), cg->price[k].Y(i));
      ExpectSameSeries(cb->price[k], without, "band");
      cg->price[k] = without;
    }
    for (int k = 0; k < 8; ++k) ExpectSameSeries(cb->price[k], cg->price[k], "price");
    for (int k = 0; k < 3; ++k) ExpectSameSeries(cb->bottom[k], cg->bottom[k], "bottom");
    EXPECT_EQ(rb.PriceAxisMax, rg.PriceAxisMax);
    EXPECT_LT(rb.PriceAxisMax, 51);
  }
}

TEST(Redraw, ResizeRescalesTheAxesForTheNewSize) {
  VectorSource src;
  for (int m = 0; m < 90; ++m) src.Append(Snap(At(10, m), 20.0f + (m % 10) * 0.1f, 0, 0));
  ChartSettings s;
  Chart c;
  EXPECT_FALSE(c.redraw.Rescale(s, false, RedrawEnv()).has_value());  // nothing drawn yet
  RedrawEnv tiny;
  tiny.PriceHeight = 8;
  tiny.PriceWidth = 14;
  c.redraw.AddToChart(false, &src, s, false, tiny);
  RedrawEnv big;
  big.PriceHeight = 400;
  big.PriceWidth = 700;
  const auto rescaled = c.redraw.Rescale(s, false, big);
  Chart fresh;
  const RedrawResult want = fresh.redraw.AddToChart(false, &src, s, false, big);
  ASSERT_TRUE(rescaled.has_value());
  EXPECT_EQ(rescaled->PriceAxisMin, want.PriceAxisMin);
  EXPECT_EQ(rescaled->PriceAxisMax, want.PriceAxisMax);
  EXPECT_EQ(rescaled->PriceIncrement, want.PriceIncrement);
  EXPECT_EQ(rescaled->TimeAxisMax, want.TimeAxisMax);
  EXPECT_LT(rescaled->TimeAxisMax - At(11, 29), 2 * MinuteDays);  // not far into the future
}
