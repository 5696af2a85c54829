// Page scripts: the language, the limits against hostile pages, and quotes, headlines and
// look-up rows picked from the fake site's pages into the program's lists.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "core/add_snap.h"
#include "core/dumps.h"
#include "core/news.h"
#include "core/pending.h"
#include "core/program_state.h"
#include "core/sites.h"
#include "core/text_helpers.h"
#include "core/stock_table.h"
#include "fake_site.h"
#include "retrieval/news_thread.h"
#include "retrieval/site_files.h"
#include "retrieval/site_script.h"

namespace {

struct Capture : ScriptSink {
  bool Take(const ScriptRecord& r) override {
    records.push_back(r);
    return true;
  }
  std::vector<ScriptRecord> records;
};

std::shared_ptr<SiteScript> Compile(const std::string& text, ScriptMode mode = ScriptMode::Quotes) {
  StringList lines;
  lines.SetText(text);
  std::string error;
  auto s = CompileSiteScript(lines, mode, error);
  EXPECT_EQ(error, "");
  return s;
}

TEST(ScriptLanguage, RecordsFieldsBlocksAndCleaning) {
  auto s = Compile(
      "EACH \"<TR>\" UNTIL \"</tr>\"\n"
      "  FIND \"<td>\"\n"
      "  GET SYMBOL UNTIL \"</td>\"\n"
      "  IF FOUND \"<td class=p>\"\n"
      "    FIND \"<td class=p>\"\n"
      "    GET LAST UNTIL \"</td>\"\n"
      "  ELSE\n"
      "    SET LAST \"none for {SYMBOL}\"\n"
      "  END\n"
      "  EMIT QUOTE\n"
      "END\n"
      "MESSAGE \"after loop\"\n");
  // Record 2 has no price: its search must not run into record 3.
  std::string page =
      "<tr><td>A&amp;B</td><td class=p><b>1.50</b></td></tr>"
      "<tr><td> C \n D </td></tr>"
      "<tr><td>E</td><td class=p>&#50;&nbsp;</td></tr>";
  Capture cap;
  ScriptRunResult r = RunScriptBlock(*s, ScriptMode::Quotes, page, cap, nullptr);
  ASSERT_EQ(cap.records.size(), 3u);
  EXPECT_EQ(cap.records[0].Get("SYMBOL"), "A&B");
  EXPECT_EQ(cap.records[0].Get("LAST"), "1.50");
  EXPECT_EQ(cap.records[1].Get("SYMBOL"), "C D");
  EXPECT_EQ(cap.records[1].Get("LAST"), "none for C D");
  EXPECT_EQ(cap.records[2].Get("LAST"), "2");
  EXPECT_EQ(r.Taken, 3);
  EXPECT_EQ(r.Messages, "after loop\n");
  EXPECT_FALSE(r.LimitHit);

  // A failed FIND ends the block quietly; fields are cleared after each EMIT.
  auto t = Compile("SET X \"1\"\nEMIT ROW\nFIND \"absent\"\nEMIT ROW\n");
  Capture c2;
  EXPECT_EQ(RunScriptBlock(*t, ScriptMode::Quotes, "page", c2, nullptr).Taken, 1);
  // Blocks of other modes do not run.
  EXPECT_EQ(RunScriptBlock(*t, ScriptMode::News, "page", c2, nullptr).Taken, 0);
}

TEST(ScriptLanguage, HostilePagesStayWithinTheLimits) {
  auto s = Compile("EACH \"<tr\"\n  EMIT ROW\nEND\n");
  std::string many;
  for (int i = 0; i < 200000; ++i) many += "<tr>";
  Capture cap;
  ScriptRunResult r = RunScriptBlock(*s, ScriptMode::Quotes, many, cap, nullptr);
  EXPECT_TRUE(r.LimitHit);
  EXPECT_LE(r.Taken, MaxScriptRecords);

  // Nested loops over a page of markers end by the step limit, not by the page.
  auto nested = Compile("EACH \"a\" UNTIL \"zzz\"\n EACH \"a\"\n  SET X \"{X}{X}y\"\n END\nEND\n");
  Capture c2;
  ScriptRunResult r2 = RunScriptBlock(*nested, ScriptMode::Quotes, std::string(100000, 'a'), c2, nullptr);
  EXPECT_TRUE(r2.LimitHit);

  // An unterminated GET and a text without its end mark are failures, not overreads.
  auto get = Compile("FIND \"<b>\"\nGET X UNTIL \"</b>\"\nEMIT ROW\n");
  Capture c3;
  EXPECT_EQ(RunScriptBlock(*get, ScriptMode::Quotes, "<b>unterminated", c3, nullptr).Taken, 0);
  Capture c4;
  RunScriptBlock(*get, ScriptMode::Quotes, "<b>" + std::string(100000, 'x') + "</b>", c4, nullptr);
  ASSERT_EQ(c4.records.size(), 1u);
  EXPECT_EQ(c4.records[0].Get("X").size(), MaxFieldBytes);

  std::atomic<bool> cancel{true};
  Capture c5;
  EXPECT_TRUE(RunScriptBlock(*s, ScriptMode::Quotes, "<tr><tr>", c5, &cancel).Cancelled);
  EXPECT_TRUE(c5.records.empty());
}

class PageScripts : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(TheFakeSite().Running());
    port = TheFakeSite().Port();
  }
  std::shared_ptr<HTTPSite> Load(const std::string& fixture) {
    auto site = std::make_shared<HTTPSite>();
    std::string error;
    LoadSiteFile(InstallSiteFixture(fixture, port), *site, nullptr, error);
    EXPECT_EQ(error, "");
    return site;
  }
  // The news site on another port (as after a restart of the demo): its pages' links carry it.
  std::shared_ptr<HTTPSite> LoadMoved() {
    std::string text = SiteFixtureText("fake.NWS", port);
    ReplaceAll(text, "SET LINK \"http://127.0.0.1:" + std::to_string(port), "SET LINK \"http://127.0.0.1:1" + std::to_string(port), true);
    WriteFileAtomic(ProgDir + "moved.NWS", text);
    auto moved = std::make_shared<HTTPSite>();
    std::string error;
    LoadSiteFile("moved.NWS", *moved, nullptr, error);
    EXPECT_EQ(error, "");
    return moved;
  }
  int port = 0;
};

