#include "core/stock_table.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <set>

#include "core/log.h"

TMyStrList StockTable;
std::atomic<uint64_t> QuoteGeneration{0};

// ---- ValueList ----

void ValueList::Clear(int capacity) {
  items_.clear();
  if (capacity > MaxCount) capacity = MaxCount;
  if (capacity > 0 && static_cast<size_t>(capacity) > items_.capacity()) items_.reserve(static_cast<size_t>(capacity));
}

namespace {
// Whole seconds of a time stamp taken from its milliseconds, so that rounding of the day
// fraction cannot push a time into the second before.
inline int64_t WholeSecond(TDateTime t) {
  if (!IsValidDateTime(t)) return 0;
  const double ms = t * MSecsPerDay;
  return (ms >= 0 ? static_cast<int64_t>(ms + 0.5) : std::llround(ms)) / 1000;
}
}  // namespace

int ValueList::Store(const ValueRec& v) {
  if (!items_.empty()) {
    const double day = std::floor(v.Time);
    const double listDay = std::floor(items_.back().Time);
    if (day < listDay) return -1;
    if (day > listDay) items_.clear();  // a new day starts a new list
  }
  // Snapshots nearly always arrive in order: look at the end first.
  size_t pos = items_.size();
  if (pos > 0 && items_[pos - 1].Time > v.Time) {
    pos = static_cast<size_t>(std::upper_bound(items_.begin(), items_.end(), v.Time,
                                               [](TDateTime t, const ValueRec& r) { return t < r.Time; }) -
                              items_.begin());
  }
  if (pos > 0 && WholeSecond(items_[pos - 1].Time) == WholeSecond(v.Time)) {
    items_[pos - 1] = v;
    return static_cast<int>(pos - 1);
  }
  items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(pos), v);
  return static_cast<int>(pos);
}

// ---- NewsList ----

int NewsList::Add(NewsRec rec) {
  if (rec.Id == 0) rec.Id = lastId_ + 1;
  lastId_ = std::max(lastId_, rec.Id);
  items_.push_back(std::move(rec));
  return items_.back().Id;
}

// ---- TMyStrList ----

namespace {
// A key of up to 20 bytes, upper-cased, padded with zeros and its length in the last byte:
// keys compare whole ("AB" is not "AB" and a NUL).
struct Key24 {
  uint64_t a = 0, b = 0, c = 0;
  bool operator==(const Key24&) const = default;
};
static_assert(TMyStrList::KeyLength < 24, "a key and its length fit its packed form");

// Packs the normalised key; false for an empty one or one longer than a key (never cut: it
// would be another symbol's).
inline bool PackKey(std::string_view key, Key24& out) {
  const size_t n = key.size();
  if (n == 0 || n > static_cast<size_t>(TMyStrList::KeyLength)) return false;
  char buf[24] = {};
  for (size_t i = 0; i < n; ++i) {
    const char c = key[i];
    buf[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
  }
  buf[23] = static_cast<char>(n);
  std::memcpy(&out.a, buf, 8);
  std::memcpy(&out.b, buf + 8, 8);
  std::memcpy(&out.c, buf + 16, 8);
  return true;
}

inline uint32_t HashKey(const Key24& k) {
  uint64_t h = k.a * 0x9E3779B97F4A7C15ull ^ (k.b + 0x632BE59BD9B4E019ull) * 0xC2B2AE3D27D4EB4Full ^
               (k.c + 0x165667B19E3779F9ull) * 0x27D4EB2F165667C5ull;
  h ^= h >> 29;
  return static_cast<uint32_t>(h ^ (h >> 32));
}

// Symbols refused for their length that the log has named (bounded: a stream of distinct ones
// from outside must not grow it without end).
std::mutex refusedMutex;
std::set<std::string> refusedSymbols;
bool refusedCounted = false;
constexpr size_t MaxRefusedNamed = 1000;
}  // namespace

bool SymbolFitsTable(std::string_view symbol) {
  if (symbol.size() <= static_cast<size_t>(TMyStrList::KeyLength)) return true;
  std::string named(symbol.substr(0, 64));
  {
    std::lock_guard lock(refusedMutex);
    if (refusedSymbols.size() < MaxRefusedNamed) {
      if (!refusedSymbols.insert(named).second) return false;
    } else {
      if (refusedCounted) return false;
      refusedCounted = true;
      named.clear();
    }
  }
  const std::string limit = std::to_string(TMyStrList::KeyLength);
  if (named.empty())
    WriteLog("Further symbols longer than " + limit + " characters are refused without a line each");
  else
    WriteLog("Symbol longer than " + limit + " characters refused: " + named + (symbol.size() > named.size() ? "..." : ""));
  return false;
}

struct TMyStrList::Entry {
  Key24 packed;
  std::string key;
  std::unique_ptr<StockInfoType> record;
};

// A slot is published by storing its index + 1 last; key and record are set before that and
// never change afterwards, so a reader that sees the index may read them.
struct TMyStrList::Slot {
  Key24 key;
  StockInfoType* record = nullptr;
  std::atomic<uint32_t> index{0};  // entry index + 1; 0 = empty
};

struct TMyStrList::HashIndex {
  explicit HashIndex(uint32_t capacity) : mask(capacity - 1), slots(new Slot[capacity]) {}
  uint32_t mask;
  std::unique_ptr<Slot[]> slots;

