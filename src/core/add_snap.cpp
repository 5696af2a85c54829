#include "core/add_snap.h"

#include <charconv>
#include <cstddef>
#include <cmath>
#include <vector>

#include "core/locks.h"
#include "core/log.h"
#include "core/market_clock.h"
#include "core/stock_table.h"
#include "core/text_helpers.h"
#include "platform/clock.h"
#include "platform/string_list.h"

std::atomic<TDateTime> DumpLoadTime{0};

namespace {
bool Finite(float v) { return std::isfinite(v); }
}  // namespace

TDateTime StoredQuoteTime(TDateTime stamp, TDateTime now, bool& late) {
  late = stamp > now + LateQuoteSlack;
  return late ? now : stamp;
}

void SayLateQuote(StockInfoType& rec, TDateTime stamp, TDateTime now) {
  if (rec.LateSaid.exchange(true)) return;
  WriteLog("Quote for " + rec.Symbol + " at " + FormatDateTime("mm/dd/yyyy hh:mm:ss", stamp) +
           " is later than the market clock (" + FormatDateTime("mm/dd/yyyy hh:mm:ss", now) +
           "): stored at the market clock's time");
}

int AddSnap(const SnapData& s) {
  if (s.Symbol.empty() || s.Symbol.find('|') != std::string_view::npos || !SymbolFitsTable(s.Symbol)) return -1;
  if (!Finite(s.Bid) || !Finite(s.Ask) || !Finite(s.Last) || !Finite(s.Open) || !Finite(s.Low) ||
      !Finite(s.High) || !Finite(s.PrevClose) || !Finite(s.Volume))
    return -1;
  if (!std::isfinite(s.MarketDate) || !std::isfinite(s.QuoteTime) || s.MarketDate < 1 || s.QuoteTime < 0 ||
      s.MarketDate > 2958466.0)
    return -1;
  const TDateTime given = std::floor(s.MarketDate) + (s.QuoteTime - std::floor(s.QuoteTime));
  const TDateTime now = MarketNow();
  bool late = false;
  const TDateTime stamp = StoredQuoteTime(given, now, late);
  const TDateTime day = std::floor(stamp);

  // The table is safe to search without the locks; asking for the record's lines before the
  // lock is taken lets their fetches overlap.
  int index = -1;
  StockInfoType* found = StockTable.FindRecord(s.Symbol, &index);
  if (found) {
    const char* p = reinterpret_cast<const char*>(found);
    for (size_t off = 0; off < offsetof(StockInfoType, Quote) + 128; off += 64) __builtin_prefetch(p + off, 1);
  }
  LockHold writers(AddSnapLock, "ADDSNAP");
  if (!writers) return -1;
  if (!found) {
    LockHold table(StockListLock, "ADDSNAP");
    if (!table) return -1;
    index = StockTable.Add(s.Symbol);
    if (index < 0) return -1;
    found = StockTable.Objects(index);
  }
  StockInfoType& rec = *found;

  ValueRec v;
  v.Last = s.Last;
  v.Ask = s.Ask;
  v.Bid = s.Bid;
  v.Time = stamp;
  v.Volume = s.Volume;
  v.PrevClose = s.PrevClose;
  {
    ValueList& list = rec.Values;
    if (!list.Lock("ADDSNAP")) return -1;
    const int at = list.Store(v);
    if (at < 0) {
      list.Unlock();
      return -1;
    }
    rec.LastStored.store(at, std::memory_order_release);
    // The front only changes when the snapshot went there (a new day empties the list);
    // reading it otherwise would cost a cache miss per snapshot.
    if (at == 0 || rec.FirstTime.load(std::memory_order_relaxed) < 0)
      rec.FirstTime.store(list[0].Time, std::memory_order_release);
    list.Unlock();
  }

  if (late) SayLateQuote(rec, given, now);

  QuoteFields& q = rec.Quote;
  // Received now even when the quote's own time is older (after the close, say).
  q.ReceivedTick = TickMs();
  const bool hasQuote = q.UpdateDate > 0;
  // The time a late quote was given is made up: a quote on time replaces it at once, also
  // when its own time is older (a delayed site's).
  if (!hasQuote || stamp >= q.UpdateDate + q.UpdateTime || (q.LateTime && !late)) {
    if (!s.Name.empty()) q.Name.assign(s.Name);
    q.TickMark.assign(s.TickMark);
    q.Last = s.Last;
    q.Bid = s.Bid;
    q.Ask = s.Ask;
    q.Open = s.Open;
    q.Low = s.Low;
    q.High = s.High;
    q.PrevClose = s.PrevClose;
    // In decimal, so the change has the prices' decimals and no single-precision noise.
    q.Change = s.PrevClose != 0 ? static_cast<float>(PriceDifference(s.Last, s.PrevClose)) : 0.0f;
    q.Volume = s.Volume;
    q.BidSize = s.BidSize;
    q.AskSize = s.AskSize;
    q.LastSize = s.LastSize;
    q.TradeCount = s.TradeCount;
    q.UpdateDate = day;
    q.UpdateTime = stamp - day;
    q.ThisRun = true;
    q.LateTime = late;
    BumpQuoteGeneration();
  }
  return index;
}

