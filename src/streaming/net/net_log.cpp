#include "net_log.h"

#include <mutex>

#include "platform/log_text.h"
#include <string_view>

namespace vn::net {

namespace {
std::mutex gLogMutex;
std::function<void(const std::string&)> gLogHandler;
}  // namespace

std::string LogLineText(std::string_view text) { return LogSafeText(text); }

void SetNetLogHandler(std::function<void(const std::string&)> handler) {
  std::lock_guard lock(gLogMutex);
  gLogHandler = std::move(handler);
}

void NetLog(const std::string& text) {
  // Our error texts put their number and words on two lines ("Socket Error #10060" CR LF
  // "Connection timed out."): there they share one; every other byte is escaped as in any line.
  std::string joined;
  joined.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      joined += ' ';
      ++i;
    } else {
      joined += text[i];
    }
  }
  const std::string line = LogLineText(joined);
  std::function<void(const std::string&)> handler;
  {
    std::lock_guard lock(gLogMutex);
    handler = gLogHandler;
  }
  if (handler) {
    try {
      handler(line);
    } catch (...) {
      // A failing log sink must not take a socket thread down with it.
    }
  }
}

}  // namespace vn::net
