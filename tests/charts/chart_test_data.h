#pragma once
// Snapshot lists and a snapshot source for the chart tests.
#include <random>
#include <string_view>
#include <vector>

#include "charts/chart_redraw.h"
#include "platform/datetime.h"

namespace charttest {

inline const double Day = EncodeDate(2024, 3, 5);
inline double At(int hour, int minute, double second = 0) {
  return Day + (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
}

inline ValueRec Snap(double time, float last, float bid = 0, float ask = 0, float volume = 0) {
  ValueRec r;
  r.Time = time;
  r.Last = last;
  r.Bid = bid;
  r.Ask = ask;
  r.Volume = volume;
  return r;
}

// A random walk of snapshots 1 to maxGapSec seconds apart, volume rising.
inline std::vector<ValueRec> RandomWalk(std::mt19937& rng, int n, double start, double maxGapSec = 90) {
  std::uniform_real_distribution<double> gap(1.0, maxGapSec), step(-0.02, 0.02), vol(0, 5000);
  std::vector<ValueRec> out;
  double t = start, p = 50, v = 1000;
  for (int i = 0; i < n; ++i) {
    p = std::max(1.0, p * (1 + step(rng)));
    v += vol(rng);
    out.push_back(Snap(t, static_cast<float>(p), static_cast<float>(p - 0.05), static_cast<float>(p + 0.05),
                       static_cast<float>(v)));
    t += gap(rng) / 86400.0;
  }
  return out;
}

// Snapshots in a vector, with the list's last-stored index.
class VectorSource : public SnapshotSource {
public:
  std::vector<ValueRec> Items;
  int Stored = -1;
  bool Refuse = false;
  bool Lock(std::string_view) override { return !Refuse; }
  void Unlock() override {}
  Snaps View() const override { return Snaps(Items.data(), Items.size()); }
  int LastStored() const override { return Stored; }
  void SetLastStored(int i) override { Stored = i; }
  void Append(const ValueRec& r) {
    Items.push_back(r);
    Stored = static_cast<int>(Items.size()) - 1;
  }
};

// The price line of a list: every snapshot from `from` on.
inline SeriesPoints BaseOf(const std::vector<ValueRec>& v, size_t from = 0) {
  SeriesPoints s;
  for (size_t i = from; i < v.size(); ++i) s.Append(v[i].Time, v[i].Last);
  return s;
}

}  // namespace charttest
