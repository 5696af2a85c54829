#pragma once
// The symbol table and the quote records it owns: each record's snapshot list and news list.
//
// Lock order (never take an earlier one while holding a later one):
//   AddSnapLock -> StockListLock -> a record's Values lock ("VALS") / News lock ("NEWS").
// Records are never freed while the table lives, so an index or a record pointer once obtained
// stays valid; indices never move (new symbols are appended, not inserted).
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/locks.h"
#include "platform/datetime.h"

// One quote snapshot.
struct ValueRec {
  float Last = 0;
  float Ask = 0;
  float Bid = 0;
  float Reserved = 0;  // keeps Time on an 8-byte boundary
  TDateTime Time = 0;  // the sort key, ascending in the list
  float Volume = 0;    // cumulative; readers use differences
  float PrevClose = 0;  // the previous close it came with (a portfolio's: its value then); 0: unknown
};
static_assert(sizeof(ValueRec) == 32, "ValueRec is a 32-byte record");

// A symbol's time-ordered snapshots. Read Data()/Count() only while holding the lock.
class ValueList {
public:
  // The list holds one day at one snapshot per second, so it never exceeds a day's seconds.
  static constexpr int MaxCount = 86400;

  ValueList() : lock_("VALS") {}
  // Waits for the lock "VALS"; false (data not to be touched) when it was not obtained.
  bool Lock(std::string_view owner, bool tryOnly = false) { return lock_.Enter(owner, tryOnly); }
  void Unlock() { lock_.Leave(); }
  MyCriticalSection& Cs() { return lock_; }

  // Empties the list and makes room for that many records. Call under the lock.
  void Clear(int capacity);
  int Count() const { return static_cast<int>(items_.size()); }
  const ValueRec& operator[](int i) const { return items_[static_cast<size_t>(i)]; }
  const ValueRec* Data() const { return items_.data(); }

  // Stores a snapshot at its place in time (under the lock). The list holds one day: a
  // snapshot of a later day empties it first, one of an earlier day is refused (-1). A
  // snapshot in the same whole second as its predecessor replaces it, so a list never
  // holds more than a day's seconds. Returns the index it went to, -1 when refused.
  int Store(const ValueRec& v);

private:
  MyCriticalSection lock_;
  std::vector<ValueRec> items_;
};

// One headline.
struct NewsRec {
  TDateTime Time = 0;
  std::string Title;
  std::string Link;
  std::string Source;
  int Extra = 0;  // kept, not shown
  int Id = 0;     // unique within the symbol's list
  bool Read = false;
};

// A symbol's headlines in the order they were stored. Read only while holding the lock.
class NewsList {
public:
  NewsList() : lock_("NEWS") {}
  bool Lock(std::string_view owner, bool tryOnly = false) { return lock_.Enter(owner, tryOnly); }
  void Unlock() { lock_.Leave(); }
  MyCriticalSection& Cs() { return lock_; }

  int Count() const { return static_cast<int>(items_.size()); }
  const NewsRec& operator[](int i) const { return items_[static_cast<size_t>(i)]; }
  NewsRec& operator[](int i) { return items_[static_cast<size_t>(i)]; }
  // Appends a headline (under the lock); an Id of 0 is given the next free number.
  // Returns the headline's id.
  int Add(NewsRec rec);
  void Clear() { items_.clear(); }

private:
  MyCriticalSection lock_;
  std::vector<NewsRec> items_;
  int lastId_ = 0;
};

// The quote fields of a record. Written under AddSnapLock; read them under it too.
struct QuoteFields {
  float Last = 0, Bid = 0, Ask = 0, Open = 0, High = 0, Low = 0;
  float PrevClose = 0;  // the reference price the change is computed against
  float Change = 0;
  float Volume = 0;
  // The four size and count fields after the volume, in record order.
  int BidSize = 0, AskSize = 0, LastSize = 0, TradeCount = 0;
  TDateTime UpdateDate = 0;  // date of the newest snapshot
  TDateTime UpdateTime = 0;  // its time of day
  bool ThisRun = false;      // written by a quote of this run, not loaded from a dump
  bool LateTime = false;     // its time was a late one, stored at the market clock's time
  int64_t ReceivedTick = 0;  // when the program last received a quote for it (TickMs); 0: never
  std::string TickMark;
  std::string Name;
};

