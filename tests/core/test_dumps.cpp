#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include <filesystem>

#include "core/add_snap.h"
#include "core/dumps.h"
#include "core/log.h"
#include "core/locks.h"
#include "core/mini_chart.h"
#include "core/news.h"
#include "core/program_state.h"
#include "core/stock_table.h"

namespace {
const TDateTime Day = EncodeDate(2024, 6, 3);

void Feed(const char* sym, int n) {
  for (int i = 0; i < n; ++i) {
    SnapData s;
    s.Symbol = sym;
    s.Name = "Dump Test Inc";
    s.Last = 20.0f + static_cast<float>(i % 5);
    s.Bid = s.Last - 0.05f;
    s.Ask = s.Last + 0.05f;
    s.Volume = 1000.0f * static_cast<float>(i);
    s.TradeCount = i;
    s.PrevClose = 19.0f + static_cast<float>(i % 3);
    s.MarketDate = Day;
    s.QuoteTime = (36000.0 + 7 * i) / 86400.0;
    AddSnap(s);
  }
}

std::vector<ValueRec> Copy(StockInfoType* rec) {
  LockHold h(rec->Values.Cs(), "TEST");
  return {rec->Values.Data(), rec->Values.Data() + rec->Values.Count()};
}

// The dump's records with "DMPA" renamed to an unused key of the same length, so loading makes
// a fresh record.
std::string Renamed(std::string bytes, const std::string& from, const std::string& to) {
  size_t at = 0;
  while ((at = bytes.find(from, at)) != std::string::npos) bytes.replace(at, from.size(), to);
  return bytes;
}
}  // namespace

TEST(Dumps, QuoteAndNewsRoundTrip) {
  Feed("DMPA", 50);
  NewsRec n;
  n.Title = "Headline with | and \n inside";
  n.Link = "http://x/1";
  n.Source = "Wire";
  n.Time = Day + 0.4;
  n.Extra = 3;
  const int id = AddNewsItem("DMPA", n);
  MarkNewsItem("DMPA", id, true);
  SetNewsFlag("DMPA", 1);

  const std::string q = ProgDir + "q.dmp", nw = ProgDir + "n.dmp";
  ASSERT_TRUE(SaveQuoteDump(q));
  ASSERT_TRUE(SaveNewsDump(nw));
  std::string bytes;
  ASSERT_TRUE(ReadWholeFile(q, bytes));
  ASSERT_TRUE(WriteFileAtomic(q, Renamed(bytes, "DMPA", "DMPB")));
  ASSERT_TRUE(ReadWholeFile(nw, bytes));
  ASSERT_TRUE(WriteFileAtomic(nw, Renamed(bytes, "DMPA", "DMPB")));

  EXPECT_GE(LoadQuoteDump(q), 1);
  EXPECT_GE(LoadNewsDump(nw), 1);
  StockInfoType* a = ResolveStock("DMPA");
  StockInfoType* b = ResolveStock("DMPB");
  ASSERT_NE(b, nullptr);
  const auto va = Copy(a), vb = Copy(b);
  ASSERT_EQ(va.size(), 50u);
  ASSERT_EQ(vb.size(), va.size());
  for (size_t i = 0; i < va.size(); ++i) {
    EXPECT_EQ(vb[i].Time, va[i].Time);
    EXPECT_EQ(vb[i].Last, va[i].Last);
    EXPECT_EQ(vb[i].Bid, va[i].Bid);
    EXPECT_EQ(vb[i].Ask, va[i].Ask);
    EXPECT_EQ(vb[i].Volume, va[i].Volume);
    // Each snapshot keeps the previous close it came with (a portfolio chart in percent uses it).
    EXPECT_EQ(vb[i].PrevClose, 19.0f + static_cast<float>(i % 3));
  }
  EXPECT_EQ(b->LastStored.load(), 49);
  EXPECT_EQ(b->FirstTime.load(), va[0].Time);
  {
    LockHold h(AddSnapLock, "TEST");
    StockQuote qa, qb;
    GetStockQuote("DMPA", qa);
    GetStockQuote("DMPB", qb);
    EXPECT_EQ(qb.Name, "Dump Test Inc");
    EXPECT_EQ(qb.Last, qa.Last);
    EXPECT_EQ(qb.TradeCount, 49);
    EXPECT_EQ(qb.UpdateTime, qa.UpdateTime);
  }
  StringList t, l, s, d, e, r, ids;
  GetNewsItems("DMPB", t, l, s, d, e, r, ids);
  ASSERT_EQ(t.Count(), 1);
  EXPECT_EQ(t[0], n.Title);
  EXPECT_EQ(l[0], n.Link);
  EXPECT_EQ(e[0], "3");
  EXPECT_EQ(r[0], "Y");
  EXPECT_EQ(ids[0], std::to_string(id));
  EXPECT_EQ(b->NewNews.load(), 1);

  // Loading again takes nothing over data that is already there.
  LoadQuoteDump(q);
  EXPECT_EQ(Copy(b).size(), 50u);
}

