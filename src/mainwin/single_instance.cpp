#include "mainwin/single_instance.h"

#include <QLocalServer>
#include <QLocalSocket>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <cstdlib>
#include <functional>
#include <thread>

#include "core/instance_guard.h"

namespace {

int OpenLockFile(const std::string& path) {
  return ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
}

}  // namespace

// One copy per user and program folder: a separate folder is a separate installation.
SingleInstance::SingleInstance(const std::string& name, const std::string& progDir) {
  name_ = InstanceGuardStem(progDir, name);
}

SingleInstance::~SingleInstance() {
  server_.reset();
  if (lockFd_ >= 0) ::close(lockFd_);
  if (presenceFd_ >= 0) ::close(presenceFd_);
}

bool SingleInstance::EnterPresence() {
  if (presenceFd_ < 0) presenceFd_ = OpenLockFile(name_ + ".run");
  if (presenceFd_ < 0) return true;
  // Alone when nobody else holds it shared; then held shared like every other copy.
  const bool alone = ::flock(presenceFd_, LOCK_EX | LOCK_NB) == 0;
  ::flock(presenceFd_, LOCK_SH);
  return alone;
}

bool SingleInstance::TryLock() {
  if (lockFd_ >= 0) return true;
  const int fd = OpenLockFile(name_ + ".lock");
  // A guard that cannot even be opened cannot tell two copies apart: no copy may run.
  if (fd < 0) {
    openError_ = std::strerror(errno);
    return false;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  lockFd_ = fd;
  return true;
}

bool SingleInstance::KnockHolder(int waitMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    if (AnotherIsRunning()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

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
  if (lockFd_ < 0) return false;
  server_ = std::make_unique<QLocalServer>();
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  // Only the guard's holder gets here: a socket left behind is a crashed copy's.
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
