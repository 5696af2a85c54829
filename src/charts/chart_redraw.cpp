#include "charts/chart_redraw.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>

#include "core/log.h"

namespace {

constexpr double RangeLow = 100000000.0;
constexpr double RangeHigh = -100000000.0;
constexpr double Missing = 0.000001;  // bid and ask below this are not quoted

// Holds a source's lock for a scope; Ok() says whether it was obtained.
class SourceLock {
public:
  SourceLock(SnapshotSource* s, std::string_view owner) : s_(s), ok_(s->Lock(owner)) {}
  ~SourceLock() {
    if (ok_) s_->Unlock();
  }
  SourceLock(const SourceLock&) = delete;
  SourceLock& operator=(const SourceLock&) = delete;
  bool Ok() const { return ok_; }

private:
  SnapshotSource* s_;
  bool ok_;
};

bool SameSnapshot(const ValueRec& a, const ValueRec& b) {
  return a.Time == b.Time && a.Last == b.Last && a.Bid == b.Bid && a.Ask == b.Ask && a.Volume == b.Volume;
}

double PeriodDays(const ChartSettings& s) {
  switch (s.Period) {
    case Period10Min: return 10.0 / 1440;
    case Period30Min: return 30.0 / 1440;
    case Period1Hour: return 60.0 / 1440;
    case Period2Hours: return 120.0 / 1440;
    case PeriodCustom: return s.CustomMinutes / 1440.0;
    default: return -1;
  }
}

// Whether an indicator's points still on the chart widen the price range before the new
// points are added: every kind does (EMA and PV Trend with their points from the redraw
// before), except a horizontal line without "Adjust Scale".
bool Widens(SlotKind k, const ChartSettings& s, int slot) {
  if (k == SlotKind::HorizLine) return std::trunc(s.IndParam[1][slot]) == 1;
  return true;
}

// True when any of last, bid and ask moved by fraction or more from a to b. A zero last in a
// counts as no reference; an unquoted bid or ask on either side does not count, so a source
// without them never freezes the chart.
bool Jumped(const ValueRec& a, const ValueRec& b, double fraction) {
  if (a.Last == 0) return false;
  const double cl = (double(b.Last) - a.Last) / a.Last;
  const double cb = (a.Bid >= Missing && b.Bid >= Missing) ? (double(b.Bid) - a.Bid) / a.Bid : 0.0;
  const double ca = (a.Ask >= Missing && b.Ask >= Missing) ? (double(b.Ask) - a.Ask) / a.Ask : 0.0;
  return std::fabs(cl) >= fraction || std::fabs(cb) >= fraction || std::fabs(ca) >= fraction;
}

// The price of a bid or ask for the chart: a gap where the source gave none.
double Quoted(double v) { return v < Missing ? std::nan("") : v; }

void Widen(double& lo, double& hi, double v) {
  if (!std::isfinite(v)) return;
  if (v < lo) lo = v;
  if (v > hi) hi = v;
}

}  // namespace

bool SpikeFilter::Reject(ValueRec& rec, double fraction) {
  if (!Jumped(ref_, rec, fraction)) {
    ref_ = rec;
    run_ = 0;
    return false;
  }
  // A zero price is never a level of its own.
  if (rec.Last <= 0) {
    run_ = 0;
  } else {
    run_ = run_ > 0 && !Jumped(prev_, rec, fraction) ? run_ + 1 : 1;
    prev_ = rec;
  }
  if (run_ >= ConfirmCount) {
    ref_ = rec;
    run_ = 0;
    return false;
  }
  rec.Last = ref_.Last;
  rec.Bid = ref_.Bid;
  rec.Ask = ref_.Ask;
  return true;
}

SlotKind SlotKindOf(const std::string& name) {
  if (name == "SMA") return SlotKind::Sma;
  if (name == "EMA") return SlotKind::Ema;
  if (name == "PV Trend") return SlotKind::Pvt;
  if (name == "Bollinger High") return SlotKind::BollHigh;
  if (name == "Bollinger Low") return SlotKind::BollLow;
  if (name == "Horiz. Line") return SlotKind::HorizLine;
  return SlotKind::None;
}

