#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "mainwin/startup.h"
#include "platform/ini_file.h"
#include "platform/string_list.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// Runs the real program in its own program folder on the offscreen platform.
pid_t StartProgram(const std::string& home, std::vector<std::string> args) {
  std::vector<std::string> env = {"VANTORA_HOME=" + home, "QT_QPA_PLATFORM=offscreen",
                                  "HOME=" + home, "XDG_RUNTIME_DIR=" + home};
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string exe = std::string(VN_BINARY_DIR) + "/vantora";
  args.insert(args.begin(), exe);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0) return -1;
  return pid;
}

// Waits for the process; -1 when it is still running at the deadline.
int WaitExit(pid_t pid, int timeoutMs) {
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
  ~ChildGuard() {
    if (pid > 0 && WaitExit(pid, 0) == -1) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
};

// The running copy's socket in the runtime folder; empty while there is none.
std::string GuardSocket(const fs::path& dir) {
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec))
    if (e.is_socket(ec) && e.path().filename().string().rfind("Vantrx-", 0) == 0) return e.path().string();
  return {};
}

std::string Slurp(const std::string& path) {
  std::string s;
  ReadWholeFile(path, s);
  return s;
}

}  // namespace

TEST(Startup, SwitchesAreReadInAnyCase) {
  const char* argv[] = {"vantora", "html=C:/x/page.htm", "debug", "ADS", "Deadlocks", "demo", "other"};
  StartupSwitches s = ParseStartupSwitches(7, argv);
  EXPECT_EQ(s.HtmlFile, "C:/x/page.htm");
  EXPECT_TRUE(s.Debug && s.Ads && s.Deadlocks && s.Demo);
}

TEST(Startup, SecondCopyHandsOverAndTheFirstClosesCleanly) {
  fs::path home = fs::temp_directory_path() / ("vn_start_" + std::to_string(::getpid()));
  fs::remove_all(home);
  fs::create_directories(home);
  std::string dir = home.string() + "/";

  ChildGuard first{StartProgram(dir, {"LOG"})};
  ASSERT_GT(first.pid, 0);
  // The second copy starts only once the first holds the guard, in its runtime folder.
  std::string socket;
  for (int i = 0; i < 400 && socket.empty() && WaitExit(first.pid, 0) == -1; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    socket = GuardSocket(home);
  }
  ASSERT_FALSE(socket.empty()) << "the first copy never claimed its guard";
  EXPECT_EQ(fs::status(socket).permissions() & (fs::perms::group_all | fs::perms::others_all), fs::perms::none);

  ChildGuard second{StartProgram(dir, {"LOG"})};
  ASSERT_GT(second.pid, 0);
  ASSERT_EQ(WaitExit(second.pid, 20000), 0);
  second.pid = -1;
  EXPECT_NE(Slurp(dir + "stocks.log").find("dup found! terminating"), std::string::npos);
  EXPECT_EQ(WaitExit(first.pid, 0), -1) << "the first copy must still run";

  kill(first.pid, SIGTERM);
  EXPECT_EQ(WaitExit(first.pid, 20000), 0);
  first.pid = -1;
  // The program folder was seeded and the settings file written on close.
  EXPECT_TRUE(fs::exists(dir + "params.par"));
  IniFile ini(dir + "STOCKS.INI");
  EXPECT_EQ(ini.ReadString("Stocks", "CurView", ""), "Default");
  std::string log = Slurp(dir + "stocks.log");
  EXPECT_NE(log.find("START"), std::string::npos);
  EXPECT_NE(log.find("Final"), std::string::npos);
  fs::remove_all(home);
}
