#include "platform/messages.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QTimer>
#include <QThread>

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/clock.h"

std::atomic<bool> ShuttingDown{false};

const QEvent::Type WindowMessageEvent::EventType =
    static_cast<QEvent::Type>(QEvent::registerEventType(QEvent::User + 263));

void PostWindowMessage(QObject* target, int msg, intptr_t wParam, intptr_t lParam) {
  if (!target) return;
  QCoreApplication::postEvent(target, new WindowMessageEvent(msg, wParam, lParam));
}

int RegisterWindowMessage(std::string_view name) {
  static std::mutex m;
  static std::map<std::string, int> numbers;
  std::lock_guard lock(m);
  std::string key;
  for (char c : name) key += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  auto it = numbers.find(key);
  if (it != numbers.end()) return it->second;
  int n = 0xC000 + static_cast<int>(numbers.size());
  numbers.emplace(key, n);
  return n;
}

bool IsMainThread() {
  auto* app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}

void PostToMainThread(std::function<void()> fn) {
  auto* app = QCoreApplication::instance();
  if (!app) {
    fn();
    return;
  }
  QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

void WaitAndPump(int ms) {
  if (!IsMainThread()) {
    SleepMs(ms);
    return;
  }
  int64_t deadline = TickMs() + ms;
  for (;;) {
    int64_t left = deadline - TickMs();
    if (left <= 0) break;
    QCoreApplication::processEvents(QEventLoop::AllEvents, static_cast<int>(left < 10 ? left : 10));
    SleepMs(left < 2 ? static_cast<int>(left) : 2);
  }
}

WaitResult WaitUntil(const std::function<bool()>& done, const std::atomic<bool>* cancel, int timeoutMs, int pollMs) {
  static thread_local bool waiting = false;
  const bool main = IsMainThread();
  if (main && waiting) return WaitResult::Refused;
  struct Guard {
    bool active;
    explicit Guard(bool a) : active(a) {
      if (active) waiting = true;
    }
    ~Guard() {
      if (active) waiting = false;
    }
  } guard(main);
  const int64_t deadline = TickMs() + timeoutMs;
  // On the main thread the wait sleeps in the event dispatcher: an event (a hand-over from a
  // worker, a click) wakes it at once, and a timer every pollMs bounds the sleep for the
  // deadline and flags set by other threads.
  QAbstractEventDispatcher* dispatcher = main && QCoreApplication::instance() ? QAbstractEventDispatcher::instance() : nullptr;
  std::unique_ptr<QTimer> tick;
  if (dispatcher) {
    tick = std::make_unique<QTimer>();
    tick->start(std::max(1, pollMs));
  }
  for (;;) {
    if (done()) return WaitResult::Done;
    if (cancel && cancel->load()) return WaitResult::Cancelled;
    if (ShuttingDown.load()) return WaitResult::ShuttingDown;
    if (TickMs() >= deadline) return WaitResult::TimedOut;
    if (dispatcher) {
      dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    } else {
      if (main) QCoreApplication::processEvents(QEventLoop::AllEvents, pollMs);
      SleepMs(pollMs);
    }
  }
}
