#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include <limits>

#include "core/news.h"
#include "core/pending.h"
#include "core/stock_table.h"

namespace {
struct Lists {
  StringList titles, links, sources, dates, extras, reads, ids;
  void Get(std::string_view sym) { GetNewsItems(sym, titles, links, sources, dates, extras, reads, ids); }
};

NewsRec Item(const char* title, const char* source, TDateTime t, const char* link = "") {
  NewsRec n;
  n.Title = title;
  n.Source = source;
  n.Link = link;
  n.Time = t;
  return n;
}
}  // namespace

TEST(News, ItemsNewestStoredFirstWithoutIncompleteOnes) {
  const TDateTime t = EncodeDate(2024, 1, 5) + EncodeTime(14, 30, 0, 0);
  const int first = AddNewsItem("nwsa", Item("First", "Wire", t, "http://a/1"));
  AddNewsItem("NWSA", Item("", "Wire", t));         // no title
  AddNewsItem("NWSA", Item("No source", "", t));    // no source
  NewsRec bad = Item("Odd date", "Wire", std::numeric_limits<double>::quiet_NaN());
  bad.Extra = 7;
  AddNewsItem("NWSA", bad);
  const int last = AddNewsItem("NWSA", Item("Last", "Desk", t + 1));
  ASSERT_GT(first, 0);
  EXPECT_NE(first, last);

  Lists l;
  l.Get("NWSA");
  ASSERT_EQ(l.titles.Count(), 3);
  EXPECT_EQ(l.titles[0], "Last");
  EXPECT_EQ(l.titles[1], "Odd date");
  EXPECT_EQ(l.titles[2], "First");
  EXPECT_EQ(l.links[2], "http://a/1");
  EXPECT_EQ(l.links[0], "");
  EXPECT_EQ(l.sources[0], "Desk");
  EXPECT_EQ(l.dates[2], "Jan 05,2024, 14:30");
  EXPECT_EQ(l.dates[1], "***");
  EXPECT_EQ(l.extras[1], "7");
  EXPECT_EQ(l.reads[0], "N");
  EXPECT_EQ(l.ids[2], std::to_string(first));

  // By table index, and the cases that give nothing.
  Lists byIndex;
  byIndex.Get("|" + std::to_string(StockTable.Find("NWSA")));
  EXPECT_EQ(byIndex.titles.Count(), 3);
  for (const char* none : {"NWSAXXXXXXX", "NOSUCHNEWS", "|99999999", "|x", ""}) {
    l.Get(none);
    EXPECT_EQ(l.titles.Count(), 0) << none;
    EXPECT_EQ(l.ids.Count(), 0) << none;
  }
}

TEST(News, MarkingAndInfo) {
  const TDateTime t = EncodeDate(2024, 2, 1);
  const int a = AddNewsItem("NWSB", Item("A", "S", t + 0.1));
  const int b = AddNewsItem("NWSB", Item("B", "S", t + 0.3));
  AddNewsItem("NWSB", Item("C", "S", t + 0.2));
  EXPECT_GE(SetNewsFlag("nwsb", 1), 0);
  EXPECT_EQ(SetNewsFlag("NOSUCHNEWS", 1), -1);
  StockTable.Objects(StockTable.Find("NWSB"))->NewsChecked.store(t + 0.5);

  TDateTime checked = 0, unread = 0;
  EXPECT_EQ(GetNewsInfo("NWSB", checked, unread), 1);
  EXPECT_DOUBLE_EQ(checked, t + 0.5);
  EXPECT_DOUBLE_EQ(unread, t + 0.3);

  EXPECT_TRUE(MarkNewsItem("NWSB", b, true));
  EXPECT_FALSE(MarkNewsItem("NWSB", 9999, true));
  EXPECT_FALSE(MarkNewsItem("NWSBXXXXXXXX", a, true));  // longer than 10: ignored
  GetNewsInfo("|" + std::to_string(StockTable.Find("NWSB")), checked, unread);
  EXPECT_DOUBLE_EQ(unread, t + 0.2);  // newest by time, not by position

  Lists l;
  l.Get("NWSB");
  EXPECT_EQ(l.reads[1], "Y");  // B is second from the end
  for (int i = 0; i < l.ids.Count(); ++i) MarkNewsItem("NWSB", std::stoi(l.ids[i]), true);
  EXPECT_EQ(GetNewsInfo("NWSB", checked, unread), 1);
  EXPECT_EQ(unread, 0);
  EXPECT_EQ(GetNewsInfo("NOSUCHNEWS", checked, unread), 0);
  EXPECT_EQ(checked, 0);
}

TEST(News, BulbColoursByAge) {
  auto draw = [](double age) {
    QImage img(8, 12, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    DrawNewsBulb(p, 0, 0, age);
    p.end();
    return img;
  };
  // (0,0) stays untouched, (0,3) is outline, (3,3) inside.
  QImage fresh = draw(0);
  EXPECT_EQ(fresh.pixelColor(0, 0), QColor(Qt::white));
  EXPECT_EQ(fresh.pixelColor(0, 3), QColor(0, 0, 0));
  EXPECT_EQ(fresh.pixelColor(3, 3), QColor(255, 255, 0));
  QImage quarter = draw(0.25);
  EXPECT_EQ(quarter.pixelColor(0, 3), QColor(0, 0, 0));
  EXPECT_EQ(quarter.pixelColor(3, 3), QColor(192, 192, 64));  // half way from yellow to grey
  EXPECT_EQ(draw(1.25).pixelColor(0, 3), QColor(64, 64, 64));
  QImage old = draw(5);
  EXPECT_EQ(old.pixelColor(0, 3), QColor(128, 128, 128));
}

TEST(Pending, QueuedOnceHandedToTheGridAndEmptied) {
  std::string seen;
  int calls = 0;
  SetPendingHandler(2, [&](const std::string& s) {
    seen = s;
    ++calls;
  });
  EXPECT_TRUE(AddPendingSymbol(2, "IBM"));
  EXPECT_TRUE(AddPendingSymbol(2, "IB"));
  EXPECT_TRUE(AddPendingSymbol(2, "IBM"));
  EXPECT_TRUE(AddPendingSymbol(3, "MSFT"));
  EXPECT_FALSE(AddPendingSymbol(0, "X"));
  EXPECT_FALSE(AddPendingSymbol(PendingListCount + 1, "X"));
  EXPECT_FALSE(AddPendingSymbol(1, "A|B"));
  ShowPendingSymbols(2);
  EXPECT_EQ(seen, "|IBM||IB|");
  EXPECT_EQ(SplitPendingText(seen), (std::vector<std::string>{"IBM", "IB"}));
  // Outer bars missing or bars repeated: the same symbols, no empty one.
  EXPECT_EQ(SplitPendingText("A|||B"), (std::vector<std::string>{"A", "B"}));
  EXPECT_TRUE(SplitPendingText("||").empty());
  ShowPendingSymbols(2);  // empty now: the grid is not bothered
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(TakePendingSymbols(3), "|MSFT|");
  SetPendingHandler(2, nullptr);

  std::string out;
  AddHandOver(NewsHandOver, "AAA");
  AddHandOver(NewsHandOver, "AAA");
  AddHandOver(NewsHandOver, "BB");
  ASSERT_TRUE(TakeHandOver(NewsHandOver, out, true));
  EXPECT_EQ(out, "|AAA||BB|");
  ASSERT_TRUE(TakeHandOver(NewsHandOver, out, true));
  EXPECT_EQ(out, "");
}
