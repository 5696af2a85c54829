// The demo's sites are one market: started as the demo starts them, the streaming site and the
// quote site give every symbol of the demo's portfolios the same price at the same moment, and
// stamp it with US-Eastern market time.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <algorithm>
#include <map>
#include <thread>

#include "common/fake_site.h"
#include "core/add_snap.h"
#include "core/market_clock.h"
#include "core/portfolios.h"
#include "core/program_state.h"
#include "core/result_slots.h"
#include "core/symbols.h"
#include "core/text_helpers.h"
#include "platform/string_list.h"
#include "retrieval/http_engine.h"
#include "retrieval/site_files.h"
#include "retrieval/site_script.h"
#include "streaming/client/book_model.h"
#include "streaming/client/http_streamer.h"
#include "streaming/client/streamer_dll.h"

namespace {

bool DemoSetup(const std::string& name, const std::string& dir, int port) {
  const std::string cmd = "python3 '" + FakeSiteScript(name) + "' --demo-setup '" + dir + "' " + std::to_string(port);
  return std::system(cmd.c_str()) == 0;
}

int SecondOfDay(TDateTime t) { return static_cast<int>(std::lround((t - std::floor(t)) * 86400)) % 86400; }

int SecondsApart(int a, int b) {
  const int d = std::abs(a - b) % 86400;
  return std::min(d, 86400 - d);
}

struct Tick {
  int Seconds;
  double Last, Bid, Ask;
};

// A streaming request's body in a queue, for as long as the test reads it.
class RawStream {
public:
  RawStream(const FakeSite& site, const std::string& path) : slot_(AllocHRes('W')) {
    int slotOut = 0;
    GetHttp(nullptr, 0, -1, slot_, "GET", site.Host(), path, "", "", "", "", 80, false, false, false, 30, slotOut,
            "", false, false, 0, name_, &queue_);
  }
  // Ends the request; a record it cut short is then given up.
  THTTPStreamer& Ended() {
    CollectHttp(name_, -1);
    FreeHRes(slot_);
    queue_.SetEndProbe([] { return true; });
    return queue_;
  }

private:
  THTTPStreamer queue_{"demo"};
  int slot_;
  std::string name_;
};

void ToBook(void* book, int, intptr_t code, intptr_t value) {
  static_cast<BookModel*>(book)->Field(static_cast<int>(code), static_cast<int32_t>(value));
}

}  // namespace

