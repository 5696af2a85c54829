// "Refresh All" in the news window at 2,000 symbols: every listed symbol queued on the news
// thread's force list. Ours (the window's click: one lock hold, a set of what is queued) beside
// the per-symbol way it replaces (the lock taken and the whole list re-read for each symbol),
// in the same run: from an empty list, and again while all of them are still queued.
#include <QApplication>
#include <QListWidget>
#include <QPushButton>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "core/locks.h"
#include "core/stock_table.h"
#include "core/text_helpers.h"
#include "retrieval/news_thread.h"
#include "windows/news/news_window.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string SymbolName(int i) {
  std::string s;
  for (int n = i + 26 * 26; n > 0; n /= 26) s.insert(s.begin(), static_cast<char>('A' + n % 26));
  return s;
}

// The replaced way: each symbol under its own lock hold, looked for by reading the whole list.
bool PrependOneByScan(std::string& forceList, const std::string& symbol) {
  const std::string s = Trim(symbol);
  if (s.empty()) return false;
  std::istringstream words(forceList);
  std::string word;
  while (words >> word)
    if (word == s) return false;
  const std::string rest = Trim(forceList);
  forceList = rest.empty() ? s : s + " " + rest;
  return true;
}

void ReferenceRefreshAll(const QListWidget& list) {
  for (int i = 0; i < list.count(); ++i) {
    const std::string s = Trim(list.item(i)->text().toStdString());
    LockHold hold(NfrcLock, "NewsForce", true);
    if (hold) PrependOneByScan(NewsForceList, s);
  }
}

void ClearForceList() {
  LockHold hold(NfrcLock, "BENCH");
  NewsForceList.clear();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

template <typename Fn>
double MedianMs(int rounds, bool fromEmpty, Fn&& run) {
  std::vector<double> ms;
  for (int r = 0; r < rounds; ++r) {
    if (fromEmpty) ClearForceList();
    const auto t0 = Clock::now();
    run();
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
  }
  return Median(ms);
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("VANTORA_NO_BROWSER", "1", 1);  // the click is measured, not the article pane
  QApplication app(argc, argv);
  constexpr int kSymbols = 2000, kRounds = 15;
  {
    LockHold w(AddSnapLock, "BENCH");
    LockHold t(StockListLock, "BENCH");
    for (int i = 0; i < kSymbols; ++i) StockTable.Add(SymbolName(i));
  }
  TfrmNews window;
  window.show();
  QCoreApplication::processEvents();
  if (window.lbSymb->count() != kSymbols) {
    std::fprintf(stderr, "the window lists %d symbols\n", window.lbSymb->count());
    return 1;
  }

  std::string oursList, refList;
  const double oursEmpty = MedianMs(kRounds, true, [&] { window.pbForceClick(window.pbForceAll); });
  oursList = NewsForceList;
  const double oursQueued = MedianMs(kRounds, false, [&] { window.pbForceClick(window.pbForceAll); });
  const double refEmpty = MedianMs(kRounds, true, [&] { ReferenceRefreshAll(*window.lbSymb); });
  refList = NewsForceList;
  const double refQueued = MedianMs(kRounds, false, [&] { ReferenceRefreshAll(*window.lbSymb); });
  if (oursList != refList) {
    std::fprintf(stderr, "the two ways queue different lists\n");
    return 1;
  }

  std::printf("news window \"Refresh All\", %d symbols (median of %d clicks)\n", kSymbols, kRounds);
  std::printf("                                   ours (set)   reference (scan per symbol)   ratio ref/ours\n");
  std::printf("  list empty before the click     %8.2f ms   %8.2f ms                    %8.1fx\n", oursEmpty, refEmpty,
              refEmpty / oursEmpty);
  std::printf("  all still queued (click again)  %8.2f ms   %8.2f ms                    %8.1fx\n", oursQueued,
              refQueued, refQueued / oursQueued);
  std::printf("  goal: ours under 20 ms   -> %s\n", std::max(oursEmpty, oursQueued) < 20 ? "met" : "NOT met");
  return 0;
}
