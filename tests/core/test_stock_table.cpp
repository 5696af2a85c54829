#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <limits>
#include <thread>
#include <vector>

#include "core/add_snap.h"
#include "core/locks.h"
#include "core/market_clock.h"
#include "core/program_state.h"
#include "core/stock_table.h"
#include "platform/clock.h"

namespace {
const TDateTime Day = EncodeDate(2024, 3, 4);

SnapData Snap(std::string_view sym, double secs, float last, float vol = 0, TDateTime day = Day) {
  SnapData s;
  s.Symbol = sym;
  s.Last = last;
  s.Bid = last - 0.01f;
  s.Ask = last + 0.01f;
  s.Volume = vol;
  s.MarketDate = day;
  s.QuoteTime = secs / 86400.0;
  return s;
}

std::vector<ValueRec> Values(std::string_view sym) {
  std::vector<ValueRec> out;
  StockInfoType* rec = ResolveStock(sym);
  if (!rec || !rec->Values.Lock("TEST")) return out;
  out.assign(rec->Values.Data(), rec->Values.Data() + rec->Values.Count());
  rec->Values.Unlock();
  return out;
}
}  // namespace

TEST(StockTable, FindUpperCasesKeysAndIndicesStay) {
  TMyStrList t;
  EXPECT_EQ(t.Find("ibm"), -1);
  EXPECT_EQ(t.Add(""), -1);
  const int ibm = t.Add("ibm");
  ASSERT_EQ(ibm, 0);
  EXPECT_EQ(t.Strings(ibm), "IBM");
  EXPECT_EQ(t.Find("IBM"), ibm);
  EXPECT_EQ(t.Add("IbM"), ibm);
  const int longer = t.Add("abcdefghijKLMN");
  EXPECT_EQ(t.Strings(longer), "ABCDEFGHIJKLMN");
  EXPECT_EQ(t.Find("ABCDEFGHI"), -1);
  StockInfoType* rec = t.Objects(ibm);
  // Thousands of later symbols (several index rebuilds) move neither indices nor records.
  for (int i = 0; i < 5000; ++i) t.Add("S" + std::to_string(i));
  EXPECT_EQ(t.Find("ibm"), ibm);
  EXPECT_EQ(t.Objects(ibm), rec);
  EXPECT_EQ(t.Find("S4999"), 5001);
  EXPECT_EQ(t.Count(), 5002);
  EXPECT_EQ(t.Objects(-1), nullptr);
  EXPECT_EQ(t.Objects(t.Count()), nullptr);
}

TEST(StockTable, FindWhileAnotherThreadAdds) {
  TMyStrList t;
  std::atomic<int> added{0};
  std::thread writer([&] {
    for (int i = 0; i < 20000; ++i) {
      t.Add("K" + std::to_string(i));
      added.store(i + 1, std::memory_order_release);
    }
  });
  int misses = 0;
  while (added.load() < 20000) {
    const int n = added.load(std::memory_order_acquire);
    if (n == 0) continue;
    const int probe = n - 1;
    const int found = t.Find("K" + std::to_string(probe));
    if (found != probe || t.Strings(found) != "K" + std::to_string(probe)) ++misses;
  }
  writer.join();
  EXPECT_EQ(misses, 0);
}

TEST(AddSnap, KeepsTimeOrderOnePerSecondAndTheNewestQuote) {
  ASSERT_GE(AddSnap(Snap("ordr", 36000, 10)), 0);
  AddSnap(Snap("ORDR", 36010, 11, 500));
  AddSnap(Snap("ORDR", 36005, 10.5f, 300));  // late arrival goes in between
  AddSnap(Snap("ORDR", 36010.6, 11.2f, 600));  // same second as 36010: replaces it
  auto v = Values("ORDR");
  ASSERT_EQ(v.size(), 3u);
  EXPECT_FLOAT_EQ(v[0].Last, 10);
  EXPECT_FLOAT_EQ(v[1].Last, 10.5f);
  EXPECT_FLOAT_EQ(v[2].Last, 11.2f);
  EXPECT_NEAR(v[2].Time, Day + 36010.6 / 86400, 1e-9);
  StockInfoType* rec = ResolveStock("ORDR");
  EXPECT_EQ(rec->LastStored.load(), 2);
  EXPECT_DOUBLE_EQ(rec->FirstTime.load(), v[0].Time);

  StockQuote q;
  {
    LockHold h(AddSnapLock, "TEST");
    EXPECT_EQ(GetStockQuote("ordr", q), StockTable.Find("ORDR"));
  }
  EXPECT_DOUBLE_EQ(q.Last, 11.2f);  // the late 10.5 did not overwrite the newer quote
  EXPECT_EQ(q.Volume, 600);
  EXPECT_NEAR(q.UpdateTime, Day + 36010.6 / 86400, 1e-9);

  AddSnap(Snap("ORDR", 36002, 10.2f));  // a store in the middle reports its own index
  EXPECT_EQ(rec->LastStored.load(), 1);
}

