#include "platform/log_limiter.h"

#include "platform/clock.h"

LogLimiter::LogLimiter(std::function<void(const std::string&)> write) : write_(std::move(write)) {}

void LogLimiter::Tell(const std::string& kind, Kind& k, int64_t now) {
  if (k.held > 0) write_(kind + ": " + std::to_string(k.held) + " more");
  k.held = 0;
  k.toldAt = now;
}

void LogLimiter::Line(const std::string& kind, const std::string& line) {
  std::lock_guard lock(mutex_);
  Kind& k = kinds_[kind];
  const int64_t now = TickMs();
  if (k.written < FirstFew) {
    ++k.written;
    k.toldAt = now;
    write_(line);
    if (k.written == FirstFew) write_(kind + ": further lines of this kind are counted, one line a minute");
    return;
  }
  ++k.held;
  if (now - k.toldAt >= PeriodMs) Tell(kind, k, now);
}

void LogLimiter::Flush() {
  std::lock_guard lock(mutex_);
  const int64_t now = TickMs();
  for (auto& [kind, k] : kinds_) Tell(kind, k, now);
}
