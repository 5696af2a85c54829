#include "streaming/quote_server.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
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
// About what a GETLASTQUOTE line takes beside its symbol: its time, prices and counts.
constexpr size_t kLineBytes = 72;

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

// Builds reply lines in a stack buffer and appends them to out in pieces, not by character.
// Out is a std::string or a reply body (whose append may throw when the budget is spent).
template <typename Out>
class LineWriter {
public:
  explicit LineWriter(Out& out) : out_(out) {}
  ~LineWriter() {
    try {
      Flush();
    } catch (...) {
      // Only while a failure is already on its way: the reply is given up.
    }
  }
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
      Text(FormatPrice(value));
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
    const std::string escaped = vn::net::HtmlEscape(text);
    out_.append(escaped.data(), escaped.size());
  }
  void Text(std::string_view text) {
    Flush();
    out_.append(text.data(), text.size());
  }
  void Flush() {
    const size_t n = static_cast<size_t>(p_ - buf_);
    p_ = buf_;
    out_.append(buf_, n);
  }

private:
  void Room(size_t n) {
    if (static_cast<size_t>(buf_ + sizeof buf_ - p_) < n) Flush();
  }
  Out& out_;
  char buf_[512];
  char* p_ = buf_;
};

// Readers of the quote fields take turns here, so that they do not collide on AddSnapLock,
// whose waits sleep for milliseconds; only the writers then contend with one reader. A reader
// that cannot get its turn within its wait gets the busy reply rather than queue without end.
std::mutex QuoteReaderGate;

// Table keys that pass the filter, comma-separated, appended to out; false when there was none.
template <typename Out, typename Filter>
bool WriteSymbols(Out& out, Filter filter) {
  // Try-only, and the walk runs even without the lock: the table is made to be read beside
  // the adding of symbols.
  BoundedHold hold(StockListLock, "LSTS", LockDeadline());
  bool any = false;
  LineWriter line(out);
  const int count = StockTable.Count();
  for (int i = 0; i < count; ++i) {
    const std::string& key = StockTable.Strings(i);
    if (!filter(key)) continue;
    if (any) line.Char(',');
    line.Text(std::string_view(key).substr(0, 20));
    any = true;
  }
  line.Flush();
  return any;
}

bool IsAllSymbols(const std::string&) { return true; }
bool IsEquityKey(const std::string& key) { return IsValidSymbol(key); }
bool IsIndexKey(const std::string& key) { return IsIndexSymbol(key); }

// An argument that begins with the end mark of the splitting loses it.
void DropEndMark(std::string& arg) {
  if (!arg.empty() && arg[0] == SplitEndMark) arg.erase(0, 1);
}

// Every table symbol in ascending order with its record. Read without the table's lock: the
// table is made to be read beside the adding of symbols. Keys and records stay in place for
// the table's life; keys are stored upper-cased, so byte order is case-blind order.
struct TableEntry {
  uint64_t head[2];  // the key's first 16 bytes, big-endian, so that they compare as words
  const std::string* key;
  StockInfoType* record;
};
std::vector<TableEntry> SortedSymbols() {
  std::vector<TableEntry> entries;
  const int count = StockTable.Count();
  entries.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    TableEntry e{{0, 0}, &StockTable.Strings(i), StockTable.Objects(i)};
    for (size_t k = 0; k < 16 && k < e.key->size(); ++k)
      e.head[k / 8] |= uint64_t{static_cast<unsigned char>((*e.key)[k])} << (56 - 8 * (k % 8));
    entries.push_back(e);
  }
  std::sort(entries.begin(), entries.end(), [](const TableEntry& a, const TableEntry& b) {
    if (a.head[0] != b.head[0]) return a.head[0] < b.head[0];
    if (a.head[1] != b.head[1]) return a.head[1] < b.head[1];
    return *a.key < *b.key;
  });
  return entries;
}