double PriceIncrement(double raw, bool fractions) {
  if (fractions) {
    static const double steps[] = {1.0 / 32, 1.0 / 16, 1.0 / 8, 0.25, 0.5, 1, 1.5, 2, 2.5, 3, 3.5, 4};
    static const double limits[] = {0.03135, 0.0626, 0.1251, 0.2501, 0.5001, 1.0001,
                                    1.5001,  2.0001, 2.5001, 3.0001, 3.5001, 4.001};
    for (size_t i = 0; i < std::size(steps); ++i)
      if (raw <= limits[i]) return steps[i];
    return raw;
  }
  static const double table[] = {0.001, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 1, 2,
                                 5,     10,    20,    50,   100,  200,  500, 1000, 2000, 5000};
  for (double t : table)
    if (raw <= t) return t;
  return 10000;
}

double BottomIncrement(double raw) {
  for (double t : {0.00001, 0.00002, 0.00005, 0.0001, 0.0002, 0.0005})
    if (raw <= t) return t;
  return PriceIncrement(raw, false);
}

ChartRedraw::ChartRedraw(std::array<PlotSeries*, 8> price, std::array<PlotSeries*, 3> bottom)
    : price_(price), bottom_(bottom) {}

RedrawResult ChartRedraw::AddToChart(bool full, SnapshotSource* source, const ChartSettings& s, bool noVolume,
                                     const RedrawEnv& env) {
  RedrawResult r;
  if (!source) {
    // No record: an empty chart, scaled like an empty list.
    PriceMin = VolMin = RangeLow;
    PriceMax = VolMax = RangeHigh;
    TimeMin = 0;
    TimeMax = 1;
    Finish(r, s, noVolume, env);
    return r;
  }
  mark_ = "Mark 2";
  try {
    int count = 0;
    ValueRec lastRaw{};
    {
      // Only the copy is made under the list's lock; everything is built from it afterwards.
      SourceLock lock(source, "CHTH1");
      if (!lock.Ok()) {
        r.Skipped = true;
        return r;
      }
      const Snaps snaps = source->View();
      count = static_cast<int>(snaps.size());
      // A shortened list, a snapshot stored at or before the last plotted one, the last plotted
      // one replaced in place, or a copy out of step (an earlier redraw failed): start over.
      const bool rewritten = LastIndex >= 0 && LastIndex < count && !SameSnapshot(snaps[LastIndex], lastWalked_);
      if (count - 1 < LastIndex || source->LastStored() < LastIndex || rewritten) {
        full = true;
        source->SetLastStored(count - 1);
      }
      if (static_cast<int>(clean_.size()) != LastIndex + 1 || percent_ != env.PortfolioPercent) full = true;
      if (!full && DrawnCount == count) {
        r.Skipped = r.Unchanged = true;
        return r;
      }
      if (full) clean_.clear();
      percent_ = env.PortfolioPercent;
      const size_t copied = clean_.size();
      clean_.insert(clean_.end(), snaps.begin() + static_cast<std::ptrdiff_t>(copied), snaps.end());
      // Snapshots are stored in dollars; the copy takes the unit drawn.
      if (percent_)
        for (size_t i = copied; i < clean_.size(); ++i) {
          ValueRec& v = clean_[i];
          v.Last = v.PrevClose != 0 ? static_cast<float>((double(v.Last) - v.PrevClose) / v.PrevClose * 100.0) : 0.0f;
        }
      if (count > 0) lastRaw = snaps[count - 1];
    }

    mark_ = "Mark 4";
    double start = 0;
    if (count >= 1) {
      const double days = PeriodDays(s);
      start = days > 0 ? clean_[static_cast<size_t>(count - 1)].Time - days : 0;
    }
    if (full) {
      r.WasFull = r.RebuildLegends = true;
      for (PlotSeries* p : price_) p->Clear();
      for (PlotSeries* p : bottom_) p->Clear();
      LastIndex = -1;
      filter_.Reset();
      track_.Clear();
      for (auto& sp : samplers_) sp.reset();
    }
    // Index and portfolio charts are never filtered.
    const int from = LastIndex + 1;
    std::vector<uint8_t> rejected(static_cast<size_t>(std::max(count - from, 0)), 0);
    if (!noVolume) {
      const double f = std::max(env.FilterPercent, 2) / 100.0;
      for (int i = from; i < count; ++i) rejected[static_cast<size_t>(i - from)] = filter_.Reject(clean_[static_cast<size_t>(i)], f);
    }
    if (track_.Size() != from) track_.Clear();
    track_.Append(Snaps(clean_.data() + track_.Size(), clean_.size() - static_cast<size_t>(track_.Size())));

    mark_ = "Mark 6";
    while (price_[0]->Count() > 0 && price_[0]->X(0) < start) {
      for (int k = 0; k < 3; ++k)
        if (price_[k]->Count() > 0) price_[k]->RemoveFirst();
    }
    for (int k = 3; k < 8; ++k)
      while (price_[k]->Count() > 0 && price_[k]->X(0) < start) price_[k]->RemoveFirst();
    for (PlotSeries* p : bottom_)
      while (p->Count() > 0 && p->X(0) < start) p->RemoveFirst();

    mark_ = "Mark 7";
    SlotKinds kind{};
    for (int slot = 1; slot <= 5; ++slot) kind[static_cast<size_t>(slot)] = SlotKindOf(s.IndName[slot]);
    PriceMin = VolMin = TimeMin = RangeLow;
    PriceMax = VolMax = TimeMax = RangeHigh;
    if (count == 0) {
      TimeMin = 0;
      TimeMax = 1;
    }
    for (int i = 0; i < price_[0]->Count(); ++i) {
      Widen(TimeMin, TimeMax, price_[0]->X(i));
      const double y = price_[0]->Y(i);
      Widen(PriceMin, PriceMax, y);
      LastPrice = y;
    }
    if (!noVolume && s.ShowBidAsk)
      for (int k = 1; k <= 2; ++k)
        for (int i = 0; i < price_[k]->Count(); ++i) Widen(PriceMin, PriceMax, price_[k]->Y(i));
    if (s.IndicatorsOn)
      for (int slot = 1; slot <= 5; ++slot)
        if (Widens(kind[static_cast<size_t>(slot)], s, slot))
          for (int i = 0; i < price_[slot + 2]->Count(); ++i) Widen(PriceMin, PriceMax, price_[slot + 2]->Y(i));

    mark_ = "Mark 9";
    if (LastIndex < 0)
      for (PlotSeries* p : price_) p->Reserve(count);
    Walk(from, rejected, start, kind, s, noVolume);

    mark_ = "Mark 13";
    const Snaps clean(clean_.data(), clean_.size());
    if (s.IndicatorsOn) {
      for (int slot = 1; slot <= 5; ++slot) {
        const SlotKind k = kind[static_cast<size_t>(slot)];
        try {
          if (k == SlotKind::Ema)
            FillEmaSeries(clean, *price_[0], *price_[slot + 2], s.IndParam[0][slot], PriceMin, PriceMax);
          else if (k == SlotKind::Pvt)
            FillPvtSeries(clean, *price_[0], *price_[slot + 2], PriceMin, PriceMax);
        } catch (const std::exception& e) {
          // One failing indicator leaves the others drawn.
          WriteLog("Chart indicator " + s.IndName[slot] + " error: " + e.what());
        }
      }
    }
    mark_ = "Mark 14";
    Bottom(s);

    mark_ = "Mark 17";
    LastIndex = count - 1;
    DrawnCount = count;
    lastWalked_ = lastRaw;
  } catch (const std::exception& e) {
    r.Error = e.what();
    r.ErrorPosition = "AddToChart Error - " + mark_ + " please report";
  }
  Finish(r, s, noVolume, env);
  return r;
}

