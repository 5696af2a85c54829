#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "common/fake_site.h"
#include "core/add_snap.h"
#include "core/locks.h"
#include "core/log.h"
#include "core/pending.h"
#include "core/program_state.h"
#include "core/settings_file.h"
#include "core/sites.h"
#include "platform/messages.h"
#include "stream_test_util.h"
#include "streaming/client/streamer_dll.h"
#include "streaming/client/streamer_messages.h"
#include "streaming/client/zeruv_streamer.h"

namespace {

class StreamerTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(StreamSite().Running());
    CallbackMsg = RegisterWindowMessage("VNCallback");
    CurSite = std::make_shared<HTTPSite>();
    CurSite->EnteredLogin = "trader";
    CurSite->EnteredPassword = "secret";
    StreamerTiming = {};
    StreamerTiming.StopBoundMs = 5000;
    messages.clear();
    StreamerMessageHook = [this](const std::string& text, const std::string&) { messages.push_back(text); };
    streamer.window = &window;
  }
  void TearDown() override {
    streamer.Stop();
    CurSite.reset();
  }
  // Starts streaming the symbols with a site whose request path is the given query.
  bool StartWith(const std::string& query, const std::string& symbols, bool login = false) {
    WriteStreamSite("Test.Par", "/stream?s=##STOCKS##&name=##NAME##&pwd=##CRYPTPWD##&" + query, login);
    EXPECT_TRUE(streamer.LoadSite("Test.Par"));
    return streamer.Start(symbols);
  }
  static double Last(const std::string& symbol) {
    StockQuote q;
    LockHold hold(AddSnapLock, "TEST");
    return hold && GetStockQuote(symbol, q) >= 0 ? q.Last : 0;
  }
  TStreamer* First() { return streamer.ThreadAt(1); }

  NoticeWindow window;
  TZeruvStreamer streamer;
  std::vector<std::string> messages;
};

}  // namespace

TEST_F(StreamerTest, QuotesReachTheTableInOrderAndStopEndsEveryThread) {
  TakePendingSymbols(1);
  // Every byte on its own, the password checked by the service.
  ASSERT_TRUE(StartWith("pw=1&split=1&tag=q", "STQA+STQB+STQA+BAD SYM+"));
  EXPECT_EQ(streamer.ThreadCount(), 1);
  EXPECT_EQ(First()->symbols, "STQA+STQB");
  ASSERT_TRUE(WaitFor([&] { return Last("STQA") >= 20.75 && Last("STQB") >= 20.75; }));
  StockQuote q;
  {
    LockHold hold(AddSnapLock, "TEST");
    ASSERT_GE(GetStockQuote("STQB", q), 0);
  }
  EXPECT_DOUBLE_EQ(q.Bid, q.Last - 0.25);
  EXPECT_DOUBLE_EQ(q.PrevClose, 20.25);
  EXPECT_NE(TakePendingSymbols(1).find("|STQA|"), std::string::npos);
  EXPECT_GE(First()->records.load(), 2);
  EXPECT_NE(First()->Message().find("Welcome"), std::string::npos);

  ASSERT_TRUE(WaitFor([&] { return window.For(1).size() >= 3; }));
  std::vector<intptr_t> t1 = window.For(1);
  EXPECT_EQ(t1[0], StreamNotice::Started);
  EXPECT_EQ(t1[1], StreamNotice::LoggingIn);
  EXPECT_EQ(std::count(t1.begin(), t1.end(), StreamNotice::Data), 1);  // posted on the change only
  EXPECT_EQ(window.For(0).back(), 1);

  streamer.Stop();
  EXPECT_EQ(streamer.ThreadCount(), 0);
  ASSERT_TRUE(WaitFor([&] { return window.For(1).back() == StreamNotice::Ended; }));
}

