#pragma once
// A private X server (Xvfb) for one test executable, for what only a real display server shows
// (the stacking of other programs' windows, screenshots of several windows). Register it before
// the program folder environment, so the application object is made on Qt's xcb platform and
// talks to this server. Xvfb picks a free display itself; the server ends with the executable.
// Tests that need it skip when Xvfb is not installed. With a window manager (openbox) asked
// for, places, stacking and window states are those a user's desktop gives; tests that need it
// skip when WindowManager() is false.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

class PrivateXServerEnvironment : public ::testing::Environment {
public:
  explicit PrivateXServerEnvironment(bool windowManager = false) : wantWindowManager_(windowManager) {}

  // The display name (":N"), or empty when no server runs.
  static const std::string& Display() { return display_; }
  // True when a window manager manages this server's windows.
  static bool WindowManager() { return wmPid_ > 0; }

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
    // No test draws with OpenGL, and the GL driver's library keeps a buffer the sanitizers
    // report as a leak once Qt has unloaded it.
    setenv("QT_XCB_GL_INTEGRATION", "none", 0);
    if (wantWindowManager_) StartWindowManager();
  }

  void TearDown() override { Stop(); }

private:
  // openbox runs its start-up command once it manages the screen: that command touches a file.
  void StartWindowManager() {
    char dirTemplate[] = "/tmp/vn-wm-XXXXXX";
    if (!mkdtemp(dirTemplate)) return;
    const std::string dir = dirTemplate;
    const std::string ready = dir + "/ready";
    const std::string startup = "touch " + ready;
    const int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    wmPid_ = fork();
    if (wmPid_ == 0) {
      if (devnull >= 0) {
        dup2(devnull, STDOUT_FILENO);
        dup2(devnull, STDERR_FILENO);
      }
      execlp("openbox", "openbox", "--sm-disable", "--startup", startup.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    if (devnull >= 0) close(devnull);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::error_code ec;
    while (wmPid_ > 0 && !std::filesystem::exists(ready, ec)) {
      if (waitpid(wmPid_, nullptr, WNOHANG) == wmPid_) {
        wmPid_ = -1;  // not installed, or it could not take the screen
        break;
      }
      if (std::chrono::steady_clock::now() > deadline) {
        StopWindowManager();
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::filesystem::remove_all(dir, ec);
  }

  void StopWindowManager() {
    if (wmPid_ > 0) {
      kill(wmPid_, SIGTERM);
      waitpid(wmPid_, nullptr, 0);
    }
    wmPid_ = -1;
  }

  void Stop() {
    StopWindowManager();
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
    display_.clear();
  }

  bool wantWindowManager_ = false;
  pid_t pid_ = -1;
  static inline pid_t wmPid_ = -1;
  static inline std::string display_;
};