// Fundamentals filled by the fundamentals thread (under AddSnapLock).
struct FundFields {
  std::array<double, 7> Values{};
  std::array<std::string, 2> Texts;
  std::array<double, 2> Extra{};
};

class alignas(128) StockInfoType {
public:
  explicit StockInfoType(std::string symbol) : Symbol(std::move(symbol)) {}

  StockInfoType(const StockInfoType&) = delete;
  StockInfoType& operator=(const StockInfoType&) = delete;

  // The fields AddSnap touches come first, together, on whole cache lines.
  ValueList Values;
  // The first snapshot's time stamp (-1 after a chart clear); index of the newest store.
  // Changed under the Values lock; atomic so that a glance without it is still defined.
  std::atomic<TDateTime> FirstTime{-1.0};
  std::atomic<int> LastStored{-1};
  QuoteFields Quote;  // under AddSnapLock

  const std::string Symbol;  // the table key
  FundFields Fund;           // under AddSnapLock

  std::atomic<bool> LateSaid{false};    // the log has said once that a late quote came for it
  std::atomic<int> NewNews{0};          // non-zero: headlines the user has not looked at
  std::atomic<TDateTime> NewsChecked{0};  // when news were last fetched for the symbol
  NewsList News;
};

// The symbol table: keys of up to 20 upper-case characters in the order they were added,
// one record each, compared whole. Find and the accessors may run beside Add on other threads.
class TMyStrList {
public:
  static constexpr int KeyLength = 20;
  // Keys up to this long are those that earlier versions' dump files held.
  static constexpr int ShortKeyLength = 10;

  TMyStrList();
  ~TMyStrList();
  TMyStrList(const TMyStrList&) = delete;
  TMyStrList& operator=(const TMyStrList&) = delete;

  // The index of the key, upper-cased and compared whole; -1 when absent (also for a key
  // longer than KeyLength, which is never cut into another).
  int Find(std::string_view key) const;
  // The same, giving the record (nullptr when absent) and the index.
  StockInfoType* FindRecord(std::string_view key, int* index = nullptr) const;
  // The index of the key, adding a new record when absent; -1 for an empty key, one longer than
  // KeyLength or a full table. Callers hold AddSnapLock (and StockListLock).
  int Add(std::string_view key);
  int Count() const { return count_.load(std::memory_order_acquire); }
  // Key and record of an index below Count().
  const std::string& Strings(int index) const;
  StockInfoType* Objects(int index) const;

  // The key as the table stores it.
  static std::string NormalizeKey(std::string_view key);

private:
  struct Entry;
  struct Slot;
  struct HashIndex;
  static constexpr int ChunkBits = 10;
  static constexpr int ChunkSize = 1 << ChunkBits;
  static constexpr int MaxChunks = 4096;

  Entry& EntryAt(int index) const;
  void Rehash(uint32_t capacity);

  std::unique_ptr<std::atomic<Entry*>[]> chunks_;
  std::atomic<int> count_{0};
  std::atomic<HashIndex*> index_{nullptr};
  std::vector<std::unique_ptr<HashIndex>> indices_;  // older ones stay for readers still on them
  std::mutex writeMutex_;
};

extern TMyStrList StockTable;

// False for a symbol longer than a table key: it is refused, never cut into another symbol,
// and the log names it once per session.
bool SymbolFitsTable(std::string_view symbol);

// Moves on whenever a record's quote fields change or a symbol is added, so that readers can
// tell a copy they made is still current. Changed only under AddSnapLock (every writer of
// quote fields and every adder of symbols holds it), so a plain increment serves.
extern std::atomic<uint64_t> QuoteGeneration;
inline void BumpQuoteGeneration() {
  QuoteGeneration.store(QuoteGeneration.load(std::memory_order_relaxed) + 1, std::memory_order_release);
}

// The record of a symbol, or of "|" followed by a table index; nullptr when absent.
StockInfoType* ResolveStock(std::string_view symbol, int* index = nullptr);
