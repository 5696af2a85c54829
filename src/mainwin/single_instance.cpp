#include "mainwin/single_instance.h"

#include <QLocalServer>
#include <QLocalSocket>

#include <unistd.h>

#include <functional>

// One copy per user and program folder: a separate folder is a separate installation.
SingleInstance::SingleInstance(const std::string& name, const std::string& progDir)
    : name_(name + "-" + std::to_string(::getuid()) + "-" + std::to_string(std::hash<std::string>{}(progDir))) {}

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
  server_ = std::make_unique<QLocalServer>();
  // A copy that crashed leaves its socket behind; nobody answered on it, so take it over.
  QLocalServer::removeServer(QString::fromStdString(name_));
  if (!server_->listen(QString::fromStdString(name_))) return false;
  QObject::connect(server_.get(), &QLocalServer::newConnection, server_.get(), [this, onActivate] {
    while (QLocalSocket* s = server_->nextPendingConnection()) {
      QObject::connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
      if (onActivate) onActivate();
    }
  });
  return true;
}