TEST(AddSnap, RefusesBadInputAndEarlierDays) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  EXPECT_EQ(AddSnap(Snap("", 100, 1)), -1);
  EXPECT_EQ(AddSnap(Snap("BAD|X", 100, 1)), -1);
  EXPECT_EQ(AddSnap(Snap("BADV", 100, nan)), -1);
  EXPECT_EQ(AddSnap(Snap("BADV", 100, inf)), -1);
  SnapData s = Snap("BADV", 100, 1);
  s.Volume = inf;
  EXPECT_EQ(AddSnap(s), -1);
  s = Snap("BADV", 100, 1);
  s.QuoteTime = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(AddSnap(s), -1);
  s = Snap("BADV", 100, 1);
  s.MarketDate = std::numeric_limits<double>::infinity();
  EXPECT_EQ(AddSnap(s), -1);
  EXPECT_EQ(StockTable.Find("BADV"), -1);  // nothing refused made a record

  ASSERT_GE(AddSnap(Snap("DAYS", 50000, 5, 0, Day)), 0);
  AddSnap(Snap("DAYS", 50100, 6, 0, Day));
  EXPECT_EQ(AddSnap(Snap("DAYS", 60000, 4, 0, Day - 1)), -1);  // yesterday's tick
  EXPECT_EQ(Values("DAYS").size(), 2u);
  AddSnap(Snap("DAYS", 34300, 7, 0, Day + 1));  // the next day starts afresh
  auto v = Values("DAYS");
  ASSERT_EQ(v.size(), 1u);
  EXPECT_FLOAT_EQ(v[0].Last, 7);
}

TEST(AddSnap, SubSecondFeedStaysBoundedByOnePerSecond) {
  // Five snapshots a second for an hour.
  for (int i = 0; i < 5 * 3600; ++i) AddSnap(Snap("FAST", 34200 + i * 0.2, 10.0f + (i % 7)));
  auto v = Values("FAST");
  EXPECT_EQ(v.size(), 3600u);
  for (size_t i = 1; i < v.size(); ++i) ASSERT_LT(v[i - 1].Time, v[i].Time);
}

TEST(AddSnap, QuoteOfUnknownAndCash) {
  TestClock clock(1709560800000);  // 2024-03-04 14:00 UTC
  ScopedClock use(clock);
  StockQuote q;
  q.Last = 5;
  LockHold h(AddSnapLock, "TEST");
  EXPECT_EQ(GetStockQuote("NOSUCH", q), -1);
  EXPECT_EQ(q.Last, 0);
  EXPECT_EQ(q.UpdateTime, 0);
  GetStockQuote("$cash", q);
  EXPECT_EQ(q.Last, 1.0);
  EXPECT_EQ(q.Bid, 1.0);
  EXPECT_EQ(q.High, 1.0);
  EXPECT_NEAR(q.UpdateTime, MarketNow(), 1e-6);
  FundQuote f;
  EXPECT_EQ(GetFundData("NOSUCH", f), -1);
  EXPECT_TRUE(f.Texts[0].empty());
}

TEST(AddSnap, ExportTicksCsv) {
  AddSnap(Snap("CSVX", 9 * 3600 + 30 * 60 + 5, 12.5f, 1000));
  AddSnap(Snap("CSVX", 9 * 3600 + 31 * 60, 12.75f, 2500));
  AddSnap(Snap("CSVX", 9 * 3600 + 32 * 60, 341.41f, 2600));  // as quoted, not 341.410004
  const std::string file = ProgDir + "csvx.csv";
  ASSERT_TRUE(ExportTicksCsv("csvx", file));
  std::string text;
  ASSERT_TRUE(ReadWholeFile(file, text));
  EXPECT_EQ(text,
            "Time,Last,Bid,Ask,Volume\r\n"
            "09:30:05, 12.500000, 12.490000, 12.510000, 1000\r\n"
            "09:31:00, 12.750000, 12.740000, 12.760000, 2500\r\n"
            "09:32:00, 341.410000, 341.400000, 341.420000, 2600\r\n");
  EXPECT_FALSE(ExportTicksCsv("NOSUCH", ProgDir + "none.csv"));
  EXPECT_FALSE(std::filesystem::exists(ProgDir + "none.csv"));
}