// GETLASTQUOTE's lines for the symbols next() gives (each with its record, or null to be looked
// up), joined by CR LF. They are taken a batch at a time: the fields of a batch are copied under
// the locks, then formatted after every lock is released, so a long list costs its lines and
// one batch. cash is set when "$CASH" was among them.
template <typename Out, typename Next>
void WriteLastQuotes(Out& out, Next next, bool& cash) {
  constexpr size_t Batch = 256;
  std::vector<std::string> symbols(Batch);
  std::vector<StockInfoType*> records(Batch);
  std::vector<char> special(Batch);
  std::vector<StockQuote> quotes(Batch);
  LineWriter line(out);
  bool first = true;
  for (;;) {
    size_t n = 0;
    for (; n < Batch; ++n) {
      records[n] = nullptr;
      if (!next(symbols[n], records[n])) break;
      std::string& symbol = symbols[n];
      if (symbol.size() > 255) symbol.resize(255);
      special[n] = symbol.size() == 5 && SameText(symbol, "$CASH");
      cash = cash || special[n];
      // The table is safe to search without a lock, so records are found before any is taken.
      if (!records[n]) records[n] = StockTable.FindRecord(symbol);
    }
    if (n == 0) break;
    {
      // One wait for the batch, however many symbols it holds.
      const int64_t deadline = LockDeadline();
      std::unique_lock gate(QuoteReaderGate, std::defer_lock);
      if (!TakeBy(deadline, [&] { return gate.try_lock(); })) throw VNServer::ServerBusy();
      for (size_t k = 0; k < n; ++k) {
        if (k + 4 < n && records[k + 4]) __builtin_prefetch(&records[k + 4]->Quote);
        quotes[k] = StockQuote{};
        // Once per symbol, so that quote updates can run between them.
        BoundedHold hold(AddSnapLock, kOwner, deadline);
        if (!hold) throw VNServer::ServerBusy();
        if (special[k])
          GetStockQuote(symbols[k], quotes[k], 0);
        else if (records[k])
          CopyQuoteFields(records[k]->Quote, quotes[k]);
      }
    }
    for (size_t k = 0; k < n; ++k) {
      const StockQuote& q = quotes[k];
      if (!first) {
        line.Char('\r');
        line.Char('\n');
      }
      first = false;
      line.Escaped(symbols[k]);
      line.Char(',');
      line.Time(q.UpdateTime);
      for (double price : {q.Last, q.Bid, q.Ask, q.Open, q.Low, q.High}) {
        line.Char(',');
        line.Price(price);
      }
      for (int64_t v : {q.Volume, int64_t{q.BidSize}, int64_t{q.AskSize}, int64_t{q.LastSize}, int64_t{q.TradeCount}}) {
        line.Char(',');
        line.Int(v);
      }
    }
    if (n < Batch) break;
  }
  line.Flush();
}

// GETTIMESALES walks a symbol's snapshots a batch at a time, holding the list's lock only for
// each batch's copy: the next batch starts after the last snapshot's time (snapshots are in
// time order, one per second). A new day in the list ends the walk.
class TimeSalesWalk {
public:
  TimeSalesWalk(StockInfoType& rec, double start, double end) : rec_(rec) {
    // Half a millisecond of slack: a stamp of 10:00:00 carries the day and so reads a hair off
    // the time of day "10:00", which must still match it.
    constexpr double slack = 0.5 / MSecsPerDay;
    first_ = start - slack;
    last_ = end + slack;
  }
  bool Done() const { return done_; }
  // The next rows (at most max). False when the list's lock was not obtained.
  bool Next(std::vector<TimeSalesRow>& rows, size_t max) {
    rows.clear();
    ValueList& list = rec_.Values;
    BoundedHold hold(list.Cs(), kOwner, LockDeadline());
    if (!hold) return false;
    const ValueRec* v = list.Data();
    const int count = list.Count();
    int i = 0;
    if (count > 0 && started_) {
      if (std::floor(v[0].Time) != day_) {
        done_ = true;
        return true;
      }
      i = static_cast<int>(std::upper_bound(v, v + count, after_, [](TDateTime t, const ValueRec& r) { return t < r.Time; }) - v);
    } else if (count > 0) {
      day_ = std::floor(v[0].Time);
      started_ = true;
    }
    for (; i < count && rows.size() < max; ++i) {
      const double t = TimePart(v[i].Time);
      if (first_ <= t && t < last_)
        rows.push_back({t, v[i].Last, v[i].Ask, v[i].Bid, static_cast<double>(v[i].Volume) - previous_});
      previous_ = v[i].Volume;
      after_ = v[i].Time;
    }
    done_ = i >= count;
    return true;
  }

private:
  StockInfoType& rec_;
  double first_ = 0, last_ = 0;
  bool started_ = false, done_ = false;
  TDateTime day_ = 0, after_ = 0;
  double previous_ = 0;
};

