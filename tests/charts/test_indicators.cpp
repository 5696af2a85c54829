// The minute-grid indicators and the tick-sampled overlays against plain recurrences, a simple
// reference walk, and pandas.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "chart_test_data.h"
#include "charts/indicators.h"
#include "charts/overlays.h"

using namespace charttest;

namespace {

// One snapshot per minute with a fixed price path.
std::vector<ValueRec> MinuteData(int n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> step(-0.3, 0.3);
  std::vector<ValueRec> v;
  double p = 40;
  for (int k = 0; k < n; ++k) {
    p += step(rng);
    v.push_back(Snap(At(9, 30) + k * MinuteDays, static_cast<float>(p), 0, 0, static_cast<float>(1000 * k)));
  }
  return v;
}

double RsiRule(double g, double l) {
  if (l == 0) return g > 0 ? 100 : 50;
  const double rs = g / l;
  return 100 * rs / (1 + rs);
}

// A straightforward minute-grid walk: each minute searches its bracketing pair from the start.
struct RefPoint {
  double t, v;
};
template <class Update>
std::vector<RefPoint> RefWalk(const std::vector<ValueRec>& s, double x0, double xN, double seedValue, Update update) {
  std::vector<RefPoint> out;
  if (s[0].Time >= x0 - 0.000001) out.push_back({s[0].Time, seedValue});
  double prevT = s[0].Time + MinuteDays, prev = seedValue, cur = seedValue;
  for (double g = s[0].Time + MinuteDays; g < xN; g += MinuteDays) {
    int j = -1;
    for (size_t k = 0; k + 1 < s.size(); ++k)
      if (s[k].Time - 0.00001 <= g && g <= s[k + 1].Time + 0.00001) {
        j = static_cast<int>(k);
        break;
      }
    if (j < 0) continue;
    const double a = s[j].Last, b = s[j + 1].Last, ta = s[j].Time, tb = s[j + 1].Time;
    cur = update(tb > ta ? a + (g - ta) * (b - a) / (tb - ta) : a, j);
    if (g >= x0) {
      if (prevT < x0 && g > prevT) out.push_back({x0, prev + (cur - prev) * (x0 - prevT) / (g - prevT)});
      out.push_back({g, cur});
    }
    prevT = g;
    prev = cur;
  }
  return out;
}

void ExpectPrefix(const SeriesPoints& got, const std::vector<RefPoint>& want, double tol) {
  ASSERT_GE(got.Count(), static_cast<int>(want.size()));
  for (size_t i = 0; i < want.size(); ++i) {
    ASSERT_NEAR(got.X(static_cast<int>(i)), want[i].t, 1e-9) << i;
    ASSERT_NEAR(got.Y(static_cast<int>(i)), want[i].v, tol) << i;
  }
}

}  // namespace

