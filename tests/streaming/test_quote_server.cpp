// The local quote server over a real socket: every command against a seeded symbol table and
// portfolios, the replies' framing, hostile requests, and switching on from the settings.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <future>
#include <thread>
#include <limits>
#include <locale>
#include <memory>
#include <random>
#include <sstream>
#include <utility>
#include <vector>

#include "core/add_snap.h"
#include "core/error_report.h"
#include "core/locks.h"
#include "core/log.h"
#include "core/market_clock.h"
#include "core/portfolios.h"
#include "core/program_state.h"
#include "core/settings_file.h"
#include "core/sites.h"
#include "core/stock_table.h"
#include "core/text_helpers.h"
#include "platform/clock.h"
#include "retrieval/site_script.h"
#include "net_test_client.h"
#include "streaming/quote_server.h"

using namespace vn::net::testing;

namespace {

void Snap(const char* symbol, int h, int m, int s, float last, float volume, float bid = 0, float ask = 0) {
  SnapData d;
  d.Symbol = symbol;
  d.Last = last;
  d.Bid = bid;
  d.Ask = ask;
  d.Open = 100.5f;
  d.Low = 99.75f;
  d.High = 102.125f;
  d.Volume = volume;
  d.BidSize = 12;
  d.AskSize = 15;
  d.LastSize = 340;
  d.TradeCount = 7;
  d.MarketDate = EncodeDate(2024, 6, 3);
  d.QuoteTime = EncodeTime(h, m, s, 0);
  ASSERT_GE(AddSnap(d), 0) << symbol;
}

// The table cannot be emptied again, so it is seeded once, after the empty-table test.
void SeedTable() {
  if (StockTable.Find("ABC") >= 0) return;
  Snap("abc", 15, 59, 58, 101.25f, 1523400, 101.2f, 101.3f);
  Snap("XYZ", 9, 30, 0, 5.5f, 100);
  Snap("XYZ", 10, 0, 0, 5.25f, 250, 5.2f, 5.3f);
  Snap("XYZ", 10, 30, 0, 5.0f, 400);
  Snap("XYZ", 16, 0, 0, 4.75f, 1000);
  Snap("$DJI", 16, 0, 0, 38500.5f, 0);
  Snap("AB1", 16, 0, 0, 1, 0);
}

class QuoteServerTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    dir_ = std::filesystem::temp_directory_path() / ("vn_quote_server_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    ProgDir = dir_.string() + "/";
    SuppressErrorDialogs(true);
    OpenSettingsFile();
  }
  static void TearDownTestSuite() {
    IniFile_.reset();
    std::filesystem::remove_all(dir_);
  }
  void SetUp() override {
    server_.Listener().Port = 0;
    ASSERT_TRUE(server_.SetActive(true));
    port_ = server_.Listener().BoundPort();
  }
  void TearDown() override {
    LockHold hold(PortLock, "TEST");
    PortList.clear();
  }

  std::string Raw(const std::string& target, const std::string& host = "127.0.0.1") {
    return Exchange(port_, "GET " + target + " HTTP/1.0\r\nHost: " + host + "\r\n\r\n");
  }
  // The text inside <PRE>..</PRE>, after checking the status and the length.
  std::string Req(const std::string& query) {
    const std::string reply = Raw("/REQ?" + query), body = Body(reply);
    EXPECT_TRUE(reply.starts_with("HTTP/1.0 200 OK\r\n")) << reply;
    EXPECT_NE(reply.find("Content-Length: " + std::to_string(body.size()) + "\r\n"), std::string::npos);
    EXPECT_TRUE(body.starts_with("<PRE>") && body.ends_with("</PRE>")) << body;
    return body.size() >= 11 ? body.substr(5, body.size() - 11) : body;
  }
  bool StillAnswers() { return Req("ENUMINDICES").starts_with("OK"); }

  static inline std::filesystem::path dir_;
  VNServer server_;
  int port_ = 0;
};

}  // namespace

// Runs before the table is seeded (tests run in file order; skipped when run after).
TEST_F(QuoteServerTest, EmptyTableAnswersItsEmptyTexts) {
  if (StockTable.Count() > 0) GTEST_SKIP() << "the symbol table was seeded by an earlier test";
  EXPECT_EQ(Req("ENUMSYMBOLS"), "OK: no symbols");
  EXPECT_EQ(Req("ENUMEQUITIES"), "OK: no equities");
  EXPECT_EQ(Req("ENUMINDICES"), "OK: no indices");
  EXPECT_EQ(Req("GETLASTQUOTE(*)"), "Error: no quotes ");
  EXPECT_EQ(Req("ENUMPORTS"), "OK: no ports");
}