TEST(DemoMarket, StreamedAndFetchedQuotesAgreeInMarketTime) {
  ASSERT_TRUE(LoadStreamerDll());
  FakeSite quotes("quotes", {"--demo"});
  FakeSite streaming("streaming", {"--demo"});
  ASSERT_TRUE(quotes.Running() && streaming.Running());
  const std::string dir = ProgDir + "demo-market/";
  std::filesystem::create_directories(dir);
  ASSERT_TRUE(DemoSetup("quotes", dir, quotes.Port()));
  ASSERT_TRUE(DemoSetup("streaming", dir, streaming.Port()));
  ASSERT_TRUE(std::filesystem::exists(dir + "QuoteStr.Par"));

  // Every symbol of the demo's portfolios, as the program would stream and fetch them.
  std::string text;
  ASSERT_TRUE(ReadWholeFile(dir + "PORT.DAT", text));
  std::vector<PortType> ports;
  ParsePortText(text, ports);
  std::vector<std::string> symbols;
  for (const PortType& p : ports)
    for (const PortRowRec& r : p.Rows)
      if (!IsDashesOnly(r.Symbol) && r.Symbol != "$CASH" &&
          std::find(symbols.begin(), symbols.end(), r.Symbol) == symbols.end())
        symbols.push_back(r.Symbol);
  ASSERT_GE(symbols.size(), 10u);
  std::string plus, comma;
  for (const std::string& s : symbols) {
    plus += (plus.empty() ? "" : "+") + s;
    comma += (comma.empty() ? "" : ",") + s;
  }
  HTTPSite demo;
  std::string error;
  LoadSiteFile("demo-market/DEMO.SDF", demo, nullptr, error);
  ASSERT_EQ(error, "");
  StringList asked;
  for (const std::string& s : symbols) asked.Add(s);

  // The demo's own stream and book while the quote page is fetched a few times beside them.
  RawStream quoteStream(streaming, "/stream?s=" + plus + "&interval=500");
  RawStream bookStream(streaming, "/stream?book=1&s=MSFT&interval=500");
  std::map<std::string, std::vector<Tick>> fetched;
  for (int round = 0; round < 3; ++round) {
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    HttpJob job;
    job.Url = quotes.Url("/quotes?s=" + comma);
    const HttpResult page = PerformHttp(job, nullptr);
    ASSERT_TRUE(page.Ok) << page.Error;
    TDateTime quoteTime = 0;
    std::string extra, status;
    RunSiteScript(demo, &asked, page.Body, quoteTime, extra, nullptr, status);
    ASSERT_EQ(status, "OK");
    for (const std::string& s : symbols) {
      StockQuote q;
      ASSERT_GE(GetStockQuote(s, q), 0) << s;
      fetched[s].push_back({SecondOfDay(q.UpdateTime), q.Last, q.Bid, q.Ask});
    }
  }
  const int eastern = SecondOfDay(MarketNow());

  std::map<std::string, std::vector<Tick>> streamed;
  {
    THTTPStreamer& q = quoteStream.Ended();
    const RirudidReader reader = QueueReader(q);
    char code;
    std::string skip;
    while (q.Read(&code, 1)) {
      if (code == 'Q') {
        RirudidQuote r;
        ASSERT_EQ(StreamerDll().ReadVals(&reader, &r), RIRUDID_OK);
        streamed[r.Symbol].push_back({static_cast<int>(std::lround(r.QuoteTime * 86400)), r.Last, r.Bid, r.Ask});
      } else if (code == 'P') {
        q.ReadWordStr(skip);
      } else if (code == 'M') {
        uint8_t b;
        q.ReadByte(b) && q.ReadShortStr(skip) && q.ReadShortStr(skip);
      }
    }
  }

  for (const std::string& s : symbols) {
    SCOPED_TRACE(s);
    ASSERT_FALSE(streamed[s].empty());
    for (const Tick& t : streamed[s]) EXPECT_LE(SecondsApart(t.Seconds, eastern), 10) << "streamed time";
    // A busy machine may hold the stream back for a second or more around one fetch: every
    // streamed quote near a fetched one agrees with it, and some fetched quote has one near.
    int matched = 0;
    for (const Tick& f : fetched[s]) {
      EXPECT_LE(SecondsApart(f.Seconds, eastern), 10) << "fetched time";
      // Indices have no spread: a hair of their level instead.
      const double spread = std::max(f.Ask - f.Bid, f.Last * 0.0002);
      bool near = false;
      for (const Tick& t : streamed[s])
        if (SecondsApart(t.Seconds, f.Seconds) <= 1) {
          near = true;
          EXPECT_LE(std::fabs(t.Last - f.Last), spread) << "at " << f.Seconds;
        }
      matched += near;
    }
    EXPECT_GT(matched, 0) << "no streamed quote within a second of a fetched one";
  }

  // The book lies around the symbol's own bid and ask; its last match is the last trade.
  BookModel book;
  {
    THTTPStreamer& q = bookStream.Ended();
    const RirudidReader reader = QueueReader(q);
    char code;
    BookModel latest;
    while (q.Read(&code, 1)) {
      int32_t n = 0;
      if (code == 'J' && q.ReadInt24(n)) book.Field(2, n);
      if (code == 'I' && StreamerDll().ReadIslandVal(&reader, 0, &book, ToBook) == RIRUDID_OK) latest = book;
    }
    book = latest;
  }
  ASSERT_FALSE(book.Bids.empty());
  ASSERT_FALSE(book.Asks.empty());
  const Tick& msft = fetched["MSFT"].back();
  const double spread = msft.Ask - msft.Bid;
  EXPECT_LE(SecondsApart(book.SnapshotSeconds, eastern), 10);
  EXPECT_LT(book.Bids[0].Price, book.Asks[0].Price);
  EXPECT_NEAR(book.Bids[0].Price, msft.Bid, spread);
  EXPECT_NEAR(book.Asks[0].Price, msft.Ask, spread);
  EXPECT_NEAR(ParsePrice(book.Price), msft.Last, spread);
  EXPECT_FALSE(book.Volume.empty());
  std::filesystem::remove_all(dir);
}
