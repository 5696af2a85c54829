#include "core/circ_buf.h"

#include <algorithm>

CircBufType::CircBufType(int size) : values_(static_cast<size_t>(std::max(size, 1)), 0.0) {}

void CircBufType::Add(double value) {
  double& slot = values_[static_cast<size_t>(index_)];
  if (wrapped_) sum_ -= slot;
  slot = value;
  sum_ += value;
  last_ = value;
  if (++index_ >= Size()) {
    index_ = 0;
    wrapped_ = true;
  }
}

double CircBufType::Average() const {
  if (wrapped_) return sum_ / Size();
  return index_ > 0 ? sum_ / index_ : 0.0;
}

void CircBufType::MaxMin(double& max, double& min) const {
  const int held = wrapped_ ? Size() : index_;
  if (held == 0) {
    max = min = 0;
  } else {
    const auto [lo, hi] = std::minmax_element(values_.begin(), values_.begin() + held);
    max = *hi;
    min = *lo;
  }
  if (max == min) max += 0.001;
}
