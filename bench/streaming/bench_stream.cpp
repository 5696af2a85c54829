// Streaming figures, each beside a reference measured in the same run:
//  1. byte queue throughput, one writer and one reader thread, beside a POSIX pipe;
//  2. records per second from the fake streaming service through 12 streaming threads into
//     AddSnap, beside the records the same service delivers into bare sinks;
//  3. CPU of 12 idle streaming threads over 10 s, beside 12 threads polling every 10 ms.
#include <QCoreApplication>

#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "common/fake_site.h"
#include "core/error_report.h"
#include "core/program_state.h"
#include "core/result_slots.h"
#include "core/settings_file.h"
#include "platform/messages.h"
#include "retrieval/http_engine.h"
#include "streaming/client/http_streamer.h"
#include "streaming/client/streamer_messages.h"
#include "streaming/client/zeruv_streamer.h"

namespace {

using Steady = std::chrono::steady_clock;

double Seconds(Steady::time_point a, Steady::time_point b) { return std::chrono::duration<double>(b - a).count(); }

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

constexpr size_t Chunk = 4096;
constexpr size_t TotalBytes = 512u * 1024u * 1024u;

double QueueMBs() {
  THTTPStreamer q("bench", true);
  q.SetMaxCapacity(1024 * 1024);
  const auto t0 = Steady::now();
  std::thread writer([&] {
    std::vector<char> buf(Chunk, 'x');
    for (size_t sent = 0; sent < TotalBytes; sent += Chunk) q.Write(buf.data(), Chunk);
  });
  std::vector<char> buf(Chunk);
  for (size_t got = 0; got < TotalBytes; got += Chunk) q.ReadBytes(buf.data(), Chunk);
  writer.join();
  return TotalBytes / 1048576.0 / Seconds(t0, Steady::now());
}

double PipeMBs() {
  int fds[2];
  if (pipe(fds) != 0) return 0;
  const auto t0 = Steady::now();
  std::thread writer([&] {
    std::vector<char> buf(Chunk, 'x');
    for (size_t sent = 0; sent < TotalBytes;) {
      const ssize_t n = write(fds[1], buf.data(), Chunk);
      if (n <= 0) break;
      sent += static_cast<size_t>(n);
    }
  });
  std::vector<char> buf(Chunk);
  for (size_t got = 0; got < TotalBytes;) {
    const ssize_t n = read(fds[0], buf.data(), Chunk);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  writer.join();
  close(fds[0]);
  close(fds[1]);
  return TotalBytes / 1048576.0 / Seconds(t0, Steady::now());
}

void WriteSite(FakeSite& site, const std::string& query, int limit) {
  std::ofstream f(ProgDir + "Bench.Par", std::ios::binary | std::ios::trunc);
  f << "VERSION=2.501\r\nNAME=Bench\r\nHOST=" << site.Url("") << "\r\nPATH=/stream?s=##STOCKS##&" << query
    << "\r\nCHANNELS=X|Q|STOCKINFO|1|I|ISLANDINFO|2|H|HEARTBEAT|3|J|IHEARTBEAT|4|N|INOTFOUMD|5|F|FATALMESS|6|"
       "M|MESSAGE|7|P|PROPERTIES|8\r\nSYMBOLLIMIT="
    << limit << "\r\nTHREADS=12\r\n";
}

std::string Symbols(int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += "BX" + std::to_string(1000 + i) + "+";
  return s;
}

// Counts bytes, for the bare-sink reference.
struct CountingSink : ByteSink {
  std::atomic<int64_t> Bytes{0};
  void Write(const char*, size_t n) override { Bytes += static_cast<int64_t>(n); }
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("vn_bench_stream_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  ProgDir = dir.string() + "/";
  InstallProgramBinaries(ProgDir, VN_BINARY_DIR);
  SuppressErrorDialogs(true);
  OpenSettingsFile();
  StreamerMessageHook = [](const std::string&, const std::string&) {};

  const double queue = QueueMBs(), pipeRate = PipeMBs();
  std::printf("byte queue, 1 writer + 1 reader thread, 4 KB chunks: %.0f MB/s; POSIX pipe, same threads: %.0f MB/s; ratio %.2fx (goal >= 1x)\n",
              queue, pipeRate, queue / pipeRate);

  FakeSite site("streaming");
  if (!site.Running()) {
    std::printf("fake streaming service did not start\n");
    return 1;
  }
  const int symbols = 240;
  // One quote record with a 6-character symbol; a heartbeat closes each round.
  const double recordBytes = 1 + 7 + 2 + 72 + 12;
  {
    WriteSite(site, "interval=0", symbols);
    TZeruvStreamer s;
    s.LoadSite("Bench.Par");
    s.Start(Symbols(symbols));
    WaitAndPump(1000);  // connected and flowing
    const int64_t r0 = s.RecordCount();
    const auto t0 = Steady::now();
    WaitAndPump(5000);
    const double ours = (s.RecordCount() - r0) / Seconds(t0, Steady::now());
    const int threads = s.ThreadCount();
    s.Stop();

    // The same service into 12 bare sinks: what it can deliver at all.
    std::vector<std::unique_ptr<CountingSink>> sinks;
    std::vector<std::string> names;
    std::vector<int> slotNums;
    std::vector<std::string> groups;
    for (int t = 0; t < 12; ++t) {
      std::string g;
      for (int i = t * 20; i < t * 20 + 20; ++i) g += "BX" + std::to_string(1000 + i) + "+";
      groups.push_back(g);
    }
    for (int t = 0; t < 12; ++t) {
      sinks.push_back(std::make_unique<CountingSink>());
      slotNums.push_back(AllocHRes('W'));
      std::string name;
      int slotOut = 0;
      GetHttp(nullptr, 0, -1, slotNums.back(), "GET", site.Host(), "/stream?interval=0&s=" + groups[t], "", "", "", "",
              80, false, false, false, 60, slotOut, "", false, false, 0, name, sinks.back().get());
      names.push_back(name);
    }
    WaitAndPump(1000);
    int64_t b0 = 0;
    for (auto& k : sinks) b0 += k->Bytes;
    const auto t1 = Steady::now();
    WaitAndPump(5000);
    int64_t b1 = 0;
    for (auto& k : sinks) b1 += k->Bytes;
    const double reference = (b1 - b0) / recordBytes / Seconds(t1, Steady::now());
    for (size_t i = 0; i < names.size(); ++i) {
      CollectHttp(names[i], -1);
      FreeHRes(slotNums[i]);
    }
    std::printf("records/s, fake service -> %d streaming threads -> AddSnap: %.0f; same service -> 12 bare sinks: %.0f; ratio %.2fx (goal >= 20000/s)\n",
                threads, ours, reference, ours / reference);
  }
  {
    // Idle: one round, then the service sends nothing.
    WriteSite(site, "stall=600000", symbols);
    TZeruvStreamer s;
    s.LoadSite("Bench.Par");
    s.Start(Symbols(symbols));
    WaitAndPump(1500);
    const double c0 = CpuSeconds();
    const auto t0 = Steady::now();
    std::this_thread::sleep_for(std::chrono::seconds(10));  // no window: nothing to pump
    const double ours = (CpuSeconds() - c0) / Seconds(t0, Steady::now()) * 100.0;
    const int threads = s.ThreadCount();
    s.Stop();

    // The reference: the same number of threads polling every 10 ms for bytes.
    std::atomic<bool> stop{false};
    std::vector<std::thread> pollers;
    THTTPStreamer q("poll", true);
    for (int i = 0; i < 12; ++i)
      pollers.emplace_back([&] {
        char b;
        while (!stop) {
          if (!q.Read(&b, 1)) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
      });
    const double c1 = CpuSeconds();
    const auto t1 = Steady::now();
    std::this_thread::sleep_for(std::chrono::seconds(10));
    const double reference = (CpuSeconds() - c1) / Seconds(t1, Steady::now()) * 100.0;
    stop = true;
    for (auto& t : pollers) t.join();
    std::printf("CPU of %d idle streaming threads (and their requests) over 10 s: %.3f%% of one core; 12 threads polling every 10 ms: %.3f%%; ratio %.2fx (goal < 0.5%%)\n",
                threads, ours, reference, reference > 0 ? ours / reference : 0.0);
  }
  ShutdownHttp();
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return 0;
}
