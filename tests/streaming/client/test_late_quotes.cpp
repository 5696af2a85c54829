// Quotes whose time lies ahead of the market clock, from a quote site's page, a stream and the
// last run's dump: stored at the market clock's time, and never holding back the quotes that
// follow.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "common/fake_site.h"
#include "core/add_snap.h"
#include "core/dumps.h"
#include "core/locks.h"
#include "core/log.h"
#include "core/market_clock.h"
#include "core/program_state.h"
#include "core/sites.h"
#include "core/stock_table.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "retrieval/site_script.h"
#include "stream_test_util.h"
#include "streaming/client/zeruv_streamer.h"

namespace {

// The wall clock set to a chosen time, running on from there at the real pace.
class MovedClock : public Clock {
public:
  explicit MovedClock(int64_t utcMs) { Set(utcMs); }
  void Set(int64_t utcMs) {
    base_ = utcMs;
    from_ = RealMs();
  }
  int64_t UtcMs() override { return base_.load() + (RealMs() - from_.load()); }
  int64_t TickMs() override { return RealMs(); }
  void SleepMs(int ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

private:
  static int64_t RealMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  std::atomic<int64_t> base_{0}, from_{0};
};

// 2024-06-11 at an Eastern (daylight) time of day.
int64_t EasternMs(int h, int m) { return 1718064000000 + ((h + 4) * 60 + m) * 60000LL; }

StockQuote Quote(const char* symbol) {
  StockQuote q;
  LockHold hold(AddSnapLock, "TEST");
  EXPECT_GE(GetStockQuote(symbol, q), 0) << symbol;
  return q;
}
std::string TimeOf(const char* symbol) { return FormatDateTime("hh:mm:ss", Quote(symbol).UpdateTime); }

// One answer of a quote site: rows "symbol|time|last#".
void SiteAnswer(const std::string& rows) {
  static const std::shared_ptr<SiteScript> script = [] {
    StringList lines;
    lines.SetText("EACH \"<q>\" UNTIL \"</q>\"\n GET SYMBOL UNTIL \"|\"\n GET TIME UNTIL \"|\"\n"
                  " GET LAST UNTIL \"#\"\n EMIT QUOTE\nEND\n");
    std::string error;
    auto s = CompileSiteScript(lines, ScriptMode::Quotes, error);
    EXPECT_EQ(error, "");
    return s;
  }();
  HTTPSite site;
  site.Script = script;
  TDateTime t = 0;
  std::string extra, status;
  RunSiteScript(site, nullptr, rows, t, extra, nullptr, status);
  EXPECT_EQ(status, "OK") << rows;
}

int LogCount(const std::string& what) {
  std::ifstream f(ProgDir + "stocks.log", std::ios::binary);
  std::stringstream text;
  text << f.rdbuf();
  const std::string log = text.str();
  int n = 0;
  for (size_t at = log.find(what); at != std::string::npos; at = log.find(what, at + 1)) ++n;
  return n;
}

}  // namespace

TEST(AddSnap, ALateQuoteNeverHoldsBackLaterOnes) {
  MovedClock wall(EasternMs(10, 13));
  ScopedClock use(wall);
  LogOn = true;
  StartLog();

  // A site's row says 11:59:59pm at 10:13: stored at the market clock's time, said once.
  SiteAnswer("<q>LTSITE|11:59:59pm|100.00#</q>");
  EXPECT_EQ(Quote("LTSITE").Last, 100.0);
  EXPECT_EQ(TimeOf("LTSITE").substr(0, 5), "10:13");
  SiteAnswer("<q>LTSITE|11:59:59pm|100.25#</q>");
  EXPECT_EQ(Quote("LTSITE").Last, 100.25);
  EXPECT_EQ(LogCount("Quote for LTSITE at"), 1);
  // The next correct answer is taken at once, even a delayed site's older one.
  SiteAnswer("<q>LTSITE|9:55am|99.5#</q>");
  EXPECT_EQ(Quote("LTSITE").Last, 99.5);
  EXPECT_EQ(TimeOf("LTSITE"), "09:55:00");
  SiteAnswer("<q>LTSITE|9:56am|99.75#</q>");
  EXPECT_EQ(Quote("LTSITE").Last, 99.75);

  // Before the open a site shows the last close's time: it must not hold the symbol at 16:00.
  wall.Set(EasternMs(8, 0));
  SiteAnswer("<q>LTOPEN|4:00pm|50.00#</q>");
  EXPECT_EQ(TimeOf("LTOPEN").substr(0, 5), "08:00");
  wall.Set(EasternMs(9, 31));
  SiteAnswer("<q>LTOPEN|9:30am|51.00#</q>");
  EXPECT_EQ(Quote("LTOPEN").Last, 51.0);
  EXPECT_EQ(TimeOf("LTOPEN"), "09:30:00");

  // A PC clock an hour behind: every quote is an hour ahead of it, and still flows.
  wall.Set(EasternMs(10, 13) - 3600000);
  SiteAnswer("<q>LTPC|10:13am|30.00#</q>");
  SiteAnswer("<q>LTPC|10:14am|30.50#</q>");
  EXPECT_EQ(Quote("LTPC").Last, 30.5);
  EXPECT_EQ(TimeOf("LTPC").substr(0, 5), "09:13");
  // Once the time synchronisation has set its offset, quotes keep their own times.
  EtOffsetCache = EasternFromUtcMs(NowUtcMs() + 3600000) - LocalNow();
  ClockSynced = true;
  SiteAnswer("<q>LTPC|10:15am|31.00#</q>");
  ClockSynced = false;
  EtOffsetCache = 0;
  EXPECT_EQ(Quote("LTPC").Last, 31.0);
  EXPECT_EQ(TimeOf("LTPC"), "10:15:00");

  // A dump saved while the clock was ahead (16:00), loaded at 10:13: its times are clamped
  // the same way, and a quote that follows is taken at once.
  wall.Set(EasternMs(16, 0));
  SiteAnswer("<q>LTDUMPA|3:58pm|70.00#</q><q>LTDUMPA|3:59pm|70.50#</q>");
  const std::string dump = ProgDir + "late.dmp";
  ASSERT_TRUE(SaveQuoteDump(dump));
  std::string bytes;
  ASSERT_TRUE(ReadWholeFile(dump, bytes));
  const size_t at = bytes.find("LTDUMPA");
  ASSERT_NE(at, std::string::npos);
  bytes[at + 6] = 'B';  // a record of its own: loading takes it
  ASSERT_TRUE(WriteFileAtomic(dump, bytes));
  wall.Set(EasternMs(10, 13));
  ASSERT_GE(LoadQuoteDump(dump), 1);
  EXPECT_EQ(Quote("LTDUMPB").Last, 70.5);
  EXPECT_EQ(TimeOf("LTDUMPB").substr(0, 5), "10:13");
  {
    StockInfoType* rec = ResolveStock("LTDUMPB");
    ASSERT_NE(rec, nullptr);
    LockHold list(rec->Values.Cs(), "TEST");
    ASSERT_GT(rec->Values.Count(), 0);
    EXPECT_LE(rec->Values[rec->Values.Count() - 1].Time, MarketNow());
  }
  SiteAnswer("<q>LTDUMPB|10:12am|71.00#</q>");
  EXPECT_EQ(Quote("LTDUMPB").Last, 71.0);
  EXPECT_EQ(TimeOf("LTDUMPB"), "10:12:00");
  EXPECT_EQ(LogCount("Quote for LTDUMPB at"), 1);

  // A stream whose first round says 23:59:59 (its rounds say 10:00:00 on, at 10:13).
  wall.Set(EasternMs(10, 13));
  ASSERT_TRUE(StreamSite().Running());
  CallbackMsg = RegisterWindowMessage("VNCallback");
  CurSite = std::make_shared<HTTPSite>();
  StreamerTiming = {};
  NoticeWindow window;
  {
    TZeruvStreamer streamer;
    streamer.window = &window;
    WriteStreamSite("Late.Par", "/stream?s=##STOCKS##&late=1&tag=late");
    ASSERT_TRUE(streamer.LoadSite("Late.Par"));
    ASSERT_TRUE(streamer.Start("LTSTRA+LTSTRB"));
    auto last = [](const char* s) {
      StockQuote q;
      LockHold hold(AddSnapLock, "TEST");
      return hold && GetStockQuote(s, q) >= 0 ? q.Last : 0;
    };
    EXPECT_TRUE(WaitFor([&] { return last("LTSTRA") >= 21.0 && last("LTSTRB") >= 21.0; }));
    streamer.Stop();
  }
  CurSite.reset();
  LogOn = false;
  for (const char* s : {"LTSTRA", "LTSTRB"}) {
    EXPECT_GE(Quote(s).Last, 21.0) << s;
    EXPECT_EQ(TimeOf(s).substr(0, 7), "10:00:0") << s;
    EXPECT_EQ(LogCount(std::string("Quote for ") + s + " at"), 1) << s;
  }
}
