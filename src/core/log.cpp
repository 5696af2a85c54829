#include "core/log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>

#include "core/market_clock.h"
#include "core/program_files.h"
#include "core/program_state.h"
#include "platform/datetime.h"
#include "platform/log_text.h"

int LogThreshold = 99;
std::atomic<bool> DebugToFile{false};
std::atomic<bool> DebugScrollStopped{false};

namespace {
std::mutex logMutex;
std::mutex debugMutex;
std::function<void(const std::string&)> DebugWindowSink;  // under debugMutex

// Never through a link (it could point outside the folder): a link in the log's place is removed
// and a new private file made. Non-blocking, so a pipe there cannot hang a writer.
int OpenLog(const std::string& path) {
  constexpr int flags = O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
  int fd = ::open(path.c_str(), flags, 0600);
  if (fd < 0 && errno == ELOOP && ::unlink(path.c_str()) == 0) fd = ::open(path.c_str(), flags, 0600);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

void AppendLine(const std::string& path, std::string_view line) {
  const int fd = OpenLog(path);
  if (fd < 0) return;
  // Every line through here: whatever it quotes stays one line of text.
  const std::string text = FormatDateTime("hh:mm:ss.zzz", LocalNow()) + " " + LogSafeText(line) + "\r\n";
  // One write per line, so two copies appending to one log never interleave inside a line.
  [[maybe_unused]] const ssize_t written = ::write(fd, text.data(), text.size());
  ::close(fd);
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
