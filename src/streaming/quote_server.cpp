#include "streaming/quote_server.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "platform/clock.h"
#include "platform/messages.h"

#include "core/add_snap.h"
#include "core/indices.h"
#include "core/locks.h"
#include "core/log.h"
#include "core/portfolios.h"
#include "core/settings_file.h"
#include "core/stock_table.h"
#include "core/symbols.h"
#include "core/text_helpers.h"
#include "retrieval/date_parse.h"
#include "streaming/net/net_log.h"
#include "streaming/net/url_coding.h"

namespace {

constexpr const char* kSection = "VNServer";
constexpr const char* kOwner = "VNSRV";
constexpr const char* kCrLf = "\r\n";

// A request from outside waits for shared data only briefly and never raises the deadlock
// report: data held longer than this (all the waits of one reply together) gets the busy
// reply, which the peer can retry.
constexpr int kLockWaitMs = 500;

// Tries take until deadline (a TickMs value); gives up at once on shut-down. Writers hold
// these locks for microseconds, so a few yields come before sleeping at the locks' own pace.
template <typename Take>
bool TakeBy(int64_t deadline, Take take) {
  for (int round = 0;; ++round) {
    if (take()) return true;
    if (ShuttingDown.load() || TickMs() >= deadline) return false;
    if (round < 64)
      std::this_thread::yield();
    else
      SleepMs(MyCriticalSection::RoundMs);
  }
}

// Holds a named lock for a scope when it was obtained by the deadline.
class BoundedHold {
public:
  BoundedHold(MyCriticalSection& cs, std::string_view owner, int64_t deadline)
      : cs_(cs), ok_(TakeBy(deadline, [&] { return cs.TryEnterNow(owner); })) {}
  ~BoundedHold() {
    if (ok_) cs_.Leave();
  }
  BoundedHold(const BoundedHold&) = delete;
  BoundedHold& operator=(const BoundedHold&) = delete;
  explicit operator bool() const { return ok_; }

private:
  MyCriticalSection& cs_;
  bool ok_;
};

int64_t LockDeadline() { return TickMs() + kLockWaitMs; }

char* PutTwo(char* p, int value) {
  *p++ = static_cast<char>('0' + value / 10 % 10);
  *p++ = static_cast<char>('0' + value % 10);
  return p;
}

// "hh:mm:ss" of the time of day.
char* PutTime(char* p, TDateTime t) {
  int h, m, s, ms;
  DecodeTime(t, h, m, s, ms);
  p = PutTwo(p, h);
  *p++ = ':';
  p = PutTwo(p, m);
  *p++ = ':';
  return PutTwo(p, s);
}

// FormatPrice(value) at p when the quick integer rounding is exact; returns the end, or null
// for the few values that take the exact path. Writes at most kMaxQuickPrice characters.
constexpr size_t kMaxQuickPrice = 24;
char* PutQuickPrice(char* p, double value) {
  const double magnitude = std::fabs(value);
  const int decimals = magnitude < 10 ? 4 : magnitude < 1000 ? 3 : magnitude <= 10000 ? 2 : 1;
  static constexpr double kScale[] = {1, 10, 100, 1000, 10000};
  const double scaled = magnitude * kScale[decimals];
  const double whole = std::floor(scaled);
  // Integer rounding agrees with the exact decimal rounding unless the product lies next to
  // a half (or is too large for the margin).
  if (!(scaled < 1e9) || std::fabs(scaled - whole - 0.5) < 1e-6) return nullptr;
  int64_t units = static_cast<int64_t>(whole) + (scaled - whole > 0.5 ? 1 : 0);
  if (units == 0) {
    *p++ = '0';
    return p;
  }
  int shown = decimals;
  while (shown > 0 && units % 10 == 0) {
    units /= 10;
    --shown;
  }
  // The digits are written in place and moved by at most four places, in loops of fixed
  // length, so that no library call or stalled wide load is spent per number.
  if (value < 0) *p++ = '-';
  const int length = static_cast<int>(std::to_chars(p, p + 16, units).ptr - p);
  if (length <= shown) {
    // "0." and zeros before the digits.
    const int pad = 2 + shown - length;
    for (int i = 3; i >= 0; --i)
      if (i < length) p[i + pad] = p[i];
    p[0] = '0';
    p[1] = '.';
    for (int i = 0; i < 4; ++i)
      if (i < shown - length) p[2 + i] = '0';
    return p + pad + length;
  }
  for (int i = 0; i < 4; ++i)
    if (i < shown) p[length - i] = p[length - i - 1];
  if (shown == 0) return p + length;
  p[length - shown] = '.';
  return p + length + 1;
}

void AppendEscaped(std::string& out, std::string_view text) {
  if (text.find_first_of("&<>\"'") == std::string_view::npos) out += text;
  else out += vn::net::HtmlEscape(text);
}

// Builds reply lines in a stack buffer and appends them to out in pieces, not by character.
class LineWriter {
public:
  explicit LineWriter(std::string& out) : out_(out) {}
  ~LineWriter() { Flush(); }
  LineWriter(const LineWriter&) = delete;
  LineWriter& operator=(const LineWriter&) = delete;

