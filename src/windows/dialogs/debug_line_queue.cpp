#include "windows/dialogs/debug_line_queue.h"

bool DebugLineQueue::Push(std::string line) {
  std::lock_guard lock(mutex_);
  ++received_;
  if (lines_.size() >= capacity_) {
    ++dropped_;
    return false;
  }
  lines_.push_back(std::move(line));
  return true;
}

std::vector<std::string> DebugLineQueue::Take(size_t max) {
  std::lock_guard lock(mutex_);
  const size_t n = std::min(max, lines_.size());
  std::vector<std::string> out(std::make_move_iterator(lines_.begin()), std::make_move_iterator(lines_.begin() + static_cast<std::ptrdiff_t>(n)));
  lines_.erase(lines_.begin(), lines_.begin() + static_cast<std::ptrdiff_t>(n));
  return out;
}

void DebugLineQueue::Clear() {
  std::lock_guard lock(mutex_);
  lines_.clear();
}

uint64_t DebugLineQueue::Received() const {
  std::lock_guard lock(mutex_);
  return received_;
}

uint64_t DebugLineQueue::Dropped() const {
  std::lock_guard lock(mutex_);
  return dropped_;
}

size_t DebugLineQueue::Waiting() const {
  std::lock_guard lock(mutex_);
  return lines_.size();
}