TEST_F(QuoteServerTest, DocumentAndCommandAreMatchedWithoutCase) {
  SeedTable();
  const std::string all = "OK\r\nABC,XYZ,$DJI,AB1";
  // Tests run in any order and add symbols after the seeded ones.
  EXPECT_TRUE(Req("ENUMSYMBOLS").starts_with(all));
  EXPECT_TRUE(Req("ENUMEQUITIES").starts_with("OK\r\nABC,XYZ"));
  EXPECT_EQ(Req("ENUMINDICES"), "OK\r\n$DJI");
  EXPECT_TRUE(Body(Raw("/req?enumsymbols")).find(all) != std::string::npos);
  EXPECT_TRUE(Body(Raw("/%52eQ?EnumSymbols")).find(all) != std::string::npos);
  // Upper-cased before decoding: an escape for a lower-case letter stays lower case.
  EXPECT_TRUE(Raw("/%72EQ?ENUMSYMBOLS").starts_with("HTTP/1.0 404 Not Found\r\n"));

  const std::string notFound = Raw("/OTHER?ENUMSYMBOLS");
  EXPECT_TRUE(notFound.starts_with("HTTP/1.0 404 Not Found\r\n")) << notFound;
  EXPECT_TRUE(notFound.ends_with("Content-Length: 0\r\n\r\n")) << notFound;

  EXPECT_EQ(Req(""), "Error: Invalid Command \"**none**\"!");
  EXPECT_EQ(Req("frobnicate(ABC)"), "Error: Invalid Command \"FROBNICATE\"!");
}


TEST_F(QuoteServerTest, LastQuoteLinesHoldEveryFieldWhateverTheLocale) {
  SeedTable();
  struct CommaPoint : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
  };
  const std::locale saved = std::locale::global(std::locale(std::locale::classic(), new CommaPoint));
  const std::string abc = "abc,15:59:58,101.25,101.2,101.3,100.5,99.75,102.125,1523400,12,15,340,7";
  const std::string none = "NOPE,00:00:00,0,0,0,0,0,0,0,0,0,0,0";
  const std::string both = Req("GETLASTQUOTE(abc,NOPE)");
  std::locale::global(saved);
  EXPECT_EQ(both, "OK\r\n" + abc + "\r\n" + none);
  EXPECT_EQ(Req("GETLASTQUOTE,abc,NOPE"), both);
  // A following line never inherits the values of the line before.
  EXPECT_EQ(Req("GETLASTQUOTE(ABC,NOPE)"), "OK\r\n" + std::string("ABC") + abc.substr(3) + "\r\n" + none);

  // "*" gives every symbol in ascending order and drops the other arguments.
  const std::string star = Req("GETLASTQUOTE(*,NOPE)");
  ASSERT_TRUE(star.starts_with("OK\r\n$DJI,16:00:00,38500.5,")) << star;
  EXPECT_NE(star.find("\r\nAB1,16:00:00,1,0,0,100.5,99.75,102.125,0,12,15,340,7\r\nABC,"), std::string::npos);
  EXPECT_TRUE(star.ends_with("\r\nXYZ,16:00:00,4.75,0,0,100.5,99.75,102.125,1000,12,15,340,7")) << star;
  EXPECT_EQ(std::count(star.begin(), star.end(), '\n'), StockTable.Count());

  // Cash is worth one at the market clock's time.
  EXPECT_TRUE(Req("GETLASTQUOTE($cash)").ends_with(",1,1,1,1,1,1,0,0,0,0,0"));
  EXPECT_EQ(Req("GETLASTQUOTE"), "Error: no arguments");
  // Echoed symbols cannot inject markup.
  EXPECT_EQ(Req("GETLASTQUOTE(<b>)"), "OK\r\n&lt;b&gt;,00:00:00,0,0,0,0,0,0,0,0,0,0,0");
}

