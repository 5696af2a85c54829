#include "ads/update/restart.h"

#include <unistd.h>

#include <QProcess>
#include <QStringList>

#include <cerrno>

#include "core/program_state.h"
#include "core/text_helpers.h"

std::vector<std::string> UpdaterArguments(const std::string& newExe, const std::string& runningExe, double version) {
  return {newExe, runningExe, VersionText(version)};
}

int StartUpdater(const std::string& newExe, const std::string& runningExe, double version) {
  const std::string program = ProgDir + UpdaterFileName;
  if (::access(program.c_str(), X_OK) != 0) return errno ? errno : ENOENT;
  QStringList args;
  for (const std::string& a : UpdaterArguments(newExe, runningExe, version)) args << QString::fromStdString(a);
  // Never through a shell: the paths go to the updater as they are.
  return QProcess::startDetached(QString::fromStdString(program), args, QString::fromStdString(ProgDir)) ? 0 : ECHILD;
}