void ChartRedraw::Walk(int from, const std::vector<uint8_t>& rejected, double start, const SlotKinds& kind,
                       const ChartSettings& s, bool noVolume) {
  const bool bidAsk = !noVolume && s.ShowBidAsk;
  const Snaps snaps(clean_.data(), clean_.size());
  // Slots sampling alike share one sampler.
  std::array<int, 6> owner{};
  for (int slot = 1; slot <= 5; ++slot) {
    const SlotKind k = kind[static_cast<size_t>(slot)];
    owner[slot] = 0;
    if (k != SlotKind::Sma && k != SlotKind::BollHigh && k != SlotKind::BollLow) continue;
    const double period = s.IndParam[0][slot];
    const int n = OverlaySampleCount(period);
    for (int o = 1; o < slot && !owner[slot]; ++o)
      if (owner[o] == o && samplers_[o] && samplers_[o]->N() == n && samplers_[o]->Period() == period) owner[slot] = o;
    if (!owner[slot]) {
      owner[slot] = slot;
      if (!samplers_[slot] || samplers_[slot]->N() != n || samplers_[slot]->Period() != period)
        samplers_[slot] = std::make_unique<OverlaySampler>(n, period);
    }
  }
  std::array<int, 6> sampledAt{-1, -1, -1, -1, -1, -1};
  std::array<bool, 6> sampleOk{};
  auto overlay = [&](int slot, int i, SlotKind k, double& value) {
    const int o = owner[slot];
    if (sampledAt[o] != i) {
      sampleOk[o] = samplers_[o]->Sample(track_, i);
      sampledAt[o] = i;
    }
    if (!sampleOk[o]) return false;
    value = k == SlotKind::Sma ? samplers_[o]->Mean() : samplers_[o]->Band(k == SlotKind::BollHigh);
    return value > NoValue;
  };

  const int count = static_cast<int>(snaps.size());
  for (int i = std::max(from, 0); i < count; ++i) {
    const ValueRec& rec = snaps[i];
    if (rec.Time < start) continue;
    // A rejected snapshot already carries the accepted prices: it is drawn flat.
    const bool spike = rejected[static_cast<size_t>(i - from)] != 0;
    const double t = rec.Time, last = rec.Last;
    Widen(TimeMin, TimeMax, t);
    price_[0]->Append(t, last);
    price_[2]->Append(t, Quoted(rec.Ask));
    price_[1]->Append(t, Quoted(rec.Bid));
    if (!spike) {
      Widen(PriceMin, PriceMax, last);
      LastPrice = last;
      if (bidAsk) {
        Widen(PriceMin, PriceMax, Quoted(rec.Bid));
        Widen(PriceMin, PriceMax, Quoted(rec.Ask));
      }
    }
    for (int slot = 1; slot <= 5; ++slot) {
      const SlotKind k = kind[static_cast<size_t>(slot)];
      PlotSeries* out = price_[slot + 2];
      double v = 0;
      if (k == SlotKind::Sma || ((k == SlotKind::BollHigh || k == SlotKind::BollLow) && !spike)) {
        if (spike && !s.IndicatorsOn) continue;
        if (overlay(slot, i, k, v)) {
          out->Append(t, v);
          if (s.IndicatorsOn) Widen(PriceMin, PriceMax, v);
        }
      } else if (k == SlotKind::HorizLine && !spike) {
        v = s.IndParam[0][slot];
        out->Append(t, v);
        if (s.IndicatorsOn && std::trunc(s.IndParam[1][slot]) == 1) Widen(PriceMin, PriceMax, v);
      }
    }
  }
}