  void Char(char c) {
    Room(1);
    *p_++ = c;
  }
  void Time(TDateTime t) {
    Room(8);
    p_ = PutTime(p_, t);
  }
  void Price(double value) {
    Room(kMaxQuickPrice);
    if (char* end = PutQuickPrice(p_, value)) {
      p_ = end;
    } else {
      Flush();
      out_ += FormatPrice(value);
    }
  }
  void Int(int64_t value) {
    Room(20);
    p_ = std::to_chars(p_, buf_ + sizeof buf_, value).ptr;
  }
  void Escaped(std::string_view text) {
    if (text.size() <= 64 && text.find_first_of("&<>\"'") == std::string_view::npos) {
      Room(text.size());
      p_ = std::copy(text.begin(), text.end(), p_);
      return;
    }
    Flush();
    AppendEscaped(out_, text);
  }
  void Flush() {
    out_.append(buf_, static_cast<size_t>(p_ - buf_));
    p_ = buf_;
  }

private:
  void Room(size_t n) {
    if (static_cast<size_t>(buf_ + sizeof buf_ - p_) < n) Flush();
  }
  std::string& out_;
  char buf_[512];
  char* p_ = buf_;
};

// Readers of the quote fields take turns here, so that they do not collide on AddSnapLock,
// whose waits sleep for milliseconds; only the writers then contend with one reader. A reader
// that cannot get its turn within its wait gets the busy reply rather than queue without end.
std::mutex QuoteReaderGate;

// Table keys that pass the filter, comma-separated.
template <typename Filter>
std::string ListSymbols(Filter filter) {
  // Try-only, and the walk runs even without the lock: the table is made to be read beside
  // the adding of symbols.
  BoundedHold hold(StockListLock, "LSTS", LockDeadline());
  std::string out;
  const int count = StockTable.Count();
  for (int i = 0; i < count; ++i) {
    const std::string& key = StockTable.Strings(i);
    if (!filter(key)) continue;
    out.append(key, 0, 20);
    out += ',';
  }
  if (!out.empty()) out.pop_back();
  return out;
}

}  // namespace

void AppendPriceText(std::string& out, double value) {
  char buf[kMaxQuickPrice];
  if (const char* end = PutQuickPrice(buf, value))
    out.append(buf, static_cast<size_t>(end - buf));
  else
    out += FormatPrice(value);
}

VNServer::VNServer() {
  listener_.Port = DefaultPort;
  listener_.BoundIP = "127.0.0.1";
  listener_.ServerSoftware = "Vantora";
  // A web page must not read the portfolios through the user's browser: a request that
  // names another host (a rebound DNS name) is refused.
  listener_.HostCheck = [](const std::string& host) { return vn::net::IsLoopbackHost(host); };
  // GETLASTQUOTE may name a few thousand symbols.
  listener_.LongQueryDocument = "/REQ";
  vn::net::SetNetLogHandler([](const std::string& line) { WriteLog(line); });
  listener_.OnCommandGet = [this](vn::net::TWinshoeServerThread* thread, vn::net::THTTPRequestInfo& rq,
                                  vn::net::THTTPResponseInfo& rs) { VNServerCommandGet(thread, rq, rs); };
}

VNServer::~VNServer() = default;

void VNServer::LoadSettings() {
  int port = Ini().ReadInteger(kSection, "Port", DefaultPort);
  if (port < 0 || port > 65535) port = DefaultPort;
  const bool active = !SameText(Trim(Ini().ReadString(kSection, "Active", "NO")), "NO");
  if (listener_.Port != port) {
    // The port is taken when the listener opens; reopen on the new one.
    SetActive(false);
    listener_.Port = port;
  }
  SetActive(active);
}