TEST(Dumps, DamagedOrForeignFilesAreSafe) {
  Feed("DMPC", 20);
  const std::string q = ProgDir + "c.dmp";
  ASSERT_TRUE(SaveQuoteDump(q));
  std::string bytes;
  ASSERT_TRUE(ReadWholeFile(q, bytes));
  bytes = Renamed(bytes, "DMPC", "DMPD");
  // Cut the file inside DMPD's snapshots: DMPD and everything after it are dropped.
  const size_t at = bytes.find("DMPD");
  ASSERT_NE(at, std::string::npos);
  ASSERT_TRUE(WriteFileAtomic(q, bytes.substr(0, at + 200)));
  EXPECT_GE(LoadQuoteDump(q), 0);
  EXPECT_EQ(ResolveStock("DMPD"), nullptr);

  // A record without snapshots (its chart was cleared) reads back as such: an empty read.
  Feed("DMPE", 3);
  StockInfoType* e = ResolveStock("DMPE");
  ASSERT_NE(e, nullptr);
  {
    LockHold h(e->Values.Cs(), "TEST");
    e->Values.Clear(50);
  }
  ASSERT_TRUE(SaveQuoteDump(q));
  ASSERT_TRUE(ReadWholeFile(q, bytes));
  ASSERT_TRUE(WriteFileAtomic(q, Renamed(bytes, "DMPE", "DMPF")));
  EXPECT_GE(LoadQuoteDump(q), 1);
  ASSERT_NE(ResolveStock("DMPF"), nullptr);
  EXPECT_TRUE(Copy(ResolveStock("DMPF")).empty());

  ASSERT_TRUE(WriteFileAtomic(q, "not a dump at all"));
  EXPECT_EQ(LoadQuoteDump(q), -1);
  EXPECT_EQ(LoadNewsDump(q), -1);
  EXPECT_EQ(LoadQuoteDump(ProgDir + "missing.dmp"), -1);
}

// Keys of 11 to 20 characters are kept whole, and written after every shorter one: a reader
// that stops at a key it does not take (an earlier version took ten characters at most) still
// keeps every other record.
TEST(Dumps, LongKeysComeAfterTheOthersAndReadBackWhole) {
  Feed("DMPLONGSYMBOLOFTWENT", 4);  // twenty characters, added first
  Feed("DMPLONGSYM", 3);            // its first ten
  Feed("DMPG", 2);
  NewsRec n;
  n.Title = "Long news";
  n.Source = "Wire";
  n.Time = Day + 0.4;
  AddNewsItem("DMPLONGSYMBOLOFTWENT", n);
  AddNewsItem("DMPG", n);
  const std::string q = ProgDir + "long.dmp", nw = ProgDir + "longnews.dmp";
  ASSERT_TRUE(SaveQuoteDump(q));
  ASSERT_TRUE(SaveNewsDump(nw));
  for (const std::string& file : {q, nw}) {
    std::string bytes;
    ASSERT_TRUE(ReadWholeFile(file, bytes));
    const size_t longKey = bytes.find("DMPLONGSYMBOLOFTWENT");
    ASSERT_NE(longKey, std::string::npos) << file;
    EXPECT_LT(bytes.find("DMPG"), longKey) << file;
    bytes = Renamed(Renamed(bytes, "DMPLONGSYMBOLOFTWENT", "DMPLONGSYMBOLOFTWENX"), "DMPG", "DMPH");
    ASSERT_TRUE(WriteFileAtomic(file, bytes));
  }
  EXPECT_GE(LoadQuoteDump(q), 2);
  EXPECT_GE(LoadNewsDump(nw), 2);
  StockInfoType* longer = ResolveStock("DMPLONGSYMBOLOFTWENX");
  ASSERT_NE(longer, nullptr);
  EXPECT_EQ(Copy(longer).size(), 4u);
  EXPECT_EQ(longer->News.Count(), 1);
  EXPECT_EQ(Copy(ResolveStock("DMPLONGSYM")).size(), 3u);  // its namesake of ten is its own
  ASSERT_NE(ResolveStock("DMPH"), nullptr);
  EXPECT_EQ(Copy(ResolveStock("DMPH")).size(), 2u);
}

TEST(MiniChart, DrawsCollectedValuesAndNothingWithout) {
  Feed("MINI", 30);
  auto render = [](const char* sym, int flag) {
    QImage img(60, 20, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    DrawMiniChart(sym, p, QRect(5, 2, 50, 16), flag);
    p.end();
    int dark = 0;
    for (int y = 0; y < img.height(); ++y)
      for (int x = 0; x < img.width(); ++x) {
        if (img.pixelColor(x, y) != QColor(Qt::white)) {
          ++dark;
          EXPECT_TRUE(x >= 5 && x < 55 && y >= 2 && y < 18) << x << "," << y;
        }
      }
    return dark;
  };
  EXPECT_GT(render("MINI", 1), 40);
  EXPECT_EQ(render("NOMINI", 1), 0);
}

TEST(Dumps, LoadLogSaysWhatWasFound) {
  namespace fs = std::filesystem;
  LogOn = true;
  StartLog();
  fs::remove(ProgDir + "SDATA.DMP");
  ASSERT_TRUE(WriteFileAtomic(ProgDir + "SNEWS.DMP", "not a dump"));
  LoadDumps();
  std::string log;
  ASSERT_TRUE(ReadWholeFile(ProgDir + "stocks.log", log));
  EXPECT_NE(log.find("Dumps loaded: no SDATA.DMP, SNEWS.DMP unreadable"), std::string::npos) << log;
  EXPECT_EQ(log.find("-1 "), std::string::npos);
  fs::remove(ProgDir + "SNEWS.DMP");
  LogOn = false;
}
