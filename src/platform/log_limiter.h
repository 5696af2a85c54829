#pragma once
// Log lines that a stream from outside could repeat without end (one per record): the first few
// of a kind are written, then one line a minute says how many more came, so a flood of bad
// records cannot fill the disk.
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

class LogLimiter {
public:
  static constexpr int FirstFew = 5;
  static constexpr int64_t PeriodMs = 60000;

  // write receives the lines that are let through; the time comes from TickMs.
  explicit LogLimiter(std::function<void(const std::string&)> write);
  // Writes the line of that kind, or counts it. Any thread.
  void Line(const std::string& kind, const std::string& line);
  // Writes the counts not told yet (when the stream ends).
  void Flush();

private:
  struct Kind {
    int written = 0;
    int held = 0;           // lines counted since the last line about them
    int64_t toldAt = 0;     // when the last count (or the last of the first few) was written
  };
  void Tell(const std::string& kind, Kind& k, int64_t now);

  std::function<void(const std::string&)> write_;
  std::mutex mutex_;
  std::map<std::string, Kind> kinds_;
};