void ChartRedraw::Bottom(const ChartSettings& s) {
  const std::string& name = s.IndName[6];
  const double p0 = s.IndParam[0][6], p1 = s.IndParam[1][6], p2 = s.IndParam[2][6];
  try {
    const Snaps snaps(clean_.data(), clean_.size());
    if (name == "RSI") {
      FillRsiSeries(snaps, *price_[0], *bottom_[1], *bottom_[2], p0, VolMin, VolMax);
    } else if (name == "MACD") {
      FillMacdSeries(snaps, *price_[0], *bottom_[1], *bottom_[2], p0, p1, p2, VolMin, VolMax);
    } else if (name == "Volume") {
      FillVolumeSeries(snaps, *price_[0], *bottom_[0], VolMin, VolMax);
    } else if (name == "Fast Stoch." || name == "Slow Stoch.") {
      const bool slow = name == "Slow Stoch.";
      FillStochSeries(slow, snaps, *price_[0], *bottom_[1], *bottom_[2], p0, p1, slow ? p2 : 0);
    }
  } catch (const std::exception& e) {
    // The axis below is still set, so the chart stays drawable.
    WriteLog("Chart bottom indicator " + name + " error: " + e.what());
  }
  if (name == "RSI") {
    VolMax = 100;
    VolMin = 0;
  } else if (name == "MACD") {
    if (std::fabs(VolMax) > std::fabs(VolMin)) {
      VolMax = std::fabs(VolMax);
      VolMin = -VolMax;
    } else {
      VolMin = -std::fabs(VolMin);
      VolMax = -VolMin;
    }
  } else if (name == "Volume") {
    VolMin = 0;
  } else if (name == "Fast Stoch." || name == "Slow Stoch.") {
    VolMax = 105;
    VolMin = -5;
  }
}

