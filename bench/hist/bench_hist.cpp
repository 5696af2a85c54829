// Historical chart figures, each beside a reference from the same run:
//   draw:  decoding a 1600x1000 chart GIF and drawing it with 20 trend lines (the chart view),
//          beside giflib decoding plus a bare QPainter drawImage and 20 drawLine (goal 1.3x);
//   store: StoreInCache of 500 charts into a cache of 10,000 files under the limit, beside
//          writing the same files plainly (goal 2x);
//   wait:  CPU time of a chart window waiting 10 s on a fetch that never answers, beside an
//          idle event loop for the same time (goal: under 1% of one core).
#include <gif_lib.h>
#include "giflib_memory.h"

#include <QApplication>
#include <QEventLoop>
#include <QImage>
#include <QPainter>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <vector>

#include "ads/gif/anim_gif.h"
#include "charts/hist_cache.h"
#include "charts/hist_chart_view.h"
#include "charts/hist_window.h"
#include "core/chart_cache.h"
#include "core/program_state.h"
#include "platform/messages.h"

#include "best_time.h"

namespace fs = std::filesystem;

namespace {

double Time(const std::function<void()>& run, double minimum = 0.5) { return BestSeconds(run, minimum); }

std::string ChartGif(int width, int height) {
  QImage img(width, height, QImage::Format_RGB32);
  img.fill(Qt::white);
  QPainter p(&img);
  p.setPen(QColor(215, 220, 230));
  for (int y = 40; y < height; y += 40) p.drawLine(0, y, width, y);
  for (int x = 60; x < width; x += 60) p.drawLine(x, 0, x, height);
  p.setPen(QPen(QColor(0, 70, 200), 2));
  double v = height / 2.0;
  for (int x = 1; x < width; ++x) {
    const double nv = std::clamp(v + std::sin(x * 0.05) * 4 + std::sin(x * 0.31) * 3, 20.0, height - 20.0);
    p.drawLine(x - 1, int(v), x, int(nv));
    v = nv;
  }
  p.end();
  TAnimGif gif;
  gif.Add(img);
  const auto bytes = gif.SaveToMemory();
  return std::string(bytes.begin(), bytes.end());
}

void GiflibDrawReference(const std::string& file, const std::vector<TrendLine>& lines) {
  std::vector<uint8_t> bytes(file.begin(), file.end());
  MemoryIn in{&bytes};
  int error = 0;
  GifFileType* gif = DGifOpen(&in, ReadMemory, &error);
  if (!gif || DGifSlurp(gif) != GIF_OK || gif->ImageCount < 1) {
    std::fprintf(stderr, "giflib failed\n");
    std::exit(1);
  }
  const SavedImage& frame = gif->SavedImages[0];
  const ColorMapObject* map = frame.ImageDesc.ColorMap ? frame.ImageDesc.ColorMap : gif->SColorMap;
  const int w = gif->SWidth, h = gif->SHeight;
  QImage img(w, h, QImage::Format_Indexed8);
  QVector<QRgb> table;
  for (int i = 0; i < map->ColorCount; ++i) table.push_back(qRgb(map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue));
  img.setColorTable(table);
  for (int y = 0; y < h; ++y) std::memcpy(img.scanLine(y), frame.RasterBits + size_t(y) * w, size_t(w));
  QImage out(w, h, QImage::Format_RGB32);
  QPainter p(&out);
  p.drawImage(0, 0, img);
  p.setPen(QPen(Qt::black, 2));
  for (const TrendLine& l : lines) p.drawLine(l.X1, l.Y1, l.X2, l.Y2);
  p.end();
  DGifCloseFile(gif, &error);
}

void BenchDraw() {
  const std::string file = ChartGif(1600, 1000);
  HistChartView view;
  view.resize(1600, 1000);
  std::vector<TrendLine> lines;
  for (int i = 0; i < 20; ++i) {
    const TrendLine l{20 + i * 70, 900 - i * 20, 300 + i * 60, 100 + i * 30};
    view.Lines().MouseDown(l.X1, l.Y1);
    view.Lines().MouseMove(l.X2, l.Y2);
    view.Lines().MouseUp();
    lines.push_back(l);
  }
  if (view.Lines().LineCount() != 20) std::fprintf(stderr, "only %d lines\n", view.Lines().LineCount());
  const double ours = Time([&] {
    if (!view.ShowGif(file)) std::exit(1);
    volatile int sink = view.Rendered().width();
    (void)sink;
  });
  const double ref = Time([&] { GiflibDrawReference(file, lines); });
  std::printf("%-52s %10s %10s %8s\n", "chart 1600x1000 + 20 lines (ms)", "ours", "reference", "ratio");
  std::printf("%-52s %10.2f %10.2f %8.2f\n", "decode and draw (goal <= 1.3)", ours * 1e3, ref * 1e3, ours / ref);
}

void BenchStore() {
  ChartCacheMB = 1;
  const std::string gif = ChartGif(24, 8);
  const int existing = 10000, stored = 500;
  auto fill = [&] {
    std::error_code ec;
    fs::remove_all(ChartCacheDir(), ec);
    fs::create_directories(ChartCacheDir(), ec);
    for (int i = 0; i < existing; ++i) std::ofstream(ChartCacheDir() + "OLD" + std::to_string(i) + "_1_1_x.gif") << "0123456789012345678901234567890123456789"; // 40 bytes each
    ChartCacheBytes = GetGifCacheSize();
  };
  const TDateTime stamp = 46360.875;
  std::vector<std::string> names;
  for (int i = 0; i < stored; ++i) names.push_back(HistCacheName("", "SYM" + std::to_string(i), stamp, "7", "q" + std::to_string(i)));
  auto stampFor = [](const std::string&) { return 46360.875; };
  double ours = 1e30, ref = 1e30;
  fill();
  if (ChartCacheBytes + int64_t(stored) * int64_t(gif.size()) > 1'000'000)
    std::fprintf(stderr, "over the limit: %zu bytes a chart\n", gif.size());
  for (int round = 0; round < 3; ++round) {
    fill();
    auto start = std::chrono::steady_clock::now();
    for (const std::string& n : names)
      if (StoreInCache(n, gif, stampFor, true) != StoreResult::Stored) std::exit(1);
    ours = std::min(ours, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    fill();
    start = std::chrono::steady_clock::now();
    for (const std::string& n : names) {
      FILE* f = std::fopen((ChartCacheDir() + n + ".gif").c_str(), "wb");
      std::fwrite(gif.data(), 1, gif.size(), f);
      std::fclose(f);
    }
    ref = std::min(ref, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::printf("%-52s %10.2f %10.2f %8.2f\n", "store 500 charts beside 10,000 files (ms, goal <= 2)", ours * 1e3,
              ref * 1e3, ours / ref);
}

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double CpuOverLoop(int ms) {
  const double before = CpuSeconds();
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
  return CpuSeconds() - before;
}

void BenchWait() {
  // A site that takes the connection and never answers.
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listener, 8) != 0) std::exit(1);
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
  const std::string host = "127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
  ParamList.Clear();
  ParamList.Add("HISTSITE=" + host);
  ParamList.Add("HISTOURADS=YES");

  const double idle = CpuOverLoop(10000);
  auto* w = new TfrmHist("STALL");
  w->show();  // its identifier look-up starts and stalls
  QEventLoop settle;
  QTimer::singleShot(200, &settle, &QEventLoop::quit);
  settle.exec();
  if (!w->Fetching()) std::fprintf(stderr, "the window is not waiting\n");
  const double waiting = CpuOverLoop(10000);
  std::printf("%-52s %9.3f%% %9.3f%% %8.2f\n", "CPU of a window on a stalled fetch, 10 s (goal < 1%)",
              waiting / 10 * 100, idle / 10 * 100, idle > 0 ? waiting / idle : 0.0);
  w->close();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  ::close(listener);
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const fs::path home = fs::temp_directory_path() / ("vantora-bench-hist-" + std::to_string(::getpid()));
  fs::create_directories(home);
  ProgDir = home.string() + "/";
  BenchDraw();
  BenchStore();
  BenchWait();
  std::error_code ec;
  fs::remove_all(home, ec);
  return 0;
}
