#include "core/dumps.h"

#include <atomic>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <vector>

#include "core/add_snap.h"
#include "core/aside_copies.h"
#include "core/locks.h"
#include "core/log.h"
#include "core/market_clock.h"
#include "core/program_files.h"
#include "core/program_state.h"
#include "core/stock_table.h"
#include "core/user_notices.h"
#include "platform/string_list.h"

static_assert(std::endian::native == std::endian::little, "the dump files are little-endian");

namespace {
constexpr char QuoteMagic[8] = {'V', 'N', 'S', 'D', 'A', 'T', 'A', '1'};
constexpr char NewsMagic[8] = {'V', 'N', 'S', 'N', 'E', 'W', 'S', '1'};
constexpr uint32_t MaxText = 1u << 20;
constexpr uint32_t MaxNewsPerSymbol = 1u << 20;

class Writer {
public:
  template <typename T>
  void Put(T v) {
    char b[sizeof(T)];
    std::memcpy(b, &v, sizeof(T));
    bytes.append(b, sizeof(T));
  }
  void PutText(std::string_view s) {
    const uint32_t n = static_cast<uint32_t>(std::min<size_t>(s.size(), MaxText));
    Put(n);
    bytes.append(s.data(), n);
  }
  void PutRaw(const void* p, size_t n) { bytes.append(static_cast<const char*>(p), n); }
  std::string bytes;
};

class Reader {
public:
  explicit Reader(std::string_view b) : b_(b) {}
  template <typename T>
  bool Get(T& v) {
    if (b_.size() - pos_ < sizeof(T)) return false;
    std::memcpy(&v, b_.data() + pos_, sizeof(T));
    pos_ += sizeof(T);
    return true;
  }
  bool GetText(std::string& s, uint32_t limit = MaxText) {
    uint32_t n = 0;
    if (!Get(n) || n > limit || b_.size() - pos_ < n) return false;
    s.assign(b_.data() + pos_, n);
    pos_ += n;
    return true;
  }
  bool GetRaw(void* p, size_t n) {
    if (b_.size() - pos_ < n) return false;
    if (n == 0) return true;  // an empty list's data() may be null, which memcpy must not get
    std::memcpy(p, b_.data() + pos_, n);
    pos_ += n;
    return true;
  }
  bool AtEnd() const { return pos_ == b_.size(); }

private:
  std::string_view b_;
  size_t pos_ = 0;
};

// A record's lock was not obtained: nothing is written, and the reason says so.
bool Busy() {
  errno = EBUSY;
  return false;
}

bool FiniteQuote(const QuoteFields& q) {
  for (float f : {q.Last, q.Bid, q.Ask, q.Open, q.High, q.Low, q.PrevClose, q.Change, q.Volume})
    if (!std::isfinite(f)) return false;
  return IsValidDateTime(q.UpdateDate) && IsValidDateTime(q.UpdateTime);
}

bool ValidKey(const std::string& key) {
  return !key.empty() && key.size() <= static_cast<size_t>(TMyStrList::KeyLength) &&
         key.find('|') == std::string::npos && key == TMyStrList::NormalizeKey(key);
}

// The order records are written in: keys of up to ten characters first, longer ones after all
// of them, so that a reader that stops at a key it does not take (an earlier version's, which
// took ten at most) keeps every other record.
std::vector<int> DumpOrder(int count) {
  std::vector<int> order;
  order.reserve(static_cast<size_t>(count));
  for (int pass = 0; pass < 2; ++pass)
    for (int i = 0; i < count; ++i)
      if ((StockTable.Strings(i).size() > static_cast<size_t>(TMyStrList::ShortKeyLength)) == (pass == 1))
        order.push_back(i);
  return order;
}

// The record of a key, created when new (under AddSnapLock, which the caller holds).
StockInfoType* RecordFor(const std::string& key) {
  int index = StockTable.Find(key);
  if (index < 0) {
    LockHold table(StockListLock, "LOADDUMP");
    if (!table) return nullptr;
    index = StockTable.Add(key);
  }
  return index >= 0 ? StockTable.Objects(index) : nullptr;
}

struct DumpedQuote {
  std::string key;
  QuoteFields quote;
  std::vector<ValueRec> values;
};

bool ReadQuoteRecord(Reader& r, DumpedQuote& d) {
  QuoteFields& q = d.quote;
  uint32_t count = 0;
  if (!r.GetText(d.key, TMyStrList::KeyLength) || !ValidKey(d.key) || !r.GetText(q.Name, 1024) ||
      !r.GetText(q.TickMark, 64))
    return false;
  for (float* f : {&q.Last, &q.Bid, &q.Ask, &q.Open, &q.High, &q.Low, &q.PrevClose, &q.Change, &q.Volume})
    if (!r.Get(*f)) return false;
  for (int* n : {&q.BidSize, &q.AskSize, &q.LastSize, &q.TradeCount})
    if (!r.Get(*n)) return false;
  if (!r.Get(q.UpdateDate) || !r.Get(q.UpdateTime) || !FiniteQuote(q)) return false;
  if (!r.Get(count) || count > 2u * ValueList::MaxCount) return false;
  d.values.resize(count);
  if (!r.GetRaw(d.values.data(), count * sizeof(ValueRec))) return false;
  return true;
}
}  // namespace