TEST_F(QuoteServerTest, TimeSalesWindowAndVolumeDifferences) {
  SeedTable();
  // Volume differences count from the snapshot before, inside the window or not.
  EXPECT_EQ(Req("GETTIMESALES(XYZ,10:00,10:30)"),
            "OK\r\n10:00:00,5.25,5.3,5.2,150\r\n10:30:00,5,0,0,150");
  // An end of 0 runs to the end of the day; the first snapshot shows its whole volume.
  EXPECT_EQ(Req("GETTIMESALES(xyz,0,0)"),
            "OK\r\n09:30:00,5.5,0,0,100\r\n10:00:00,5.25,5.3,5.2,150\r\n10:30:00,5,0,0,150\r\n"
            "16:00:00,4.75,0,0,600");
  EXPECT_EQ(Req("GETTIMESALES(XYZ,103000,0)"), "OK\r\n10:30:00,5,0,0,150\r\n16:00:00,4.75,0,0,600");
  EXPECT_EQ(Req("GETTIMESALES(XYZ,11:00,3:00 PM)"), "Error: no quotes ");
  EXPECT_EQ(Req("GETTIMESALES(NOPE,0,0)"), "Error: no quotes ");
  EXPECT_EQ(Req("GETTIMESALES(XYZ,10:00)"), "Error: requires 3 arguments");
}

TEST_F(QuoteServerTest, PortfoliosAndTheirSymbols) {
  SeedTable();
  {
    LockHold hold(PortLock, "TEST");
    ASSERT_TRUE(hold);
    PortList.resize(3);
    PortList[0].Id = PortList[2].Id = "PORT1";
    PortList[1].Id = "PORT2";
    PortList[0].Name = "Main & Co";
    PortList[1].Name = "Empty";
    PortList[2].Name = "Same id";
    for (const char* s : {"ABC", "----", "$CASH", "XYZ", "ABC"}) PortList[0].Rows.emplace_back().Symbol = s;
    PortList[2].Rows.emplace_back().Symbol = "QQQ";
  }
  EXPECT_EQ(Req("ENUMPORTS"), "OK\r\nPORT1,Main & Co\r\nPORT2,Empty\r\nPORT1,Same id\r\n");
  EXPECT_EQ(Req("ENUMPORTSYMBOLS(PORT1)"), "OK\r\nABC,XYZ,QQQ");
  EXPECT_EQ(Req("ENUMPORTSYMBOLS(port1)"), "Error: no such portfolio \"port1\"");
  EXPECT_EQ(Req("ENUMPORTSYMBOLS(PORT2)"), "Error: no such portfolio \"PORT2\"");
  EXPECT_EQ(Req("ENUMPORTSYMBOLS"), "Error: One parameter is required for this function.");
  EXPECT_EQ(Req("ENUMPORTSYMBOLS(\"><script>)"), "Error: no such portfolio \"&quot;&gt;&lt;script&gt;\"");
}

TEST_F(QuoteServerTest, HostileRequestsAreRefusedAndTheServerGoesOn) {
  SeedTable();
  // Another host name (a rebound DNS name in a browser) must not read the data.
  for (const char* host : {"evil.example", "127.0.0.1.evil.example:16239"}) {
    const std::string r = Raw("/REQ?ENUMPORTS", host);
    EXPECT_TRUE(r.starts_with("HTTP/1.0 403 ")) << r;
    EXPECT_EQ(r.find("OK"), std::string::npos);
    EXPECT_TRUE(StillAnswers());
  }
  for (const char* host : {"localhost:16239", "[::1]"})
    EXPECT_TRUE(Raw("/REQ?ENUMINDICES", host).starts_with("HTTP/1.0 200 OK\r\n")) << host;

  // Bad escapes, in the document and in the query.
  for (const char* target : {"/RE%ZZ?ENUMSYMBOLS", "/REQ%?ENUMSYMBOLS", "/REQ?GETLASTQUOTE(%G1)"}) {
    const std::string r = Raw(target);
    EXPECT_TRUE(r.starts_with("HTTP/1.0 400 ")) << target << ": " << r;
    EXPECT_TRUE(StillAnswers());
  }
  // The splitter's end mark is a delimiter; at the start of a quoted argument it is dropped.
  EXPECT_EQ(Req("GETLASTQUOTE(\xC7\xC7,)"), "Error: no arguments");
  EXPECT_EQ(Req("GETLASTQUOTE('\xC7x')"), "OK\r\nx,00:00:00,0,0,0,0,0,0,0,0,0,0,0");
  EXPECT_EQ(Req("<script>"), "Error: Invalid Command \"&lt;SCRIPT&gt;\"!");
  EXPECT_TRUE(StillAnswers());
}

