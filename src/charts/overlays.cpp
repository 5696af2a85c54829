#include "charts/overlays.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double SearchEps = 0.000000001;

// The slope from price a at ta to b at tb; 0 for equal times (the earlier price holds).
inline double SlopeOf(double ta, double a, double tb, double b) { return tb == ta ? 0.0 : (b - a) / (tb - ta); }

// The price at time t, given j: the last snapshot at or before it. Interpolated with the
// slope, as PriceTrack holds it, so both ways agree to the last bit.
inline double SampleAt(Snaps s, int j, double t) {
  const double tj = s[j].Time;
  return s[j].Last + (t - tj) * SlopeOf(tj, s[j].Last, s[j + 1].Time, s[j + 1].Last);
}

// The time of the sample `back` steps before a snapshot at t. Computed, not stepped down one
// by one, so that the samples do not wait on each other.
inline double SampleTime(double t, int back, double step) { return t - back * step; }

// Sums in four lanes so that the adds do not wait on each other; SmaAt and the sampler both
// use these and agree to the last bit.
inline double SumOf(const double* x, int n) {
  double a = 0, b = 0, c = 0, d = 0;
  int k = 0;
  for (; k + 4 <= n; k += 4) {
    a += x[k];
    b += x[k + 1];
    c += x[k + 2];
    d += x[k + 3];
  }
  for (; k < n; ++k) a += x[k];
  return (a + b) + (c + d);
}

inline double SquaresAbout(const double* x, int n, double mean) {
  double a = 0, b = 0, c = 0, d = 0;
  int k = 0;
  for (; k + 4 <= n; k += 4) {
    a += (x[k] - mean) * (x[k] - mean);
    b += (x[k + 1] - mean) * (x[k + 1] - mean);
    c += (x[k + 2] - mean) * (x[k + 2] - mean);
    d += (x[k + 3] - mean) * (x[k + 3] - mean);
  }
  for (; k < n; ++k) a += (x[k] - mean) * (x[k] - mean);
  return (a + b) + (c + d);
}

// Fills the samples of snapshot rec by the backward search; false when one falls before the
// first snapshot.
bool Samples(Snaps s, int rec, int n, double period, std::vector<double>& out) {
  if (rec < 0 || rec >= static_cast<int>(s.size()) || n < 1) return false;
  const double step = period / 1440.0 / n;
  if (!(step > 0) || !std::isfinite(step)) return false;
  out.assign(static_cast<size_t>(n), 0.0);
  out[static_cast<size_t>(n - 1)] = s[rec].Last;
  int j = rec;
  for (int k = n - 2; k >= 0; --k) {
    const double t = SampleTime(s[rec].Time, n - 1 - k, step);
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
  return SumOf(v.data(), static_cast<int>(v.size())) / static_cast<double>(v.size());
}

double BandOf(const std::vector<double>& v, double mean, bool high) {
  const double sd = std::sqrt(SquaresAbout(v.data(), static_cast<int>(v.size()), mean) / static_cast<double>(v.size()));
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

void PriceTrack::Clear() {
  T.clear();
  P.clear();
  Slope.clear();
}

void PriceTrack::Append(Snaps snaps) {
  if (snaps.empty()) return;
  const size_t from = T.size();
  T.reserve(from + snaps.size());
  P.reserve(from + snaps.size());
  Slope.reserve(from + snaps.size());
  for (const ValueRec& r : snaps) {
    T.push_back(r.Time);
    P.push_back(r.Last);
    Slope.push_back(0.0);
  }
  for (size_t j = from == 0 ? 0 : from - 1; j + 1 < T.size(); ++j) Slope[j] = SlopeOf(T[j], P[j], T[j + 1], P[j + 1]);
}

bool OverlaySampler::Sample(const PriceTrack& track, int rec) {
  if (rec < 0 || rec >= track.Size()) return false;
  if (!(step_ > 0) || !std::isfinite(step_)) return false;
  if (rec < lastRec_) std::fill(cursor_.begin(), cursor_.end(), -1);  // visited out of order: restart
  lastRec_ = rec;
  const double* T = track.T.data();
  const double* P = track.P.data();
  const double* S = track.Slope.data();
  double* out = samples_.data();
  int* cursor = cursor_.data();
  out[n_ - 1] = P[rec];
  int limit = rec;  // a sample's snapshot is at or before the next later sample's one
  for (int k = n_ - 2; k >= 0; --k) {
    const double t = SampleTime(T[rec], n_ - 1 - k, step_);
    int j = cursor[k];
    // A cursor carried from an earlier snapshot is at or before its answer now (times ascend),
    // so it only moves forward; the backward step only matters for disordered times.
    if (j > limit) j = limit;
    while (j + 1 <= limit && T[j + 1] + SearchEps <= t) ++j;
    while (j >= 0 && T[j] + SearchEps > t) --j;
    cursor[k] = j;
    if (j < 0) return false;
    out[k] = P[j] + (t - T[j]) * S[j];
    limit = j;
  }
  mean_ = SumOf(out, n_) / static_cast<double>(n_);
  // The same arithmetic as BandOf, done once for both bands.
  sd_ = std::sqrt(SquaresAbout(out, n_, mean_) / static_cast<double>(n_));
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