TEST_F(PageScripts, QuotesReachTheSymbolTableOnlyForAskedSymbols) {
  CurSite = Load("fake.SDF");
  std::string page = FetchPage(TheFakeSite().Host(), "/quotes?s=QSA+QSB");
  StringList symbols;
  symbols.Add("QSA");
  TDateTime quoteTime = 0;
  std::string extra, status;
  RunSiteScript(&symbols, page, quoteTime, extra, nullptr, status);
  EXPECT_EQ(status, "OK");
  EXPECT_EQ(extra, "Site says: Quotes delayed 20 minutes\n");
  EXPECT_NEAR(TimePart(quoteTime), 16.0 / 24, 1e-6);  // "4:00pm"

  StockQuote q;
  ASSERT_GE(GetStockQuote("QSA", q), 0);
  EXPECT_GT(q.Last, 10.0);
  EXPECT_NEAR(q.PrevClose, q.Last - 1.25, 0.01);
  EXPECT_EQ(q.Volume, 1234567);
  EXPECT_EQ(q.Name, "Qsa Corp & Co");
  EXPECT_EQ(GetStockQuote("QSB", q), -1);  // on the page but not asked for

  RunSiteScript(&symbols, "<html>nothing here</html>", quoteTime, extra, nullptr, status);
  EXPECT_EQ(status, "NODATA");
  std::atomic<bool> cancel{true};
  RunSiteScript(&symbols, page, quoteTime, extra, &cancel, status);
  EXPECT_EQ(status, "CANCELLED");
  CurSite.reset();
}

