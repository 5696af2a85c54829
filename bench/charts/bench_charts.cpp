// Chart redraw and painting, each beside its floor measured in the same run:
// a full redraw and an idle pulse against copying the snapshots out of the list, and painting
// a chart against a bare drawPolyline of the same points.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "charts/chart_redraw.h"
#include "charts/chart_widget.h"
#include "core/stock_table.h"
#include "platform/datetime.h"

namespace {

std::unique_ptr<StockInfoType> MakeRecord(int n) {
  auto rec = std::make_unique<StockInfoType>("BENCH");
  std::mt19937 rng(1);
  std::uniform_real_distribution<double> step(-0.002, 0.002);
  double p = 50, t = EncodeDate(2024, 3, 5) + 9.5 / 24;
  rec->Values.Lock("BENCH");
  rec->Values.Clear(n);
  for (int i = 0; i < n; ++i) {
    ValueRec r;
    p *= 1 + step(rng);
    r.Last = static_cast<float>(p);
    r.Bid = r.Last - 0.01f;
    r.Ask = r.Last + 0.01f;
    r.Volume = 100.0f * i;
    r.Time = t;
    t += 1.2 / 86400;  // a snapshot every 1.2 s
    rec->Values.Store(r);
  }
  rec->Values.Unlock();
  return rec;
}

ChartSettings FullSettings() {
  ChartSettings s;
  s.IndName[1] = "SMA";
  s.IndName[2] = "EMA";
  s.IndName[3] = "PV Trend";
  s.IndName[4] = "Bollinger High";
  s.IndName[5] = "Bollinger Low";
  s.IndName[6] = "Slow Stoch.";
  return s;
}

struct Series {
  std::array<SeriesPoints, 8> price;
  std::array<SeriesPoints, 3> bottom;
  ChartRedraw redraw{{&price[0], &price[1], &price[2], &price[3], &price[4], &price[5], &price[6], &price[7]},
                     {&bottom[0], &bottom[1], &bottom[2]}};
};

double CopyFloor(StockInfoType& rec) {
  const auto t0 = std::chrono::steady_clock::now();
  rec.Values.Lock("COPY");
  std::vector<ValueRec> copy(rec.Values.Data(), rec.Values.Data() + rec.Values.Count());
  rec.Values.Unlock();
  benchmark::DoNotOptimize(copy.data());
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

template <class F>
double Best(int reps, F f) {
  double best = 1e9;
  for (int i = 0; i < reps; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  return best;
}

void BM_FullRedraw(benchmark::State& state) {
  auto rec = MakeRecord(static_cast<int>(state.range(0)));
  StockSnapshotSource src(rec.get());
  const ChartSettings s = FullSettings();
  RedrawEnv env;
  Series c;
  for (auto _ : state) benchmark::DoNotOptimize(c.redraw.AddToChart(true, &src, s, false, env));
  const double redraw = Best(5, [&] { c.redraw.AddToChart(true, &src, s, false, env); });
  double floor = 1e9;
  for (int i = 0; i < 20; ++i) floor = std::min(floor, CopyFloor(*rec));
  state.counters["redraw_ms"] = redraw * 1e3;
  state.counters["copy_floor_ms"] = floor * 1e3;
  state.counters["ratio"] = redraw / floor;
}
BENCHMARK(BM_FullRedraw)->Arg(25000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_IdlePulse20Charts(benchmark::State& state) {
  auto rec = MakeRecord(25000);
  StockSnapshotSource src(rec.get());
  const ChartSettings s = FullSettings();
  RedrawEnv env;
  std::vector<std::unique_ptr<Series>> charts;
  for (int i = 0; i < 20; ++i) {
    charts.push_back(std::make_unique<Series>());
    charts.back()->redraw.AddToChart(true, &src, s, false, env);
  }
  auto pulse = [&] {
    for (auto& c : charts) benchmark::DoNotOptimize(c->redraw.AddToChart(false, &src, s, false, env));
  };
  for (auto _ : state) pulse();
  const double idle = Best(50, pulse);
  const double full = Best(3, [&] { charts[0]->redraw.AddToChart(true, &src, s, false, env); });
  double floor = 1e9;
  for (int i = 0; i < 20; ++i) floor = std::min(floor, CopyFloor(*rec));
  state.counters["pulse_us"] = idle * 1e6;
  state.counters["full_redraw_ms"] = full * 1e3;
  state.counters["pulse_vs_full_pct"] = 100 * idle / full;
  state.counters["pulse_vs_copy_floor"] = idle / floor;
}
BENCHMARK(BM_IdlePulse20Charts)->Unit(benchmark::kMicrosecond);

void BM_Paint25k(benchmark::State& state) {
  const int n = 25000;
  TChart chart;
  chart.resize(1000, 500);
  ChartLineSeries* s = chart.AddSeries();
  std::mt19937 rng(2);
  std::uniform_real_distribution<double> step(-1, 1);
  double y = 0;
  for (int i = 0; i < n; ++i) s->Append(i, y += step(rng));
  double lo = 1e9, hi = -1e9;
  for (int i = 0; i < n; ++i) lo = std::min(lo, s->Y(i)), hi = std::max(hi, s->Y(i));
  chart.BottomAxis.DateTime = false;
  chart.BottomAxis.SetMinMax(0, n);
  chart.RightAxis.SetMinMax(lo, hi);
  QImage img(1000, 500, QImage::Format_RGB32);
  const QFontMetrics fm(chart.font());
  const QRect plot = chart.PlotRect(img.rect(), fm);
  QPolygonF pts(n);
  for (int i = 0; i < n; ++i)
    pts[i] = QPointF(plot.left() + i * (plot.width() - 1.0) / n, plot.bottom() - (s->Y(i) - lo) * (plot.height() - 1) / (hi - lo));
  auto ours = [&] {
    QPainter p(&img);
    chart.Render(p, img.rect());
  };
  auto bare = [&] {
    QPainter p(&img);
    p.setPen(QPen(Qt::yellow, 1));
    p.drawPolyline(pts);
  };
  for (auto _ : state) ours();
  const double a = Best(20, ours), b = Best(20, bare);
  state.counters["chart_ms"] = a * 1e3;
  state.counters["polyline_ms"] = b * 1e3;
  state.counters["ratio"] = a / b;
}
BENCHMARK(BM_Paint25k)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
