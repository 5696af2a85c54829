#include "core/user_notices.h"

#include <mutex>

#include "core/log.h"

namespace {
std::mutex noticeMutex;
std::vector<std::string> notices;
}  // namespace

void AddUserNotice(const std::string& text) {
  WriteLog(text, 0);
  std::lock_guard lock(noticeMutex);
  notices.push_back(text);
}

void LogUserNotices() {
  std::vector<std::string> queued;
  {
    std::lock_guard lock(noticeMutex);
    queued = notices;
  }
  for (const std::string& text : queued) WriteLog(text, 0);
}

std::vector<std::string> TakeUserNotices() {
  std::lock_guard lock(noticeMutex);
  std::vector<std::string> out;
  out.swap(notices);
  return out;
}
