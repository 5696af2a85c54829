#pragma once
// Window messages between threads and windows, and waits that keep the GUI alive.
#include <QEvent>
#include <QObject>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string_view>

// Set when the main window starts closing; long loops and waits stop on it.
extern std::atomic<bool> ShuttingDown;

// A posted window message; forms dispatch it in event().
class WindowMessageEvent : public QEvent {
public:
  static const QEvent::Type EventType;
  WindowMessageEvent(int msg, intptr_t wParam, intptr_t lParam)
      : QEvent(EventType), Msg(msg), WParam(wParam), LParam(lParam) {}
  int Msg;
  intptr_t WParam;
  intptr_t LParam;
};

// Posts a message to a live object; Qt drops it if the object is destroyed before delivery.
// Callers must know the object is alive now (unregister windows under their lock first).
void PostWindowMessage(QObject* target, int msg, intptr_t wParam, intptr_t lParam);
// A stable message number per name, from 0xC000 up.
int RegisterWindowMessage(std::string_view name);

bool IsMainThread();
// Runs fn on the main thread later (at once when there is no application object).
void PostToMainThread(std::function<void()> fn);

// Returns after ms; the main thread processes events meanwhile, other threads sleep.
void WaitAndPump(int ms);

enum class WaitResult { Done, Cancelled, TimedOut, ShuttingDown, Refused };
// Waits until done() holds, looking every pollMs; the main thread keeps processing events and
// also looks after each one, so a worker's hand-over to it ends the wait at once.
// Ends on the cancel flag, at the deadline and on ShuttingDown. A second wait on the main
// thread while one is running is refused, so that nested event processing cannot stack up.
WaitResult WaitUntil(const std::function<bool()>& done, const std::atomic<bool>* cancel, int timeoutMs,
                     int pollMs = 2);
