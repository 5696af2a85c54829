// One refresh from the Refresh button to the grid, against the local fake quote site.
#include <gtest/gtest.h>

#include <cstdio>

#include "common/fake_site.h"
#include "core/add_snap.h"
#include "core/indices.h"
#include "core/locks.h"
#include "core/main_hooks.h"
#include "core/pending.h"
#include "core/portfolios.h"
#include "core/program_state.h"
#include "core/settings_file.h"
#include "core/text_helpers.h"
#include "grid/grid_columns.h"
#include "grid/stock_grid.h"
#include "mainwin/main_form.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "platform/string_list.h"
#include "retrieval/http_engine.h"
#include "retrieval/site_files.h"

namespace {
// The fake quote site's definition on that port as the current site, any hour of any day, and
// one portfolio of these symbols as the current one.
void InstallSiteAndPortfolio(const std::string& file, int port, const std::string& id,
                             const std::vector<std::string>& symbols) {
  std::string sdf = SiteFixtureText("fake.SDF", port);
  ReplaceAll(sdf, "ACTIVEHOURS=09:30-16:00", "", false);
  ReplaceAll(sdf, "ACTIVEDAYS=12345", "", false);
  ASSERT_TRUE(WriteFileAtomic(ProgDir + file, sdf));
  Ini().WriteString("Stocks", "SiteFile", file);
  std::vector<PortType> ports(1);
  ports[0].Name = id;
  ports[0].Id = id;
  for (const std::string& sym : symbols) ports[0].Rows.push_back({sym, 0, 0, 0, 0, 0, "", {}});
  ASSERT_TRUE(WriteFileAtomic(ProgDir + "PORT.DAT", FormatPortText(ports)));
  Ini().WriteInteger("Stocks", "CurPort", 1);
}
}  // namespace

TEST(RefreshCycle, RefreshButtonFetchesTheCurrentPortfolioIntoTheGrid) {
  FakeSite site;
  ASSERT_TRUE(site.Running());
  // Both symbols in one comma-joined request.
  InstallSiteAndPortfolio("refresh.SDF", site.Port(), "PORT9", {"ABC", "DEFG"});

  {
    TmForm form;
    form.show();
    for (int i = 0; i < 500 && !form.SettingsLoaded(); ++i) WaitAndPump(10);
    ASSERT_TRUE(CurSite);
    // The first pass starts by itself once the settings are loaded.
    auto updated = [&] { return form.windowTitle().contains(" - Last Update: "); };
    for (int i = 0; i < 1500 && !updated(); ++i) WaitAndPump(10);
    ASSERT_TRUE(updated());
    for (int i = 0; i < 500 && (form.Grid->Busy() || form.Grid->Cells(form.Grid->GridCol[ChangeCol], 2).empty()); ++i)
      WaitAndPump(10);
    TStockGrid& g = *form.Grid;
    EXPECT_EQ(g.Cells(g.GridCol[SymCol], 1), "ABC");
    EXPECT_FALSE(g.Cells(g.GridCol[LastCol], 1).empty());
    EXPECT_EQ(g.Cells(g.GridCol[ChangeCol], 1), "+1.25");
    EXPECT_EQ(g.Cells(g.GridCol[ChangeCol], 2), "+1.25");
    EXPECT_EQ(form.StatusText(), "Site says: Quotes delayed 20 minutes");
    form.close();
  }
  ShutdownHttp();
  ShuttingDown = false;
  CurSite.reset();
  Ini().DeleteKey("Stocks", "SiteFile");
  std::remove((ProgDir + "refresh.SDF").c_str());
}