bool SaveQuoteDump(const std::string& path, const std::atomic<bool>* cancel) {
  Writer w;
  w.PutRaw(QuoteMagic, sizeof QuoteMagic);
  const int n = StockTable.Count();
  w.Put(static_cast<uint32_t>(n));
  std::vector<ValueRec> values;
  for (int i : DumpOrder(n)) {
    if (cancel && cancel->load()) return false;
    StockInfoType& rec = *StockTable.Objects(i);
    QuoteFields q;
    {
      LockHold writers(AddSnapLock, "SAVEDUMP");
      if (!writers) return Busy();
      q = rec.Quote;
    }
    {
      LockHold list(rec.Values.Cs(), "SAVEDUMP");
      if (!list) return Busy();
      values.assign(rec.Values.Data(), rec.Values.Data() + rec.Values.Count());
    }
    w.PutText(rec.Symbol);
    w.PutText(std::string_view(q.Name).substr(0, 1024));
    w.PutText(std::string_view(q.TickMark).substr(0, 64));
    for (float f : {q.Last, q.Bid, q.Ask, q.Open, q.High, q.Low, q.PrevClose, q.Change, q.Volume}) w.Put(f);
    for (int v : {q.BidSize, q.AskSize, q.LastSize, q.TradeCount}) w.Put(static_cast<int32_t>(v));
    w.Put(q.UpdateDate);
    w.Put(q.UpdateTime);
    w.Put(static_cast<uint32_t>(values.size()));
    w.PutRaw(values.data(), values.size() * sizeof(ValueRec));
  }
  return WriteFileAtomic(path, w.bytes, 0644);
}

int LoadQuoteDump(const std::string& path, bool* whole) {
  std::string bytes;
  if (whole) *whole = false;
  if (ReadFileChecked(path, bytes) != FileRead::Ok) return -1;
  Reader r(bytes);
  char magic[8];
  uint32_t n = 0;
  if (!r.GetRaw(magic, 8) || std::memcmp(magic, QuoteMagic, 8) != 0 || !r.Get(n)) return -1;
  if (whole) *whole = true;
  // Times after the market clock (a clock that was wrong when they were stored) are clamped to
  // it, as live quotes are, so they never hold back the quotes that follow.
  const TDateTime now = MarketNow();
  int taken = 0;
  for (uint32_t i = 0; i < n; ++i) {
    DumpedQuote d;
    if (!ReadQuoteRecord(r, d)) {
      WriteLog("SDATA.DMP: damaged at record " + std::to_string(i));
      if (whole) *whole = false;
      break;
    }
    LockHold writers(AddSnapLock, "LOADDUMP");
    if (!writers) break;
    StockInfoType* rec = RecordFor(d.key);
    if (!rec) break;
    {
      LockHold list(rec->Values.Cs(), "LOADDUMP");
      if (!list) break;
      if (rec->Values.Count() > 0) continue;  // live data wins
      int at = -1;
      for (const ValueRec& v : d.values) {
        if (!IsValidDateTime(v.Time) || !std::isfinite(v.Last) || !std::isfinite(v.Bid) || !std::isfinite(v.Ask) ||
            !std::isfinite(v.Volume))
          continue;
        ValueRec clean = v;
        clean.Reserved = 0;
        if (!std::isfinite(clean.PrevClose)) clean.PrevClose = 0;
        bool late = false;
        clean.Time = StoredQuoteTime(v.Time, now, late);
        if (late) SayLateQuote(*rec, v.Time, now);
        at = rec->Values.Store(clean);
      }
      if (rec->Values.Count() > 0) {
        rec->LastStored.store(at >= 0 ? at : rec->Values.Count() - 1);
        rec->FirstTime.store(rec->Values[0].Time);
      }
    }
    if (rec->Quote.UpdateDate <= 0) {
      QuoteFields& q = d.quote;
      bool late = false;
      const TDateTime stamp = StoredQuoteTime(q.UpdateDate + q.UpdateTime, now, late);
      if (late) {
        SayLateQuote(*rec, q.UpdateDate + q.UpdateTime, now);
        q.UpdateDate = std::floor(stamp);
        q.UpdateTime = stamp - q.UpdateDate;
      }
      q.LateTime = late;
      rec->Quote = q;
      BumpQuoteGeneration();
    }
    ++taken;
  }
  return taken;
}

