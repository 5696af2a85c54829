#include "charts/indicators.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <vector>

#include "core/circ_buf.h"

namespace {

struct GridPoint {
  double t;
  std::array<double, 2> v;
};

// What a routine keeps from minute to minute.
class GridState {
public:
  virtual ~GridState() = default;
  virtual int Values() const = 0;                 // stored quantities (1 or 2)
  virtual void Seed(const ValueRec& s0) = 0;
  virtual std::array<double, 2> SeedValues() const { return Current(); }
  virtual void Update(double v, Snaps snaps, int j) = 0;
  virtual std::array<double, 2> Current() const = 0;
  virtual bool UsesVolume() const { return false; }
  virtual bool EdgePoints() const { return true; }  // start point at x0 and end point at xN
  // The end point from the quantity v at xN, taken `minutes` after the last grid minute;
  // nullopt for the shared rule (extrapolated from the last two stored points).
  virtual std::optional<std::array<double, 2>> EndAt(double /*v*/, double /*minutes*/) const { return std::nullopt; }
  // An extrapolated end value kept within what the quantity can be.
  virtual std::array<double, 2> Bound(std::array<double, 2> v) const { return v; }
};

// The interpolated quantity at time t: between the last snapshot at or before t and the next.
double QuantityAt(Snaps snaps, double t, bool volume) {
  const auto it = std::upper_bound(snaps.begin(), snaps.end(), t, [](double x, const ValueRec& r) { return x < r.Time; });
  auto value = [volume](const ValueRec& r) { return volume ? double(r.Volume) : double(r.Last); };
  if (it == snaps.begin()) return value(snaps.front());
  const ValueRec& a = *(it - 1);
  if (it == snaps.end() || !(it->Time > a.Time)) return value(a);
  return value(a) + (t - a.Time) * (value(*it) - value(a)) / (it->Time - a.Time);
}

// The shared minute-grid walk. Returns false when a check failed (outputs are to be cleared).
bool MinuteGridWalk(Snaps snaps, const IndSeries& base, GridState& st, std::vector<GridPoint>& stored) {
  if (base.Count() < 2 || snaps.empty()) return false;
  double x0 = base.X(0);
  const double xN = base.X(base.Count() - 1);
  if (!std::isfinite(x0) || !std::isfinite(xN) || !std::isfinite(snaps[0].Time)) return false;
  x0 = std::max(x0, xN - MaxGridMinutes * MinuteDays);
  const double span = (xN - x0) / MinuteDays + 5.0;
  if (span < 4) return false;
  const size_t room = static_cast<size_t>(span);
  stored.clear();
  stored.reserve(std::min<size_t>(room, 1 << 16));

  const int count = static_cast<int>(snaps.size());
  const bool volume = st.UsesVolume();
  auto quantity = [&](int i) { return volume ? double(snaps[i].Volume) : double(snaps[i].Last); };
  auto store = [&](double t, const std::array<double, 2>& v) {
    if (stored.size() < room) stored.push_back({t, v});
  };

  st.Seed(snaps[0]);
  double g = snaps[0].Time;
  if (g >= x0 - 0.000001) store(g, st.SeedValues());
  g += MinuteDays;
  // A history that starts far before the shown period is walked only over its last stretch.
  const double walkFrom = xN - MaxGridMinutes * MinuteDays;
  if (g < walkFrom) g += std::ceil((walkFrom - g) / MinuteDays) * MinuteDays;
  int j = 0;
  double prevT = g;
  std::array<double, 2> prev = st.SeedValues();
  while (g < xN) {
    while (j < count - 1 && !(snaps[j].Time - 0.00001 <= g && g <= snaps[j + 1].Time + 0.00001)) ++j;
    if (j < count - 1) {
      const double tj = snaps[j].Time, tk = snaps[j + 1].Time;
      const double a = quantity(j), b = quantity(j + 1);
      const double v = tk > tj ? a + (g - tj) * (b - a) / (tk - tj) : a;
      st.Update(v, snaps, j);
      const std::array<double, 2> cur = st.Current();
      if (g >= x0) {
        if (st.EdgePoints() && prevT < x0 && g > prevT) {
          std::array<double, 2> s{};
          for (int k = 0; k < st.Values(); ++k) s[k] = prev[k] + (cur[k] - prev[k]) * (x0 - prevT) / (g - prevT);
          store(x0, s);
        }
        store(g, cur);
      }
      prevT = g;
      prev = cur;
    }
    g += MinuteDays;
  }
  if (st.EdgePoints()) {
    const size_t n = stored.size();
    const auto end = xN > prevT ? st.EndAt(QuantityAt(snaps, xN, volume), (xN - prevT) / MinuteDays) : std::nullopt;
    if (end) {
      stored.push_back({xN, *end});
    } else if (n >= 2 && xN > prevT) {
      const GridPoint& l = stored[n - 1];
      const GridPoint& p = stored[n - 2];
      if (l.t != p.t) {
        std::array<double, 2> y{};
        for (int k = 0; k < st.Values(); ++k) y[k] = l.v[k] + (xN - l.t) * (l.v[k] - p.v[k]) / (l.t - p.t);
        stored.push_back({xN, st.Bound(y)});
      }
    } else {
      stored.push_back({xN, st.Current()});
    }
  }
  return true;
}

class EmaState : public GridState {
public:
  explicit EmaState(double period) : alpha_(2.0 / (period + 1.0)) {}
  int Values() const override { return 1; }
  void Seed(const ValueRec& s0) override { e_ = s0.Last; }
  void Update(double v, Snaps, int) override { e_ += (v - e_) * alpha_; }
  std::array<double, 2> Current() const override { return {e_, 0}; }
  // Extrapolating the last minute's slope can carry an average outside the prices it averages
  // (far outside when the last two points are seconds apart). The end point instead takes the
  // price at xN with the weight a part of a minute gives it, so it stays between the average
  // and that price, and an EMA(1) ends on the price itself.
  std::optional<std::array<double, 2>> EndAt(double v, double minutes) const override {
    const double keep = std::pow(std::clamp(1.0 - alpha_, 0.0, 1.0), std::max(minutes, 0.0));
    return std::array<double, 2>{e_ + (v - e_) * (1.0 - keep), 0};
  }

private:
  double alpha_, e_ = 0;
};

class MacdState : public GridState {
public:
  MacdState(double p1, double p2, double p3) : a1_(2.0 / (p1 + 1)), a2_(2.0 / (p2 + 1)), a3_(2.0 / (p3 + 1)) {}
  int Values() const override { return 1; }
  void Seed(const ValueRec& s0) override {
    e1_ = e2_ = s0.Last;
    h_ = 0;
  }
  void Update(double v, Snaps, int) override {
    e1_ += (v - e1_) * a1_;
    e2_ += (v - e2_) * a2_;
    h_ += ((e1_ - e2_) - h_) * a3_;
  }
  std::array<double, 2> Current() const override { return {h_, 0}; }

private:
  double a1_, a2_, a3_, e1_ = 0, e2_ = 0, h_ = 0;
};

class RsiState : public GridState {
public:
  explicit RsiState(double period) : period_(period) {}
  int Values() const override { return 1; }
  void Seed(const ValueRec&) override {}
  std::array<double, 2> SeedValues() const override { return {50, 0}; }
  void Update(double, Snaps snaps, int j) override {
    const double d = double(snaps[j + 1].Last) - double(snaps[j].Last);
    const double gain = d > 0 ? d : 0, loss = d < 0 ? -d : 0;
    g_ = ((period_ - 1) * g_ + gain) / period_;
    l_ = ((period_ - 1) * l_ + loss) / period_;
    r_ = RsiOf(g_, l_);
  }
  std::array<double, 2> Current() const override { return {r_, 0}; }
  std::array<double, 2> Bound(std::array<double, 2> v) const override { return {std::clamp(v[0], 0.0, 100.0), 0}; }
  // Only gains reads 100 and no movement at all reads 50.
  static double RsiOf(double gain, double loss) {
    if (loss == 0) return gain > 0 ? 100.0 : 50.0;
    const double rs = gain / loss;
    return 100.0 * rs / (1.0 + rs);
  }

private:
  double period_, g_ = 0, l_ = 0, r_ = 0;
};

class StochState : public GridState {
public:
  StochState(bool slow, double pk, double pd, double ps)
      : slow_(slow),
        k_(StochBufferSize(pk)),
        d_(StochBufferSize(pd)),
        num_(slow ? StochBufferSize(ps) : 1),
        den_(slow ? StochBufferSize(ps) : 1) {}
  int Values() const override { return 2; }
  bool EdgePoints() const override { return false; }
  void Seed(const ValueRec& s0) override {
    k_.Add(s0.Last);
    d_.Add(0);
    if (slow_) {
      num_.Add(0);
      den_.Add(s0.Last);
    }
  }
  std::array<double, 2> SeedValues() const override { return {0, 0}; }
  void Update(double v, Snaps, int) override {
    k_.Add(v);
    double hi, lo;
    k_.MaxMin(hi, lo);
    double pct;
    if (slow_) {
      num_.Add(v - lo);
      den_.Add(hi - lo);
      const double den = den_.Average();
      pct = den != 0 ? num_.Average() * 100.0 / den : 0.0;
    } else {
      pct = (v - lo) * 100.0 / (hi - lo);
    }
    d_.Add(pct);
  }
  std::array<double, 2> Current() const override { return {d_.LastValue(), d_.Average()}; }

private:
  bool slow_;
  CircBufType k_, d_, num_, den_;
};

class VolumeState : public GridState {
public:
  int Values() const override { return 1; }
  bool UsesVolume() const override { return true; }
  void Seed(const ValueRec& s0) override { c_ = s0.Volume; }
  void Update(double v, Snaps, int) override { c_ = v; }
  std::array<double, 2> Current() const override { return {c_, 0}; }

private:
  double c_ = 0;
};

}  // namespace