void ChartRedraw::Finish(RedrawResult& r, const ChartSettings& s, bool noVolume, const RedrawEnv& env) {
  const bool ok = r.Error.empty() && !r.Skipped;
  if (ok) {
    if (PriceMin > 99999999) {
      PriceMin = 0;
      PriceMax = 1;
      VolMax = 1;
      VolMin = 0;
    }
    if (PriceMin >= PriceMax) PriceMin = PriceMax - 0.1;
    if (!(VolMax > VolMin) || VolMax > 99999999) {
      // Nothing to scale by (a flat or empty indicator): a unit range keeps the axis drawable.
      const bool macd = s.IndName[6] == "MACD";
      if (VolMin > 99999999 || VolMin < -99999999) VolMin = 0;
      if (macd) VolMin = -1;
      VolMax = VolMin + (macd ? 2 : 1);
    }
    scaled_ = true;
  }
  // Steps that run in every case.
  r.NoData = price_[0]->Count() < 2;
  if (!(TimeMax >= TimeMin) || TimeMin > 99999999) {
    TimeMin = 0;
    TimeMax = 1;
  }
  Axes(r, s, noVolume, env, ok);
  for (int slot = 1; slot <= 5; ++slot) r.PriceActive[slot + 2] = s.IndName[slot] != IndNone && s.IndicatorsOn;
  r.PriceActive[0] = true;
  r.PriceActive[1] = r.PriceActive[2] = !noVolume && s.ShowBidAsk;
  const std::string& b = s.IndName[6];
  r.BottomActive[0] = b == "Volume";
  r.BottomActive[1] = r.BottomActive[2] = b != "Volume";
}

std::optional<RedrawResult> ChartRedraw::Rescale(const ChartSettings& s, bool noVolume, const RedrawEnv& env) const {
  if (!scaled_) return std::nullopt;
  RedrawResult r;
  r.NoData = price_[0]->Count() < 2;
  Axes(r, s, noVolume, env, true);
  return r;
}

void ChartRedraw::Axes(RedrawResult& r, const ChartSettings& s, bool noVolume, const RedrawEnv& env,
                       bool scaled) const {
  if (scaled) {
    // Price axis: the margins and the step depend on the chart's size in pixels.
    r.SmallPriceFormat = std::fabs(PriceMin) < 0.1 && std::fabs(PriceMax) < 0.1;
    const int height = std::max(env.PriceHeight, 1);
    const double margin = (PriceMax - PriceMin) * 4 / height;
    r.PriceAxisMin = PriceMin - margin;
    r.PriceAxisMax = PriceMax + margin;
    const double h = std::max(env.TextHeight, 1);
    const double rows = std::max(0.0001, (height - 1.5 * h) / (1.5 * h));
    r.PriceIncrement = PriceIncrement((PriceMax - PriceMin) / rows, env.ShowFractions && !noVolume);

    // Bottom axis.
    const std::string& b = s.IndName[6];
    const double p0 = s.IndParam[0][6], p1 = s.IndParam[1][6], p2 = s.IndParam[2][6];
    if (b == "Volume") {
      r.BottomAxisMin = 0;
      r.BottomAxisMax = std::max(VolMax * 1.02, 1e-9);
      r.BottomTitle = "Volume";
    } else if (b == "RSI") {
      r.BottomAxisMin = VolMin * 1.02;
      r.BottomAxisMax = VolMax * 1.02;
      r.BottomTitle = "RSI(" + FloatText(p0) + ")";
    } else if (b == "MACD") {
      r.BottomAxisMin = VolMin * 1.05;
      r.BottomAxisMax = VolMax * 1.05;
      r.BottomTitle = "MACD(" + FloatText(p0) + "," + FloatText(p1) + "," + FloatText(p2) + ")";
    } else if (b == "Fast Stoch.") {
      r.BottomAxisMin = -5;
      r.BottomAxisMax = 105;
      r.BottomTitle = "FST(" + FloatText(p0) + "," + FloatText(p1) + ")";
    } else if (b == "Slow Stoch.") {
      r.BottomAxisMin = -5;
      r.BottomAxisMax = 105;
      r.BottomTitle = "SST(" + FloatText(p0) + "," + FloatText(p1) + "," + FloatText(p2) + ")";
    } else {
      r.BottomAxisMin = VolMin;
      r.BottomAxisMax = VolMax;
    }
    r.BottomIncrement = BottomIncrement((VolMax - VolMin) / 10);
  } else {
    r.PriceAxisMin = PriceMin;
    r.PriceAxisMax = PriceMax;
  }
  // The right side keeps a gap after the last point, in pixels.
  const double tm = (TimeMax - TimeMin) * 7 / std::max(env.PriceWidth, 1);
  r.TimeAxisMin = TimeMin;
  r.TimeAxisMax = TimeMax + (tm > 0 ? tm : 1.0 / 1440);
}