TEST_F(PageScripts, HeadlinesAreStoredOnceAndHandedOver) {
  auto site = Load("fake.NWS");
  std::string taken;
  TakeHandOver(NewsHandOver, taken, false);
  ASSERT_TRUE(FetchNewsForSymbol(*site, "NWA", nullptr));
  ASSERT_TRUE(FetchNewsForSymbol(*site, "NWA", nullptr));  // the same headlines again

  StringList titles, links, sources, dates, extras, reads, ids;
  GetNewsItems("NWA", titles, links, sources, dates, extras, reads, ids);
  ASSERT_EQ(titles.Count(), 3);
  EXPECT_EQ(titles[2], "NWA headline 1");  // newest stored first
  EXPECT_EQ(links[2], "http://127.0.0.1:" + std::to_string(port) + "/article/NWA/1");
  EXPECT_EQ(sources[2], "Wire 1");
  EXPECT_EQ(dates[2], "Jun 11,2024, 10:31");
  EXPECT_EQ(reads[2], "N");
  TakeHandOver(NewsHandOver, taken, false);
  EXPECT_NE(taken.find("NWA"), std::string::npos);
  TDateTime checked, newest;
  EXPECT_NE(GetNewsInfo("NWA", checked, newest), 0);
}

// Several rounds of one page store each story once, also when the news site has moved to
// another port since the stories were stored (the news kept from an earlier run).
TEST_F(PageScripts, HeadlinesOfManyRoundsAndAMovedSiteAreListedOnce) {
  auto site = Load("fake.NWS");
  for (int round = 0; round < 4; ++round) ASSERT_TRUE(FetchNewsForSymbol(*site, "NWR", nullptr));
  auto moved = LoadMoved();
  for (int round = 0; round < 3; ++round) ASSERT_TRUE(FetchNewsForSymbol(*moved, "NWR", nullptr));
  StringList titles, links, sources, dates, extras, reads, ids;
  GetNewsItems("NWR", titles, links, sources, dates, extras, reads, ids);
  ASSERT_EQ(titles.Count(), 3);
  EXPECT_EQ(titles[0], "NWR headline 3");
  EXPECT_EQ(titles[2], "NWR headline 1");
}

TEST(PageRecords, RecordsTheListsCouldNotHoldAreRefused) {
  // Symbols longer than a table key would land on the record of their first twenty characters.
  HTTPSite quotes;
  quotes.Script = Compile("EACH \"<q>\" UNTIL \"</q>\"\n GET SYMBOL UNTIL \"|\"\n SET LAST \"12.5\"\n EMIT QUOTE\nEND\n");
  TDateTime t = 0;
  std::string extra, status;
  RunSiteScript(quotes, nullptr, "<q>RQLONGSYMBOLOFTWENTYX|</q><q>RQKEYLEN10|</q>", t, extra, nullptr, status);
  StockQuote q;
  EXPECT_EQ(GetStockQuote("RQLONGSYMBOLOFTWENTY", q), -1);
  ASSERT_GE(GetStockQuote("RQKEYLEN10", q), 0);
  EXPECT_FLOAT_EQ(q.Last, 12.5f);

  // Headlines without a source are hidden from the news lists, so they could never be known
  // as stored and would pile up again on every round; a long symbol is refused as above.
  HTTPSite news;
  news.Script = Compile(
      "EACH \"<h>\" UNTIL \"</h>\"\n GET SYMBOL UNTIL \"|\"\n GET TITLE UNTIL \"|\"\n"
      " GET SOURCE UNTIL \"#\"\n EMIT HEADLINE\nEND\n",
      ScriptMode::News);
  const std::string page = "NEWS<h>RNA|sourceless|#</h><h>RNLONGSYMBOLOFTWENTYX|too long|Wire#</h>";
  for (int round = 0; round < 2; ++round) {
    RunSiteScript(news, nullptr, page, t, extra, nullptr, status);
    EXPECT_EQ(status, "NODATA");
  }
  StockInfoType* rec = ResolveStock("RNA");
  EXPECT_TRUE(rec == nullptr || rec->News.Count() == 0);
  EXPECT_EQ(ResolveStock("RNLONGSYMBOLOFTWENTY"), nullptr);

  RunSiteScript(news, nullptr, "NEWS<h>RNA|sourced|Wire#</h>", t, extra, nullptr, status);
  EXPECT_EQ(status, "OK");
  ASSERT_NE(ResolveStock("RNA"), nullptr);
  EXPECT_EQ(ResolveStock("RNA")->News.Count(), 1);
}