TEST(MinuteGrid, OneSnapshotPerMinuteFollowsThePlainRecurrences) {
  const auto data = MinuteData(200, 7);
  const SeriesPoints base = BaseOf(data);
  const int n = static_cast<int>(data.size()) - 1;  // the last minute is the end point's

  SeriesPoints ema;
  double pmin = 1e8, pmax = -1e8;
  FillEmaSeries(data, base, ema, 12, pmin, pmax);
  double e = data[0].Last;
  for (int k = 0; k < n; ++k) {
    if (k > 0) e += (data[k].Last - e) * (2.0 / 13);
    ASSERT_NEAR(ema.Y(k), e, 1e-6) << k;
  }
  EXPECT_LE(pmin, pmax);

  SeriesPoints zero, hist;
  double vmin, vmax;
  FillMacdSeries(data, base, zero, hist, 12, 26, 9, vmin, vmax);
  double e1 = data[0].Last, e2 = e1, h = 0;
  for (int k = 0; k < n; ++k) {
    if (k > 0) {
      e1 += (data[k].Last - e1) * (2.0 / 13);
      e2 += (data[k].Last - e2) * (2.0 / 27);
      h += ((e1 - e2) - h) * (2.0 / 10);
    }
    ASSERT_NEAR(hist.Y(3 * k), h, 1e-6) << k;
    ASSERT_EQ(hist.Y(3 * k + 1), 0);
  }
  EXPECT_LE(vmin, 0);
  EXPECT_GE(vmax, 0);
  EXPECT_EQ(zero.Count(), 2);

  SeriesPoints mid, rsi;
  FillRsiSeries(data, base, mid, rsi, 14, vmin, vmax);
  double g = 0, l = 0;
  EXPECT_EQ(rsi.Y(0), 50);
  for (int k = 1; k < n; ++k) {
    const double d = double(data[k].Last) - double(data[k - 1].Last);
    g = (13 * g + (d > 0 ? d : 0)) / 14;
    l = (13 * l + (d < 0 ? -d : 0)) / 14;
    ASSERT_NEAR(rsi.Y(k), RsiRule(g, l), 1e-6) << k;
  }

  for (bool slow : {false, true}) {
    SeriesPoints ks, ds;
    FillStochSeries(slow, data, base, ks, ds, 5, 3, 3);
    std::deque<double> kwin{data[0].Last}, dwin{0}, num{0}, den{data[0].Last};
    auto push = [](std::deque<double>& w, double v, size_t size) {
      w.push_back(v);
      if (w.size() > size) w.pop_front();
    };
    auto avg = [](const std::deque<double>& w) {
      double s = 0;
      for (double v : w) s += v;
      return s / w.size();
    };
    EXPECT_EQ(ks.Y(0), 0);
    for (int k = 1; k < n; ++k) {
      const double p = data[k].Last;
      push(kwin, p, 5);
      double hi = *std::max_element(kwin.begin(), kwin.end()), lo = *std::min_element(kwin.begin(), kwin.end());
      if (hi == lo) hi += 0.001;
      double pct;
      if (slow) {
        push(num, p - lo, 3);
        push(den, hi - lo, 3);
        pct = avg(num) * 100 / avg(den);
      } else {
        pct = (p - lo) * 100 / (hi - lo);
      }
      push(dwin, pct, 3);
      // Grid minutes are summed, so they sit a hair off the snapshot times.
      ASSERT_NEAR(ks.Y(k), pct, 1e-4) << k << " slow " << slow;
      ASSERT_NEAR(ds.Y(k), avg(dwin), 1e-4) << k << " slow " << slow;
    }
  }

  SeriesPoints vol;
  FillVolumeSeries(data, base, vol, vmin, vmax);
  EXPECT_NEAR(vol.Y(1), 1000, 1e-3);  // each minute adds 1000
  EXPECT_NEAR(vmax, 1000, 1e-3);
  EXPECT_EQ(vmin, 0);
}

TEST(MinuteGrid, RandomSnapshotListsMatchASimpleReferenceWalk) {
  std::mt19937 rng(42);
  for (int round = 0; round < 30; ++round) {
    const auto data = RandomWalk(rng, 40 + round * 7, At(9, 30, round), 240);
    const size_t from = round % 3 == 0 ? 0 : data.size() / 3;  // history before the shown period
    const SeriesPoints base = BaseOf(data, from);
    const double x0 = base.X(0), xN = base.X(base.Count() - 1);

    SeriesPoints ema;
    double pmin = 1e8, pmax = -1e8;
    FillEmaSeries(data, base, ema, 9, pmin, pmax);
    double e = data[0].Last;
    const auto refEma = RefWalk(data, x0, xN, e, [&](double v, int) { return e += (v - e) * 0.2; });
    ExpectPrefix(ema, refEma, 1e-6);

    SeriesPoints mid, rsi;
    double vmin, vmax;
    FillRsiSeries(data, base, mid, rsi, 10, vmin, vmax);
    double g = 0, l = 0;
    const auto refRsi = RefWalk(data, x0, xN, 50, [&](double, int j) {
      const double d = double(data[j + 1].Last) - double(data[j].Last);
      g = (9 * g + (d > 0 ? d : 0)) / 10;
      l = (9 * l + (d < 0 ? -d : 0)) / 10;
      return RsiRule(g, l);
    });
    ExpectPrefix(rsi, refRsi, 1e-6);
    // Nothing is stored before the shown period, and the line ends at its last snapshot.
    EXPECT_GE(rsi.X(0), x0 - 0.000001);
    EXPECT_NEAR(rsi.X(rsi.Count() - 1), xN, 1e-12);
  }
}

