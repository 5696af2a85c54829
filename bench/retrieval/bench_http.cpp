// 200 small GETs against the local fake site: the request engine (a thread per request)
// beside the curl command-line tool fetching the same 200 addresses with --parallel.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "core/error_report.h"
#include "core/program_state.h"
#include "core/result_slots.h"
#include "fake_site.h"
#include "platform/string_list.h"
#include "retrieval/http_engine.h"

namespace {

constexpr int GetCount = 200;
std::vector<double> oursMs, curlMs;

std::string Path(int i) { return "/small?i=" + std::to_string(i); }

void Ours(benchmark::State& state) {
  const std::string host = TheFakeSite().Host();
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    std::vector<int> resultSlots(GetCount);
    std::vector<std::string> names(GetCount);
    for (int i = 0; i < GetCount; ++i) {
      resultSlots[i] = AllocHRes('B');
      int requestSlot = 0;
      GetHttp(nullptr, 0, -1, resultSlots[i], "GET", host, Path(i), "", "", "", "", 80, false, false, false, 30,
              requestSlot, "***", false, false, 0, names[i]);
    }
    int ok = 0;
    for (int i = 0; i < GetCount; ++i) {
      WaitForSlot(resultSlots[i], nullptr, 30000);
      CollectHttp(names[i], -1);
      ok += GetHRes(resultSlots[i]) == "ok";
      FreeHRes(resultSlots[i]);
    }
    double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    oursMs.push_back(ms);
    state.SetIterationTime(ms / 1000);
    if (ok != GetCount) state.SkipWithError("some requests failed");
  }
}

void CurlTool(benchmark::State& state) {
  const std::string config = ProgDir + "urls.cfg";
  std::string text;
  for (int i = 0; i < GetCount; ++i)
    text += "url = \"http://" + TheFakeSite().Host() + Path(i) + "\"\noutput = \"/dev/null\"\n";
  WriteFileAtomic(config, text);
  const std::string command = "curl --silent --fail --noproxy '*' --parallel --parallel-max 50 -K '" + config + "' 2>/dev/null";
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    int rc = std::system(command.c_str());
    double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    curlMs.push_back(ms);
    state.SetIterationTime(ms / 1000);
    if (rc != 0) state.SkipWithError("curl failed");
  }
}

BENCHMARK(Ours)->Name("200 GETs, request engine")->UseManualTime()->Iterations(7)->Unit(benchmark::kMillisecond);
BENCHMARK(CurlTool)->Name("200 GETs, curl --parallel")->UseManualTime()->Iterations(7)->Unit(benchmark::kMillisecond);

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  auto dir = std::filesystem::temp_directory_path() / ("vn_bench_retr_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  ProgDir = dir.string() + "/";
  SuppressErrorDialogs(true);
  if (!TheFakeSite().Running()) {
    std::fprintf(stderr, "the fake site did not start\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  ShutdownHttp();
  double ours = Median(oursMs), curl = Median(curlMs);
  if (ours > 0 && curl > 0)
    std::printf("\n200 small GETs (median): request engine %.1f ms, curl --parallel %.1f ms, ratio %.2f (goal <= 1.5)\n",
                ours, curl, ours / curl);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return 0;
}