TEST_F(QuoteServerTest, BareLineFeedsHeadAndControlBytesInTheRequestLine) {
  SeedTable();
  const std::string whole = Raw("/REQ?ENUMINDICES");
  // Lines ending in a bare LF are lines, as HTTP/1.1 allows: answered at once, as with CR LF.
  const std::string lf = Exchange(port_, "GET /REQ?ENUMINDICES HTTP/1.0\nHost: 127.0.0.1\n\n");
  EXPECT_EQ(lf, whole);
  const std::string post = Exchange(port_, "POST /REQ HTTP/1.0\nHost: 127.0.0.1\nContent-Length: 12\n\nENUMINDICES\n");
  EXPECT_EQ(Body(post), Body(whole));
  // HEAD: the status and headers only, with the body's length.
  const std::string head = Exchange(port_, "HEAD /REQ?ENUMINDICES HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
  EXPECT_TRUE(head.starts_with("HTTP/1.0 200 OK\r\n")) << head;
  EXPECT_TRUE(head.ends_with("\r\n\r\n")) << head;
  EXPECT_NE(head.find("Content-Length: " + std::to_string(Body(whole).size()) + "\r\n"), std::string::npos) << head;
  // A NUL or other control byte in the request line or a POST's query is a malformed request.
  for (const std::string& request :
       {std::string("GET /REQ?ENUMPORTSYMBOLS(A\0B) HTTP/1.0\r\n\r\n", 42), std::string("GET /REQ?X\x1b[2J HTTP/1.0\r\n\r\n"),
        std::string("GET\t/REQ?ENUMINDICES HTTP/1.0\r\n\r\n"), std::string("GET /REQ?ENUM\rINDICES HTTP/1.0\r\n\r\n"),
        std::string("POST /REQ HTTP/1.0\r\n\r\nGETLASTQUOTE(A\x7f)\r\n")}) {
    const std::string r = Exchange(port_, request);
    EXPECT_TRUE(r.starts_with("HTTP/1.0 400 ")) << r;
    EXPECT_EQ(r.find("Error:"), std::string::npos) << r;  // no command ran
  }
  EXPECT_TRUE(StillAnswers());
}

TEST_F(QuoteServerTest, SettingsSwitchTheServerOnAndOff) {
  // While the fixture's server holds its port, a server configured for it stays off instead
  // of failing the settings load.
  VNServer fromIni;
  Ini().WriteInteger("VNServer", "Port", port_);
  Ini().WriteString("VNServer", "Active", "yes");
  fromIni.LoadSettings();
  EXPECT_FALSE(fromIni.Active());

  server_.SetActive(false);
  fromIni.LoadSettings();
  ASSERT_TRUE(fromIni.Active());
  EXPECT_TRUE(Req("ENUMPORTS").starts_with("OK"));
  for (const char* off : {"no", "NO"}) {
    Ini().WriteString("VNServer", "Active", off);
    fromIni.LoadSettings();
    EXPECT_FALSE(fromIni.Active()) << off;
    ASSERT_TRUE(fromIni.SetActive(true));
  }
  // Missing keys: the default port, switched off.
  Ini().EraseSection("VNServer");
  fromIni.LoadSettings();
  EXPECT_FALSE(fromIni.Active());
  EXPECT_EQ(fromIni.Listener().Port, VNServer::DefaultPort);
}

// Every line is one snapshot's values, never a mix of two: the writer keeps the price and
// the volume of each snapshot in step, so a torn copy shows as a mismatch.
TEST_F(QuoteServerTest, RepliesStayWholeWhileQuotesArrive) {
  SeedTable();
  auto priceFor = [](long volume) { return 1.0f + static_cast<float>((volume - 2000) % 100); };
  auto snap = [&](int i) {
    const long volume = 2000 + i;
    Snap(i % 2 ? "TORN1" : "TORN2", 16, 0, i % 60, priceFor(volume), static_cast<float>(volume));
  };
  snap(0);
  snap(1);
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    for (int i = 2; !stop; ++i) snap(i);
  });
  auto fields = [](const std::string& line) {
    std::vector<std::string> out;
    std::stringstream in(line);
    for (std::string f; std::getline(in, f, ',');) out.push_back(f);
    return out;
  };
  std::vector<std::future<std::string>> replies;
  for (int i = 0; i < 16; ++i)
    replies.push_back(std::async(std::launch::async, [&, i] { return Req(i % 2 ? "GETLASTQUOTE(TORN1,TORN2)" : "GETTIMESALES(TORN2,0,0)"); }));
  int lines = 0;
  for (size_t i = 0; i < replies.size(); ++i) {
    const std::string text = replies[i].get();
    ASSERT_TRUE(text.starts_with("OK\r\n")) << text;
    std::stringstream in(text.substr(4));
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      const auto f = fields(line);
      ++lines;
      if (i % 2) {
        ASSERT_EQ(f.size(), 13u) << line;
        EXPECT_EQ(std::stof(f[2]), priceFor(std::stol(f[8]))) << line;
      } else {
        ASSERT_EQ(f.size(), 5u) << line;
      }
    }
  }
  EXPECT_GT(lines, 0);
  stop = true;
  writer.join();
}

