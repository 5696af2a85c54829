#pragma once
// The lines that threads hand to the debug window, held until the window takes them on the GUI
// thread. Bounded: when the window falls behind, new lines are counted and dropped.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

class DebugLineQueue {
public:
  explicit DebugLineQueue(size_t capacity) : capacity_(capacity) {}

  // Any thread. False when the queue was full and the line was dropped.
  bool Push(std::string line);
  // Up to max lines, oldest first.
  std::vector<std::string> Take(size_t max);
  // Drops every waiting line.
  void Clear();

  uint64_t Received() const;  // lines pushed, dropped ones included
  uint64_t Dropped() const;
  size_t Waiting() const;

private:
  const size_t capacity_;
  mutable std::mutex mutex_;
  std::deque<std::string> lines_;
  uint64_t received_ = 0;
  uint64_t dropped_ = 0;
};
