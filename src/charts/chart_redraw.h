#pragma once
// The intraday chart's redraw without a display: brings the price and bottom series up to date
// with a symbol's snapshots, incrementally or in full, and works out the axes.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "charts/chart_params.h"
#include "charts/chart_series.h"
#include "charts/indicators.h"
#include "charts/overlays.h"

// The snapshots of one symbol, read under the list's lock.
class SnapshotSource {
public:
  virtual ~SnapshotSource() = default;
  // False when the lock was not obtained; the data is then not to be touched.
  virtual bool Lock(std::string_view owner) = 0;
  virtual void Unlock() = 0;
  virtual Snaps View() const = 0;  // under the lock
  // The index at which a snapshot was last stored (under the lock).
  virtual int LastStored() const = 0;
  virtual void SetLastStored(int index) = 0;
};

// A symbol-table record's list.
class StockSnapshotSource : public SnapshotSource {
public:
  explicit StockSnapshotSource(StockInfoType* rec) : rec_(rec) {}
  bool Lock(std::string_view owner) override { return rec_->Values.Lock(owner); }
  void Unlock() override { rec_->Values.Unlock(); }
  Snaps View() const override { return Snaps(rec_->Values.Data(), static_cast<size_t>(rec_->Values.Count())); }
  int LastStored() const override { return rec_->LastStored.load(); }
  void SetLastStored(int index) override { rec_->LastStored.store(index); }

private:
  StockInfoType* rec_;
};

// What the redraw needs of the surroundings.
struct RedrawEnv {
  int FilterPercent = 30;   // spike filter
  bool ShowFractions = false;
  int PriceHeight = 200;    // price chart's plot height in pixels
  int PriceWidth = 400;     // and width
  int TextHeight = 13;      // height of "A" on the price chart
  // A portfolio drawn in percent: each snapshot's change from its previous close, in percent,
  // in place of its value.
  bool PortfolioPercent = false;
};

// What the window applies to its charts after a redraw.
struct RedrawResult {
  bool Skipped = false;      // a lock was not obtained, or nothing new: nothing changed
  bool Unchanged = false;    // nothing new since the last redraw
  bool WasFull = false;
  bool RebuildLegends = false;
  std::string Error;         // an error's message ...
  std::string ErrorPosition; // ... and where it happened
  double PriceAxisMin = 0, PriceAxisMax = 1, PriceIncrement = 0.1;
  bool SmallPriceFormat = false;  // labels "#.0###"
  double TimeAxisMin = 0, TimeAxisMax = 1;
  double BottomAxisMin = 0, BottomAxisMax = 1, BottomIncrement = 0.1;
  std::string BottomTitle;
  bool NoData = true;
  std::array<bool, 8> PriceActive{};
  std::array<bool, 3> BottomActive{};
};

// The spike filter of a stock chart. A snapshot whose last, bid or ask moved by the filter's
// fraction or more against the last accepted snapshot is rejected and takes the accepted
// prices. A real move is accepted once ConfirmCount rejected snapshots in a row agree with each
// other (each within the fraction of the one before): the last of them is the new level. Two
// bad ticks in a row never move the chart; a step that holds does after three snapshots.
class SpikeFilter {
public:
  static constexpr int ConfirmCount = 3;
  void Reset() { *this = SpikeFilter(); }
  // True when rec is rejected; its prices are then replaced by the accepted ones.
  bool Reject(ValueRec& rec, double fraction);

private:
  ValueRec ref_{};   // the last accepted snapshot
  ValueRec prev_{};  // the last rejected one of the current run
  int run_ = 0;      // rejected snapshots in a row that agree
};

// What a price-chart slot draws, resolved from its name once per redraw.
enum class SlotKind : uint8_t { None, Sma, Ema, Pvt, BollHigh, BollLow, HorizLine };
SlotKind SlotKindOf(const std::string& name);

// The price table of the axis step; the fraction table for a stock while fractions are shown.
double PriceIncrement(double raw, bool fractions);
// The bottom axis step: 0.00001 .. 0.0005, then the decimal price table.
double BottomIncrement(double raw);

class ChartRedraw {
public:
  // price: series 0 last, 1 bid, 2 ask, 3-7 slots 1-5; bottom: series 0-2.
  ChartRedraw(std::array<PlotSeries*, 8> price, std::array<PlotSeries*, 3> bottom);

  RedrawResult AddToChart(bool full, SnapshotSource* source, const ChartSettings& s, bool noVolume,
                          const RedrawEnv& env);
  // The axes of the last redraw worked out again for another chart size (a resize); nullopt
  // before the first complete redraw.
  std::optional<RedrawResult> Rescale(const ChartSettings& s, bool noVolume, const RedrawEnv& env) const;

  double PriceMin = -1000.0, PriceMax = -1000.0, TimeMin = -1000.0, TimeMax = -1000.0;
  double VolMin = -1000.0, VolMax = -1000.0;
  double LastPrice = 0;
  int LastIndex = -1;
  int DrawnCount = -1;

private:
  using SlotKinds = std::array<SlotKind, 6>;  // [1..5]
  void Walk(int from, const std::vector<uint8_t>& rejected, double start, const SlotKinds& kind,
            const ChartSettings& s, bool noVolume);
  void Bottom(const ChartSettings& s);
  void Finish(RedrawResult& r, const ChartSettings& s, bool noVolume, const RedrawEnv& env);
  void Axes(RedrawResult& r, const ChartSettings& s, bool noVolume, const RedrawEnv& env, bool scaled) const;

  std::array<PlotSeries*, 8> price_;
  std::array<PlotSeries*, 3> bottom_;
  // The snapshots copied out of the list, a rejected snapshot carrying the accepted prices:
  // the line, the overlays and the indicators all read this, never the list itself.
  std::vector<ValueRec> clean_;
  PriceTrack track_;  // clean_'s times and prices for the samplers
  SpikeFilter filter_;
  ValueRec lastWalked_{};  // the list's snapshot at LastIndex as it was copied
  bool percent_ = false;   // clean_ holds percent changes (RedrawEnv::PortfolioPercent)
  bool scaled_ = false;    // a redraw completed: the ranges can be rescaled
  std::array<std::unique_ptr<OverlaySampler>, IndSlots> samplers_;  // per price slot 1-5 ([0] unused)
  std::string mark_;
};