namespace {
// A site record whose every request the fake site answers after ms milliseconds.
std::shared_ptr<HTTPSite> SlowSite(const FakeSite& site, int ms, int perRequest) {
  std::string sdf = SiteFixtureText("fake.SDF", site.Port());
  ReplaceAll(sdf, "PATH=/quotes?s=##STOCKS##", "PATH=/slow?ms=" + std::to_string(ms) + "&s=##STOCKS##", false);
  ReplaceAll(sdf, "SYMBOLLIMIT=25", "SYMBOLLIMIT=" + std::to_string(perRequest), false);
  EXPECT_TRUE(WriteFileAtomic(ProgDir + "slow.SDF", sdf));
  auto s = std::make_shared<HTTPSite>();
  std::string error;
  LoadSiteFile("slow.SDF", *s, nullptr, error);
  EXPECT_EQ(error, "");
  return s;
}

void SetPortfolio(const std::string& id, int symbols) {
  std::vector<PortType> ports(1);
  ports[0].Name = "Many";
  ports[0].Id = id;
  for (int i = 0; i < symbols; ++i) ports[0].Rows.push_back({"S" + std::to_string(i), 0, 0, 0, 0, 0, "", {}});
  LockHold hold(PortLock, "TEST");
  PortList = ports;
}

// One pass of the fetch worker; the outcome and how long it took.
FetchOutcome RunOnePass(FetchThread& fetch, std::shared_ptr<HTTPSite> site, int64_t& tookMs) {
  FetchOutcome outcome;
  const int before = fetch.Passes.load();
  bool done = false;
  fetch.OnDone = [&](const FetchOutcome& o) {
    outcome = o;
    done = true;
  };
  const int64_t started = TickMs();
  EXPECT_TRUE(fetch.StartPass(std::move(site), "PORTM"));
  for (int i = 0; i < 6000 && !done; ++i) WaitAndPump(10);
  tookMs = TickMs() - started;
  EXPECT_TRUE(done);
  EXPECT_EQ(fetch.Passes.load(), before + 1);
  return outcome;
}
}  // namespace

TEST(RefreshCycle, GroupsAreFetchedSideBySideWithinTheTimeOut) {
  FakeSite site;
  ASSERT_TRUE(site.Running());
  SetPortfolio("PORTM", 200);
  FetchThread fetch;
  fetch.Start(true);
  int64_t took = 0;
  // 20 groups of 10, each answered after a second: eight at a time, not one after another.
  FetchOutcome o = RunOnePass(fetch, SlowSite(site, 1000, 10), took);
  EXPECT_EQ(o.Requests, 20);
  EXPECT_FALSE(o.Cancelled);
  EXPECT_LT(took, 4000);

  // A site slower than the time-out: the pass ends with the time-out, every group failed.
  fetch.TimeoutSeconds = 1;
  o = RunOnePass(fetch, SlowSite(site, 8000, 10), took);
  EXPECT_EQ(o.Failed, 20);
  EXPECT_EQ(o.FailStatus, "ERR");
  EXPECT_LT(took, 8000);

  LockHold hold(PortLock, "TEST");
  PortList.clear();
  std::remove((ProgDir + "slow.SDF").c_str());
}

TEST(RefreshCycle, ANoticeOnEveryGroupsPageIsShownOnce) {
  FakeSite site;
  ASSERT_TRUE(site.Running());
  SetPortfolio("PORTM", 3);
  std::string sdf = SiteFixtureText("fake.SDF", site.Port());
  ReplaceAll(sdf, "SYMBOLLIMIT=25", "SYMBOLLIMIT=1", false);
  ASSERT_TRUE(WriteFileAtomic(ProgDir + "notice.SDF", sdf));
  auto s = std::make_shared<HTTPSite>();
  std::string error;
  LoadSiteFile("notice.SDF", *s, nullptr, error);
  ASSERT_EQ(error, "");
  FetchThread fetch;
  fetch.Start(true);
  int64_t took = 0;
  const FetchOutcome o = RunOnePass(fetch, s, took);
  EXPECT_EQ(o.Requests, 3);
  EXPECT_EQ(Trim(o.Messages), "Site says: Quotes delayed 20 minutes");
  LockHold hold(PortLock, "TEST");
  PortList.clear();
  std::remove((ProgDir + "notice.SDF").c_str());
}

TEST(RefreshCycle, ASiteThatIsDownLeavesTheLastUpdateAndSaysSinceWhen) {
  int port = 0;
  {
    FakeSite gone;  // its port, closed again
    ASSERT_TRUE(gone.Running());
    port = gone.Port();
  }
  InstallSiteAndPortfolio("down.SDF", port, "PORT8", {"ABC"});
  {
    TmForm form;
    form.show();
    for (int i = 0; i < 500 && !form.SettingsLoaded(); ++i) WaitAndPump(10);
    ASSERT_TRUE(CurSite);
    for (int pass = 0; pass < 2; ++pass) {
      const int before = form.Fetcher()->Passes.load();
      form.pbRefreshClick();
      for (int i = 0; i < 3000 && form.Fetcher()->Passes.load() == before; ++i) WaitAndPump(10);
      for (int i = 0; i < 100 && form.StatusText().find("failing") == std::string::npos; ++i) WaitAndPump(10);
      EXPECT_EQ(form.StatusText().rfind("Quote fetch failing since ", 0), 0u) << form.StatusText();
      EXPECT_FALSE(form.windowTitle().contains("Last Update")) << form.windowTitle().toStdString();
    }
    form.close();
  }
  ShutdownHttp();
  ShuttingDown = false;
  CurSite.reset();
  Ini().DeleteKey("Stocks", "SiteFile");
  std::remove((ProgDir + "down.SDF").c_str());
}

