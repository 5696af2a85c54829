#include "ads/update/restart.h"

#include <unistd.h>

#include <QProcess>
#include <QStringList>

#include <cerrno>
#include <filesystem>

#include "core/program_state.h"
#include "core/text_helpers.h"

namespace fs = std::filesystem;

bool CanSwapExecutable(const std::string& path) {
  std::error_code ec;
  const fs::path p = fs::weakly_canonical(fs::path(path), ec);
  if (ec || !fs::is_regular_file(p, ec)) return false;
  const std::string s = p.string();
  for (const char* prefix : {"/usr/", "/bin/", "/sbin/", "/lib/", "/lib32/", "/lib64/", "/libx32/", "/opt/", "/etc/",
                             "/boot/", "/snap/", "/nix/", "/var/lib/", "/app/"})
    if (s.rfind(prefix, 0) == 0) return false;
  return ::access(s.c_str(), W_OK) == 0 && ::access(p.parent_path().c_str(), W_OK | X_OK) == 0;
}

std::vector<std::string> UpdaterArguments(const std::string& newExe, const std::string& runningExe, double version) {
  return {newExe, runningExe, VersionText(version)};
}

int StartUpdater(const std::string& newExe, const std::string& runningExe, double version) {
  const std::string program = ProgDir + UpdaterName;
  if (::access(program.c_str(), X_OK) != 0) return errno ? errno : ENOENT;
  QStringList args;
  for (const std::string& a : UpdaterArguments(newExe, runningExe, version)) args << QString::fromStdString(a);
  // Never through a shell: the paths go to the updater as they are.
  return QProcess::startDetached(QString::fromStdString(program), args, QString::fromStdString(ProgDir)) ? 0 : ECHILD;
}
