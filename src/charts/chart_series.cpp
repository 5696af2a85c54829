#include "charts/chart_series.h"

void SeriesPoints::RemoveFirst() {
  if (Count() == 0) return;
  ++head_;
  if (head_ == xs_.size()) {
    Clear();
  } else if (head_ >= 1024 && head_ * 2 >= xs_.size()) {
    xs_.erase(xs_.begin(), xs_.begin() + static_cast<std::ptrdiff_t>(head_));
    ys_.erase(ys_.begin(), ys_.begin() + static_cast<std::ptrdiff_t>(head_));
    head_ = 0;
  }
}

void SeriesPoints::Reserve(int n) {
  if (n <= 0) return;
  xs_.reserve(head_ + static_cast<size_t>(n));
  ys_.reserve(head_ + static_cast<size_t>(n));
}
