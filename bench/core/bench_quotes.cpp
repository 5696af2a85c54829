// AddSnap and StockTable look-ups beside std::unordered_map doing the same work on the same
// keys, measured in the same run. Prints nanoseconds per operation and the ratio ours/reference.
//   AddSnap: 1,000,000 snapshots over 5,000 symbols (200 each, one per second), each run on a
//            new market day so every list is emptied and refilled as on a real morning.
//            A second line gives the reference with one mutex per snapshot, for scale.
//   Find:    look-ups of the same 5,000 keys in a shuffled order.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/add_snap.h"
#include "core/stock_table.h"

namespace {
constexpr int Symbols = 5000;
constexpr int Snapshots = 1000000;
constexpr int Runs = 5;

double BestSeconds(const std::function<void(int run)>& work) {
  double best = 1e30;
  for (int run = 0; run < Runs; ++run) {
    const auto start = std::chrono::steady_clock::now();
    work(run);
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

std::vector<std::string> MakeKeys() {
  std::mt19937 rng(42);
  std::vector<std::string> keys;
  std::unordered_map<std::string, int> seen;
  while (static_cast<int>(keys.size()) < Symbols) {
    std::string k;
    const int len = 2 + static_cast<int>(rng() % 4);
    for (int i = 0; i < len; ++i) k += static_cast<char>('A' + rng() % 26);
    if (seen.emplace(k, 0).second) keys.push_back(k);
  }
  return keys;
}

void Report(const char* what, double ours, double ref, double ops) {
  std::printf("%-8s ours %8.1f ns/op   unordered_map %8.1f ns/op   ratio %.2f\n", what, ours / ops * 1e9,
              ref / ops * 1e9, ours / ref);
}
}  // namespace

int main() {
  const std::vector<std::string> keys = MakeKeys();
  const TDateTime firstDay = EncodeDate(2024, 1, 2);
  long sink = 0;

  // AddSnap into the global table.
  const double addOurs = BestSeconds([&](int run) {
    SnapData s;
    s.MarketDate = firstDay + run;
    for (int i = 0; i < Snapshots; ++i) {
      const int sym = i % Symbols;
      s.Symbol = keys[static_cast<size_t>(sym)];
      s.Last = 10.0f + static_cast<float>(i % 97) * 0.01f;
      s.Bid = s.Last - 0.01f;
      s.Ask = s.Last + 0.01f;
      s.Volume = static_cast<float>(i);
      s.QuoteTime = (34200.0 + i / Symbols) / 86400.0;
      sink += AddSnap(s);
    }
  });

  // The reference: find or insert the key, empty the list on a new day, append.
  std::unordered_map<std::string, std::vector<ValueRec>> refMap;
  std::mutex refMutex;
  auto reference = [&]<bool Locked>(TDateTime day) {
    for (int i = 0; i < Snapshots; ++i) {
      std::unique_lock lock(refMutex, std::defer_lock);
      if constexpr (Locked) lock.lock();
      std::vector<ValueRec>& list = refMap[keys[static_cast<size_t>(i % Symbols)]];
      ValueRec v;
      v.Last = 10.0f + static_cast<float>(i % 97) * 0.01f;
      v.Bid = v.Last - 0.01f;
      v.Ask = v.Last + 0.01f;
      v.Volume = static_cast<float>(i);
      v.Time = day + (34200.0 + i / Symbols) / 86400.0;
      if (!list.empty() && list.back().Time < day) list.clear();
      list.push_back(v);
    }
    sink += static_cast<long>(refMap.size());
  };
  const double addRef = BestSeconds([&](int run) { reference.operator()<false>(firstDay + run); });
  Report("AddSnap", addOurs, addRef, Snapshots);

  // For scale: the same reference made thread-safe with one std::mutex held per snapshot.
  // Every lock is a full memory fence, which exposes each snapshot's cache misses instead of
  // letting the next snapshots' misses overlap them.
  const double addRefLocked = BestSeconds([&](int run) { reference.operator()<true>(firstDay + Runs + run); });
  std::printf("AddSnap  (reference with one std::mutex per snapshot: %.1f ns/op, ratio ours/it %.2f)\n",
              addRefLocked / Snapshots * 1e9, addOurs / addRefLocked);

  // Look-ups.
  std::vector<std::string> probes;
  std::mt19937 rng(7);
  for (int r = 0; r < 200; ++r)
    for (const std::string& k : keys) probes.push_back(k);
  std::shuffle(probes.begin(), probes.end(), rng);
  std::unordered_map<std::string, int> refIndex;
  for (int i = 0; i < Symbols; ++i) refIndex.emplace(keys[static_cast<size_t>(i)], i);

  const double findOurs = BestSeconds([&](int) {
    long sum = 0;
    for (const std::string& k : probes) sum += StockTable.Find(k);
    sink += sum;
  });
  const double findRef = BestSeconds([&](int) {
    long sum = 0;
    for (const std::string& k : probes) {
      auto it = refIndex.find(k);
      sum += it == refIndex.end() ? -1 : it->second;
    }
    sink += sum;
  });
  Report("Find", findOurs, findRef, static_cast<double>(probes.size()));
  std::printf("(checksum %ld)\n", sink);
  return 0;
}
