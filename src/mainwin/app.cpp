#include "mainwin/app.h"

#include <exception>
#include <string>

#include "core/log.h"

void AppException(const char* message) { WriteLog(std::string("App Exception: ") + message); }

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& ex) {
    AppException(ex.what());
  } catch (...) {
    AppException("unknown exception");
  }
  return false;
}
