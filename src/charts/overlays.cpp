#include "charts/overlays.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double SearchEps = 0.000000001;

// The price at time t, given j: the last snapshot at or before it.
inline double SampleAt(Snaps s, int j, double t) {
  const double tj = s[j].Time, tk = s[j + 1].Time;
  const double a = s[j].Last, b = s[j + 1].Last;
  if (tk == tj) return a;
  return a + (t - tj) * (b - a) / (tk - tj);
}

// Fills the samples of snapshot rec by the backward search; false when one falls before the
// first snapshot.
bool Samples(Snaps s, int rec, int n, double period, std::vector<double>& out) {
  if (rec < 0 || rec >= static_cast<int>(s.size()) || n < 1) return false;
  const double step = period / 1440.0 / n;
  if (!(step > 0) || !std::isfinite(step)) return false;
  out.assign(static_cast<size_t>(n), 0.0);
  out[static_cast<size_t>(n - 1)] = s[rec].Last;
  double t = s[rec].Time;
  int j = rec;
  for (int k = n - 2; k >= 0; --k) {
    t -= step;
    // Times ascend, so the backward search is a binary search over 0..j.
    const auto first = s.begin();
    const auto it = std::partition_point(first, first + (j + 1), [t](const ValueRec& r) { return r.Time + SearchEps <= t; });
    j = static_cast<int>(it - first) - 1;
    if (j < 0) return false;
    out[static_cast<size_t>(k)] = SampleAt(s, j, t);
  }
  return true;
}

double MeanOf(const std::vector<double>& v) {
  double sum = 0;
  for (double x : v) sum += x;
  return sum / static_cast<double>(v.size());
}

double BandOf(const std::vector<double>& v, double mean, bool high) {
  double sq = 0;
  for (double x : v) sq += (x - mean) * (x - mean);
  const double sd = std::sqrt(sq / static_cast<double>(v.size()));
  return high ? mean + 2 * sd : mean - 2 * sd;
}

}  // namespace

int OverlaySampleCount(double period) {
  if (!std::isfinite(period)) return 10;
  const double n = 2.0 * std::trunc(std::clamp(period, -1.0e6, 1.0e6));
  return static_cast<int>(std::clamp(n, 10.0, 25.0));
}

double SmaAt(Snaps snaps, int recIndex, int n, double, double period) {
  std::vector<double> v;
  if (!Samples(snaps, recIndex, n, period, v)) return NoValueResult;
  return MeanOf(v);
}

double BollingerAt(Snaps snaps, int recIndex, int n, double, double period, bool high) {
  std::vector<double> v;
  if (!Samples(snaps, recIndex, n, period, v)) return NoValueResult;
  return BandOf(v, MeanOf(v), high);
}

OverlaySampler::OverlaySampler(int n, double period)
    : n_(std::max(n, 1)),
      period_(period),
      step_(period / 1440.0 / std::max(n, 1)),
      cursor_(static_cast<size_t>(std::max(n, 1)), -1),
      samples_(static_cast<size_t>(std::max(n, 1)), 0.0) {}

bool OverlaySampler::Sample(Snaps s, int rec) {
  if (rec < 0 || rec >= static_cast<int>(s.size())) return false;
  if (!(step_ > 0) || !std::isfinite(step_)) return false;
  if (rec < lastRec_) std::fill(cursor_.begin(), cursor_.end(), -1);  // visited out of order: restart
  lastRec_ = rec;
  samples_[static_cast<size_t>(n_ - 1)] = s[rec].Last;
  double t = s[rec].Time;
  int limit = rec;  // a sample's snapshot is at or before the next later sample's one
  for (int k = n_ - 2; k >= 0; --k) {
    t -= step_;
    int& j = cursor_[static_cast<size_t>(k)];
    // A cursor carried from an earlier snapshot is at or before its answer now (times ascend),
    // so it only moves forward; the backward step only matters for disordered times.
    if (j > limit) j = limit;
    while (j + 1 <= limit && s[j + 1].Time + SearchEps <= t) ++j;
    while (j >= 0 && s[j].Time + SearchEps > t) --j;
    if (j < 0) return false;
    samples_[static_cast<size_t>(k)] = SampleAt(s, j, t);
    limit = j;
  }
  mean_ = MeanOf(samples_);
  // The same arithmetic as BandOf, done once for both bands.
  double sq = 0;
  for (double x : samples_) sq += (x - mean_) * (x - mean_);
  sd_ = std::sqrt(sq / static_cast<double>(samples_.size()));
  return true;
}

void FillPvtSeries(Snaps snaps, const IndSeries& base, IndSeries& out, double priceMin, double priceMax) {
  if (base.Count() < 2) {
    out.Clear();
    return;
  }
  const double x0 = base.X(0);
  const size_t room = static_cast<size_t>(base.Count());
  std::vector<std::pair<double, double>> pts;
  pts.reserve(room);
  double pvt = 0, prevPrice = 0, prevTime = 0, prevVolume = 0, lo = 0, hi = 0;
  for (size_t i = 0; i < snaps.size(); ++i) {
    const ValueRec& r = snaps[i];
    if (i == 0) {
      pvt = r.Last;
    } else if (prevPrice != 0 && prevTime != r.Time) {
      const double rate = (r.Volume - prevVolume) / ((r.Time - prevTime) * 1440.0);
      pvt += (r.Last - prevPrice) * rate / prevPrice;
    }
    prevPrice = r.Last;
    prevTime = r.Time;
    prevVolume = r.Volume;
    if (r.Time >= x0 - 0.00001 && pts.size() < room) {
      if (pts.empty()) lo = hi = pvt;
      lo = std::min(lo, pvt);
      hi = std::max(hi, pvt);
      pts.emplace_back(r.Time, pvt);
    }
  }
  if (priceMin == priceMax) {
    priceMin -= 0.01;
    priceMax += 0.01;
  }
  if (lo == hi) {
    lo -= 0.01;
    hi += 0.01;
  }
  const double m = (priceMax - priceMin) / 15;
  const double bottom = priceMin + m, top = priceMax - m;
  out.Clear();
  for (const auto& [t, y] : pts) out.Append(t, (y - lo) * (top - bottom) / (hi - lo) + bottom);
}
