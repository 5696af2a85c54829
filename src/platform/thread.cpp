#include "platform/thread.h"

#include <QCoreApplication>

#include <chrono>
#include <memory>

#include "platform/clock.h"
#include "platform/messages.h"

Thread::~Thread() {
  Terminate();
  if (thread_.joinable()) thread_.join();
}

void Thread::Start(bool suspended) {
  if (started_) return;
  started_ = true;
  {
    std::lock_guard lock(mutex_);
    gateOpen_ = !suspended;
  }
  thread_ = std::thread([this] { Run(); });
}

void Thread::Run() {
  // Known before Execute runs: thread_ may not be assigned yet when it starts.
  runningId_ = std::this_thread::get_id();
  try {
    Execute();
  } catch (...) {
    // A thread loop reports its own failures; nothing may escape the thread.
  }
  {
    std::lock_guard lock(mutex_);
    finished_ = true;
  }
  cv_.notify_all();
}

void Thread::Terminate() {
  {
    std::lock_guard lock(mutex_);
    terminated_ = true;
  }
  cv_.notify_all();
}

void Thread::Resume() {
  {
    std::lock_guard lock(mutex_);
    gateOpen_ = true;
  }
  cv_.notify_all();
}

void Thread::Suspend() {
  std::lock_guard lock(mutex_);
  gateOpen_ = false;
}

bool Thread::WaitFor(int timeoutMs) {
  if (!started_) return true;
  if (runningId_.load() == std::this_thread::get_id()) return false;  // would wait for itself
  {
    std::unique_lock lock(mutex_);
    auto finished = [this] { return finished_.load(); };
    if (timeoutMs < 0) cv_.wait(lock, finished);
    else if (!cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), finished)) return false;
  }
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
  return true;
}

bool Thread::Stop(int timeoutMs) {
  Terminate();
  return WaitFor(timeoutMs);
}

bool Thread::WaitGate(int timeoutMs) {
  std::unique_lock lock(mutex_);
  auto ready = [this] { return gateOpen_ || terminated_.load(); };
  if (timeoutMs < 0) cv_.wait(lock, ready);
  else cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
  return !terminated_.load() && gateOpen_;
}

bool Thread::Sleep(int ms) {
  if (!CurrentClock().IsReal()) {
    const int64_t deadline = TickMs() + ms;
    while (!terminated_.load() && TickMs() < deadline) SleepMs(1);
    return !terminated_.load();
  }
  std::unique_lock lock(mutex_);
  cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return terminated_.load(); });
  return !terminated_.load();
}

namespace {
struct SyncCall {
  std::mutex m;
  std::condition_variable cv;
  bool running = false, done = false, abandoned = false;
};
}  // namespace

bool Thread::Synchronize(const std::function<void()>& fn) {
  if (!QCoreApplication::instance()) {
    // No event loop (command-line tools, tests): serialise the calls instead.
    static std::mutex inlineCalls;
    std::lock_guard lock(inlineCalls);
    if (terminated_.load()) return false;
    fn();
    return true;
  }
  if (IsMainThread()) {
    fn();
    return true;
  }
  auto call = std::make_shared<SyncCall>();
  PostToMainThread([call, fn] {
    {
      std::lock_guard lock(call->m);
      if (call->abandoned) return;
      call->running = true;
    }
    try {
      fn();
    } catch (...) {
    }
    {
      std::lock_guard lock(call->m);
      call->done = true;
    }
    call->cv.notify_all();
  });
  std::unique_lock lock(call->m);
  for (;;) {
    if (call->cv.wait_for(lock, std::chrono::milliseconds(10), [&] { return call->done; })) return true;
    if (terminated_.load() && !call->running) {
      call->abandoned = true;
      return false;
    }
  }
}
