#pragma once
// The point store behind a chart line, usable without a display: the indicator computations
// and the redraw fill it; the chart widget paints it.
#include <cstddef>
#include <vector>

// What the computations need of a series: point count, X of point i, clear, append.
class IndSeries {
public:
  virtual ~IndSeries() = default;
  virtual int Count() const = 0;
  virtual double X(int i) const = 0;
  virtual void Clear() = 0;
  virtual void Append(double x, double y) = 0;
};

// A series that also gives Y values and drops its first point; the redraw uses these.
class PlotSeries : public IndSeries {
public:
  virtual double Y(int i) const = 0;
  virtual void RemoveFirst() = 0;
  // Room for n more points; a store that cannot reserve ignores it.
  virtual void Reserve(int /*n*/) {}
};

// Points in two parallel arrays with a moving start, so that dropping the first point is
// amortised constant time (the dead front is compacted once it outgrows the live part).
class SeriesPoints : public PlotSeries {
public:
  int Count() const override { return static_cast<int>(xs_.size() - head_); }
  double X(int i) const override { return xs_[head_ + static_cast<size_t>(i)]; }
  double Y(int i) const override { return ys_[head_ + static_cast<size_t>(i)]; }
  void Clear() override {
    xs_.clear();
    ys_.clear();
    head_ = 0;
  }
  void Append(double x, double y) override {
    xs_.push_back(x);
    ys_.push_back(y);
  }
  void RemoveFirst() override;
  void Reserve(int n) override;
  // The live points as contiguous arrays of Count() values.
  const double* XData() const { return xs_.data() + head_; }
  const double* YData() const { return ys_.data() + head_; }

private:
  std::vector<double> xs_, ys_;
  size_t head_ = 0;
};
