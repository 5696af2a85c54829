#pragma once
// A private X server (Xvfb) for one test executable, for what only a real display server shows
// (the stacking of other programs' windows, screenshots of several windows). Register it before
// the program folder environment, so the application object is made on Qt's xcb platform and
// talks to this server. Xvfb picks a free display itself; the server ends with the executable.
// Tests that need it skip when Xvfb is not installed.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

class PrivateXServerEnvironment : public ::testing::Environment {
public:
  // The display name (":N"), or empty when no server runs.
  static const std::string& Display() { return display_; }

  void SetUp() override {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    // Everything the child needs is made before the fork.
    const std::string fd = std::to_string(fds[1]);
    const int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    pid_ = fork();
    if (pid_ == 0) {
      fcntl(fds[1], F_SETFD, 0);  // the display number comes back through it
      if (devnull >= 0) {
        dup2(devnull, STDOUT_FILENO);
        dup2(devnull, STDERR_FILENO);
      }
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
             static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    if (devnull >= 0) close(devnull);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    // Xvfb writes the display number once it accepts clients.
    while (pid_ > 0 && poll(&p, 1, 20000) > 0) {
      char c = 0;
      if (read(fds[0], &c, 1) != 1 || c == '\n') break;
      number += c;
    }
    close(fds[0]);
    if (number.empty()) {
      Stop();
      return;
    }
    display_ = ":" + number;
    setenv("DISPLAY", display_.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
  }

  void TearDown() override { Stop(); }

private:
  void Stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
    display_.clear();
  }

  pid_t pid_ = -1;
  static inline std::string display_;
};
