// Debug-log lines from 8 threads into the open debug window ("Log to File" off, then on),
// beside 8 threads appending to a plain QPlainTextEdit through queued calls, in the same run.
// Each run is a burst of 100,000 lines; it ends when the window (or the text box) has taken
// every line. Printed per run kind: lines per second (best of 3), the longest gap between two
// ticks of a 1 ms GUI timer during the burst (worst of 3), and the ratios ours/reference.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/log.h"
#include "core/program_state.h"
#include "windows/dialogs/debug_window.h"

namespace {
constexpr int Threads = 8;
constexpr int Lines = 100000;
constexpr int Runs = 3;

struct Figures {
  double linesPerSecond = 0;
  double stallMs = 0;
  uint64_t dropped = 0;
};

std::string Line(int thread, int i) {
  return "thread " + std::to_string(thread) + " request H" + std::to_string(i) + " GET http://127.0.0.1/quotes?s=IBM";
}

// Runs the writers while the GUI thread serves events, until done() holds; measures the gaps.
Figures Burst(const std::function<void(int thread, int i)>& write, const std::function<bool()>& done) {
  QElapsedTimer clock;
  double worstGap = 0;
  qint64 lastTick = 0;
  QTimer ticker;
  ticker.setTimerType(Qt::PreciseTimer);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    const qint64 now = clock.nsecsElapsed();
    worstGap = std::max(worstGap, (now - lastTick) / 1e6);
    lastTick = now;
  });
  QEventLoop loop;
  QTimer check;
  QObject::connect(&check, &QTimer::timeout, [&] {
    if (done()) loop.quit();
  });
  clock.start();
  ticker.start(1);
  check.start(1);
  std::vector<std::thread> writers;
  for (int t = 0; t < Threads; ++t)
    writers.emplace_back([t, &write] {
      for (int i = t; i < Lines; i += Threads) write(t, i);
    });
  loop.exec();
  const double seconds = clock.nsecsElapsed() / 1e9;
  for (auto& w : writers) w.join();
  ticker.stop();
  // The last tick's gap up to the end counts as well.
  worstGap = std::max(worstGap, (clock.nsecsElapsed() - lastTick) / 1e6);
  return {Lines / seconds, worstGap, 0};
}

Figures Ours(bool toFile) {
  Figures best{0, 0, 0};
  for (int run = 0; run < Runs; ++run) {
    std::filesystem::remove(ProgDir + "d.log");
    auto* w = new TfrmDebug;
    w->show();
    QApplication::processEvents();
    DebugToFile = toFile;
    std::atomic<int> written{0};
    const Figures f = Burst(
        [&](int t, int i) {
          WriteDebugLog(Line(t, i));
          written.fetch_add(1, std::memory_order_relaxed);
        },
        [&] { return written.load() == Lines && w->Queue().Waiting() == 0; });
    DebugToFile = false;
    best.linesPerSecond = std::max(best.linesPerSecond, f.linesPerSecond);
    best.stallMs = std::max(best.stallMs, f.stallMs);
    best.dropped += w->Queue().Dropped();
    if (w->LinesShown() + w->Queue().Dropped() != static_cast<uint64_t>(Lines))
      std::fprintf(stderr, "lines lost: shown %llu\n", static_cast<unsigned long long>(w->LinesShown()));
    w->close();
    QApplication::processEvents();
  }
  return best;
}

Figures Reference() {
  Figures best{0, 0, 0};
  for (int run = 0; run < Runs; ++run) {
    auto* edit = new QPlainTextEdit;
    edit->setReadOnly(true);
    edit->resize(560, 410);
    edit->show();
    QApplication::processEvents();
    std::atomic<int> appended{0};
    const Figures f = Burst(
        [&](int t, int i) {
          QString text = QString::fromStdString(Line(t, i));
          QMetaObject::invokeMethod(
              edit,
              [edit, text, &appended] {
                edit->appendPlainText(text);
                appended.fetch_add(1, std::memory_order_relaxed);
              },
              Qt::QueuedConnection);
        },
        [&] { return appended.load() == Lines; });
    best.linesPerSecond = std::max(best.linesPerSecond, f.linesPerSecond);
    best.stallMs = std::max(best.stallMs, f.stallMs);
    delete edit;
    QApplication::processEvents();
  }
  return best;
}

// The same burst shape with the threads only burning time: the stall the scheduler alone gives
// on this machine at the moment, for reading the other figures.
Figures Baseline() {
  Figures worst{0, 0, 0};
  for (int run = 0; run < Runs; ++run) {
    std::atomic<int> done{0};
    const Figures f = Burst(
        [&](int, int) {
          volatile double x = 1;
          for (int k = 0; k < 400; ++k) x = x * 1.0000001 + 1e-9;
          done.fetch_add(1, std::memory_order_relaxed);
        },
        [&] { return done.load() == Lines; });
    worst.stallMs = std::max(worst.stallMs, f.stallMs);
  }
  return worst;
}

void Print(const char* label, const Figures& ours, const Figures& ref) {
  std::printf("%-34s ours %9.0f lines/s   QPlainTextEdit+queued %9.0f lines/s   ratio %5.2f\n", label,
              ours.linesPerSecond, ref.linesPerSecond, ours.linesPerSecond / ref.linesPerSecond);
  std::printf("%-34s ours %9.1f ms        QPlainTextEdit+queued %9.1f ms        ratio %5.2f   (goal: ours <= 50 ms)\n",
              "  longest GUI stall in the burst", ours.stallMs, ref.stallMs, ours.stallMs / ref.stallMs);
  if (ours.dropped) std::printf("  lines dropped by the bounded queue: %llu\n", static_cast<unsigned long long>(ours.dropped));
}
}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("vn_bench_dialogs_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  ProgDir = dir.string() + "/";
  QApplication app(argc, argv);
  DebugOn = true;
  std::printf("Debug log: %d lines from %d threads per run, best rate and worst stall of %d runs\n", Lines, Threads, Runs);
  const Figures ref = Reference();
  const Figures off = Ours(false);
  const Figures on = Ours(true);
  const Figures idle = Baseline();
  Print("debug window, Log to File off", off, ref);
  Print("debug window, Log to File on", on, ref);
  std::printf("%-34s %.1f ms (8 threads burning time, no logging)\n", "scheduler alone, longest stall", idle.stallMs);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return 0;
}