TEST_F(PageScripts, LookupRowsFillTheLookupLists) {
  LookupSite = Load("fake.lup");
  {
    std::lock_guard lock(LookupMutex);
    LookupSymbols.Clear();
    LookupNames.Clear();
  }
  std::string page = FetchPage(TheFakeSite().Host(), "/lookup?s=abc");
  TDateTime t = 0;
  std::string extra, status;
  RunSiteScript(nullptr, "LOOKUP" + page, t, extra, nullptr, status);
  EXPECT_EQ(status, "OK");
  {
    std::lock_guard lock(LookupMutex);
    ASSERT_EQ(LookupSymbols.Count(), 3);
    EXPECT_EQ(LookupSymbols[0], "ABC1");
    EXPECT_EQ(LookupNames[2], "Abc Holdings 3");
  }
  RunSiteScript(nullptr, "LOOKUP" + FetchPage(TheFakeSite().Host(), "/lookup?s=zzz"), t, extra, nullptr, status);
  EXPECT_EQ(status, "NODATA");
  LookupSite.reset();
}

}  // namespace

using News = PageScripts;

// A story kept from an earlier run, found again after the news site moved, takes the newest
// link (Detail would open the dead one), keeps its id and read mark, and the news dump saves it.
TEST_F(News, KeptHeadlineTakesTheNewestLink) {
  auto site = Load("fake.NWS");
  ASSERT_TRUE(FetchNewsForSymbol(*site, "NWL", nullptr));
  StringList titles, links, sources, dates, extras, reads, ids;
  GetNewsItems("NWL", titles, links, sources, dates, extras, reads, ids);
  ASSERT_EQ(titles.Count(), 3);
  const std::string oldPort = ":" + std::to_string(port) + "/", newPort = ":1" + std::to_string(port) + "/";
  ASSERT_NE(links[0].find(oldPort), std::string::npos);
  ASSERT_TRUE(MarkNewsItem("NWL", std::atoi(ids[0].c_str()), true));
  auto all = [](const StringList& list) {
    std::vector<std::string> out;
    for (int i = 0; i < list.Count(); ++i) out.push_back(list[i]);
    return out;
  };
  const std::vector<std::string> idsBefore = all(ids);

  auto moved = LoadMoved();
  ASSERT_TRUE(FetchNewsForSymbol(*moved, "NWL", nullptr));
  GetNewsItems("NWL", titles, links, sources, dates, extras, reads, ids);
  ASSERT_EQ(titles.Count(), 3);
  EXPECT_EQ(all(ids), idsBefore);
  for (int i = 0; i < links.Count(); ++i) {
    EXPECT_NE(links[i].find(newPort), std::string::npos) << links[i];
    EXPECT_EQ(links[i].find(oldPort), std::string::npos) << links[i];
  }
  EXPECT_EQ(reads[0], "Y");
  EXPECT_EQ(reads[1], "N");

  const std::string dump = ProgDir + "links.DMP";
  ASSERT_TRUE(SaveNewsDump(dump));
  std::string saved;
  ASSERT_TRUE(ReadWholeFile(dump, saved));
  EXPECT_NE(saved.find("127.0.0.1" + newPort + "article/NWL/1"), std::string::npos);
  EXPECT_EQ(saved.find("127.0.0.1" + oldPort + "article/NWL/1"), std::string::npos);
  std::remove(dump.c_str());
  std::remove((ProgDir + "moved.NWS").c_str());
}
