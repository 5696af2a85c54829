#include "core/log.h"

#include <cstdio>
#include <mutex>

#include "core/market_clock.h"
#include "core/program_files.h"
#include "core/program_state.h"
#include "platform/datetime.h"

int LogThreshold = 99;
std::atomic<bool> DebugToFile{false};
std::atomic<bool> DebugScrollStopped{false};

namespace {
std::mutex logMutex;
std::mutex debugMutex;
std::function<void(const std::string&)> DebugWindowSink;  // under debugMutex

void AppendLine(const std::string& path, std::string_view line) {
  if (FILE* f = std::fopen(path.c_str(), "ab")) {
    std::string text = FormatDateTime("hh:mm:ss.zzz", LocalNow()) + " " + std::string(line) + "\r\n";
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
}
}  // namespace

void StartLog(bool fresh) {
  if (!LogOn) return;
  std::lock_guard lock(logMutex);
  std::string path = ProgDir + MainLogName;
  if (fresh) std::remove(path.c_str());
  AppendLine(path, "Log File Start");
}

void WriteLog(std::string_view message, int level) {
  if (!LogOn || level > LogThreshold || ProgDir.empty()) return;
  std::lock_guard lock(logMutex);
  AppendLine(ProgDir + MainLogName, message);
}

void WriteDebugLog(std::string_view line) {
  std::lock_guard lock(debugMutex);
  if (DebugWindowSink) DebugWindowSink(std::string(line));
  if (DebugToFile && !ProgDir.empty()) AppendLine(ProgDir + TraceLogName, line);
}

void SetDebugWindowSink(std::function<void(const std::string&)> sink) {
  std::lock_guard lock(debugMutex);
  DebugWindowSink = std::move(sink);
}
