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

std::vector<std::string> TakeUserNotices() {
  std::lock_guard lock(noticeMutex);
  std::vector<std::string> out;
  out.swap(notices);
  return out;
}
