#pragma once
// Runs the event loop until a condition holds or a deadline passes: the browser engine answers
// through events, so the web tests wait this way rather than sleeping.
#include <QEventLoop>
#include <QTimer>

#include <functional>

// The engine's first start on a busy machine takes seconds; the deadline only bounds a hang.
inline bool SpinUntil(const std::function<bool()>& done, int deadlineMs = 60000) {
  QEventLoop loop;
  QTimer poll, deadline;
  deadline.setSingleShot(true);
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (done()) loop.quit();
  });
  QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
  poll.start(5);
  deadline.start(deadlineMs);
  if (!done()) loop.exec();
  return done();
}