TEST(RefreshCycle, SymbolsAReportWaitsForAreFetchedAtOnceAndThenUnqueued) {
  FakeSite site("quotes", {"--demo"});
  ASSERT_TRUE(site.Running());
  SetPortfolio("PORTM", 2);
  FetchThread fetch;
  fetch.Start(true);
  std::vector<FetchOutcome> outcomes;
  fetch.OnDone = [&](const FetchOutcome& o) { outcomes.push_back(o); };
  // A pass is running when the report queues its symbols: the next pass follows at once.
  ASSERT_TRUE(fetch.StartPass(SlowSite(site, 1500, 25), "PORTM"));
  WaitAndPump(400);  // its request is under way
  ASSERT_TRUE(AddPendingSymbol(ReportPendingList, "RPTQ"));
  ASSERT_TRUE(AddPendingSymbol(ReportPendingList, "$NOPE"));  // a symbol the site does not know
  EXPECT_FALSE(fetch.StartPass(SlowSite(site, 1500, 25), "PORTM"));
  for (int i = 0; i < 1500 && outcomes.size() < 2; ++i) WaitAndPump(10);
  ASSERT_EQ(outcomes.size(), 2u);
  EXPECT_EQ(outcomes[0].Symbols, (std::vector<std::string>{"S0", "S1"}));
  EXPECT_EQ(outcomes[1].Symbols, (std::vector<std::string>{"S0", "S1", "RPTQ", "$NOPE"}));
  // Asked for, so unqueued, although this site sent no quote for either.
  EXPECT_TRUE(PendingListEmpty(ReportPendingList));
  for (int i = 0; i < 50 && fetch.Busy(); ++i) WaitAndPump(10);
  EXPECT_FALSE(fetch.Busy());
  EXPECT_EQ(outcomes.size(), 2u);  // and then it rests until asked
  LockHold hold(PortLock, "TEST");
  PortList.clear();
  std::remove((ProgDir + "slow.SDF").c_str());
}

TEST(RefreshCycle, FetchNowAndTheIndexListWhateverPortfolioIsShown) {
  FakeSite site("quotes", {"--demo"});
  ASSERT_TRUE(site.Running());
  InstallSiteAndPortfolio("now.SDF", site.Port(), "PORTA", {"ABC"});
  {
    // A second portfolio, not shown, holds an index.
    std::vector<PortType> ports;
    std::string text;
    ReadWholeFile(ProgDir + "PORT.DAT", text);
    ParsePortText(text, ports);
    ports.push_back({"Indices", "PORTB", "", 0, 0, 0, 0, 0, {{"$DJI", 0, 0, 0, 0, 0, "", {}}}});
    ASSERT_TRUE(WriteFileAtomic(ProgDir + "PORT.DAT", FormatPortText(ports)));
  }
  {
    TmForm form;
    form.show();
    for (int i = 0; i < 500 && !form.SettingsLoaded(); ++i) WaitAndPump(10);
    ASSERT_TRUE(CurSite);
    auto indexKnown = [] {
      LockHold hold(IdxListLock, "TEST");
      return hold && !IndexList.empty() && IndexList[0].Symbol == "$DJI" && IndexList[0].Value > 0;
    };
    for (int i = 0; i < 1500 && !indexKnown(); ++i) WaitAndPump(10);
    EXPECT_TRUE(indexKnown());
    for (int i = 0; i < 500 && form.Fetcher()->Busy(); ++i) WaitAndPump(10);
    ASSERT_TRUE(MainHooks.FetchNow);
    ASSERT_TRUE(AddPendingSymbol(ReportPendingList, "NOWQ"));
    const int before = form.Fetcher()->Passes.load();
    MainHooks.FetchNow();
    for (int i = 0; i < 1500 && !PendingListEmpty(ReportPendingList); ++i) WaitAndPump(10);
    EXPECT_TRUE(PendingListEmpty(ReportPendingList));
    EXPECT_GT(form.Fetcher()->Passes.load(), before);
    {
      LockHold hold(AddSnapLock, "TEST");
      StockQuote q;
      EXPECT_GE(GetStockQuote("NOWQ", q), 0);
    }
    form.close();
    // Nothing fetches any more: a report is not left waiting.
    ASSERT_TRUE(AddPendingSymbol(ReportPendingList, "LATE"));
    form.FetchNow();
    EXPECT_TRUE(PendingListEmpty(ReportPendingList));
  }
  ShutdownHttp();
  ShuttingDown = false;
  CurSite.reset();
  {
    LockHold hold(IdxListLock, "TEST");
    IndexList.clear();
  }
  Ini().DeleteKey("Stocks", "SiteFile");
  std::remove((ProgDir + "now.SDF").c_str());
}

