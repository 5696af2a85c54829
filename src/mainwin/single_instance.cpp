#include "mainwin/single_instance.h"

#include <QLocalServer>
#include <QLocalSocket>

#include <unistd.h>

#include <cstdlib>
#include <functional>

namespace {

// The user's own runtime folder when there is one (not writable by others); else the program
// folder. Never a shared folder such as /tmp, where another user could take the name first.
std::string GuardFolder(const std::string& progDir) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime && ::access(runtime, W_OK | X_OK) == 0) return runtime;
  return progDir;
}

}  // namespace

// One copy per user and program folder: a separate folder is a separate installation.
SingleInstance::SingleInstance(const std::string& name, const std::string& progDir) {
  std::string dir = GuardFolder(progDir);
  if (!dir.empty() && dir.back() != '/') dir += '/';
  name_ = dir + name + "-" + std::to_string(::getuid()) + "-" + std::to_string(std::hash<std::string>{}(progDir));
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::AnotherIsRunning() {
  QLocalSocket socket;
  socket.connectToServer(QString::fromStdString(name_));
  if (!socket.waitForConnected(500)) return false;
  socket.write("Vantrx\n");
  socket.waitForBytesWritten(500);
  socket.disconnectFromServer();
  return true;
}

bool SingleInstance::Claim(std::function<void()> onActivate) {
  // A copy started since our first look answers now; its socket must not be removed.
  if (AnotherIsRunning()) return false;
  server_ = std::make_unique<QLocalServer>();
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  // A copy that crashed leaves its socket behind; nobody answered on it, so take it over.
  QLocalServer::removeServer(QString::fromStdString(name_));
  if (!server_->listen(QString::fromStdString(name_))) {
    server_.reset();
    return false;
  }
  QObject::connect(server_.get(), &QLocalServer::newConnection, server_.get(), [this, onActivate] {
    while (QLocalSocket* s = server_->nextPendingConnection()) {
      QObject::connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
      if (onActivate) onActivate();
    }
  });
  return true;
}