TEST_F(StreamerTest, RefusedPasswordStopsWithoutRetrying) {
  // The login check refuses: nothing starts.
  CurSite->EnteredPassword = "wrong";
  EXPECT_FALSE(StartWith("tag=lc", "STPA", true));
  EXPECT_TRUE(streamer.badPassword);
  EXPECT_EQ(streamer.ThreadCount(), 0);
  EXPECT_EQ(StreamCount("lc"), 0);

  // The service itself refuses: the thread stops for good, and says so once.
  EXPECT_TRUE(StartWith("pw=1&tag=pw", "STPA"));
  ASSERT_TRUE(WaitFor([&] { return streamer.badPassword && First()->parked; }));
  EXPECT_TRUE(First()->idle);
  StreamerTiming.SuspendedRetryMs = 0;
  streamer.CheckTimeouts();
  EXPECT_TRUE(First()->parked);
  EXPECT_EQ(StreamCount("pw"), 1);

  // The right password passes both.
  CurSite->EnteredPassword = "secret";
  EXPECT_TRUE(StartWith("pw=1&tag=ok", "STPB", true));
  EXPECT_FALSE(streamer.badPassword);
  EXPECT_TRUE(WaitFor([&] { return Last("STPB") > 0; }));
}

TEST_F(StreamerTest, DroppedStreamsRetryThreeTimesThenWaitForTheTimer) {
  ASSERT_TRUE(StartWith("rounds=1&tag=drop", "STDA"));
  ASSERT_TRUE(WaitFor([&] { return First()->parked.load(); }));
  EXPECT_EQ(StreamCount("drop"), 4);
  // Posted notices arrive in their own time.
  EXPECT_TRUE(WaitFor([&] {
    std::vector<intptr_t> t1 = window.For(1);
    return std::count(t1.begin(), t1.end(), StreamNotice::LoggingIn) == 4 && t1.back() == StreamNotice::Stopped;
  }));
  // The housekeeping timer wakes it again after its wait (its ticks repeat: the wait is over
  // only once a millisecond has passed since the thread parked).
  StreamerTiming.SuspendedRetryMs = 0;
  EXPECT_TRUE(WaitFor([&] {
    streamer.CheckTimeouts();
    return StreamCount("drop") >= 5;
  }));
}

TEST_F(StreamerTest, TemporaryUnavailabilityRetriesThenStops) {
  ASSERT_TRUE(StartWith("fatal=Service%20TEMPORARILY%20UNAVAILABLE&tag=tu", "STTU"));
  ASSERT_TRUE(WaitFor([&] { return First()->parked && First()->idle; }));
  EXPECT_EQ(StreamCount("tu"), 4);
  EXPECT_NE(First()->Message().find("TEMPORARILY"), std::string::npos);
}

TEST_F(StreamerTest, StalledStreamReconnects) {
  StreamerTiming.StallMs = 300;
  ASSERT_TRUE(StartWith("stall=60000&tag=stall", "STST"));
  ASSERT_TRUE(WaitFor([&] { return First()->receiving.load(); }));
  ASSERT_TRUE(WaitFor([&] {
    streamer.CheckTimeouts();
    return StreamCount("stall") >= 2;
  }));
  EXPECT_FALSE(First()->idle);
}

TEST_F(StreamerTest, CutRecordsAreDroppedAndNotFoundStops) {
  ASSERT_TRUE(StartWith("cut=1&tag=cut", "STCUT"));
  ASSERT_TRUE(WaitFor([&] { return StreamCount("cut") >= 2 && Last("STCUT") > 0; }));
  EXPECT_GE(Last("STCUT"), 20.5);  // never a record of zeros

  ASSERT_TRUE(StartWith("notfound=1&tag=nf", "STNF"));
  ASSERT_TRUE(WaitFor([&] { return First()->parked && First()->idle; }));
  EXPECT_EQ(StreamCount("nf"), 1);
}

// Where a record gives up, the rest of its connection is dropped, never read as records.
TEST_F(StreamerTest, BytesAfterACutAreNoRecords) {
  // A text cut short that holds a whole quote: the quote reaches nothing.
  ASSERT_TRUE(StartWith("cut=props&tag=cutp", "STCP"));
  ASSERT_TRUE(WaitFor([&] { return StreamCount("cutp") >= 2 && Last("STCP") > 0; }));
  EXPECT_EQ(Last("GHOST"), 0);

  // A cut book record whose bytes read as a fatal message: the thread reconnects as after a
  // drop instead of stopping for good.
  ASSERT_TRUE(StartWith("cut=book&tag=cutb", "STCB"));
  ASSERT_TRUE(WaitFor([&] { return StreamCount("cutb") >= 2; }));
  EXPECT_FALSE(First()->idle);
  EXPECT_EQ(First()->Message().find("FM"), std::string::npos);
}

