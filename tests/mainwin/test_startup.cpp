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
  while (std::chrono::steady_clock::now() < end) {
    int status = 0;
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return -1;
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

  pid_t first = StartProgram(dir, {"LOG"});
  ASSERT_GT(first, 0);
  // A second start without ALLOWDUP ends at once once the first one is up.
  bool handedOver = false;
  for (int i = 0; i < 100 && !handedOver; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    pid_t second = StartProgram(dir, {"LOG"});
    ASSERT_GT(second, 0);
    ASSERT_EQ(WaitExit(second, 20000), 0);
    handedOver = Slurp(dir + "stocks.log").find("dup found! terminating") != std::string::npos;
  }
  EXPECT_TRUE(handedOver);
  EXPECT_EQ(WaitExit(first, 0), -1) << "the first copy must still run";

  kill(first, SIGTERM);
  EXPECT_EQ(WaitExit(first, 20000), 0);
  // The program folder was seeded and the settings file written on close.
  EXPECT_TRUE(fs::exists(dir + "params.par"));
  IniFile ini(dir + "STOCKS.INI");
  EXPECT_EQ(ini.ReadString("Stocks", "CurView", ""), "Default");
  std::string log = Slurp(dir + "stocks.log");
  EXPECT_NE(log.find("START"), std::string::npos);
  EXPECT_NE(log.find("Final"), std::string::npos);
  fs::remove_all(home);
}