// GETTIMESALES's lines (params: command, symbol, start, end), appended to out; false when
// there is none. Throws ServerBusy when the list stayed locked.
template <typename Out>
bool WriteTimeSales(Out& out, const StringList& params) {
  const double start = ParseTimeText(params[2], true);
  double end = ParseTimeText(params[3], true);
  if (end == 0) end = 1.0;
  StockInfoType* rec = StockTable.FindRecord(params[1]);
  if (!rec) return false;
  TimeSalesWalk walk(*rec, start, end);
  std::vector<TimeSalesRow> rows;
  LineWriter line(out);
  bool any = false;
  while (!walk.Done()) {
    // Lines are formatted after the list's lock is released, so that AddSnap waits only for
    // the copy.
    if (!walk.Next(rows, 4096)) throw VNServer::ServerBusy();
    for (const TimeSalesRow& r : rows) {
      if (any) {
        line.Char('\r');
        line.Char('\n');
      }
      any = true;
      line.Time(r.Time);
      for (double value : {double{r.Last}, double{r.Ask}, double{r.Bid}, r.VolumeChange}) {
        line.Char(',');
        line.Price(value);
      }
    }
  }
  line.Flush();
  return any;
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

// ---- reply memory ----

bool VNServer::ReplyMemory::Take(int64_t bytes, bool firstPiece) {
  // Room for every connection's first piece, and the kept replies', is set aside: only those
  // may use it.
  const int64_t aside =
      int64_t{std::max(0, server_.listener_.MaxConnections) + static_cast<int>(ReplyCache::MaxEntries)} *
      static_cast<int64_t>(ReplyPieceBytes);
  const int64_t limit = firstPiece ? server_.ReplyBudget : server_.ReplyBudget - aside;
  auto take = [&] {
    int64_t now = room_.load();
    do {
      if (now + bytes > limit) return false;
    } while (!room_.compare_exchange_weak(now, now + bytes));
    return true;
  };
  // Replies in flight come before those kept for reuse: the kept ones are let go (their room
  // comes back once nobody sends them any more).
  return take() || (server_.lastQuotes_.Clear(), take());
}

void VNServer::ReplyMemory::Give(int64_t bytes) { room_.fetch_sub(bytes); }

void VNServer::ReplyMemory::Hold(int64_t delta) {
  const int64_t now = held_.fetch_add(delta) + delta;
  int64_t peak = peak_.load();
  while (now > peak && !peak_.compare_exchange_weak(peak, now)) {
  }
}

// A reply body built in pieces: the first 4 KB inside the object (on the connection thread's
// stack), then pieces mapped from the system, each taking its room in the budget before it is
// made. Mapped pieces go straight back to the system when the body ends, so a burst of large
// replies leaves no heap behind.
class VNServer::ReplyBody {
public:
  explicit ReplyBody(ReplyMemory& memory) : memory_(memory) {}
  ~ReplyBody() {
    FreePieces();
    memory_.Give(room_);
  }
  ReplyBody(const ReplyBody&) = delete;
  ReplyBody& operator=(const ReplyBody&) = delete;

  // Throws ServerBusy when the budget has no room for another piece.
  void append(const char* p, size_t n) {
    size_ += n;
    if (pieces_.empty()) {
      const size_t now = std::min(n, sizeof inline_ - inlineUsed_);
      std::memcpy(inline_ + inlineUsed_, p, now);
      inlineUsed_ += now;
      p += now;
      n -= now;
    }
    while (n > 0) {
      if (pieces_.empty() || pieces_.back().Used == ReplyPieceBytes) Grow();
      Piece& piece = pieces_.back();
      const size_t now = std::min(n, ReplyPieceBytes - piece.Used);
      std::memcpy(piece.Data + piece.Used, p, now);
      piece.Used += now;
      p += now;
      n -= now;
    }
  }
  void append(std::string_view text) { append(text.data(), text.size()); }
  // Takes room for a body of about that many bytes at once, before it is built, so that
  // replies built side by side never each take part of the budget and all fail. Throws
  // ServerBusy when there is none.
  void Expect(size_t bytes) {
    if (bytes <= sizeof inline_) return;
    const int64_t want = static_cast<int64_t>((bytes - sizeof inline_ + ReplyPieceBytes - 1) / ReplyPieceBytes) *
                         static_cast<int64_t>(ReplyPieceBytes);
    if (want > room_) TakeRoom(want - room_);
  }
  // The body is whole: room taken and not used goes back.
  void Settle() {
    const int64_t used = static_cast<int64_t>(pieces_.size()) * static_cast<int64_t>(ReplyPieceBytes);
    memory_.Give(room_ - used);
    room_ = used;
  }
  size_t size() const { return size_; }
  template <typename F>
  void EachPiece(F f) const {
    if (inlineUsed_ > 0) f(std::string_view(inline_, inlineUsed_));
    for (const Piece& piece : pieces_) f(std::string_view(piece.Data, piece.Used));
  }
  // Hands each piece to f in turn, freeing it once f returned; the room they took stays
  // taken and is given to the caller.
  template <typename F>
  int64_t Drain(F f) {
    if (inlineUsed_ > 0) f(std::string_view(inline_, inlineUsed_));
    inlineUsed_ = 0;
    for (Piece& piece : pieces_) {
      f(std::string_view(piece.Data, piece.Used));
      ::munmap(piece.Data, ReplyPieceBytes);
      memory_.Hold(-static_cast<int64_t>(ReplyPieceBytes));
      piece.Data = nullptr;
    }
    pieces_.clear();
    size_ = 0;
    const int64_t room = room_;
    room_ = 0;
    return room;
  }
  ReplyMemory& Memory() const { return memory_; }

private:
  struct Piece {
    char* Data;
    size_t Used;
  };
  // The first piece may use the room kept aside for it; the rest only what is left.
  void TakeRoom(int64_t bytes) {
    int64_t first = 0;
    if (room_ == 0) {
      first = static_cast<int64_t>(ReplyPieceBytes);
      if (!memory_.Take(first, true)) throw ServerBusy();
    }
    if (bytes > first && !memory_.Take(bytes - first, false)) {
      memory_.Give(first);
      throw ServerBusy();
    }
    room_ += std::max(bytes, first);
  }
  void Grow() {
    const int64_t mapped = static_cast<int64_t>(pieces_.size() + 1) * static_cast<int64_t>(ReplyPieceBytes);
    if (mapped > room_) TakeRoom(mapped - room_);
    void* data = ::mmap(nullptr, ReplyPieceBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (data == MAP_FAILED) throw ServerBusy();
    pieces_.push_back({static_cast<char*>(data), 0});
    memory_.Hold(static_cast<int64_t>(ReplyPieceBytes));
  }
  void FreePieces() {
    for (Piece& piece : pieces_) {
      if (!piece.Data) continue;
      ::munmap(piece.Data, ReplyPieceBytes);
      memory_.Hold(-static_cast<int64_t>(ReplyPieceBytes));
    }
    pieces_.clear();
  }

  ReplyMemory& memory_;
  char inline_[4096];
  size_t inlineUsed_ = 0;
  std::vector<Piece> pieces_;
  size_t size_ = 0;
  int64_t room_ = 0;  // taken in the budget for the pieces
};

void VNServer::RequestEnded() {
  // Requests that held large texts (a query of thousands of symbols, a long reply) hand the
  // heap they left back to the system, so the program does not stay at its peak: the last of
  // a burst, and meanwhile at most every tenth of a second.
  const bool last = activeRequests_.fetch_sub(1) == 1;
  const int64_t now = TickMs();
  int64_t due = nextTrim_.load();
  if (!largeSinceTrim_.load() || (!last && (now < due || !nextTrim_.compare_exchange_strong(due, now + 100)))) return;
  largeSinceTrim_ = false;
  nextTrim_ = now + 100;
  ::malloc_trim(0);
}

// ---- replies ----

void VNServer::SendServerReply(vn::net::THTTPResponseInfo& response, std::string_view text,
                               std::string_view data) {
  std::string& body = response.ContentText;
  body.clear();
  body.reserve(text.size() + data.size() + 11);
  body += "<PRE>";
  body += text;
  body += data;
  body += "</PRE>";
  response.ContentLength = static_cast<int64_t>(body.size());
  // Header and body leave together: a separate small body write could wait for the peer's
  // delayed acknowledgement.
  response.WriteContent(body);
  response.ContentText.clear();
}

void VNServer::SendServerBody(vn::net::THTTPResponseInfo& response, const ReplyBody& body) {
  if (body.size() > ReplyPieceBytes) largeSinceTrim_ = true;
  std::vector<std::string_view> pieces;
  body.EachPiece([&](std::string_view piece) { pieces.push_back(piece); });
  response.ContentLength = static_cast<int64_t>(body.size());
  response.WriteContent(pieces);
}

void VNServer::SendKept(vn::net::THTTPResponseInfo& response, const KeptReply& kept) {
  response.ContentLength = static_cast<int64_t>(kept.Size);
  // A kept reply is sent from the cache, not copied.
  if (kept.Fd >= 0)
    response.WriteContentFromFile(kept.Fd, kept.Size);
  else
    response.WriteContent(kept.Text);
}

void VNServer::VNServerCommandGet(vn::net::TWinshoeServerThread*, vn::net::THTTPRequestInfo& request,
                                  vn::net::THTTPResponseInfo& response) {
  if (vn::net::DecodeUrl(UpperCase(request.Document)) != "/REQ") {
    response.SetResponseNo(404);
    return;
  }
  activeRequests_.fetch_add(1);
  struct Ended {
    VNServer& server;
    ~Ended() { server.RequestEnded(); }
  } ended{*this};
  if (request.UnparsedParams.size() > ReplyPieceBytes) largeSinceTrim_ = true;
  // A quote request asked before is answered from its kept reply before its list (thousands
  // of symbols, maybe) is taken apart. The generation is read first: a change while a reply
  // is built makes the copy stale.
  if (auto kept = lastQuotes_.Find(request.UnparsedParams, QuoteGeneration.load(std::memory_order_acquire))) {
    SendKept(response, *kept);
    return;
  }
  DelimitedFields fields(request.UnparsedParams, "(),");
  std::string first;
  const bool any = fields.Next(first);
  const std::string command = any ? UpperCase(first) : std::string("**none**");
  try {
    if (command == "GETLASTQUOTE") {
      ServeLastQuotes(fields, request, response);
      return;
    }
    // No other command takes more than three arguments: the rest are counted, not kept.
    StringList params;
    params.Add(first);
    int argCount = 0;
    for (std::string arg; fields.Next(arg); ++argCount) {
      if (argCount >= 3) continue;
      DropEndMark(arg);
      params.Add(std::move(arg));
    }
    Dispatch(command, params, argCount, response);
  } catch (const ServerBusy&) {
    SendServerReply(response, BusyText);
  }
}

void VNServer::Dispatch(const std::string& command, const StringList& params, int argCount,
                        vn::net::THTTPResponseInfo& response) {
  auto quoted = [](const std::string& text) { return "\"" + vn::net::HtmlEscape(text) + "\""; };
  // A list of table symbols after "OK", or the command's empty answer.
  auto symbols = [&](bool (*filter)(const std::string&), const char* whenEmpty) {
    ReplyBody body(replyMemory_);
    body.Expect(static_cast<size_t>(StockTable.Count()) * 21 + 16);
    body.append("<PRE>OK\r\n");
    if (!WriteSymbols(body, filter)) {
      SendServerReply(response, whenEmpty);
      return;
    }
    body.append("</PRE>");
    body.Settle();
    SendServerBody(response, body);
  };

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
    if (data.empty())
      SendServerReply(response, "OK: no ports");
    else
      SendServerReply(response, "OK\r\n", data);
  } else if (command == "ENUMPORTSYMBOLS") {
    if (argCount < 1) {
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
      SendServerReply(response, "OK\r\n", data);
  } else if (command == "ENUMSYMBOLS") {
    symbols(IsAllSymbols, "OK: no symbols");
  } else if (command == "ENUMEQUITIES") {
    symbols(IsEquityKey, "OK: no equities");
  } else if (command == "ENUMINDICES") {
    symbols(IsIndexKey, "OK: no indices");
  } else if (command == "GETTIMESALES") {
    if (argCount != 3) {
      SendServerReply(response, "Error: requires 3 arguments");
      return;
    }
    ReplyBody body(replyMemory_);
    body.append("<PRE>OK\r\n");
    if (!WriteTimeSales(body, params)) {
      SendServerReply(response, "Error: no quotes ");
      return;
    }
    body.append("</PRE>");
    body.Settle();
    SendServerBody(response, body);
  } else {
    SendServerReply(response, "Error: Invalid Command " + quoted(command) + "!");
  }
}

void VNServer::ServeLastQuotes(DelimitedFields& fields, vn::net::THTTPRequestInfo& request,
                               vn::net::THTTPResponseInfo& response) {
  std::string firstArg;
  if (!fields.Next(firstArg)) {
    SendServerReply(response, "Error: no arguments");
    return;
  }
  DropEndMark(firstArg);
  // The generation is read first: a change while the reply is built makes the copy stale.
  const uint64_t generation = QuoteGeneration.load(std::memory_order_acquire);
  ReplyBody body(replyMemory_);
  body.append("<PRE>OK\r\n");
  bool cash = false;
  if (firstArg == "*") {
    const std::vector<TableEntry> entries = SortedSymbols();
    if (entries.empty()) {
      SendServerReply(response, "Error: no quotes ");
      return;
    }
    size_t keys = 0;
    for (const TableEntry& e : entries) keys += e.key->size();
    body.Expect(keys + entries.size() * kLineBytes);
    size_t at = 0;
    WriteLastQuotes(
        body,
        [&](std::string& symbol, StockInfoType*& record) {
          if (at >= entries.size()) return false;
          symbol = *entries[at].key;
          record = entries[at].record;
          ++at;
          return true;
        },
        cash);
  } else {
    // A line for each field of the query at most: the query's bytes and a line's numbers.
    const std::string_view query = request.UnparsedParams;
    const size_t lines = 1 + static_cast<size_t>(std::count_if(query.begin(), query.end(), [](char c) {
                           return c == '(' || c == ')' || c == ',';
                         }));
    body.Expect(query.size() + lines * kLineBytes);
    bool taken = false;
    WriteLastQuotes(
        body,
        [&](std::string& symbol, StockInfoType*&) {
          if (!taken) {
            taken = true;
            symbol = std::move(firstArg);
            return true;
          }
          if (!fields.Next(symbol)) return false;
          DropEndMark(symbol);
          return true;
        },
        cash);
  }
  body.append("</PRE>");
  body.Settle();
  // "$CASH" carries the current time, so a reply holding it is never kept.
  if (!cash) {
    if (std::shared_ptr<const KeptReply> kept = KeptReply::From(body)) {
      lastQuotes_.Store(request.UnparsedParams, generation, kept);
      if (kept->Size > ReplyPieceBytes) largeSinceTrim_ = true;
      SendKept(response, *kept);
      return;
    }
  }
  SendServerBody(response, body);
}

std::shared_ptr<const VNServer::KeptReply> VNServer::KeptReply::From(ReplyBody& body) {
  const size_t size = body.size();
  // Small replies gain nothing from a file: one copy of a few kilobytes costs less.
  if (size <= ReplyPieceBytes) {
    std::string text;
    text.reserve(size);
    const int64_t room = body.Drain([&](std::string_view piece) { text += piece; });
    auto kept = std::make_shared<KeptReply>(body.Memory(), room);
    kept->Text = std::move(text);
    kept->Size = size;
    kept->HeldBytes = static_cast<int64_t>(size);
    body.Memory().Hold(kept->HeldBytes);
    return kept;
  }
  if (size > ReplyCache::MaxBytes) return nullptr;
  const int fd = ::memfd_create("vn-reply", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  if (fd < 0) return nullptr;
  // Each piece goes once it is in the file, so the reply is never held twice.
  bool written = true;
  int64_t inFile = 0;
  const int64_t room = body.Drain([&](std::string_view piece) {
    size_t done = 0;
    while (written && done < piece.size()) {
      const ssize_t n = ::write(fd, piece.data() + done, piece.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        written = false;
      } else {
        done += static_cast<size_t>(n);
        body.Memory().Hold(n);
        inFile += n;
      }
    }
  });
  auto kept = std::make_shared<KeptReply>(body.Memory(), room);
  kept->HeldBytes = inFile;
  if (!written) {
    ::close(fd);
    // The pieces are gone: the reply cannot be sent.
    throw ServerBusy();
  }
  ::fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL);
  kept->Fd = fd;
  kept->Size = size;
  return kept;
}

VNServer::KeptReply::~KeptReply() {
  if (Fd >= 0) ::close(Fd);
  Memory.Hold(-HeldBytes);
  Memory.Give(Room);
}

void VNServer::ReplyCache::Clear() {
  std::vector<Entry> gone;
  {
    std::lock_guard lock(mutex_);
    gone.swap(entries_);
    bytes_ = 0;
  }
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
  auto drop = [&](auto first, auto last) {
    for (auto it = first; it != last; ++it) bytes_ -= it->data->Size;
    entries_.erase(first, last);
  };
  drop(std::partition(entries_.begin(), entries_.end(),
                      [&](const Entry& e) { return !(e.key == key || e.generation != generation); }),
       entries_.end());
  while (!entries_.empty() && (entries_.size() >= MaxEntries || bytes_ + body->Size > MaxBytes))
    drop(entries_.begin(), entries_.begin() + 1);
  bytes_ += body->Size;
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

void VNServer::ExpandAllSymbols(StringList& params) {
  const std::vector<TableEntry> entries = SortedSymbols();
  params.Clear();
  params.Add(std::string(2, '\x01'));  // the placeholder sorts before every symbol
  // Each symbol carries its record, so that BuildLastQuotes need not look it up again.
  for (const TableEntry& e : entries) params.Add(*e.key, e.record);
}

std::string VNServer::BuildLastQuotes(const StringList& params) {
  std::string out;
  int at = 1;
  bool cash = false;
  WriteLastQuotes(
      out,
      [&](std::string& symbol, StockInfoType*& record) {
        if (at >= params.Count()) return false;
        symbol = params[at];
        record = static_cast<StockInfoType*>(params.Objects(at));
        ++at;
        return true;
      },
      cash);
  return out;
}

bool VNServer::CollectTimeSales(StockInfoType& rec, double start, double end, std::vector<TimeSalesRow>& out) {
  TimeSalesWalk walk(rec, start, end);
  return walk.Next(out, SIZE_MAX);
}

std::string VNServer::BuildTimeSales(const StringList& params) {
  std::string out;
  WriteTimeSales(out, params);
  return out;
}
