#include "windows/browser/browser_control.h"

#include <QApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QThread>

#include "windows/browser/web_engine_browser_control.h"

namespace {

// The engine renders in a helper program and ends the whole process when it cannot find it, so
// look where the engine looks before making a control.
bool EngineHelperPresent() {
  const QString fromEnv = qEnvironmentVariable("QTWEBENGINEPROCESS_PATH");
  if (!fromEnv.isEmpty()) return QFileInfo(fromEnv).isExecutable();
  const QString name = QStringLiteral("/QtWebEngineProcess");
  return QFileInfo(QLibraryInfo::path(QLibraryInfo::LibraryExecutablesPath) + name).isExecutable() ||
         QFileInfo(QCoreApplication::applicationDirPath() + name).isExecutable();
}

}  // namespace

bool BrowserControlAvailable() {
  if (qEnvironmentVariableIsSet("VANTORA_NO_BROWSER")) return false;
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return false;
  static const bool helperPresent = EngineHelperPresent();
  return helperPresent;
}

BrowserControl* CreateBrowserControl(QWidget* parent) {
  if (!BrowserControlAvailable() || QThread::currentThread() != QCoreApplication::instance()->thread()) {
    return nullptr;
  }
  return new WebEngineBrowserControl(parent);
}
