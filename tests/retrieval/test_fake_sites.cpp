// The fake-site launcher, and the demo's quote site as the program reads it: its demo set-up
// gives a folder the program loads, and its quotes move and hang together.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "core/add_snap.h"
#include "core/portfolios.h"
#include "core/program_state.h"
#include "core/sites.h"
#include "core/text_helpers.h"
#include "fake_site.h"
#include "platform/ini_file.h"
#include "retrieval/param_files.h"
#include "retrieval/site_files.h"
#include "retrieval/site_script.h"

namespace {

// Runs "python3 <site>.py --demo-setup <dir> <port>"; true when it exited with 0.
bool RunDemoSetup(const std::string& name, const std::string& dir, int port) {
  const std::string cmd = "python3 '" + FakeSiteScript(name) + "' --demo-setup '" + dir + "' " + std::to_string(port);
  return std::system(cmd.c_str()) == 0;
}

}  // namespace

TEST(FakeSiteLauncher, StartsSitesByNameAndEndsThem) {
  std::string host;
  {
    FakeSite site("quotes");
    ASSERT_TRUE(site.Running());
    host = site.Host();
    EXPECT_EQ(FetchPage(host, "/small"), "ok");
    // A second site is independent of the first, on a port of its own.
    FakeSite other;
    ASSERT_TRUE(other.Running());
    EXPECT_NE(other.Port(), site.Port());
    EXPECT_EQ(FetchPage(other.Host(), "/small"), "ok");
  }
  // Gone with its object; a missing script is a site that is not running, at once.
  EXPECT_EQ(FetchPage(host, "/small"), "ERR");
  FakeSite missing("no_such_site");
  EXPECT_FALSE(missing.Running());
  EXPECT_EQ(missing.Port(), 0);
}

TEST(DemoQuoteSite, DemoSetupKeepsOtherSettingsAndGivesALoadableFolder) {
  FakeSite site("quotes", {"--demo"});
  ASSERT_TRUE(site.Running());
  const std::string dir = ProgDir + "demo-setup/";
  std::filesystem::create_directories(dir);
  // Settings already there, in other spellings: the set-up edits them in place.
  ASSERT_TRUE(WriteFileAtomic(dir + "STOCKS.INI", "[stocks]\nsitefile=OLD.SDF\nCurView=Mine\n\n[Other]\nA=1\n"));
  ASSERT_TRUE(WriteFileAtomic(dir + "params.par", "// shipped\nnewsfile=OLD.NWS\nALLOWDUPS=YES\n"));
  ASSERT_TRUE(RunDemoSetup("quotes", dir, site.Port()));

  IniFile ini(dir + "STOCKS.INI");
  StringList sections;
  ini.ReadSections(sections);
  EXPECT_EQ(sections.Count(), 3);  // stocks, Other, VNServer
  EXPECT_EQ(ini.ReadString("Stocks", "SiteFile", ""), "DEMO.SDF");
  EXPECT_EQ(ini.ReadString("Stocks", "CurView", ""), "Mine");
  EXPECT_EQ(ini.ReadString("Other", "A", ""), "1");
  EXPECT_GE(ini.ReadInteger("Stocks", "RefreshSecs", 20), 1);
  EXPECT_LE(ini.ReadInteger("Stocks", "RefreshSecs", 20), 3);
  EXPECT_EQ(ini.ReadString("VNServer", "Active", ""), "YES");

  StringList params;
  ReadParamsFile("demo-setup/params.par", params);
  EXPECT_EQ(GetSiteParam(params, "NEWSFILE"), "DEMO.NWS");
  EXPECT_EQ(GetSiteParam(params, "ALLOWDUPS"), "YES");

  std::string text;
  ASSERT_TRUE(ReadWholeFile(dir + "PORT.DAT", text));
  std::vector<PortType> ports;
  ParsePortText(text, ports);
  ASSERT_EQ(ports.size(), 3u);
  EXPECT_EQ(ports[2].Name, "Market Indices");
  // A second run leaves the portfolios as they are.
  ASSERT_TRUE(RunDemoSetup("quotes", dir, site.Port()));
  std::string again;
  ASSERT_TRUE(ReadWholeFile(dir + "PORT.DAT", again));
  EXPECT_EQ(again, text);

  for (const char* file : {"demo-setup/DEMO.SDF", "demo-setup/DEMO.NWS"}) {
    HTTPSite def;
    std::string error;
    LoadSiteFile(file, def, nullptr, error);
    EXPECT_EQ(error, "") << file;
    EXPECT_TRUE(def.ActiveHours.empty()) << file << ": the demo answers at any hour";
  }
  std::filesystem::remove_all(dir);
}

