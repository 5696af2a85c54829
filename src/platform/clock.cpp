#include "platform/clock.h"

#include <chrono>
#include <thread>

namespace {

class SystemClock : public Clock {
public:
  int64_t UtcMs() override {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  }
  int64_t TickMs() override {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  }
  void SleepMs(int ms) override {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    else std::this_thread::yield();
  }
};

SystemClock systemClock;
std::atomic<Clock*> current{&systemClock};

}  // namespace

Clock& CurrentClock() { return *current.load(std::memory_order_acquire); }

void SetClock(Clock* clock) { current.store(clock ? clock : &systemClock, std::memory_order_release); }

void TestClock::SleepMs(int ms) {
  if (ms > 0) Advance(ms);
  // Give the thread that holds what we wait for a chance to run.
  std::this_thread::sleep_for(std::chrono::microseconds(50));
}