TEST(MinuteGrid, RsiReadsHundredOnGainsOnlyAndFiftyWhenFlat) {
  std::vector<ValueRec> up, flat;
  for (int k = 0; k < 30; ++k) {
    up.push_back(Snap(At(10, k), 10.0f + k));
    flat.push_back(Snap(At(10, k), 10.0f));
  }
  SeriesPoints mid, rsi;
  double vmin, vmax;
  FillRsiSeries(up, BaseOf(up), mid, rsi, 14, vmin, vmax);
  EXPECT_EQ(rsi.Y(0), 50);  // the seed
  EXPECT_EQ(rsi.Y(5), 100);
  FillRsiSeries(flat, BaseOf(flat), mid, rsi, 14, vmin, vmax);
  for (int i = 0; i < rsi.Count(); ++i) EXPECT_EQ(rsi.Y(i), 50);
  EXPECT_EQ(vmin, 0);
  EXPECT_EQ(vmax, 100);
}

TEST(MinuteGrid, StartPointInterpolatesAtTheShownPeriodAndChecksClearOutputs) {
  // Grid minutes at 09:58:30 and 09:59:30, the period starting at 09:59:15.
  std::vector<ValueRec> v = {Snap(At(9, 50, 30), 10), Snap(At(9, 59, 15), 20), Snap(At(10, 5, 0), 20)};
  SeriesPoints base;
  base.Append(v[1].Time, 20);
  base.Append(v[2].Time, 20);
  SeriesPoints ema;
  double pmin = 1e8, pmax = -1e8;
  FillEmaSeries(v, base, ema, 3, pmin, pmax);
  // Replay the grid to get the EMA at 09:58:30 and 09:59:30.
  double e = 10, before = 0, after = 0;
  for (int k = 1; k <= 9; ++k) {
    const double g = v[0].Time + k * MinuteDays;
    const double price = g <= v[1].Time ? 10 + (g - v[0].Time) * 10 / (v[1].Time - v[0].Time)
                                        : 20;
    e += (price - e) * 0.5;
    if (k == 8) before = e;
    if (k == 9) after = e;
  }
  EXPECT_NEAR(ema.X(0), v[1].Time, 1e-12);
  EXPECT_NEAR(ema.Y(0), before + 0.75 * (after - before), 1e-4);

  // Fewer than two base points, or an empty list: outputs cleared, range untouched.
  SeriesPoints one;
  one.Append(v[0].Time, 1);
  ema.Append(1, 1);
  pmin = 5;
  FillEmaSeries(v, one, ema, 3, pmin, pmax);
  EXPECT_EQ(ema.Count(), 0);
  EXPECT_EQ(pmin, 5);
  FillEmaSeries({}, base, ema, 3, pmin, pmax);
  EXPECT_EQ(ema.Count(), 0);
  EXPECT_EQ(StochBufferSize(5000), 1000);
  EXPECT_EQ(StochBufferSize(2.5), 2);
  EXPECT_EQ(StochBufferSize(std::nan("")), 3);
}

TEST(MinuteGrid, AbsurdTimeStampsStayBounded) {
  // A snapshot at time zero (1899) and one far in the past before today's data.
  std::vector<ValueRec> v = {Snap(0.0, 10), Snap(At(9, 0) - 3650, 11)};
  for (int k = 0; k < 60; ++k) v.push_back(Snap(At(10, k), 12.0f + k % 3));
  const SeriesPoints base = BaseOf(v);  // "all day": the base starts in 1899
  SeriesPoints out1, out2;
  double a = 1e8, b = -1e8;
  FillEmaSeries(v, base, out1, 10, a, b);
  EXPECT_LE(out1.Count(), MaxGridMinutes + 10);
  FillStochSeries(true, v, base, out1, out2, 5, 3, 3);
  EXPECT_LE(out1.Count(), MaxGridMinutes + 10);
  FillVolumeSeries(v, base, out1, a, b);
  EXPECT_GT(out1.Count(), 0);
  SeriesPoints pvt;
  FillPvtSeries(v, base, pvt, 10, 20);
  EXPECT_EQ(pvt.Count(), base.Count());
}