TEST(QuoteServerPrices, FastPriceTextMatchesFormatPrice) {
  std::mt19937 gen(7);
  std::vector<double> values = {0, -0.0, 1e-9, -0.00004, 0.00005, 0.03125, 9.99996, 9.99995, 999.9996,
                                10000, 10000.04, 10000.05, 99999.95, 1e8, 1e12, -1e12, 2.5e-5,
                                std::numeric_limits<double>::infinity(), std::nan("")};
  for (double top : {0.001, 1.0, 10.0, 1000.0, 10001.0, 1e7, 1e10}) {
    std::uniform_real_distribution<double> dist(-top, top);
    for (int i = 0; i < 20000; ++i) {
      values.push_back(dist(gen));
      values.push_back(static_cast<float>(dist(gen)));  // quote fields are floats
      // Values on the decimal grid and next to its halves.
      values.push_back(std::round(dist(gen) * 10000) / 10000 + 0.00005);
    }
  }
  int mismatches = 0;
  for (double v : values) {
    std::string fast;
    AppendPriceText(fast, v);
    if (fast != FormatPrice(v) && ++mismatches <= 5) ADD_FAILURE() << v << ": " << fast << " vs " << FormatPrice(v);
  }
  EXPECT_EQ(mismatches, 0);
}

TEST_F(QuoteServerTest, RepeatedRepliesFollowEveryNewQuoteAndSymbol) {
  SeedTable();
  // Fresh symbols on every run, so that the test can be repeated in one process.
  static int run = 0;
  const std::string moving = "CCH" + std::to_string(++run), added = "CCI" + std::to_string(run);
  Snap(moving.c_str(), 10, 0, 0, 20.5f, 100);
  const std::string first = Req("GETLASTQUOTE(" + moving + ")");
  EXPECT_EQ(Req("GETLASTQUOTE(" + moving + ")"), first);
  ASSERT_NE(first.find(",20.5,"), std::string::npos) << first;
  Snap(moving.c_str(), 10, 0, 5, 21.75f, 200);
  const std::string moved = Req("GETLASTQUOTE(" + moving + ")");
  EXPECT_NE(moved.find(moving + ",10:00:05,21.75,"), std::string::npos) << moved;

  const std::string before = Req("GETLASTQUOTE(*)");
  EXPECT_EQ(before.find("\r\n" + added + ","), std::string::npos);
  Snap(added.c_str(), 10, 0, 0, 3, 1);
  EXPECT_NE(Req("GETLASTQUOTE(*)").find("\r\n" + added + ",10:00:00,3,"), std::string::npos);
  // "$CASH" carries the market clock's time, so its line is built anew for each request.
  TestClock clock(1717423200000);  // 2024-06-03 14:00:00 UTC
  ScopedClock scoped(clock);
  auto cashAt = [] { return "OK\r\n$CASH," + FormatDateTime("hh:mm:ss", MarketNow()) + ",1,"; };
  const std::string cash = Req("GETLASTQUOTE($CASH)");
  EXPECT_TRUE(cash.starts_with(cashAt())) << cash;
  clock.Advance(90 * 60 * 1000 + 7000);
  const std::string later = Req("GETLASTQUOTE($CASH)");
  EXPECT_NE(later, cash);
  EXPECT_TRUE(later.starts_with(cashAt())) << later;
}

