#pragma once
// Best of several runs, in seconds: at least three runs and at least `minimum` seconds spent.
#include <algorithm>
#include <chrono>
#include <functional>

inline double BestSeconds(const std::function<void()>& run, double minimum) {
  double best = 1e30, spent = 0;
  int runs = 0;
  while (spent < minimum || runs < 3) {
    const auto start = std::chrono::steady_clock::now();
    run();
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    best = std::min(best, s);
    spent += s;
    ++runs;
  }
  return best;
}