TEST(MinuteGrid, EmaAndRsiAgreeWithPandas) {
  // The system's interpreter carries Debian's pandas; a python3 earlier on PATH may not.
  std::string python;
  for (const char* candidate : {"python3", "/usr/bin/python3"})
    if (std::system((std::string(candidate) + " -c \"import pandas\" >/dev/null 2>&1").c_str()) == 0) {
      python = candidate;
      break;
    }
  if (python.empty()) GTEST_SKIP() << "pandas not available";
  const auto data = MinuteData(300, 11);
  const auto dir = std::filesystem::temp_directory_path() / ("vn_charts_pd_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  {
    std::ofstream f(dir / "in.csv");
    f.precision(17);
    f << "price\n";
    for (const auto& r : data) f << double(r.Last) << "\n";
  }
  const std::string script =
      "import pandas as pd\n"
      "p = pd.read_csv('" + (dir / "in.csv").string() + "')['price']\n"
      "ema = p.ewm(span=12, adjust=False).mean()\n"
      "d = p.diff().fillna(0)\n"
      "g = d.clip(lower=0).ewm(alpha=1/14, adjust=False).mean()\n"
      "l = (-d).clip(lower=0).ewm(alpha=1/14, adjust=False).mean()\n"
      "rsi = (100 - 100 / (1 + g / l)).where(l > 0, 100.0).where((l > 0) | (g > 0), 50.0)\n"
      "pd.DataFrame({'ema': ema, 'rsi': rsi}).to_csv('" + (dir / "out.csv").string() +
      "', index=False, float_format='%.12f')\n";
  {
    std::ofstream f(dir / "run.py");
    f << script;
  }
  ASSERT_EQ(std::system((python + " " + (dir / "run.py").string()).c_str()), 0);
  std::ifstream in(dir / "out.csv");
  std::string line;
  std::getline(in, line);
  std::vector<double> ema, rsi;
  while (std::getline(in, line)) {
    std::istringstream ls(line);
    std::string a, b;
    std::getline(ls, a, ',');
    std::getline(ls, b, ',');
    ema.push_back(std::stod(a));
    rsi.push_back(std::stod(b));
  }
  std::filesystem::remove_all(dir);
  ASSERT_EQ(ema.size(), data.size());

  const SeriesPoints base = BaseOf(data);
  SeriesPoints e, mid, r;
  double a = 1e8, b = -1e8, vmin, vmax;
  FillEmaSeries(data, base, e, 12, a, b);
  FillRsiSeries(data, base, mid, r, 14, vmin, vmax);
  for (size_t k = 1; k + 1 < data.size(); ++k) {
    ASSERT_NEAR(e.Y(static_cast<int>(k)), ema[k], 1e-6) << k;
    ASSERT_NEAR(r.Y(static_cast<int>(k)), rsi[k], 1e-6) << k;
  }
}

TEST(Overlays, SamplesSpacingInterpolationAndNoValue) {
  // 10 minutes at 10:00:00 take 20 samples from 09:50:30 every 30 s.
  std::vector<ValueRec> v;
  for (int s = 0; s <= 1200; s += 60) v.push_back(Snap(At(9, 45) + s / 86400.0, static_cast<float>(s / 60)));
  const int rec = 15;  // 10:00:00, price 15
  ASSERT_NEAR(v[rec].Time, At(10, 0), 1e-9);
  EXPECT_EQ(OverlaySampleCount(10), 20);
  EXPECT_EQ(OverlaySampleCount(3), 10);
  EXPECT_EQ(OverlaySampleCount(60), 25);
  double sum = 0;
  for (int k = 0; k < 20; ++k) sum += 5.5 + k * 0.5;  // price = minutes since 09:45
  EXPECT_NEAR(SmaAt(v, rec, 20, 0, 10), sum / 20, 1e-6);
  // A sample before the first snapshot gives the no-value result.
  EXPECT_EQ(SmaAt(v, 2, 20, 0, 10), NoValueResult);
  EXPECT_LT(BollingerAt(v, 2, 20, 0, 10, true), NoValue);

  // Constant prices: SMA and both bands equal the price.
  std::vector<ValueRec> c;
  for (int k = 0; k < 30; ++k) c.push_back(Snap(At(10, k), 7.5f));
  EXPECT_DOUBLE_EQ(SmaAt(c, 29, 20, 0, 10), 7.5);
  EXPECT_DOUBLE_EQ(BollingerAt(c, 29, 20, 0, 10, true), 7.5);
  EXPECT_DOUBLE_EQ(BollingerAt(c, 29, 20, 0, 10, false), 7.5);
}