// A lock held elsewhere (a stuck writer) never raises the deadlock report: what the server
// reads without the lock (the symbol table) is served, the rest answers the busy text with
// status 200, and the data is served again once the lock is free.
TEST_F(QuoteServerTest, HeldLocksGiveTheBusyReplyWithoutTheDeadlockReport) {
  SeedTable();
  std::atomic<int> reports{0};
  SetErrorReportHandler([&](const std::string&, const std::string&) { ++reports; });
  TestClock clock(1717423200000);
  ScopedClock scoped(clock);
  {
    LockHold hold(PortLock, "TEST");
    ASSERT_TRUE(hold);
    PortList.resize(1);
    PortList[0].Id = "PORT1";
    PortList[0].Rows.emplace_back().Symbol = "ABC";
  }
  const std::string busy = VNServer::BusyText;
  StockInfoType* xyz = StockTable.FindRecord("XYZ");
  ASSERT_NE(xyz, nullptr);
  const std::pair<MyCriticalSection*, std::vector<std::pair<std::string, std::string>>> cases[] = {
      {&PortLock, {{"ENUMPORTS", busy}, {"ENUMPORTSYMBOLS(PORT1)", busy}, {"ENUMSYMBOLS", "OK\r\nABC,"}}},
      {&StockListLock,
       {{"ENUMSYMBOLS", "OK\r\nABC,XYZ,$DJI,AB1"}, {"ENUMINDICES", "OK\r\n$DJI"}, {"GETLASTQUOTE(*)", "OK\r\n$DJI,"}}},
      // (A reply kept from before is still current and may be sent: these were not asked yet.)
      {&AddSnapLock, {{"GETLASTQUOTE(*,1)", busy}, {"GETLASTQUOTE(XYZ)", busy}, {"GETTIMESALES(XYZ,0,0)", "OK\r\n09:30:00,"}}},
      {&xyz->Values.Cs(), {{"GETTIMESALES(XYZ,0,0)", busy}, {"GETLASTQUOTE(XYZ)", "OK\r\nXYZ,"}}}};
  for (const auto& [cs, queries] : cases) {
    {
      LockHold hold(*cs, "TEST");
      ASSERT_TRUE(hold);
      for (const auto& [query, expected] : queries)
        EXPECT_TRUE(Req(query).starts_with(expected)) << cs->Name() << " " << query << ": " << Req(query);
    }
    for (const auto& [query, expected] : queries) EXPECT_NE(Req(query), busy) << query;
  }
  EXPECT_EQ(Req("ENUMPORTSYMBOLS(PORT1)"), "OK\r\nABC");
  SetErrorReportHandler({});
  EXPECT_EQ(reports.load(), 0);
}

// Explicit lists of a few thousand symbols fit in one request line.
TEST_F(QuoteServerTest, LongSymbolListsAreAnswered) {
  SeedTable();
  std::string query = "GETLASTQUOTE(ABC";
  for (int i = 0; i < 2000; ++i) query += ",N" + std::to_string(i);
  query += ",XYZ)";
  const std::string reply = Req(query);
  ASSERT_TRUE(reply.starts_with("OK\r\nABC,15:59:58,")) << reply.substr(0, 80);
  EXPECT_TRUE(reply.ends_with("\r\nXYZ,16:00:00,4.75,0,0,100.5,99.75,102.125,1000,12,15,340,7"));
  EXPECT_EQ(std::count(reply.begin(), reply.end(), '\n'), 2002);
  // The second time the kept reply (over 64 KB, so sent from its in-memory file) goes out whole.
  ASSERT_GT(reply.size(), 64u * 1024);
  EXPECT_EQ(Req(query), reply);
  EXPECT_EQ(Req(query), reply);
}