bool SaveNewsDump(const std::string& path, const std::atomic<bool>* cancel) {
  Writer w;
  w.PutRaw(NewsMagic, sizeof NewsMagic);
  const int n = StockTable.Count();
  w.Put(static_cast<uint32_t>(n));
  std::vector<NewsRec> items;
  for (int i : DumpOrder(n)) {
    if (cancel && cancel->load()) return false;
    StockInfoType& rec = *StockTable.Objects(i);
    {
      LockHold list(rec.News.Cs(), "SAVENEWS");
      if (!list) return Busy();
      items.clear();
      for (int k = 0; k < rec.News.Count() && items.size() < MaxNewsPerSymbol; ++k) items.push_back(rec.News[k]);
    }
    w.PutText(rec.Symbol);
    w.Put(static_cast<int32_t>(rec.NewNews.load()));
    w.Put(rec.NewsChecked.load());
    w.Put(static_cast<uint32_t>(items.size()));
    for (const NewsRec& item : items) {
      w.Put(item.Time);
      w.Put(static_cast<int32_t>(item.Extra));
      w.Put(static_cast<int32_t>(item.Id));
      w.Put(static_cast<uint8_t>(item.Read ? 1 : 0));
      w.PutText(item.Title);
      w.PutText(item.Link);
      w.PutText(item.Source);
    }
  }
  return WriteFileAtomic(path, w.bytes, 0644);
}

int LoadNewsDump(const std::string& path, bool* whole) {
  std::string bytes;
  if (whole) *whole = false;
  if (ReadFileChecked(path, bytes) != FileRead::Ok) return -1;
  Reader r(bytes);
  char magic[8];
  uint32_t n = 0;
  if (!r.GetRaw(magic, 8) || std::memcmp(magic, NewsMagic, 8) != 0 || !r.Get(n)) return -1;
  if (whole) *whole = true;
  int taken = 0;
  for (uint32_t i = 0; i < n; ++i) {
    std::string key;
    int32_t flag = 0;
    TDateTime checked = 0;
    uint32_t count = 0;
    bool ok = r.GetText(key, TMyStrList::KeyLength) && ValidKey(key) && r.Get(flag) && r.Get(checked) &&
              std::isfinite(checked) && r.Get(count) && count <= MaxNewsPerSymbol;
    std::vector<NewsRec> items;
    for (uint32_t k = 0; ok && k < count; ++k) {
      NewsRec item;
      int32_t extra = 0, id = 0;
      uint8_t read = 0;
      ok = r.Get(item.Time) && IsValidDateTime(item.Time) && r.Get(extra) && r.Get(id) && r.Get(read) && read <= 1 &&
           r.GetText(item.Title) && r.GetText(item.Link) && r.GetText(item.Source);
      item.Extra = extra;
      item.Id = id;
      item.Read = read != 0;
      if (ok) items.push_back(std::move(item));
    }
    if (!ok) {
      WriteLog("SNEWS.DMP: damaged at record " + std::to_string(i));
      if (whole) *whole = false;
      break;
    }
    LockHold writers(AddSnapLock, "LOADNEWS");
    if (!writers) break;
    StockInfoType* rec = RecordFor(key);
    if (!rec) break;
    LockHold list(rec->News.Cs(), "LOADNEWS");
    if (!list) break;
    if (rec->News.Count() > 0) continue;
    for (NewsRec& item : items) rec->News.Add(std::move(item));
    rec->NewNews.store(flag);
    rec->NewsChecked.store(checked);
    ++taken;
  }
  return taken;
}

