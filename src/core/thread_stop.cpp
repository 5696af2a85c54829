#include "core/thread_stop.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "core/log.h"
#include "platform/clock.h"

namespace {
std::mutex overrunMutex;
std::vector<std::unique_ptr<Thread>> overrunThreads;
}  // namespace

bool StopOwnedThread(std::unique_ptr<Thread>& thread, std::string_view name, int boundMs,
                     const std::function<void()>& wake) {
  if (!thread) return true;
  thread->Terminate();
  if (wake) wake();
  if (thread->WaitFor(boundMs)) {
    thread.reset();
    return true;
  }
  WriteLog(std::string(name) + " did not end within " + std::to_string(boundMs) + " ms; left to finish on its own");
  std::lock_guard lock(overrunMutex);
  overrunThreads.push_back(std::move(thread));
  return false;
}

int ReleaseOverrunThreads(int waitMs) {
  std::vector<std::unique_ptr<Thread>> threads;
  {
    std::lock_guard lock(overrunMutex);
    threads.swap(overrunThreads);
  }
  const int64_t deadline = TickMs() + waitMs;
  int running = 0;
  for (auto& t : threads) {
    const int left = static_cast<int>(std::max<int64_t>(0, deadline - TickMs()));
    if (t->WaitFor(left)) continue;
    ++running;
    // Still inside code of its own: freeing it would join for ever, so the process end takes it.
    (void)t.release();
  }
  return running;
}