namespace {
// GETLASTQUOTE of 65,000 symbols, the 256 KB a query may hold: the tag, then ABC over and over
// (a 4.7 MB reply, more than the kernel's buffers take), each client's list its own.
std::string LongList(const char* tag) {
  std::string q = "GETLASTQUOTE(";
  q += tag;
  for (int i = 1; i < 65000; ++i) q += ",ABC";
  return q + ")";
}

// A client that sends its request and does not read: a small receive buffer, so the reply
// stays with the server.
int SendAndHold(int port, const std::string& query) {
  const int fd = ConnectLoopback(port, 10000, 4096);
  if (fd >= 0 && !SendAll(fd, "GET /REQ?" + query + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n")) {
    ::close(fd);
    return -1;
  }
  return fd;
}

std::string ReadAndClose(int fd) {
  std::string reply = Body(ReadToEnd(fd));
  ::close(fd);
  return reply;
}
}  // namespace

TEST_F(QuoteServerTest, LongListRepliesStayWithinTheirMemoryBudget) {
  SeedTable();
  // A budget that holds one such reply but not two, with 16 connection slots.
  server_.SetActive(false);
  server_.ReplyBudget = 10 << 20;
  server_.Listener().MaxConnections = 16;
  ASSERT_TRUE(server_.SetActive(true));
  port_ = server_.Listener().BoundPort();
  ASSERT_EQ(server_.ReplyBytes(), 0);
  server_.ResetPeakReplyBytes();

  const int held = SendAndHold(port_, LongList("Q"));
  ASSERT_GE(held, 0);
  ASSERT_TRUE(WaitUntil([&] { return server_.ReplyBytes() >= (4 << 20); }, std::chrono::seconds(20)));
  // Past the budget: the busy answer, at once, for each of the others.
  std::vector<int> others;
  for (const char* tag : {"R", "S", "T", "U", "V"}) others.push_back(SendAndHold(port_, LongList(tag)));
  for (int fd : others) EXPECT_EQ(ReadAndClose(fd), "<PRE>Error: busy, try again</PRE>");
  // A client asking for little is answered in full meanwhile.
  EXPECT_TRUE(Req("GETLASTQUOTE(ABC)").starts_with("OK\r\nABC,15:59:58,101.25,"));
  EXPECT_LE(server_.PeakReplyBytes(), server_.ReplyBudget);

  // The held reply is whole, and it cost about its own size, not several copies of it.
  const std::string line = "\r\nABC,15:59:58,101.25,101.2,101.3,100.5,99.75,102.125,1523400,12,15,340,7";
  const std::string reply = ReadAndClose(held);
  ASSERT_TRUE(reply.starts_with("<PRE>OK\r\nQ,00:00:00,0,0,0,0,0,0,0,0,0,0,0" + line)) << reply.substr(0, 80);
  EXPECT_TRUE(reply.ends_with(line + "</PRE>")) << reply.substr(std::max<size_t>(reply.size(), 80) - 80);
  EXPECT_EQ(std::count(reply.begin(), reply.end(), '\n'), 65000);
  EXPECT_LE(server_.PeakReplyBytes(), static_cast<int64_t>(reply.size() + 2 * VNServer::ReplyPieceBytes));

  // Once it has gone, another such list fits, and no more is held than replies kept for reuse.
  EXPECT_TRUE(ReadAndClose(SendAndHold(port_, LongList("R"))).starts_with("<PRE>OK\r\nR,00:00:00,"));
  EXPECT_LE(server_.ReplyBytes(), static_cast<int64_t>(VNServer::KeptReplyBytes));
}

// Two symbols that agree in their first ten characters (or twenty) never share a record: not in
// the table, not from a quote site's answer, not in the quote server's replies. One of 21
// characters is refused and said once, never cut into another.
TEST(StockTable, LongSymbolsNeverShareARecord) {
  TMyStrList t;
  const int ten = t.Add("ABCDEFGHIJ");
  const int twenty = t.Add("abcdefghijklmnopqrst");
  ASSERT_GE(ten, 0);
  ASSERT_GE(twenty, 0);
  EXPECT_NE(ten, twenty);
  EXPECT_EQ(t.Strings(twenty), "ABCDEFGHIJKLMNOPQRST");
  EXPECT_EQ(t.Find("ABCDEFGHIJKLMNOPQRST"), twenty);
  EXPECT_EQ(t.Find("abcdefghij"), ten);
  EXPECT_EQ(t.Find("ABCDEFGHIJK"), -1);
  EXPECT_EQ(t.Find(std::string("ABCDEFGHIJ\0", 11)), -1);  // a NUL is no padding
  EXPECT_EQ(t.Add("ABCDEFGHIJKLMNOPQRSTU"), -1);
  EXPECT_EQ(t.Find("ABCDEFGHIJKLMNOPQRSTU"), -1);
  EXPECT_EQ(t.Count(), 2);

  const auto dir = std::filesystem::temp_directory_path() / ("vn_long_symbols_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  ProgDir = dir.string() + "/";
  LogOn = true;
  StringList lines;
  lines.SetText("EACH \"<q>\" UNTIL \"</q>\"\n GET SYMBOL UNTIL \"|\"\n GET LAST UNTIL \"#\"\n EMIT QUOTE\nEND\n");
  std::string error;
  HTTPSite site;
  site.Script = CompileSiteScript(lines, ScriptMode::Quotes, error);
  ASSERT_EQ(error, "");
  for (int round = 0; round < 2; ++round) {
    TDateTime t = 0;
    std::string extra, status;
    RunSiteScript(site, nullptr,
                  "<q>LSABCDEFGH|315.10#</q><q>LSABCDEFGHIJKLMNOPQRS|105.21#</q><q>LSABCDEFGHIJKLMNOPQR|99.50#</q>", t,
                  extra, nullptr, status);
    EXPECT_EQ(status, "OK");
  }
  LogOn = false;
  StockQuote q;
  {
    LockHold hold(AddSnapLock, "TEST");
    ASSERT_GE(GetStockQuote("LSABCDEFGH", q), 0);
    EXPECT_FLOAT_EQ(q.Last, 315.10f);
    ASSERT_GE(GetStockQuote("lsabcdefghijklmnopqr", q), 0);
    EXPECT_FLOAT_EQ(q.Last, 99.5f);
    EXPECT_LT(GetStockQuote("LSABCDEFGHIJKLMNOPQRS", q), 0);
    EXPECT_LT(GetStockQuote("LSABCDEFGHI", q), 0);
  }
  std::string log;
  ASSERT_TRUE(ReadWholeFile(ProgDir + "stocks.log", log));
  size_t said = 0;
  for (size_t at = log.find("refused: LSABCDEFGHIJKLMNOPQRS"); at != std::string::npos;
       at = log.find("refused: LSABCDEFGHIJKLMNOPQRS", at + 1))
    ++said;
  EXPECT_EQ(said, 1u) << log;

  // The quote server: a symbol never quoted answers zeros under its own name, whatever its
  // first ten characters are; case does not count; the 21-character one was never stored.
  VNServer server;
  server.Listener().Port = 0;
  ASSERT_TRUE(server.SetActive(true));
  const std::string reply =
      Body(Exchange(server.Listener().BoundPort(),
                    "GET /REQ?GETLASTQUOTE(LSABCDEFGH,LSABCDEFGHI,LSABCDEFGHIJKLMNOPQRS,lsabcdefghijklmnopqr) "
                    "HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n"));
  StringList got;
  got.SetText(reply);
  ASSERT_EQ(got.Count(), 5) << reply;
  EXPECT_TRUE(got[1].starts_with("LSABCDEFGH,")) << got[1];
  EXPECT_NE(got[1].find(",315.1,"), std::string::npos) << got[1];
  EXPECT_EQ(got[2], "LSABCDEFGHI,00:00:00,0,0,0,0,0,0,0,0,0,0,0");
  EXPECT_EQ(got[3], "LSABCDEFGHIJKLMNOPQRS,00:00:00,0,0,0,0,0,0,0,0,0,0,0");
  EXPECT_TRUE(got[4].starts_with("lsabcdefghijklmnopqr,")) << got[4];
  EXPECT_NE(got[4].find(",99.5,"), std::string::npos) << got[4];
  server.SetActive(false);
  std::filesystem::remove_all(dir);
}

// Connection threads still running when the server goes must not outlive what they use.
TEST_F(QuoteServerTest, ServerDestroyedDuringABurstOfRequests) {
  SeedTable();
  for (int round = 0; round < 3; ++round) {
    auto server = std::make_unique<VNServer>();
    server->Listener().Port = 0;
    ASSERT_TRUE(server->SetActive(true));
    const int port = server->Listener().BoundPort();
    std::atomic<bool> stop{false};
    std::atomic<int> served{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < 8; ++i)
      clients.emplace_back([&, i] {
        // Distinct queries, so that replies are built and stored, not only found.
        const std::string request = "GET /REQ?GETLASTQUOTE(*," + std::to_string(i) +
                                    ") HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
        while (!stop) {
          const std::string reply = Exchange(port, request);
          if (reply.find("<PRE>OK") != std::string::npos) ++served;
          Snap("BRST", 16, 0, 0, 4.75f, 1000.0f + static_cast<float>(i));
        }
      });
    EXPECT_TRUE(WaitUntil([&] { return served.load() >= 16; }));
    server.reset();
    stop = true;
    for (auto& t : clients) t.join();
  }
}