TEST(DemoQuoteSite, QuotesDifferPerSymbolHangTogetherAndMove) {
  FakeSite site("quotes", {"--demo"});
  ASSERT_TRUE(site.Running());
  const std::string dir = ProgDir + "demo-quotes/";
  std::filesystem::create_directories(dir);
  ASSERT_TRUE(RunDemoSetup("quotes", dir, site.Port()));
  auto demo = std::make_shared<HTTPSite>();
  std::string error;
  LoadSiteFile("demo-quotes/DEMO.SDF", *demo, nullptr, error);
  ASSERT_EQ(error, "");

  const char* symbols[] = {"DQA", "DQB", "DQC", "$DJI"};
  StringList asked;
  for (const char* s : symbols) asked.Add(s);
  auto pass = [&] {
    std::string page = FetchPage(site.Host(), "/quotes?s=DQA,DQB,DQC,$DJI,$CASH");
    TDateTime quoteTime = 0;
    std::string extra, status;
    RunSiteScript(*demo, &asked, page, quoteTime, extra, nullptr, status);
    EXPECT_EQ(status, "OK");
    std::vector<StockQuote> out(4);
    for (size_t i = 0; i < out.size(); ++i) EXPECT_GE(GetStockQuote(symbols[i], out[i]), 0) << symbols[i];
    return out;
  };
  const std::vector<StockQuote> first = pass();
  for (size_t i = 0; i < 3; ++i) {
    const StockQuote& q = first[i];
    SCOPED_TRACE(symbols[i]);
    EXPECT_LE(q.Low, q.Last);
    EXPECT_LE(q.Last, q.High);
    EXPECT_LT(q.Low, q.High);
    EXPECT_GT(q.Bid, 0);
    EXPECT_LT(q.Bid, q.Ask);
    EXPECT_GT(q.Volume, 0);
    EXPECT_NEAR(q.Last - q.PrevClose, q.Change, 0.011);
    EXPECT_FALSE(q.Name.empty());
  }
  EXPECT_NE(first[0].Last, first[1].Last);
  EXPECT_NE(first[0].Change, first[1].Change);
  EXPECT_NE(first[0].Volume, first[1].Volume);
  // The index: a level with a range, no bid, ask or volume.
  EXPECT_GT(first[3].Last, 1000);
  EXPECT_LE(first[3].Low, first[3].Last);
  EXPECT_LE(first[3].Last, first[3].High);
  EXPECT_EQ(first[3].Volume, 0);
  EXPECT_EQ(first[3].Bid, 0);

  // Later passes: the volume never shrinks, the range only widens and holds the price, and
  // prices move (quotes change from one market second to the next; over a few seconds at
  // least one of four does).
  bool moved = false;
  std::vector<StockQuote> prev = first;
  for (int round = 0; round < 20 && !moved; ++round) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::vector<StockQuote> next = pass();
    for (size_t i = 0; i < next.size(); ++i) {
      SCOPED_TRACE(symbols[i]);
      EXPECT_GE(next[i].Volume, prev[i].Volume);
      EXPECT_GE(next[i].High, prev[i].High);
      EXPECT_LE(next[i].Low, prev[i].Low);
      EXPECT_LE(next[i].Low, next[i].Last);
      EXPECT_LE(next[i].Last, next[i].High);
      EXPECT_DOUBLE_EQ(next[i].PrevClose, first[i].PrevClose);
      if (next[i].Last != prev[i].Last) moved = true;
    }
    prev = next;
  }
  EXPECT_TRUE(moved);
  std::filesystem::remove_all(dir);
}