TEST_F(StreamerTest, AnErrorReplyIsNoStream) {
  ASSERT_TRUE(StartWith("status=404&tag=e404", "STERR"));
  ASSERT_TRUE(WaitFor([&] { return First()->parked.load(); }));
  EXPECT_EQ(StreamCount("e404"), 4);
  EXPECT_EQ(Last("STERR"), 0);
}

TEST_F(StreamerTest, SymbolsTheTableCannotHoldAreDropped) {
  // With the log on, a stream of bad records writes a few lines, not one per record.
  LogOn = true;
  StartLog();
  ASSERT_TRUE(StartWith("bad=1&tag=bad", "STOK+$STIX"));
  ASSERT_TRUE(WaitFor([&] { return Last("STOK") >= 21.25; }));  // four rounds in
  LogOn = false;
  {
    std::ifstream f(ProgDir + "stocks.log", std::ios::binary);
    std::stringstream text;
    text << f.rdbuf();
    const std::string log = text.str();
    int dropped = 0;
    for (size_t at = log.find("\" dropped"); at != std::string::npos; at = log.find("\" dropped", at + 1)) ++dropped;
    EXPECT_EQ(dropped, 5) << log;  // of 40 dropped
  }
  EXPECT_GT(Last("$STIX"), 0);
  StockQuote q;
  LockHold hold(AddSnapLock, "TEST");
  // Nor control bytes or broken UTF-8, though an index symbol may hold nearly anything.
  for (const char* s : {"A,B", "X\r\nY", "<B>H</B>", "$I(X)", "$P|Q", "$E\x1b[2J", "^T\tX", "@D\x7f", "$U\xff"})
    EXPECT_LT(GetStockQuote(s, q), 0) << s;
  // A symbol with a NUL or longer than a key is dropped whole, not cut into another one.
  for (const char* s : {"AB", "LLLLLLLLLL"}) EXPECT_LT(GetStockQuote(s, q), 0) << s;
  std::string ticks;
  ASSERT_TRUE(TicksCsvText("STOK", ticks));
  EXPECT_EQ(ticks.find("999"), std::string::npos) << ticks;
}

TEST_F(StreamerTest, RecordsLandOnlyOnAskedSymbols) {
  LogOn = true;
  StartLog();
  // The stream also quotes "$DJI " (a trailing blank), "$DJIX", " IBM" and "IBMX" at 666.
  ASSERT_TRUE(StartWith("unasked=1&tag=unasked", "ibm+$DJI"));
  ASSERT_TRUE(WaitFor([&] { return Last("IBM") >= 21.25 && Last("$DJI") >= 21.25; }));  // four rounds in
  LogOn = false;
  StockQuote q;
  {
    LockHold hold(AddSnapLock, "TEST");
    for (const char* s : {"$DJI ", "$DJIX", " IBM", "IBMX"}) EXPECT_LT(GetStockQuote(s, q), 0) << '"' << s << '"';
    ASSERT_GE(GetStockQuote("IBM", q), 0);  // asked for in lower case: compared without case
  }
  EXPECT_LT(q.Last, 666);
  for (int i = 0; i < StockTable.Count(); ++i) EXPECT_NE(Trim(StockTable.Strings(i)), "IBMX");
  // Each dropped record is counted: five lines, then one count a minute.
  std::ifstream f(ProgDir + "stocks.log", std::ios::binary);
  std::stringstream text;
  text << f.rdbuf();
  const std::string log = text.str();
  int said = 0;
  for (size_t at = log.find("was not asked for"); at != std::string::npos; at = log.find("was not asked for", at + 1))
    ++said;
  EXPECT_EQ(said, 5) << log;
}

