#pragma once
// Runs the real program in a program folder of its own, for the tests that start it as the user
// does and look at the files it leaves.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/string_list.h"

namespace fs = std::filesystem;

// Runs the real program with that environment (and working folder) on the offscreen platform.
inline pid_t StartProgramWith(std::vector<std::string> env, std::vector<std::string> args, const std::string& cwd = {}) {
  if (std::none_of(env.begin(), env.end(), [](const std::string& e) { return e.rfind("QT_QPA_PLATFORM=", 0) == 0; }))
    env.push_back("QT_QPA_PLATFORM=offscreen");
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string exe = std::string(VN_BINARY_DIR) + "/vantora";
  args.insert(args.begin(), exe);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

// Runs the real program in its own program folder.
inline pid_t StartProgram(const std::string& home, std::vector<std::string> args) {
  return StartProgramWith({"VANTORA_HOME=" + home, "HOME=" + home, "XDG_RUNTIME_DIR=" + home}, std::move(args));
}

// Waits for the process; -1 when it is still running at the deadline.
inline int WaitExit(pid_t pid, int timeoutMs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  // Looks at least once, so a zero timeout asks whether it still runs.
  for (;;) {
    int status = 0;
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (std::chrono::steady_clock::now() >= end) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// Ends a child left running when a check fails before its own end.
struct ChildGuard {
  pid_t pid = -1;
  // Its exit code once it ended within timeoutMs (it is then no longer guarded), else -1.
  int Wait(int timeoutMs) {
    const int rc = WaitExit(pid, timeoutMs);
    if (rc != -1) pid = -1;
    return rc;
  }
  ~ChildGuard() {
    if (pid > 0 && WaitExit(pid, 0) == -1) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
};

// The running copy's socket in the runtime folder; empty while there is none.
inline std::string GuardSocket(const fs::path& dir) {
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec))
    if (e.is_socket(ec) && e.path().filename().string().rfind("Vantrx-", 0) == 0) return e.path().string();
  return {};
}

// A fresh program folder for one test, removed when the test ends, also when it fails.
struct TempHome {
  fs::path path;
  explicit TempHome(const std::string& name)
      : path(fs::temp_directory_path() / ("vn_" + name + "_" + std::to_string(::getpid()))) {
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~TempHome() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

inline std::string Slurp(const std::string& path) {
  std::string s;
  ReadWholeFile(path, s);
  return s;
}

// Waits until the file holds the text; false when the process ended or the deadline passed.
inline bool WaitForLogLine(pid_t pid, const std::string& log, const std::string& text, int count = 1, int timeoutMs = 30000) {
  for (int waited = 0; waited < timeoutMs; waited += 50) {
    const std::string s = Slurp(log);
    int found = 0;
    for (size_t at = s.find(text); at != std::string::npos; at = s.find(text, at + 1)) ++found;
    if (found >= count) return true;
    if (WaitExit(pid, 0) != -1) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

// One start that reads the folder's files and is closed by the session's end; the log is this
// run's alone.
inline void RunUntilLoadedAndClose(const std::string& dir) {
  fs::remove(dir + "stocks.log");
  ChildGuard copy{StartProgram(dir, {"LOG"})};
  ASSERT_GT(copy.pid, 0);
  // The files are read in one step after this line; the close request waits for it.
  ASSERT_TRUE(WaitForLogLine(copy.pid, dir + "stocks.log", "Loading settings"));
  kill(copy.pid, SIGTERM);
  ASSERT_EQ(copy.Wait(20000), 0);
}

inline int Count(const std::string& s, const std::string& what) {
  int n = 0;
  for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1)) ++n;
  return n;
}

// Runs the real program; before it starts, the child runs prepare (system calls only) and gives
// up when it fails. errFd, when given, takes its standard error.
inline pid_t SpawnProgram(std::vector<std::string> env, std::vector<std::string> args,
                          const std::function<bool()>& prepare, int errFd = -1) {
  env.push_back("QT_QPA_PLATFORM=offscreen");
  const std::string exe = std::string(VN_BINARY_DIR) + "/vantora";
  args.insert(args.begin(), exe);
  std::vector<char*> argv, envp;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (errFd >= 0) ::dup2(errFd, 2);
    if (prepare && !prepare()) ::_exit(97);
    ::execve(exe.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  return pid;
}
