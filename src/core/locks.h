#pragma once
// Named locks with holder tracking and bounded waits.
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

class MyCriticalSection {
public:
  explicit MyCriticalSection(std::string_view name);
  MyCriticalSection(const MyCriticalSection&) = delete;
  MyCriticalSection& operator=(const MyCriticalSection&) = delete;

  // Takes the lock when free (true). Otherwise retries every 2 ms, processing window messages
  // on the main thread; a try-only caller gets false after 800 rounds; after 2400 rounds the
  // deadlock report is shown and false returned. Once the program shuts down, every caller
  // gives up after the try-only bound, without the report. On false the caller must not touch
  // the data.
  bool Enter(std::string_view owner, bool tryOnly = false);
  // One attempt, no waiting: for painting and other places that must not process events.
  bool TryEnterNow(std::string_view owner);
  void Leave();

  const std::string& Name() const { return name_; }
  std::string Owner() const;
  bool Busy() const { return busy_.load(); }

  static constexpr int RoundMs = 2;
  static constexpr int TryRounds = 800;
  static constexpr int DeadlockRounds = 2400;

private:
  void SetOwner(std::string_view owner);

  std::string name_;
  std::atomic<bool> busy_{false};
  // The holder's name, for deadlock reports only; kept in atomics so that reading it while
  // the holder changes is harmless (a report may then show a mixed name).
  static constexpr size_t OwnerSize = 24;
  std::atomic<char> owner_[OwnerSize];
};

// Holds a lock for a scope when it was obtained; check Ok() before touching the data.
class LockHold {
public:
  LockHold(MyCriticalSection& cs, std::string_view owner, bool tryOnly = false)
      : cs_(cs), ok_(cs.Enter(owner, tryOnly)) {}
  // Takes the lock only when it is free at once.
  struct Now {};
  LockHold(MyCriticalSection& cs, std::string_view owner, Now) : cs_(cs), ok_(cs.TryEnterNow(owner)) {}
  ~LockHold() {
    if (ok_) cs_.Leave();
  }
  LockHold(const LockHold&) = delete;
  LockHold& operator=(const LockHold&) = delete;
  bool Ok() const { return ok_; }
  explicit operator bool() const { return ok_; }

private:
  MyCriticalSection& cs_;
  bool ok_;
};

extern MyCriticalSection StockListLock;  // "STLIST": StockTable
extern MyCriticalSection PortLock;       // "PORT": the portfolios
extern MyCriticalSection AddSnapLock;    // "AddSnap": writers of snapshots and news marks
extern MyCriticalSection RefreshLock;    // "REFSTK": pending lists and HandOverList
extern MyCriticalSection IdxListLock;    // "IdxList": IndexList
extern MyCriticalSection IniLock;        // "INI": the settings file
extern MyCriticalSection HResLock;       // "HRES": the result slots

// A random integer 0 .. range-1 (0 when range <= 0), drawn under one shared lock when useLock
// is set; the 64-bit form for ranges beyond an int.
int LockedRandom(int range, bool useLock);
int64_t LockedRandom(int64_t range, bool useLock);