TEST(Overlays, ForwardSamplerEqualsTheBackwardSearch) {
  std::mt19937 rng(5);
  for (int round = 0; round < 20; ++round) {
    const auto data = RandomWalk(rng, 400, At(9, 30), round % 2 ? 5 : 120);
    for (double period : {3.0, 10.0, 37.0}) {
      const int n = OverlaySampleCount(period);
      OverlaySampler sampler(n, period);
      const PriceTrack track(data);
      for (int i = 0; i < static_cast<int>(data.size()); i += 1 + round % 3) {
        const double sma = SmaAt(data, i, n, 0, period);
        const bool ok = sampler.Sample(track, i);
        ASSERT_EQ(ok, sma > NoValue) << i;
        if (!ok) continue;
        ASSERT_EQ(sampler.Mean(), sma) << i;
        ASSERT_EQ(sampler.Band(true), BollingerAt(data, i, n, 0, period, true)) << i;
      }
    }
  }
}

TEST(Overlays, PriceVolumeTrendScalesIntoTheBand) {
  std::vector<ValueRec> flat, dup;
  for (int k = 0; k < 10; ++k) flat.push_back(Snap(At(10, k), 5, 0, 0, 100.0f * k));
  SeriesPoints out;
  FillPvtSeries(flat, BaseOf(flat, 3), out, 10, 25);
  ASSERT_EQ(out.Count(), 7);  // from the first base point on
  EXPECT_NEAR(out.X(0), flat[3].Time, 1e-12);
  for (int i = 0; i < out.Count(); ++i) EXPECT_NEAR(out.Y(i), 17.5, 1e-9);  // mid-band
  // A zero previous price or a repeated time stamp leaves the trend unchanged.
  dup = {Snap(At(10, 0), 0, 0, 0, 0), Snap(At(10, 1), 10, 0, 0, 100), Snap(At(10, 1), 12, 0, 0, 200),
         Snap(At(10, 2), 11, 0, 0, 300)};
  FillPvtSeries(dup, BaseOf(dup), out, 0, 15);
  for (int i = 0; i < out.Count(); ++i) EXPECT_TRUE(std::isfinite(out.Y(i)));
  EXPECT_NEAR(out.Y(0), out.Y(1), 1e-12);
  EXPECT_NEAR(out.Y(1), out.Y(2), 1e-12);
  FillPvtSeries(dup, SeriesPoints(), out, 0, 15);
  EXPECT_EQ(out.Count(), 0);
}

TEST(MinuteGrid, AnAverageEndsWithinThePricesItAverages) {
  // A sharp rise in the last grid minute, then flat: extrapolating that minute's slope to the
  // last snapshot would carry EMA(1) to almost 120.
  const std::vector<ValueRec> v = {Snap(At(10, 0), 100), Snap(At(10, 1), 110), Snap(At(10, 1, 58), 110)};
  SeriesPoints ema;
  double lo = 1e8, hi = -1e8;
  FillEmaSeries(v, BaseOf(v), ema, 1, lo, hi);
  EXPECT_NEAR(ema.Y(ema.Count() - 1), 110, 1e-9);  // EMA(1) is the price itself
  EXPECT_LE(hi, 110 + 1e-9);

  // Random lists, shown periods starting anywhere: every EMA's last point lies within the
  // prices (grid minutes within the bracket tolerance of a snapshot may pass them by a hair).
  std::mt19937 rng(5);
  for (int round = 0; round < 60; ++round) {
    const auto data = RandomWalk(rng, 30 + round, At(9, 30, round), 150);
    const SeriesPoints base = BaseOf(data, data.size() * (round % 4) / 5);
    float pmin = 1e9f, pmax = -1e9f;
    for (const ValueRec& r : data) pmin = std::min(pmin, r.Last), pmax = std::max(pmax, r.Last);
    for (double period : {1.0, 2.0, 5.0}) {
      SeriesPoints out;
      double a = 1e8, b = -1e8;
      FillEmaSeries(data, base, out, period, a, b);
      ASSERT_GT(out.Count(), 0);
      const double end = out.Y(out.Count() - 1);
      EXPECT_TRUE(end >= pmin - 1e-6 && end <= pmax + 1e-6) << round << " " << period << ": " << end;
    }
    SeriesPoints mid, rsi;
    double vmin, vmax;
    FillRsiSeries(data, base, mid, rsi, 2, vmin, vmax);
    for (int i = 0; i < rsi.Count(); ++i) ASSERT_TRUE(rsi.Y(i) >= 0 && rsi.Y(i) <= 100) << round << " " << i;
  }
}
