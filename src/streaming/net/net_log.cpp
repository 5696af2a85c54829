#include "net_log.h"

#include <mutex>

namespace vn::net {

namespace {
std::mutex gLogMutex;
std::function<void(const std::string&)> gLogHandler;
}  // namespace

void SetNetLogHandler(std::function<void(const std::string&)> handler) {
  std::lock_guard lock(gLogMutex);
  gLogHandler = std::move(handler);
}

void NetLog(const std::string& line) {
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