bool VNServer::SetActive(bool value) {
  if (value == listener_.Active()) return true;
  try {
    listener_.SetActive(value);
  } catch (const std::exception& e) {
    lastError_ = e.what();
    WriteLog(std::string("Quote server not started on port ") + std::to_string(listener_.Port) + ": " + e.what());
    return false;
  }
  lastError_.clear();
  return true;
}

void VNServer::SendServerReply(vn::net::THTTPResponseInfo& response, std::string_view text,
                               std::string_view data) {
  std::string& body = response.ContentText;
  body.clear();
  body.reserve(text.size() + data.size() + 11);
  body += "<PRE>";
  body += text;
  body += data;
  body += "</PRE>";
  SendServerBody(response, body);
}

void VNServer::SendServerBody(vn::net::THTTPResponseInfo& response, std::string_view body, int fileFd) {
  response.ContentLength = static_cast<int64_t>(body.size());
  // Header and body leave together: a separate small body write could wait for the peer's
  // delayed acknowledgement. A kept reply is sent from the cache, not copied.
  response.WriteContent(body, fileFd);
  response.ContentText.clear();
}

void VNServer::VNServerCommandGet(vn::net::TWinshoeServerThread*, vn::net::THTTPRequestInfo& request,
                                  vn::net::THTTPResponseInfo& response) {
  if (vn::net::DecodeUrl(UpperCase(request.Document)) != "/REQ") {
    response.SetResponseNo(404);
    return;
  }
  // A quote request asked before is answered from its kept reply before its list (thousands
  // of symbols, maybe) is taken apart. The generation is read first: a change while a reply
  // is built makes the copy stale.
  if (auto kept = lastQuotes_.Find(request.UnparsedParams, QuoteGeneration.load(std::memory_order_acquire))) {
    SendServerBody(response, kept->Text, kept->Fd);
    return;
  }
  StringList params;
  SplitDelimited(request.UnparsedParams, params, "(),");
  for (int i = 1; i < params.Count(); ++i)
    if (!params[i].empty() && params[i][0] == SplitEndMark) params.SetString(i, params[i].substr(1));
  const std::string command = params.Empty() ? std::string("**none**") : UpperCase(params[0]);

  try {
    Dispatch(command, params, request, response);
  } catch (const ServerBusy&) {
    SendServerReply(response, BusyText);
  }
}

void VNServer::Dispatch(const std::string& command, StringList& params, vn::net::THTTPRequestInfo& request,
                        vn::net::THTTPResponseInfo& response) {
  // Data goes after "OK"; an empty result or an error is sent on its own.
  auto answer = [&](const std::string& data, const char* whenEmpty) {
    if (data.empty())
      SendServerReply(response, whenEmpty);
    else
      SendServerReply(response, "OK\r\n", data);
  };
  auto quoted = [](const std::string& text) { return "\"" + vn::net::HtmlEscape(text) + "\""; };

  if (command == "ENUMPORTS") {
    std::string data;
    try {
      data = ListPortfolios();
    } catch (const ServerBusy&) {
      throw;
    } catch (const std::exception& e) {
      SendServerReply(response, std::string("Error: ") + e.what());
      return;
    }
    answer(data, "OK: no ports");
  } else if (command == "ENUMPORTSYMBOLS") {
    if (params.Count() < 2) {
      SendServerReply(response, "Error: One parameter is required for this function.");
      return;
    }
    std::string data;
    {
      BoundedHold hold(PortLock, "PORTSYMS", LockDeadline());
      if (!hold) throw ServerBusy();
      GetPortSymbolsLocked(params[1], data);
    }
    if (data.empty())
      SendServerReply(response, "Error: no such portfolio " + quoted(params[1]));
    else
      answer(data, "");
  } else if (command == "ENUMSYMBOLS") {
    answer(ListAllSymbols(), "OK: no symbols");
  } else if (command == "ENUMEQUITIES") {
    answer(ListEquitySymbols(), "OK: no equities");
  } else if (command == "ENUMINDICES") {
    answer(ListIndexSymbols(), "OK: no indices");
  } else if (command == "GETLASTQUOTE") {
    if (params.Count() < 2) {
      SendServerReply(response, "Error: no arguments");
      return;
    }
    // The generation is read first: a change while the reply is built makes the copy stale.
    const uint64_t generation = QuoteGeneration.load(std::memory_order_acquire);
    if (params[1] == "*") ExpandAllSymbols(params);
    const std::string data = BuildLastQuotes(params);
    answer(data, "Error: no quotes ");
    // "$CASH" carries the current time, so a reply holding it is never kept.
    bool cash = false;
    for (int i = 1; i < params.Count() && !cash; ++i) cash = SameText(params[i], "$CASH");
    if (!cash && !data.empty())
      lastQuotes_.Store(request.UnparsedParams, generation,
                        std::make_shared<const KeptReply>("<PRE>OK\r\n" + data + "</PRE>"));
  } else if (command == "GETTIMESALES") {
    if (params.Count() != 4) {
      SendServerReply(response, "Error: requires 3 arguments");
      return;
    }
    answer(BuildTimeSales(params), "Error: no quotes ");
  } else {
    SendServerReply(response, "Error: Invalid Command " + quoted(command) + "!");
  }
}

