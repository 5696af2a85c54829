#include "windows/browser/browser_environment.h"

#include <QCoreApplication>

#include <cstdlib>
#include <sstream>
#include <unistd.h>

namespace {

// The program only ever shows pages it is sent to; the engine's own background fetches
// (component updates, safe-browsing lists) have no business on a quote monitor's connection.
const char* const kEngineFlags[] = {"--disable-background-networking"};

bool HasFlag(const std::string& flags, const std::string& flag) {
  std::istringstream words(flags);
  std::string word;
  while (words >> word) {
    if (word == flag || word.rfind(flag + "=", 0) == 0) return true;
  }
  return false;
}

}  // namespace

std::string WithBrowserEngineFlags(const std::string& flags) {
  std::string result = flags;
  for (const char* flag : kEngineFlags) {
    if (HasFlag(result, flag)) continue;
    if (!result.empty() && result.back() != ' ') result += ' ';
    result += flag;
  }
  return result;
}

void PrepareBrowserEnvironment() {
  // The engine renders through a context shared with the widgets; this can only be set before
  // the application object exists.
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  // The engine's sandbox cannot run as root and the engine refuses to start with it there.
  if (geteuid() == 0) setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
  const char* current = std::getenv("QTWEBENGINE_CHROMIUM_FLAGS");
  setenv("QTWEBENGINE_CHROMIUM_FLAGS", WithBrowserEngineFlags(current ? current : "").c_str(), 1);
}
