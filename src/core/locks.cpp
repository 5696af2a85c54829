#include "core/locks.h"

#include <algorithm>
#include <mutex>
#include <random>

#include "core/error_report.h"
#include "platform/clock.h"
#include "platform/messages.h"

MyCriticalSection StockListLock("STLIST");
MyCriticalSection PortLock("PORT");
MyCriticalSection AddSnapLock("AddSnap");
MyCriticalSection RefreshLock("REFSTK");
MyCriticalSection IdxListLock("IdxList");
MyCriticalSection IniLock("INI");
MyCriticalSection HResLock("HRES");

MyCriticalSection::MyCriticalSection(std::string_view name) : name_(name.substr(0, 20)) { SetOwner("EMPTY"); }

void MyCriticalSection::SetOwner(std::string_view owner) {
  size_t n = std::min(owner.size(), OwnerSize - 1);
  for (size_t i = 0; i < n; ++i) owner_[i].store(owner[i], std::memory_order_relaxed);
  owner_[n].store('\0', std::memory_order_relaxed);
}

bool MyCriticalSection::TryEnterNow(std::string_view owner) {
  bool expected = false;
  if (busy_.load(std::memory_order_relaxed) ||
      !busy_.compare_exchange_strong(expected, true, std::memory_order_acquire))
    return false;
  SetOwner(owner);
  return true;
}

bool MyCriticalSection::Enter(std::string_view owner, bool tryOnly) {
  for (int round = 0;; ++round) {
    if (TryEnterNow(owner)) return true;
    if ((tryOnly || ShuttingDown.load()) && round >= TryRounds) return false;
    if (round >= DeadlockRounds) {
      ShowErrorReport("Lock " + name_ + " held by " + Owner() + ", wanted by " + std::string(owner), "DEADLOCK!");
      return false;
    }
    if (IsMainThread()) WaitAndPump(RoundMs);
    else SleepMs(RoundMs);
  }
}

void MyCriticalSection::Leave() {
  SetOwner("EMPTY");
  busy_.store(false, std::memory_order_release);
}

std::string MyCriticalSection::Owner() const {
  std::string s;
  for (size_t i = 0; i < OwnerSize; ++i) {
    char c = owner_[i].load(std::memory_order_relaxed);
    if (!c) break;
    s += c;
  }
  return s;
}

namespace {

// One shared generator under one lock for every width, and one per thread without the lock.
std::mutex randomLock;
std::mt19937_64& SharedGenerator() {
  static std::mt19937_64 gen{std::random_device{}()};
  return gen;
}
std::mt19937_64& ThreadGenerator() {
  thread_local std::mt19937_64 gen{std::random_device{}()};
  return gen;
}

template <typename T>
T DrawBelow(T range, bool useLock) {
  if (range <= 0) return 0;
  std::uniform_int_distribution<T> dist(0, range - 1);
  if (!useLock) return dist(ThreadGenerator());
  std::lock_guard lock(randomLock);
  return dist(SharedGenerator());
}

}  // namespace

int LockedRandom(int range, bool useLock) { return DrawBelow(range, useLock); }
int64_t LockedRandom(int64_t range, bool useLock) { return DrawBelow(range, useLock); }
