#pragma once
// Indicators resampled onto a one-minute grid: EMA on the price chart; MACD, RSI, fast and
// slow stochastics and volume bars on the bottom chart. Each routine reads a time-ordered run
// of snapshots (the caller holds the list's lock or owns a copy) and the price line, whose
// first and last X give the shown period, and clears and refills its output series.
#include <span>

#include "charts/chart_series.h"
#include "core/stock_table.h"

using Snaps = std::span<const ValueRec>;

// A value is drawn only when it is greater than this.
constexpr double NoValue = -100000000.0;
constexpr double MinuteDays = 1.0 / 1440.0;
// The grid never walks more minutes than this (60 days): a snapshot with an absurd time stamp
// (zero, years back) cannot make a redraw hang or allocate without bound.
constexpr int MaxGridMinutes = 60 * 1440;

void FillEmaSeries(Snaps snaps, const IndSeries& base, IndSeries& out, double period, double& priceMin,
                   double& priceMax);
// Zero line; the histogram as (t, h), (t, 0), (t, h) per point. VolMin/VolMax include 0.
void FillMacdSeries(Snaps snaps, const IndSeries& base, IndSeries& zeroLine, IndSeries& histogram,
                    double ema1, double ema2, double smooth, double& volMin, double& volMax);
// The 50 line and the RSI; VolMin 0, VolMax 100.
void FillRsiSeries(Snaps snaps, const IndSeries& base, IndSeries& midLine, IndSeries& rsi, double period,
                   double& volMin, double& volMax);
// %K and %D; kSlow is used only when slow is set.
void FillStochSeries(bool slow, Snaps snaps, const IndSeries& base, IndSeries& kSeries, IndSeries& dSeries,
                     double kPeriod, double dPeriod, double kSlow);
// Bars of the volume traded in each grid interval; VolMin 0, VolMax the largest bar.
void FillVolumeSeries(Snaps snaps, const IndSeries& base, IndSeries& out, double& volMin, double& volMax);

// The size of a stochastic ring buffer for a period: rounded half to even, 3 when the value
// cannot be rounded, limited to 1..1000.
int StochBufferSize(double period);
