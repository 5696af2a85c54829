// Reply building in memory: GETLASTQUOTE(*) over a 5,000-symbol table, and how long GETTIMESALES
// holds a symbol's value-list lock (the time AddSnap may wait for it) beside the whole reply's
// build time, over a full list: one snapshot per second of a day.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "quote_seed.h"
#include "core/stock_table.h"
#include "streaming/quote_server.h"

namespace {

StockInfoType* Seed() {
  static StockInfoType* rec = [] {
    const TDateTime day = EncodeDate(2024, 6, 3);
    // 100,000 snapshots over the day; the list keeps one per whole second.
    for (int i = 0; i < 100000; ++i) {
      SnapData d;
      d.Symbol = "XYZ";
      d.Last = 50.0f + static_cast<float>(i % 500) * 0.01f;
      d.Bid = d.Last - 0.01f;
      d.Ask = d.Last + 0.01f;
      d.Volume = static_cast<float>(i) * 100.0f;
      d.MarketDate = day;
      d.QuoteTime = i * (86399.0 / 100000.0) / 86400.0;
      AddSnap(d);
    }
    return StockTable.FindRecord("XYZ");
  }();
  return rec;
}

StringList Params() {
  StringList p;
  for (const char* s : {"GETTIMESALES", "XYZ", "0", "0"}) p.Add(s);
  return p;
}

void BM_ValueListLockHeld(benchmark::State& state) {
  StockInfoType* rec = Seed();
  std::vector<TimeSalesRow> rows;
  for (auto _ : state) {
    VNServer::CollectTimeSales(*rec, 0, 1, rows);
    benchmark::DoNotOptimize(rows.data());
  }
  state.counters["snapshots"] = rec->Values.Count();
}
BENCHMARK(BM_ValueListLockHeld)->Unit(benchmark::kMicrosecond);

void BM_WholeTimeSalesReply(benchmark::State& state) {
  Seed();
  const StringList params = Params();
  size_t bytes = 0;
  for (auto _ : state) {
    std::string reply = VNServer::BuildTimeSales(params);
    bytes = reply.size();
    benchmark::DoNotOptimize(reply.data());
  }
  state.counters["reply_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_WholeTimeSalesReply)->Unit(benchmark::kMicrosecond);

void SeedSymbols() {
  static bool done = SeedQuoteTable(5000);
  (void)done;
}

void BM_ExpandAllSymbols(benchmark::State& state) {
  SeedSymbols();
  StringList params;
  for (auto _ : state) {
    params.Clear();
    params.Add("GETLASTQUOTE");
    params.Add("*");
    VNServer::ExpandAllSymbols(params);
  }
  state.counters["symbols"] = params.Count() - 1;
}
BENCHMARK(BM_ExpandAllSymbols)->Unit(benchmark::kMicrosecond);

// The whole GETLASTQUOTE(*) reply built anew: the symbols listed and sorted, then every line.
void BM_LastQuotesAllSymbols(benchmark::State& state) {
  SeedSymbols();
  StringList params;
  size_t bytes = 0;
  for (auto _ : state) {
    params.Clear();
    params.Add("GETLASTQUOTE");
    params.Add("*");
    VNServer::ExpandAllSymbols(params);
    std::string reply = VNServer::BuildLastQuotes(params);
    bytes = reply.size();
    benchmark::DoNotOptimize(reply.data());
  }
  state.counters["symbols"] = params.Count() - 1;
  state.counters["reply_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_LastQuotesAllSymbols)->Unit(benchmark::kMicrosecond);

template <typename F>
double MedianMs(F f) {
  std::vector<double> t;
  for (int i = 0; i < 15; ++i) {
    const auto a = std::chrono::steady_clock::now();
    f();
    t.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - a).count());
  }
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  StockInfoType* rec = Seed();
  std::vector<TimeSalesRow> rows;
  const StringList params = Params();
  const double held = MedianMs([&] { VNServer::CollectTimeSales(*rec, 0, 1, rows); });
  // Building the whole reply is how long the lock would be held if lines were formatted
  // during the walk.
  const double whole = MedianMs([&] { benchmark::DoNotOptimize(VNServer::BuildTimeSales(params)); });
  std::printf("GETTIMESALES over %d snapshots (100,000 stored, one kept per second)\n", rec->Values.Count());
  std::printf("  value-list lock held : %8.3f ms\n", held);
  std::printf("  whole reply built    : %8.3f ms (lock held this long if formatted under it)\n", whole);
  std::printf("  ratio held / whole   : %8.3f\n", held / whole);
  return 0;
}
