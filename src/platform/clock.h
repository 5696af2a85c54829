#pragma once
// The one clock of the program: wall time, a monotonic tick and sleeping.
// Every time-out and the market clock read it, so tests can replace it.
#include <atomic>
#include <cstdint>

class Clock {
public:
  virtual ~Clock() = default;
  virtual int64_t UtcMs() = 0;   // milliseconds since the Unix epoch
  virtual int64_t TickMs() = 0;  // monotonic milliseconds
  virtual void SleepMs(int ms) = 0;
  // False for a test clock: waits then sleep on it in slices instead of on the wall clock.
  virtual bool IsReal() const { return true; }
};

// The clock in force; the system clock unless a test set another.
Clock& CurrentClock();
// Installs a clock (nullptr restores the system clock). The caller keeps ownership.
void SetClock(Clock* clock);

inline int64_t NowUtcMs() { return CurrentClock().UtcMs(); }
inline int64_t TickMs() { return CurrentClock().TickMs(); }
inline void SleepMs(int ms) { CurrentClock().SleepMs(ms); }

// A clock that only moves when told to, or when somebody sleeps on it.
// Sleeping advances it at once and yields, so retry loops run fast in tests.
class TestClock : public Clock {
public:
  explicit TestClock(int64_t utcMs = 0) : utc_(utcMs) {}
  int64_t UtcMs() override { return utc_.load(); }
  int64_t TickMs() override { return tick_.load(); }
  void SleepMs(int ms) override;
  bool IsReal() const override { return false; }
  void Advance(int64_t ms) {
    utc_ += ms;
    tick_ += ms;
  }
  void SetUtcMs(int64_t ms) { utc_ = ms; }

private:
  std::atomic<int64_t> utc_;
  std::atomic<int64_t> tick_{1};
};

// Installs a clock for the lifetime of a scope.
class ScopedClock {
public:
  explicit ScopedClock(Clock& c) { SetClock(&c); }
  ~ScopedClock() { SetClock(nullptr); }
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;
};