VNServer::KeptReply::KeptReply(std::string text) : Text(std::move(text)) {
  // Small replies gain nothing: one copy of a few kilobytes costs less than the file.
  if (Text.size() <= 64 * 1024) return;
  const int fd = ::memfd_create("vn-reply", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  if (fd < 0) return;
  size_t done = 0;
  while (done < Text.size()) {
    const ssize_t n = ::write(fd, Text.data() + done, Text.size() - done);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      ::close(fd);
      return;
    }
    done += static_cast<size_t>(n);
  }
  ::fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL);
  Fd = fd;
}

VNServer::KeptReply::~KeptReply() {
  if (Fd >= 0) ::close(Fd);
}

std::shared_ptr<const VNServer::KeptReply> VNServer::ReplyCache::Find(const std::string& key, uint64_t generation) {
  std::lock_guard lock(mutex_);
  for (const Entry& e : entries_)
    if (e.generation == generation && e.key == key) return e.data;
  return nullptr;
}

void VNServer::ReplyCache::Store(const std::string& key, uint64_t generation,
                                 std::shared_ptr<const KeptReply> body) {
  std::lock_guard lock(mutex_);
  std::erase_if(entries_, [&](const Entry& e) { return e.key == key || e.generation != generation; });
  if (entries_.size() >= MaxEntries) entries_.erase(entries_.begin());
  entries_.push_back({key, generation, std::move(body)});
}

std::string VNServer::ListPortfolios() {
  // Unlike the symbol table, the portfolios may be replaced as a whole: never walked unlocked.
  BoundedHold hold(PortLock, "ENUM", LockDeadline());
  if (!hold) throw ServerBusy();
  std::string out;
  for (const PortType& p : PortList) {
    out += p.Id;
    out += ',';
    out += p.Name;
    out += kCrLf;
  }
  return out;
}

std::string VNServer::ListAllSymbols() {
  return ListSymbols([](const std::string&) { return true; });
}

std::string VNServer::ListEquitySymbols() {
  return ListSymbols([](const std::string& key) { return IsValidSymbol(key); });
}

std::string VNServer::ListIndexSymbols() {
  return ListSymbols([](const std::string& key) { return IsIndexSymbol(key); });
}

void VNServer::ExpandAllSymbols(StringList& params) {
  // Read without the table's lock: the table is made to be read beside the adding of
  // symbols. Keys and records stay in place for the table's life; keys are stored
  // upper-cased, so byte order is the list's case-blind order.
  struct Entry {
    uint64_t head[2];  // the key's first 16 bytes, big-endian, so that they compare as words
    const std::string* key;
    StockInfoType* record;
  };
  std::vector<Entry> entries;
  const int count = StockTable.Count();
  entries.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    Entry e{{0, 0}, &StockTable.Strings(i), StockTable.Objects(i)};
    for (size_t k = 0; k < 16 && k < e.key->size(); ++k)
      e.head[k / 8] |= uint64_t{static_cast<unsigned char>((*e.key)[k])} << (56 - 8 * (k % 8));
    entries.push_back(e);
  }
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    if (a.head[0] != b.head[0]) return a.head[0] < b.head[0];
    if (a.head[1] != b.head[1]) return a.head[1] < b.head[1];
    return *a.key < *b.key;
  });
  params.Clear();
  params.Add(std::string(2, '\x01'));  // the placeholder sorts before every symbol
  // Each symbol carries its record, so that BuildLastQuotes need not look it up again.
  for (const Entry& e : entries) params.Add(*e.key, e.record);
}