int StochBufferSize(double period) {
  if (!std::isfinite(period)) return 3;
  const double r = std::nearbyint(std::clamp(period, -1.0e6, 1.0e6));
  return static_cast<int>(std::clamp(r, 1.0, 1000.0));
}

void FillEmaSeries(Snaps snaps, const IndSeries& base, IndSeries& out, double period, double& priceMin,
                   double& priceMax) {
  EmaState st(period);
  std::vector<GridPoint> pts;
  if (!MinuteGridWalk(snaps, base, st, pts)) {
    out.Clear();
    return;
  }
  for (const GridPoint& p : pts) {
    priceMin = std::min(priceMin, p.v[0]);
    priceMax = std::max(priceMax, p.v[0]);
  }
  out.Clear();
  for (const GridPoint& p : pts) out.Append(p.t, p.v[0]);
}

void FillMacdSeries(Snaps snaps, const IndSeries& base, IndSeries& zeroLine, IndSeries& histogram,
                    double ema1, double ema2, double smooth, double& volMin, double& volMax) {
  volMin = volMax = 0;
  MacdState st(ema1, ema2, smooth);
  std::vector<GridPoint> pts;
  if (!MinuteGridWalk(snaps, base, st, pts) || pts.empty()) {
    zeroLine.Clear();
    histogram.Clear();
    return;
  }
  for (const GridPoint& p : pts) {
    volMin = std::min(volMin, p.v[0]);
    volMax = std::max(volMax, p.v[0]);
  }
  zeroLine.Clear();
  zeroLine.Append(pts.front().t, 0);
  zeroLine.Append(pts.back().t, 0);
  histogram.Clear();
  for (const GridPoint& p : pts) {
    histogram.Append(p.t, p.v[0]);
    histogram.Append(p.t, 0);
    histogram.Append(p.t, p.v[0]);
  }
}

