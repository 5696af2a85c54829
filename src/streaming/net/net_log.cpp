#include "net_log.h"

#include <mutex>
#include <string_view>

namespace vn::net {

namespace {
std::mutex gLogMutex;
std::function<void(const std::string&)> gLogHandler;
}  // namespace

std::string LogLineText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != 0x7F)
      out += static_cast<char>(c);
    else if (!(c == '\n' && i > 0 && text[i - 1] == '\r'))
      out += ' ';
  }
  return out;
}

void SetNetLogHandler(std::function<void(const std::string&)> handler) {
  std::lock_guard lock(gLogMutex);
  gLogHandler = std::move(handler);
}

void NetLog(const std::string& text) {
  // Error texts carry CR LF, and requests any byte; a log line must stay one line.
  const std::string line = LogLineText(text);
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