// A row naming another portfolio shows that portfolio's own snapshots: neither the portfolio
// pass nor a report sends its identifier to the quote site.
TEST(Refresh, NeverSendsAPortfolioIdentifier) {
  FakeSite site("quotes", {"--demo"});
  ASSERT_TRUE(site.Running());
  SetPortfolio("PORTM", 2);
  {
    LockHold hold(PortLock, "TEST");
    PortList[0].Rows.push_back({"port4", 0, 0, 0, 0, 0, "", {}});
    PortList.push_back({"Held", "PORT4", "", 0, 0, 0, 0, 0, {{"S1", 10, 0, 0, 0, 0, "", {}}}});
  }
  ASSERT_TRUE(AddPendingSymbol(ReportPendingList, "PORT4"));
  ASSERT_TRUE(AddPendingSymbol(ReportPendingList, "RPTQ"));
  FetchThread fetch;
  fetch.Start(true);
  int64_t took = 0;
  ASSERT_TRUE(WriteFileAtomic(ProgDir + "plain.SDF", SiteFixtureText("fake.SDF", site.Port())));
  auto plain = std::make_shared<HTTPSite>();
  std::string error;
  LoadSiteFile("plain.SDF", *plain, nullptr, error);
  ASSERT_EQ(error, "");
  const FetchOutcome o = RunOnePass(fetch, plain, took);
  ASSERT_GE(o.Symbols.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(o.Symbols.begin(), o.Symbols.begin() + 3), (std::vector<std::string>{"S0", "S1", "RPTQ"}));
  for (const std::string& s : o.Symbols) EXPECT_FALSE(SameText(s, "PORT4"));
  EXPECT_TRUE(PendingListEmpty(ReportPendingList));
  {
    // Its row has the portfolio's value: 10 x S1.
    LockHold hold(AddSnapLock, "TEST");
    StockQuote q, s1;
    ASSERT_GE(GetStockQuote("PORT4", q), 0);
    ASSERT_GE(GetStockQuote("S1", s1), 0);
    EXPECT_EQ(q.Last, static_cast<double>(static_cast<float>(HoldingValue(10, s1.Last))));
  }
  LockHold hold(PortLock, "TEST");
  PortList.clear();
  std::remove((ProgDir + "plain.SDF").c_str());
}

// A report that stops waiting ends the pass that fetches its symbols at once, not after the
// site's time-out; a pass without a report's symbols goes on.
TEST(RefreshCycle, AReportsCancelEndsItsPassAtOnce) {
  FakeSite site("quotes", {"--demo"});
  ASSERT_TRUE(site.Running());
  SetPortfolio("PORTM", 40);
  FetchThread fetch;
  fetch.Start(true);
  std::vector<FetchOutcome> outcomes;
  fetch.OnDone = [&](const FetchOutcome& o) { outcomes.push_back(o); };
  for (const bool forReport : {true, false}) {
    SCOPED_TRACE(forReport);
    outcomes.clear();
    if (forReport) {
      ASSERT_TRUE(AddPendingSymbol(ReportPendingList, "RPTQ"));
    }
    // Eight requests of one symbol at a time: each answered after 3 s, 15 s for the pass; the
    // pass without the report's symbols is made short.
    const int64_t started = TickMs();
    ASSERT_TRUE(fetch.StartPass(SlowSite(site, forReport ? 3000 : 100, 1), "PORTM"));
    WaitAndPump(300);
    RemovePendingSymbols(ReportPendingList, {"RPTQ"});
    fetch.CancelReportPass();
    for (int i = 0; i < 3000 && outcomes.empty(); ++i) WaitAndPump(10);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].Cancelled, forReport);
    if (forReport) {
      EXPECT_LT(TickMs() - started, 2500);
    }
  }
  LockHold hold(PortLock, "TEST");
  PortList.clear();
  std::remove((ProgDir + "slow.SDF").c_str());
}