void CopyQuoteFields(const QuoteFields& q, StockQuote& out) {
  out.Bid = q.Bid;
  out.Ask = q.Ask;
  out.Last = q.Last;
  out.Open = q.Open;
  out.Low = q.Low;
  out.High = q.High;
  out.Change = q.Change;
  out.PrevClose = q.PrevClose;
  out.UpdateTime = q.UpdateDate > 0 ? q.UpdateDate + q.UpdateTime : 0;
  out.ThisRun = q.ThisRun;
  out.ReceivedTick = q.ReceivedTick;
  const double vol = q.Volume;
  out.Volume = vol >= 9.2e18 ? INT64_MAX : vol <= -9.2e18 ? INT64_MIN : static_cast<int64_t>(std::llround(vol));
  out.BidSize = q.BidSize;
  out.AskSize = q.AskSize;
  out.LastSize = q.LastSize;
  out.TradeCount = q.TradeCount;
}

int GetStockQuote(std::string_view symbol, StockQuote& out, int maxNameLength) {
  out = StockQuote{};
  const int index = StockTable.Find(symbol);
  if (SameText(symbol, "$CASH")) {
    out.Bid = out.Ask = out.Last = out.Open = out.Low = out.High = out.PrevClose = 1.0;
    out.UpdateTime = MarketNow();
    out.ThisRun = true;
    out.ReceivedTick = TickMs();
    return index;
  }
  if (index < 0) return -1;
  const QuoteFields& q = StockTable.Objects(index)->Quote;
  out.Name = q.Name.substr(0, static_cast<size_t>(std::max(maxNameLength, 0)));
  CopyQuoteFields(q, out);
  return index;
}

int GetFundData(std::string_view symbol, FundQuote& out, int maxNameLength) {
  out = FundQuote{};
  const int index = StockTable.Find(symbol);
  if (index < 0) return -1;
  const StockInfoType& rec = *StockTable.Objects(index);
  out.Name = rec.Quote.Name.substr(0, static_cast<size_t>(std::max(maxNameLength, 0)));
  out.Values = rec.Fund.Values;
  out.Texts = rec.Fund.Texts;
  out.Extra = rec.Fund.Extra;
  return index;
}

bool TicksCsvText(std::string_view symbol, std::string& out) {
  out.clear();
  const int index = StockTable.Find(symbol);
  if (index < 0) return false;
  StockInfoType* rec = StockTable.Objects(index);
  std::vector<ValueRec> copy;
  if (!rec->Values.Lock("EXPORT")) return false;
  copy.assign(rec->Values.Data(), rec->Values.Data() + rec->Values.Count());
  rec->Values.Unlock();

  out.reserve(32 + copy.size() * 64);
  out += "Time,Last,Bid,Ask,Volume\r\n";
  for (const ValueRec& v : copy) {
    out += FormatDateTime("hh:mm:ss", v.Time);
    out += ", ";
    // Each price as quoted, not the single-precision value's binary tail (341.410004).
    out += FixedText(PriceAsQuoted(v.Last), 6);
    out += ", ";
    out += FixedText(PriceAsQuoted(v.Bid), 6);
    out += ", ";
    out += FixedText(PriceAsQuoted(v.Ask), 6);
    out += ", ";
    out += FixedText(v.Volume, 0);
    out += "\r\n";
  }
  return true;
}

bool ExportTicksCsv(std::string_view symbol, const std::string& fileName) {
  std::string text;
  if (!TicksCsvText(symbol, text)) return false;
  return WriteFileAtomic(fileName, text);
}
