#include "core/locks.h"

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

MyCriticalSection::MyCriticalSection(std::string_view name) : name_(name.substr(0, 20)) {}

bool MyCriticalSection::Enter(std::string_view owner, bool tryOnly) {
  for (int round = 0;; ++round) {
    {
      std::lock_guard lock(inner_);
      if (!busy_) {
        busy_ = true;
        owner_ = std::string(owner);
        return true;
      }
    }
    if (tryOnly && round >= TryRounds) return false;
    if (round >= DeadlockRounds) {
      ShowErrorReport("Lock " + name_ + " held by " + Owner() + ", wanted by " + std::string(owner), "DEADLOCK!");
      return false;
    }
    if (IsMainThread()) WaitAndPump(RoundMs);
    else SleepMs(RoundMs);
  }
}

void MyCriticalSection::Leave() {
  std::lock_guard lock(inner_);
  busy_ = false;
  owner_ = "EMPTY";
}

std::string MyCriticalSection::Owner() const {
  std::lock_guard lock(inner_);
  return owner_;
}

int LockedRandom(int range, bool useLock) {
  static std::mutex m;
  static std::mt19937 gen{std::random_device{}()};
  if (range <= 0) return 0;
  std::uniform_int_distribution<int> dist(0, range - 1);
  if (!useLock) {
    thread_local std::mt19937 local{std::random_device{}()};
    return dist(local);
  }
  std::lock_guard lock(m);
  return dist(gen);
}
