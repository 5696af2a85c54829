#pragma once
// A ring buffer of the latest values with their running sum, for the chart indicators.
#include <vector>

class CircBufType {
public:
  // Room for size values (at least 1); index 0, not wrapped, sum 0, last value 0.
  explicit CircBufType(int size);

  // Stores the value at the index, keeping the running sum and the last value, and moves on;
  // at the end the index wraps to 0 and the buffer counts as wrapped.
  void Add(double value);
  // The sum divided by the size once wrapped, else by the number added; 0 when empty.
  double Average() const;
  // The largest and smallest of the values held; max is raised by 0.001 when they are equal.
  void MaxMin(double& max, double& min) const;

  int Size() const { return static_cast<int>(values_.size()); }
  int Index() const { return index_; }
  bool Wrapped() const { return wrapped_; }
  double Sum() const { return sum_; }
  double LastValue() const { return last_; }

private:
  std::vector<double> values_;
  int index_ = 0;
  bool wrapped_ = false;
  double sum_ = 0;
  double last_ = 0;
};