namespace {
// A dump whose bytes could be kept neither aside nor moved: the session writes nothing over it.
std::atomic<bool> keepQuoteDump{false}, keepNewsDump{false};

// Reads one dump the way the user files are read: what cannot be read, or does not read to its
// end, is kept aside before the close may write over it. The records taken, -1 as the loaders.
int LoadDump(const char* name, int (*load)(const std::string&, bool*), std::atomic<bool>& keep) {
  const std::string path = ProgDir + name;
  const std::string file = std::string("The collected data file ") + name;
  std::string bytes, why;
  keep = false;
  const FileRead read = ReadFileChecked(path, bytes, &why);
  if (read == FileRead::Missing) return -1;
  if (read == FileRead::Unreadable) {
    std::string asideWhy;
    const std::string aside = MoveAside(ProgDir, name, &asideWhy);
    keep = aside.empty();
    AddUserNotice(file + " cannot be read (" + why + ")." +
                  (aside.empty() ? " It could not be moved aside (" + asideWhy +
                                       "), so this session's collected data are not saved."
                                 : " It was moved aside, unchanged, as " + aside + "."));
    return -1;
  }
  bool whole = false;
  const int taken = load(path, &whole);
  if (!whole && !bytes.empty()) {
    std::string asideWhy;
    const std::string aside = CopyAside(ProgDir, name, bytes, 0644, &asideWhy);
    keep = aside.empty();
    AddUserNotice(file + " did not read to its end: " +
                  (taken < 0 ? std::string("it is no dump of this program.")
                             : std::to_string(taken) + " records were read before the damage.") +
                  (aside.empty() ? " It could not be copied aside (" + asideWhy +
                                       "), so this session's collected data are not saved."
                                 : " Its bytes were kept as " + aside + "."));
  }
  return taken;
}
}  // namespace

bool SaveDumps(std::string* why, const std::atomic<bool>* cancel, bool skipKept) {
  // A save during the session and the close's never write at once, so the later one's file is
  // the one left. Bounded: the other holds it only while it copies the table and writes.
  static std::timed_mutex saving;
  std::unique_lock lock(saving, std::chrono::seconds(60));
  std::string problems;
  auto save = [&](const char* name, bool keep, bool (*write)(const std::string&, const std::atomic<bool>*)) {
    if (!lock) {
      problems += std::string(problems.empty() ? "" : "; ") + name + " was being saved by another save that did not end";
      return false;
    }
    if (keep && skipKept) return true;
    if (keep) {
      problems += std::string(problems.empty() ? "" : "; ") + name +
                  " is left as it is: it could be neither read nor kept aside at start";
      return false;
    }
    // Our own mode, not one an unreadable file had.
    if (write(ProgDir + name, cancel)) return true;
    const int err = errno;
    if (cancel && cancel->load()) return false;
    problems += (problems.empty() ? "" : "; ") + WriteFailure(ProgDir, name, err);
    return false;
  };
  const bool quotes = save(QuoteDumpName, keepQuoteDump, SaveQuoteDump);
  const bool news = save(NewsDumpName, keepNewsDump, SaveNewsDump);
  if (why) *why = problems;
  return quotes && news;
}

void LoadDumps() {
  const int quotes = LoadDump(QuoteDumpName, LoadQuoteDump, keepQuoteDump);
  const int news = LoadDump(NewsDumpName, LoadNewsDump, keepNewsDump);
  if (LogOn) {
    auto count = [](int n, const char* file, const char* what) {
      std::error_code ec;
      if (n >= 0) return std::to_string(n) + " " + what;
      return std::filesystem::exists(ProgDir + file, ec) ? std::string(file) + " unreadable" : "no " + std::string(file);
    };
    WriteLog("Dumps loaded: " + count(quotes, QuoteDumpName, "quote records") + ", " +
             count(news, NewsDumpName, "news records"));
  }
  DumpLoadTime.store(MarketNow());
}
