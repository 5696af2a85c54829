// Memory of the market-depth book window under a book flood: the fake service sends book
// snapshots of 65,535 fields back to back for 20 s into an open book window on the event loop.
// Printed: the resident memory before, its peak during the flood and after Stop, beside the
// same flood for the same time into a bare byte sink (what the bytes alone cost).
#include <QApplication>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/fake_site.h"
#include "core/error_report.h"
#include "core/program_state.h"
#include "core/result_slots.h"
#include "core/settings_file.h"
#include "platform/messages.h"
#include "retrieval/http_engine.h"
#include "streaming/client/book_window.h"
#include "streaming/client/streamer_messages.h"
#include "streaming/client/zeruv_streamer.h"

namespace {

using Steady = std::chrono::steady_clock;

constexpr int FloodSeconds = 20;
const char* const FloodQuery = "book=1&fields=65535&interval=0";

double RssMB() {
  std::ifstream f("/proc/self/status");
  std::string key;
  while (f >> key) {
    if (key == "VmRSS:") {
      double kb = 0;
      f >> kb;
      return kb / 1024.0;
    }
    f.ignore(4096, '\n');
  }
  return 0;
}

// Pumps events for the flood's time, sampling the resident memory; returns its peak.
double PeakWhilePumping(int seconds) {
  double peak = RssMB();
  const auto end = Steady::now() + std::chrono::seconds(seconds);
  while (Steady::now() < end) {
    WaitAndPump(100);
    peak = std::max(peak, RssMB());
  }
  return peak;
}

struct CountingSink : ByteSink {
  std::atomic<int64_t> Bytes{0};
  void Write(const char*, size_t n) override { Bytes += static_cast<int64_t>(n); }
};

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("vn_bench_book_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  ProgDir = dir.string() + "/";
  InstallProgramBinaries(ProgDir, VN_BINARY_DIR);
  SuppressErrorDialogs(true);
  OpenSettingsFile();
  CallbackMsg = RegisterWindowMessage("VNCallback");
  StreamerMessageHook = [](const std::string&, const std::string&) {};

  FakeSite site("streaming");
  if (!site.Running()) {
    std::printf("fake streaming service did not start\n");
    return 1;
  }
  {
    std::ofstream f(ProgDir + "IsldStr.Par", std::ios::binary | std::ios::trunc);
    f << "VERSION=2.501\r\nNAME=Flood\r\nHOST=" << site.Url("") << "\r\nPATH=/stream?s=##STOCKS##&" << FloodQuery
      << "\r\nCHANNELS=X|Q|STOCKINFO|1|I|ISLANDINFO|2|H|HEARTBEAT|3|J|IHEARTBEAT|4|N|INOTFOUMD|5|F|FATALMESS|6|"
         "M|MESSAGE|7|P|PROPERTIES|8\r\nSYMBOLLIMIT=24\r\nTHREADS=2\r\n";
  }

  // The reference first: the same flood into a bare sink, the memory it takes by itself.
  const double refBefore = RssMB();
  CountingSink sink;
  const int slot = AllocHRes('W');
  std::string name;
  int slotOut = 0;
  GetHttp(nullptr, 0, -1, slot, "GET", site.Host(), std::string("/stream?s=FLOOD&") + FloodQuery, "", "", "", "", 80,
          false, false, false, 60, slotOut, "", false, false, 0, name, &sink);
  const double refPeak = PeakWhilePumping(FloodSeconds);
  CollectHttp(name, -1);
  FreeHRes(slot);
  const double refMB = sink.Bytes / 1048576.0;

  auto* w = new TfrmIStream;
  w->show();
  w->SetSymbol("FLOOD");
  WaitAndPump(200);
  const double before = RssMB();
  w->pbStartClick();
  const double peak = PeakWhilePumping(FloodSeconds);
  const int64_t records = w->Streamer() ? w->Streamer()->RecordCount() : 0;
  w->pbStartClick();  // Stop
  WaitAndPump(500);
  const double after = RssMB();
  w->close();
  WaitAndPump(100);

  std::printf("book flood, snapshots of 65535 fields for %d s into the book window: resident %.0f MB before, "
              "peak %.0f MB (+%.0f MB), %.0f MB after Stop; %lld records handled\n",
              FloodSeconds, before, peak, peak - before, after, static_cast<long long>(records));
  std::printf("  the same flood into a bare sink: %.0f MB streamed, peak +%.0f MB; growth ratio %.2fx (goal: flat, "
              "within a few MB of the bare sink)\n",
              refMB, refPeak - refBefore, (peak - before) / std::max(1.0, refPeak - refBefore));
  ShutdownHttp();
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return 0;
}