std::string VNServer::BuildLastQuotes(const StringList& params) {
  const int count = params.Count() - 1;
  if (count <= 0) return {};
  auto symbolAt = [&](int i) { return std::string_view(params[i]).substr(0, 255); };
  // The table is safe to search without a lock, so records are found before any is taken.
  std::vector<StockInfoType*> records(static_cast<size_t>(count));
  std::vector<char> special(static_cast<size_t>(count));
  for (int i = 1; i <= count; ++i) {
    const std::string_view symbol = symbolAt(i);
    special[static_cast<size_t>(i - 1)] = symbol.size() == 5 && SameText(symbol, "$CASH");
    void* known = params.Objects(i);
    records[static_cast<size_t>(i - 1)] = known ? static_cast<StockInfoType*>(known) : StockTable.FindRecord(symbol);
  }
  // The fields are copied first and formatted after every lock is released.
  std::vector<StockQuote> quotes(static_cast<size_t>(count));
  {
    // One wait for the whole walk, however many symbols it holds.
    const int64_t deadline = LockDeadline();
    std::unique_lock gate(QuoteReaderGate, std::defer_lock);
    if (!TakeBy(deadline, [&] { return gate.try_lock(); })) throw ServerBusy();
    for (size_t k = 0; k < records.size(); ++k) {
      if (k + 4 < records.size() && records[k + 4]) __builtin_prefetch(&records[k + 4]->Quote);
      // Once per symbol, so that quote updates can run between them.
      BoundedHold hold(AddSnapLock, kOwner, deadline);
      if (!hold) throw ServerBusy();
      if (special[k])
        GetStockQuote(symbolAt(static_cast<int>(k) + 1), quotes[k], 0);
      else if (records[k])
        CopyQuoteFields(records[k]->Quote, quotes[k]);
    }
  }
  std::string out;
  out.reserve(static_cast<size_t>(count) * 80);
  {
    LineWriter line(out);
    for (int i = 1; i <= count; ++i) {
      const StockQuote& q = quotes[static_cast<size_t>(i - 1)];
      line.Escaped(symbolAt(i));
      line.Char(',');
      line.Time(q.UpdateTime);
      for (double price : {q.Last, q.Bid, q.Ask, q.Open, q.Low, q.High}) {
        line.Char(',');
        line.Price(price);
      }
      for (int64_t n : {q.Volume, int64_t{q.BidSize}, int64_t{q.AskSize}, int64_t{q.LastSize}, int64_t{q.TradeCount}}) {
        line.Char(',');
        line.Int(n);
      }
      if (i < count) {
        line.Char('\r');
        line.Char('\n');
      }
    }
  }
  return out;
}

bool VNServer::CollectTimeSales(StockInfoType& rec, double start, double end, std::vector<TimeSalesRow>& out) {
  out.clear();
  // Half a millisecond of slack: a stamp of 10:00:00 carries the day and so reads a hair off
  // the time of day "10:00", which must still match it.
  constexpr double slack = 0.5 / MSecsPerDay;
  const double first = start - slack, last = end + slack;
  ValueList& list = rec.Values;
  BoundedHold hold(list.Cs(), kOwner, LockDeadline());
  if (!hold) return false;
  double previous = 0;
  const ValueRec* v = list.Data();
  const int count = list.Count();
  for (int i = 0; i < count; ++i) {
    const double t = TimePart(v[i].Time);
    if (first <= t && t < last)
      out.push_back({t, v[i].Last, v[i].Ask, v[i].Bid, static_cast<double>(v[i].Volume) - previous});
    previous = v[i].Volume;
  }
  return true;
}

std::string VNServer::BuildTimeSales(const StringList& params) {
  const double start = ParseTimeText(params[2], true);
  double end = ParseTimeText(params[3], true);
  if (end == 0) end = 1.0;
  std::string out;
  StockInfoType* rec = StockTable.FindRecord(params[1]);
  if (!rec) return out;
  // Lines are formatted after the list's lock is released, so that AddSnap waits only for
  // the copy.
  std::vector<TimeSalesRow> rows;
  if (!CollectTimeSales(*rec, start, end, rows)) throw ServerBusy();
  out.reserve(rows.size() * 40);
  {
    LineWriter line(out);
    for (const TimeSalesRow& r : rows) {
      line.Time(r.Time);
      for (double value : {double{r.Last}, double{r.Ask}, double{r.Bid}, r.VolumeChange}) {
        line.Char(',');
        line.Price(value);
      }
      line.Char('\r');
      line.Char('\n');
    }
  }
  if (!out.empty()) out.resize(out.size() - 2);
  return out;
}