  void Put(const Key24& k, StockInfoType* rec, int index, std::memory_order order) {
    uint32_t i = HashKey(k) & mask;
    while (slots[i].index.load(std::memory_order_relaxed) != 0) i = (i + 1) & mask;
    slots[i].key = k;
    slots[i].record = rec;
    slots[i].index.store(static_cast<uint32_t>(index + 1), order);
  }
};

TMyStrList::TMyStrList() : chunks_(new std::atomic<Entry*>[MaxChunks]) {
  for (int i = 0; i < MaxChunks; ++i) chunks_[i].store(nullptr, std::memory_order_relaxed);
  Rehash(1024);
}

TMyStrList::~TMyStrList() {
  for (int i = 0; i < MaxChunks; ++i) delete[] chunks_[i].load();
}

std::string TMyStrList::NormalizeKey(std::string_view key) {
  std::string s(key);
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return s;
}

TMyStrList::Entry& TMyStrList::EntryAt(int index) const {
  Entry* chunk = chunks_[index >> ChunkBits].load(std::memory_order_acquire);
  return chunk[index & (ChunkSize - 1)];
}

StockInfoType* TMyStrList::FindRecord(std::string_view key, int* index) const {
  Key24 k;
  if (index) *index = -1;
  if (!PackKey(key, k)) return nullptr;
  const HashIndex* h = index_.load(std::memory_order_acquire);
  for (uint32_t i = HashKey(k) & h->mask;; i = (i + 1) & h->mask) {
    const Slot& slot = h->slots[i];
    const uint32_t n = slot.index.load(std::memory_order_acquire);
    if (n == 0) return nullptr;
    if (slot.key == k) {
      if (index) *index = static_cast<int>(n - 1);
      return slot.record;
    }
  }
}

int TMyStrList::Find(std::string_view key) const {
  int index;
  FindRecord(key, &index);
  return index;
}

void TMyStrList::Rehash(uint32_t capacity) {
  auto h = std::make_unique<HashIndex>(capacity);
  const int n = count_.load(std::memory_order_relaxed);
  for (int index = 0; index < n; ++index) {
    Entry& e = EntryAt(index);
    h->Put(e.packed, e.record.get(), index, std::memory_order_relaxed);
  }
  index_.store(h.get(), std::memory_order_release);
  indices_.push_back(std::move(h));
}

int TMyStrList::Add(std::string_view key) {
  Key24 k;
  if (!PackKey(key, k)) return -1;
  std::lock_guard lock(writeMutex_);
  const int found = Find(key);
  if (found >= 0) return found;
  const int n = count_.load(std::memory_order_relaxed);
  if (n >= MaxChunks * ChunkSize) return -1;
  // Keep the index at most half full so probes stay short.
  HashIndex* h = index_.load(std::memory_order_relaxed);
  if (static_cast<uint64_t>(n + 1) * 2 > static_cast<uint64_t>(h->mask) + 1) Rehash((h->mask + 1) * 2);

  const int chunk = n >> ChunkBits;
  if (chunks_[chunk].load(std::memory_order_relaxed) == nullptr)
    chunks_[chunk].store(new Entry[ChunkSize], std::memory_order_release);
  Entry& e = EntryAt(n);
  e.packed = k;
  e.key = NormalizeKey(key);
  e.record = std::make_unique<StockInfoType>(e.key);
  count_.store(n + 1, std::memory_order_release);
  BumpQuoteGeneration();

  index_.load(std::memory_order_relaxed)->Put(k, e.record.get(), n, std::memory_order_release);
  return n;
}

const std::string& TMyStrList::Strings(int index) const {
  static const std::string none;
  if (index < 0 || index >= Count()) return none;
  return EntryAt(index).key;
}

StockInfoType* TMyStrList::Objects(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return EntryAt(index).record.get();
}

StockInfoType* ResolveStock(std::string_view symbol, int* index) {
  int i = -1;
  if (!symbol.empty() && symbol[0] == '|') {
    int v = -1;
    const char* first = symbol.data() + 1;
    const char* last = symbol.data() + symbol.size();
    auto [p, ec] = std::from_chars(first, last, v);
    if (ec == std::errc() && p == last && v >= 0 && v < StockTable.Count()) i = v;
  } else {
    i = StockTable.Find(symbol);
  }
  if (index) *index = i;
  return i >= 0 ? StockTable.Objects(i) : nullptr;
}
