// The news thread against the fake site, and the fundamentals thread's update and survey steps.
#include <gtest/gtest.h>

#include "core/add_snap.h"
#include "core/market_clock.h"
#include "core/news.h"
#include "core/program_state.h"
#include "core/sites.h"
#include "fake_site.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "platform/registry.h"
#include "retrieval/fund_thread.h"
#include "retrieval/news_thread.h"

namespace {

int Headlines(const char* symbol) {
  StringList titles, links, sources, dates, extras, reads, ids;
  GetNewsItems(symbol, titles, links, sources, dates, extras, reads, ids);
  return titles.Count();
}

// The fake site's news source with that round interval in minutes (0: forced symbols only);
// the parameters are put back when it goes.
struct NewsSourceSetUp {
  StringList saved = ParamList;
  explicit NewsSourceSetUp(int interval) {
    InstallSiteFixture("fake.NWS", TheFakeSite().Port());
    ParamList.Clear();
    ParamList.Add("NEWSFILE=fake.nws");
    ParamList.Add("NEWSINTERVAL=" + std::to_string(interval));
    ForgetNewsSource();
  }
  ~NewsSourceSetUp() { ParamList = saved; }
};

TEST(NewsThread, FetchesTheForcedSymbolsAndLoadsItsSource) {
  ASSERT_TRUE(TheFakeSite().Running());
  NewsSourceSetUp source(0);
  {
    LockHold hold(NfrcLock, "TEST");
    NewsForceList = "NTA NTB";
  }
  NewsThreadType thread;
  thread.Start();
  WaitResult r = WaitUntil([] { return Headlines("NTB") == 3; }, nullptr, 20000);
  EXPECT_EQ(r, WaitResult::Done);
  EXPECT_EQ(Headlines("NTA"), 3);
  EXPECT_TRUE(thread.Stop(20000));
  EXPECT_EQ(NewsFetchSymbol(), "");
  ASSERT_TRUE(CurrentNewsSite());
  EXPECT_EQ(CurrentNewsSite()->Name, "Fake News");
  {
    LockHold hold(NfrcLock, "TEST");
    EXPECT_EQ(NewsForceList, "");
  }
}

TEST(NewsThread, ASymbolNewToTheTableGetsItsNewsWithoutWaitingAnInterval) {
  ASSERT_TRUE(TheFakeSite().Running());
  NewsSourceSetUp source(15);
  SnapData snap;
  snap.Symbol = "NTOLD";
  snap.Last = 5.0f;
  snap.MarketDate = snap.QuoteTime = MarketNow();
  ASSERT_GE(AddSnap(snap), 0);
  NewsThreadType thread;
  thread.Start();
  // The round at start is over; the first refresh brings the next symbols only now.
  ASSERT_EQ(WaitUntil([] { return Headlines("NTOLD") == 3; }, nullptr, 20000), WaitResult::Done);
  snap.Symbol = "NTNEW";
  ASSERT_GE(AddSnap(snap), 0);
  EXPECT_EQ(WaitUntil([] { return Headlines("NTNEW") == 3; }, nullptr, 20000), WaitResult::Done);
  EXPECT_TRUE(thread.Stop(20000));
}

TEST(FundThread, SurveyIsSentOnceAndRetriedWhenUndelivered) {
  TestClock clock{DateTimeToUnixMs(EncodeDate(2024, 6, 14) + EncodeTime(15, 0, 0, 0))};
  ScopedClock scoped{clock};
  RegistryStore& reg = RegistryStore::CurrentUser();
  reg.WriteString(RegKeyPath, "SURV", "q1=3&q2=1");
  reg.WriteString(RegKeyPath, "SDAT", "-");
  std::vector<std::string> sent;
  bool deliver = false;
  FundHooks.SendSurvey = [&](const std::string& q) {
    sent.push_back(q);
    return deliver;
  };
  GetFundThread::SurveyStep();
  EXPECT_EQ(reg.ReadString(RegKeyPath, "SDAT", ""), "-");
  EXPECT_NEAR(SurveyCheckTime.load(), MarketNow() + 1.0 / 24, 1e-6);
  deliver = true;
  GetFundThread::SurveyStep();
  EXPECT_EQ(reg.ReadString(RegKeyPath, "SDAT", ""), "20240614");
  GetFundThread::SurveyStep();  // nothing pending: nothing sent
  EXPECT_EQ(sent, (std::vector<std::string>{"q1=3&q2=1", "q1=3&q2=1"}));
  FundHooks = {};
}

TEST(FundThread, StartsTheUpdateAfterItsUsageStepUnlessBlocked) {
  for (bool blocked : {false, true}) {
    std::atomic<int> started{0}, consulted{0};
    std::string notice;
    FundHooks.Usage = [] { return std::string("notice text"); };
    FundHooks.UpdateBlocked = [blocked, &consulted] {
      ++consulted;
      return blocked;
    };
    FundHooks.StartUpdate = [&](const std::string& n) {
      notice = n;
      ++started;
    };
    SurveyCheckTime = MarketNow() + 10;
    GetFundThread thread;
    thread.Start();
    // The decision is made once the block was consulted; stopping earlier would prove nothing.
    EXPECT_EQ(WaitUntil([&] { return consulted > 0 && (blocked || started > 0); }, nullptr, 10000),
              WaitResult::Done);
    EXPECT_TRUE(thread.Stop(10000));
    EXPECT_EQ(consulted, 1);
    EXPECT_EQ(started, blocked ? 0 : 1);
    if (!blocked) {
      EXPECT_EQ(notice, "notice text");
    }
  }
  FundHooks = {};
}

}  // namespace
