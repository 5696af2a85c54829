#pragma once
// Price overlays sampled straight from the snapshots: simple moving average and Bollinger
// bands at one snapshot, and the price-volume trend rescaled into the price range.
#include <vector>

#include "charts/indicators.h"

// The no-value result of SmaAt and BollingerAt (below NoValue, so never drawn).
constexpr double NoValueResult = -100000001.0;

// Samples per overlay value for a period in minutes: 2 * Trunc(period), limited to 10..25.
int OverlaySampleCount(double period);

// The average of n price samples spaced period/n minutes apart, the last being the price of
// snapshot recIndex. time is not used. NoValueResult when a sample falls before the first
// snapshot.
double SmaAt(Snaps snaps, int recIndex, int n, double time, double period);
// The same samples' mean plus (high) or minus twice their population deviation.
double BollingerAt(Snaps snaps, int recIndex, int n, double time, double period, bool high);

// The snapshots' times and prices in contiguous arrays, with the slope from each to the next,
// for the samplers: a redraw samples every snapshot some 20 times.
class PriceTrack {
public:
  PriceTrack() = default;
  explicit PriceTrack(Snaps snaps) { Append(snaps); }
  void Clear();
  // Adds snapshots after the ones held.
  void Append(Snaps snaps);
  int Size() const { return static_cast<int>(T.size()); }
  std::vector<double> T, P;
  std::vector<double> Slope;  // from j to j + 1; 0 for equal times and for the last one
};

// Gives the same samples as SmaAt for snapshots visited in rising order, with search cursors
// that only move forward, so that a whole redraw costs O(snapshots * n).
class OverlaySampler {
public:
  OverlaySampler(int n, double period);
  // Fills the samples of snapshot recIndex; false for the no-value case.
  bool Sample(const PriceTrack& track, int recIndex);
  double Mean() const { return mean_; }
  double Band(bool high) const { return high ? mean_ + 2 * sd_ : mean_ - 2 * sd_; }
  int N() const { return n_; }
  double Period() const { return period_; }

private:
  int n_;
  double period_;
  double step_;
  std::vector<int> cursor_;  // per sample, the snapshot at or before its time
  std::vector<double> samples_;
  double mean_ = 0;
  double sd_ = 0;
  int lastRec_ = -1;
};

// Fills out with the price-volume trend of the snapshots from base's first point on, scaled
// into priceMin..priceMax less a fifteenth at each edge.
void FillPvtSeries(Snaps snaps, const IndSeries& base, IndSeries& out, double priceMin, double priceMax);