void FillRsiSeries(Snaps snaps, const IndSeries& base, IndSeries& midLine, IndSeries& rsi, double period,
                   double& volMin, double& volMax) {
  volMin = 0;
  volMax = 100;
  RsiState st(period);
  std::vector<GridPoint> pts;
  if (!MinuteGridWalk(snaps, base, st, pts) || pts.empty()) {
    midLine.Clear();
    rsi.Clear();
    return;
  }
  midLine.Clear();
  midLine.Append(pts.front().t, 50);
  midLine.Append(pts.back().t, 50);
  rsi.Clear();
  for (const GridPoint& p : pts) rsi.Append(p.t, p.v[0]);
}

void FillStochSeries(bool slow, Snaps snaps, const IndSeries& base, IndSeries& kSeries, IndSeries& dSeries,
                     double kPeriod, double dPeriod, double kSlow) {
  StochState st(slow, kPeriod, dPeriod, kSlow);
  std::vector<GridPoint> pts;
  const bool ok = MinuteGridWalk(snaps, base, st, pts);
  kSeries.Clear();
  dSeries.Clear();
  if (!ok) return;
  for (const GridPoint& p : pts) {
    kSeries.Append(p.t, p.v[0]);
    dSeries.Append(p.t, p.v[1]);
  }
}

void FillVolumeSeries(Snaps snaps, const IndSeries& base, IndSeries& out, double& volMin, double& volMax) {
  volMin = volMax = 0;
  VolumeState st;
  std::vector<GridPoint> pts;
  if (!MinuteGridWalk(snaps, base, st, pts)) {
    out.Clear();
    return;
  }
  out.Clear();
  for (size_t i = 0; i + 1 < pts.size(); ++i) {
    const double d = pts[i + 1].v[0] - pts[i].v[0];
    volMax = std::max(volMax, d);
    out.Append(pts[i].t, 0);
    out.Append(pts[i].t, d);
    out.Append(pts[i + 1].t, d);
    out.Append(pts[i + 1].t, 0);
  }
}
