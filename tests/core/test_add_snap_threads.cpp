// Several writers and readers on the same symbols under the locks: the lists stay ordered and
// every record a reader sees is whole.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "core/add_snap.h"
#include "core/locks.h"
#include "core/stock_table.h"

namespace {
const TDateTime Day = EncodeDate(2024, 5, 6);
constexpr int Writers = 3;
constexpr int PerWriter = 600;
const char* const Symbols[] = {"STRA", "STRB", "STRC", "STRD"};

// Snapshot k of a symbol: every field follows from k, so a mixed record shows.
SnapData Make(const char* sym, int k) {
  SnapData s;
  s.Symbol = sym;
  s.Last = static_cast<float>(k);
  s.Bid = s.Last - 1;
  s.Ask = s.Last + 1;
  s.Volume = s.Last * 10;
  s.BidSize = k;
  s.AskSize = 2 * k;
  s.MarketDate = Day;
  s.QuoteTime = (34200.0 + k) / 86400.0;
  return s;
}

bool Whole(const ValueRec& v) {
  const double k = std::round(v.Time * 86400.0 - Day * 86400.0 - 34200.0);
  return v.Bid == v.Last - 1 && v.Ask == v.Last + 1 && v.Volume == v.Last * 10 && k == v.Last;
}
}  // namespace

TEST(AddSnapThreads, WritersAndReadersUnderTheLocks) {
  std::atomic<bool> done{false};
  std::atomic<int> bad{0}, reads{0}, readersStarted{0};

  std::vector<std::thread> threads;
  for (int w = 0; w < Writers; ++w) {
    threads.emplace_back([w, &readersStarted] {
      // The writers start once both readers run, so that they overlap even on a busy machine.
      while (readersStarted.load() < 2) std::this_thread::yield();
      for (int j = 0; j < PerWriter; ++j)
        for (const char* sym : Symbols) AddSnap(Make(sym, 1 + w + Writers * j));
    });
  }
  auto reader = [&](bool quotes) {
    std::vector<float> lastSeen(4, 0);
    int mine = 0;
    ++readersStarted;
    // Until the writers are done, and at least one read whatever the scheduler did.
    while (!done.load() || mine == 0) {
      for (int i = 0; i < 4; ++i) {
        if (quotes) {
          StockQuote q;
          LockHold h(AddSnapLock, "READER", true);
          if (!h) continue;
          if (GetStockQuote(Symbols[i], q) < 0) continue;
          if (q.Bid != q.Last - 1 || q.Ask != q.Last + 1 || q.BidSize * 2 != q.AskSize || q.Last < lastSeen[i]) ++bad;
          lastSeen[i] = static_cast<float>(q.Last);
        } else {
          StockInfoType* rec = ResolveStock(Symbols[i]);
          if (!rec) continue;
          LockHold h(rec->Values.Cs(), "READER");
          if (!h) continue;
          const ValueList& l = rec->Values;
          for (int k = 0; k < l.Count(); ++k) {
            if (!Whole(l[k]) || (k > 0 && !(l[k - 1].Time < l[k].Time))) ++bad;
          }
          const int at = rec->LastStored.load();
          if (at < 0 || at >= l.Count()) ++bad;
        }
        ++reads;
        ++mine;
      }
      std::this_thread::yield();
    }
  };
  std::thread r1(reader, false), r2(reader, true);
  for (auto& t : threads) t.join();
  done = true;
  r1.join();
  r2.join();

  EXPECT_EQ(bad.load(), 0);
  EXPECT_GT(reads.load(), 0);
  for (const char* sym : Symbols) {
    StockInfoType* rec = ResolveStock(sym);
    ASSERT_NE(rec, nullptr);
    LockHold h(rec->Values.Cs(), "CHECK");
    ASSERT_EQ(rec->Values.Count(), Writers * PerWriter) << sym;
    for (int k = 0; k < rec->Values.Count(); ++k) ASSERT_EQ(rec->Values[k].Last, k + 1) << sym;
    EXPECT_EQ(rec->Quote.Last, Writers * PerWriter);
  }
}
