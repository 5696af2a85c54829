#pragma once
// Quote snapshots into the symbol table, and the quote fields back out.
#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/stock_table.h"
#include "platform/datetime.h"

// One quote snapshot as page parsing, streaming and the fetch worker deliver it.
// Fields a source does not have stay zero.
struct SnapData {
  std::string_view Symbol;
  std::string_view TickMark;
  std::string_view Name;  // empty: the record keeps its name
  float Bid = 0, Ask = 0, Last = 0, Open = 0, Low = 0, High = 0, PrevClose = 0;
  float Volume = 0;
  int BidSize = 0, AskSize = 0, LastSize = 0, TradeCount = 0;
  TDateTime MarketDate = 0;  // its date part is used
  TDateTime QuoteTime = 0;   // its time of day is used
};

// A quote whose time is later than the market clock by more than this is late: a wrong clock
// on either side, or a site showing another time (its last close's before the open).
inline constexpr TDateTime LateQuoteSlack = 5.0 / 1440;
// The time a quote of that time is stored at: the market clock's time now when it is late,
// else its own. Late is set when it was.
TDateTime StoredQuoteTime(TDateTime stamp, TDateTime now, bool& late);
// Says once per symbol and session that a late quote came for it.
void SayLateQuote(StockInfoType& rec, TDateTime stamp, TDateTime now);

// Applies a snapshot under AddSnapLock: creates the symbol's record when new, drops the list's
// data of an earlier day, stores the snapshot at its place in time (one per whole second:
// a later one in the same second replaces it) and, when it is the newest, copies its fields
// into the record. A late snapshot is stored at the market clock's time, never refused, so a
// wrong clock never stops quotes from flowing; the quote that follows it is taken whatever its
// time. Refused (-1) for an empty symbol, a non-finite price, volume or time, a snapshot of an
// earlier day than the list's, or a lock that was not obtained.
// Returns the symbol's table index.
int AddSnap(const SnapData& snap);

// A record's quote fields, as GetStockQuote copies them.
struct StockQuote {
  std::string Name;
  double Bid = 0, Ask = 0, Last = 0, Open = 0, Low = 0, High = 0, Change = 0, PrevClose = 0;
  TDateTime UpdateTime = 0;  // update date plus time of day; 0 without a snapshot
  bool ThisRun = false;      // the quote came in this run (not from the last run's dump)
  int64_t ReceivedTick = 0;  // when the program last received a quote for it (TickMs); 0: never
  int64_t Volume = 0;
  int BidSize = 0, AskSize = 0, LastSize = 0, TradeCount = 0;
};

// Copies a record's quote fields except the name (call under AddSnapLock).
void CopyQuoteFields(const QuoteFields& q, StockQuote& out);

// Copies the record's quote fields (call under AddSnapLock); the name is cut to maxNameLength.
// Returns the table index, -1 with zeros for an unknown symbol. "$CASH" gives prices of 1.0
// and the market clock's time.
int GetStockQuote(std::string_view symbol, StockQuote& out, int maxNameLength = 255);

struct FundQuote {
  std::string Name;
  std::array<double, 7> Values{};
  std::array<std::string, 2> Texts;
  std::array<double, 2> Extra{};
};
// The record's fundamentals (call under AddSnapLock); -1 with zeros and empty texts when absent.
int GetFundData(std::string_view symbol, FundQuote& out, int maxNameLength = 255);

// Writes the symbol's snapshots as CSV ("Time,Last,Bid,Ask,Volume", CR LF line ends).
// False when the symbol is unknown, its list's lock was not obtained or the file not written.
bool ExportTicksCsv(std::string_view symbol, const std::string& fileName);
// The CSV text itself.
bool TicksCsvText(std::string_view symbol, std::string& out);

// When the collected-data files were loaded; clearing a chart sets it to 0.
extern std::atomic<TDateTime> DumpLoadTime;