TEST_F(StreamerTest, ServiceTextsAreLoggedAsOneLineWithoutControlCharacters) {
  LogOn = true;
  StartLog();
  ASSERT_TRUE(StartWith("fatal=Closed%1B%5B2J%0D%0Anow%07&tag=ctl", "STCTL"));
  ASSERT_TRUE(WaitFor([&] { return First()->parked.load(); }));
  LogOn = false;
  std::ifstream f(ProgDir + "stocks.log", std::ios::binary);
  std::stringstream text;
  text << f.rdbuf();
  const std::string log = text.str();
  EXPECT_NE(log.find("Streamer Fatal Message: Closed\\x1B[2J\\x0D\\x0Anow\\x07\r\n"), std::string::npos) << log;
  for (size_t i = 0; i < log.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(log[i]);
    const bool lineEnd = (c == '\r' && i + 1 < log.size() && log[i + 1] == '\n') || (c == '\n' && i > 0 && log[i - 1] == '\r');
    EXPECT_TRUE(c >= 0x20 || lineEnd) << "byte " << int(c) << " at " << i;
  }
}

// A window that takes no snapshot while the book floods in is told once, and finds only the
// newest whole snapshot waiting: no field piles up for it.
TEST_F(StreamerTest, BookFloodWaitsAsOneSnapshot) {
  ASSERT_TRUE(StartWith("book=1&fields=5000&interval=0&tag=flood", "STBK"));
  for (int i = 0; i < 3000 && First()->records < 40; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_GE(First()->records.load(), 40);  // 20 snapshots of 5,000 fields, none taken
  WaitAndPump(50);
  EXPECT_EQ(window.For(BookSnapshotNotice).size(), 1u);
  EXPECT_LT(window.Notices.size(), 10u);
  std::optional<BookModel> book = streamer.TakeBookSnapshot();
  ASSERT_TRUE(book);
  EXPECT_GE(book->SnapshotSeconds, 36019);
  EXPECT_EQ(book->Bids.size(), 50u);
  EXPECT_EQ(book->Asks.size(), 2u);
  EXPECT_EQ(book->Orders, "1,205");
  EXPECT_FALSE(book->Bar.empty());
  // Taken: the next snapshot is told again.
  EXPECT_TRUE(WaitFor([&] { return window.For(BookSnapshotNotice).size() == 2; }));
}

TEST_F(StreamerTest, SuspendStopsEveryStreamerAndResumeStartsThemAgain) {
  ASSERT_TRUE(StartWith("tag=susp", "STSA+STSB+STSC"));
  SuspendAllStreamers();
  EXPECT_EQ(streamer.ThreadCount(), 0);
  EXPECT_FALSE(StreamerDllLoaded());
  EXPECT_FALSE(streamer.Start("STSA"));  // refused while suspended, remembered
  ResumeAllStreamers();
  EXPECT_EQ(streamer.ThreadCount(), 1);
  EXPECT_EQ(First()->symbols, "STSA");
  EXPECT_TRUE(StreamerDllLoaded());
}

TEST_F(StreamerTest, SymbolLimitTrimsAndSays) {
  std::string many;
  for (int i = 0; i < 30; ++i) many += "LIM" + std::to_string(100 + i) + "+";
  ASSERT_TRUE(StartWith("tag=lim", many));
  // A limit of 24 over 2 threads: 12 symbols each.
  EXPECT_EQ(streamer.ThreadCount(), 2);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("does not track more than 24 symbols"), std::string::npos);
  EXPECT_EQ(streamer.FindSymbolThread("lim123"), 2);
  EXPECT_EQ(streamer.FindSymbolThread("LIM12"), 0);

  // MAXSTREAM raises the limit: all 30 stream, 12 a thread.
  Ini().WriteString("Stocks", "MAXSTREAM", "YES");
  messages.clear();
  EXPECT_TRUE(streamer.Start(many));
  Ini().WriteString("Stocks", "MAXSTREAM", "NO");
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(streamer.ThreadCount(), 3);
  EXPECT_EQ(streamer.FindSymbolThread("LIM129"), 3);
}
