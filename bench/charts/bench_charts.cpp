// Chart redraw and painting, each beside its reference measured in the same run:
// - a full redraw with every indicator against pandas/numpy computing the same indicators on
//   the same series (what a chart user would reach for instead), for a trading day at one
//   snapshot a second and for a whole day's list;
// - a bare redraw (no indicators) and the idle pulse of 20 open charts;
// - painting a whole chart against a bare drawPolyline of the same points, clipped alike.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "charts/chart_redraw.h"
#include "charts/chart_widget.h"
#include "core/stock_table.h"
#include "platform/datetime.h"

namespace {

constexpr int TradingDay = 23400;  // 09:30 to 16:00, one snapshot a second
constexpr int WholeDay = 86400;    // 00:00:00 to 23:59:59, the most a list holds

// A day's list at one snapshot a second from `from` (seconds after midnight), built through
// the list itself, so its count is what the list really holds.
std::unique_ptr<StockInfoType> MakeRecord(int n, int from) {
  auto rec = std::make_unique<StockInfoType>("BENCH");
  std::mt19937 rng(1);
  std::uniform_real_distribution<double> step(-0.0005, 0.0005);
  const double day = EncodeDate(2024, 3, 5);
  double p = 50;
  rec->Values.Lock("BENCH");
  rec->Values.Clear(n);
  for (int i = 0; i < n; ++i) {
    ValueRec r;
    p *= 1 + step(rng);
    r.Last = static_cast<float>(p);
    r.Bid = r.Last - 0.01f;
    r.Ask = r.Last + 0.01f;
    r.Volume = 100.0f * i;
    r.Time = day + (from + i) / 86400.0;
    rec->Values.Store(r);
  }
  rec->Values.Unlock();
  return rec;
}

int CountOf(StockInfoType& rec) {
  rec.Values.Lock("BENCH");
  const int n = rec.Values.Count();
  rec.Values.Unlock();
  return n;
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

ChartSettings BareSettings() {
  ChartSettings s;
  s.IndName[6] = "Volume";
  return s;
}

struct Series {
  std::array<SeriesPoints, 8> price;
  std::array<SeriesPoints, 3> bottom;
  ChartRedraw redraw{{&price[0], &price[1], &price[2], &price[3], &price[4], &price[5], &price[6], &price[7]},
                     {&bottom[0], &bottom[1], &bottom[2]}};
};

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

// The interpreter that has pandas (Debian's; a python3 earlier on PATH may lack it).
std::string PandasPython() {
  for (const char* candidate : {"/usr/bin/python3", "python3"})
    if (std::system((std::string(candidate) + " -c \"import pandas, numpy\" >/dev/null 2>&1").c_str()) == 0)
      return candidate;
  return "";
}

struct PandasRun {
  double Seconds = -1;  // best of the runs; negative when pandas is not there
  double SmaLast = 0, UpperLast = 0;  // its last SMA and upper band, to compare with ours
};

// pandas computing the same indicators on the same snapshots.
PandasRun RunPandas(StockInfoType& rec, int reps) {
  PandasRun run;
  const std::string python = PandasPython();
  if (python.empty()) return run;
  const auto dir = std::filesystem::temp_directory_path() / ("vn_bench_charts_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  {
    std::ofstream f(dir / "series.csv");
    f.precision(17);
    f << "time,last,volume\n";
    rec.Values.Lock("BENCH");
    for (int i = 0; i < rec.Values.Count(); ++i) {
      const ValueRec& r = rec.Values[i];
      f << r.Time << ',' << double(r.Last) << ',' << double(r.Volume) << '\n';
    }
    rec.Values.Unlock();
  }
  const std::string cmd = python + " " VN_BENCH_CHARTS_DIR "/pandas_indicators.py " + (dir / "series.csv").string() +
                          " " + std::to_string(reps) + " > " + (dir / "out.txt").string();
  if (std::system(cmd.c_str()) == 0) {
    std::ifstream in(dir / "out.txt");
    std::string line;
    auto value = [&](const char* key, double& out) {
      const std::string k = std::string(key) + "=";
      if (line.rfind(k, 0) == 0) out = std::stod(line.substr(k.size()));
    };
    double ms = -1;
    while (std::getline(in, line)) {
      value("pandas_ms", ms);
      value("sma_last", run.SmaLast);
      value("upper_last", run.UpperLast);
    }
    if (ms > 0) run.Seconds = ms / 1e3;
  }
  std::filesystem::remove_all(dir);
  return run;
}

// A full redraw with SMA, EMA, PV Trend, both Bollinger bands and the slow stochastic, against
// pandas computing the same indicators on the same series.
void BM_FullRedrawVsPandas(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  auto rec = MakeRecord(n, n == WholeDay ? 0 : 9 * 3600 + 1800);
  StockSnapshotSource src(rec.get());
  const ChartSettings s = FullSettings();
  RedrawEnv env;
  Series c;
  for (auto _ : state) benchmark::DoNotOptimize(c.redraw.AddToChart(true, &src, s, false, env));
  const double ours = Best(5, [&] { c.redraw.AddToChart(true, &src, s, false, env); });
  const PandasRun pandas = RunPandas(*rec, 5);
  state.counters["snapshots_in_list"] = CountOf(*rec);
  state.counters["redraw_ms"] = ours * 1e3;
  if (pandas.Seconds > 0) {
    state.counters["pandas_ms"] = pandas.Seconds * 1e3;
    state.counters["pandas_over_ours"] = pandas.Seconds / ours;
    // The same indicators: the last SMA and upper band of both, as a difference.
    const SeriesPoints& sma = c.price[3];
    const SeriesPoints& upper = c.price[6];
    state.counters["sma_last_diff"] = std::fabs(sma.Y(sma.Count() - 1) - pandas.SmaLast);
    state.counters["upper_last_diff"] = std::fabs(upper.Y(upper.Count() - 1) - pandas.UpperLast);
  } else {
    state.SetLabel("pandas not available: no reference");
  }
}
BENCHMARK(BM_FullRedrawVsPandas)->ArgName("snapshots")->Arg(TradingDay)->Arg(WholeDay)->Unit(benchmark::kMillisecond);

// A redraw with no price indicators (the line, bid, ask and volume bars) beside the full one.
void BM_BareRedraw(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  auto rec = MakeRecord(n, n == WholeDay ? 0 : 9 * 3600 + 1800);
  StockSnapshotSource src(rec.get());
  const ChartSettings bare = BareSettings(), full = FullSettings();
  RedrawEnv env;
  Series c;
  for (auto _ : state) benchmark::DoNotOptimize(c.redraw.AddToChart(true, &src, bare, false, env));
  const double b = Best(5, [&] { c.redraw.AddToChart(true, &src, bare, false, env); });
  const double f = Best(5, [&] { c.redraw.AddToChart(true, &src, full, false, env); });
  state.counters["snapshots_in_list"] = CountOf(*rec);
  state.counters["bare_ms"] = b * 1e3;
  state.counters["full_ms"] = f * 1e3;
  state.counters["bare_vs_full_pct"] = 100 * b / f;
}
BENCHMARK(BM_BareRedraw)->ArgName("snapshots")->Arg(TradingDay)->Arg(WholeDay)->Unit(benchmark::kMillisecond);

// The 2-second pulse over 20 open charts with nothing new, against one full redraw.
void BM_IdlePulse20Charts(benchmark::State& state) {
  auto rec = MakeRecord(TradingDay, 9 * 3600 + 1800);
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
  state.counters["snapshots_in_list"] = CountOf(*rec);
  state.counters["pulse_20_charts_us"] = idle * 1e6;
  state.counters["one_full_redraw_ms"] = full * 1e3;
  state.counters["pulse_vs_full_pct"] = 100 * idle / full;
}
BENCHMARK(BM_IdlePulse20Charts)->Unit(benchmark::kMicrosecond);

// Painting the whole chart (background, axes, grid, labels, line) against a bare drawPolyline
// of the same points clipped to the same plot rectangle.
void BM_PaintTradingDay(benchmark::State& state) {
  const int n = TradingDay;
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
    p.setClipRect(plot);
    p.setPen(QPen(Qt::yellow, 1));
    p.drawPolyline(pts);
  };
  for (auto _ : state) ours();
  const double a = Best(20, ours), b = Best(20, bare);
  state.counters["points"] = n;
  state.counters["whole_chart_ms"] = a * 1e3;
  state.counters["clipped_polyline_ms"] = b * 1e3;
  state.counters["chart_over_polyline"] = a / b;
}
BENCHMARK(BM_PaintTradingDay)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
