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

// Runs the real program with that environment (and working folder) on the offscreen platform.
pid_t StartProgramWith(std::vector<std::string> env, std::vector<std::string> args, const std::string& cwd = {}) {
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
pid_t StartProgram(const std::string& home, std::vector<std::string> args) {
  return StartProgramWith({"VANTORA_HOME=" + home, "HOME=" + home, "XDG_RUNTIME_DIR=" + home}, std::move(args));
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
  TempHome temp("start");
  const fs::path& home = temp.path;
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
  // The second copy added its line to the first copy's log and left the first one's lines.
  const std::string shared = Slurp(dir + "stocks.log");
  EXPECT_NE(shared.find("dup found! terminating"), std::string::npos);
  EXPECT_LT(shared.find("MainForm Create"), shared.find("dup found! terminating"));
  EXPECT_EQ(shared.find("Log File Start"), shared.rfind("Log File Start"));
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
}

namespace {


// Waits until the file holds the text; false when the process ended or the deadline passed.
bool WaitForLogLine(pid_t pid, const std::string& log, const std::string& text, int count = 1, int timeoutMs = 30000) {
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

int Count(const std::string& s, const std::string& what) {
  int n = 0;
  for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1)) ++n;
  return n;
}

}  // namespace

TEST(Startup, DamagedPortfolioAndSettingsFilesSurviveTwoRuns) {
  TempHome temp("damaged");
  const fs::path& home = temp.path;
  const std::string dir = home.string() + "/";
  const std::string port = "Mine|PORT1||IBM;100;123.45;0;0;0;bought in May\r\n"
                           "Broken|PORT2||IBM;ten;1;1;1;1;n\r\n"
                           "\x01\xfe junk|\xff|\x7f\r\n"
                           "Second|PORT3||MSFT;5;1;0;0;0;\r\n";
  ASSERT_TRUE(WriteFileAtomic(dir + "PORT.DAT", port));
  const std::string settings = "[Stocks]\r\nRefreshSecs=45\r\nCurPort=2\r\n\r\n";
  ASSERT_TRUE(WriteFileAtomic(dir + "STOCKS.IN_", settings));
  const std::string damaged("\x89PNG\r\n\x1a\n\0\0\0\rIHDR binary", 23);
  ASSERT_TRUE(WriteFileAtomic(dir + "STOCKS.INI", damaged));

  for (int run = 0; run < 2; ++run) {
    fs::remove(dir + "stocks.log");  // the line looked for is this run's
    ChildGuard copy{StartProgram(dir, {"LOG"})};
    ASSERT_GT(copy.pid, 0);
    // The files are read in one step after this line; the close request waits for it.
    ASSERT_TRUE(WaitForLogLine(copy.pid, dir + "stocks.log", "Loading settings")) << run;
    kill(copy.pid, SIGTERM);
    ASSERT_EQ(WaitExit(copy.pid, 20000), 0) << run;
    copy.pid = -1;
  }
  // The portfolios as the user left them, damaged lines included.
  EXPECT_EQ(Slurp(dir + "PORT.DAT"), port);
  if (fs::exists(dir + "PORT.DA_")) {
    EXPECT_EQ(Slurp(dir + "PORT.DA_"), port);
  }
  // The settings came back from the backup and stay; the damaged file is kept once, as it was.
  IniFile ini(dir + "STOCKS.INI");
  EXPECT_EQ(ini.ReadInteger("Stocks", "RefreshSecs", 0), 45);
  EXPECT_EQ(ini.ReadInteger("Stocks", "CurPort", 0), 2);
  EXPECT_EQ(IniFile(dir + "STOCKS.IN_").ReadInteger("Stocks", "RefreshSecs", 0), 45);
  int aside = 0;
  for (const auto& e : fs::directory_iterator(home))
    if (e.path().filename().string().rfind("STOCKS.INI.damaged-", 0) == 0) {
      ++aside;
      EXPECT_EQ(Slurp(e.path().string()), damaged);
    }
  EXPECT_EQ(aside, 1);
  for (const char* f : {"STOCKS.INI", "STOCKS.IN_"})
    EXPECT_EQ(fs::status(dir + f).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write) << f;
}

TEST(Startup, CopiesStartedTogetherLeaveOneRunning) {
  // The last round: a relative program folder and no runtime folder.
  for (int round = 0; round < 3; ++round) {
    TempHome temp("together" + std::to_string(round));
    const fs::path& home = temp.path;
    const std::string dir = home.string() + "/";
    std::vector<std::string> env = {"VANTORA_HOME=" + dir, "HOME=" + dir, "XDG_RUNTIME_DIR=" + dir};
    std::string cwd;
    if (round == 2) {
      env = {"VANTORA_HOME=folder", "HOME=" + dir};
      cwd = dir;
    }
    ChildGuard a{StartProgramWith(env, {"LOG"}, cwd)};
    ChildGuard b{StartProgramWith(env, {"LOG"}, cwd)};
    ASSERT_GT(a.pid, 0);
    ASSERT_GT(b.pid, 0);
    int ra = -1, rb = -1;
    for (int i = 0; i < 600 && ra == -1 && rb == -1; ++i) {
      ra = WaitExit(a.pid, 0);
      rb = WaitExit(b.pid, 0);
      if (ra == -1 && rb == -1) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(ra != -1 || rb != -1) << "round " << round << ": both copies keep running";
    ChildGuard& winner = ra == -1 ? a : b;
    EXPECT_EQ(ra == -1 ? rb : ra, 0);
    (ra == -1 ? b : a).pid = -1;
    EXPECT_EQ(WaitExit(winner.pid, 300), -1) << "round " << round << ": the running copy ended";
    const std::string log = (round == 2 ? dir + "folder/" : dir) + "stocks.log";
    EXPECT_NE(Slurp(log).find("dup found! terminating"), std::string::npos) << round;
    kill(winner.pid, SIGTERM);
    EXPECT_EQ(WaitExit(winner.pid, 20000), 0);
    winner.pid = -1;
    }
}

TEST(Startup, ACopyAllowedBesideAnotherAppendsToItsLog) {
  TempHome temp("allowdup");
  const fs::path& home = temp.path;
  const std::string dir = home.string() + "/", log = dir + "stocks.log";
  ChildGuard first{StartProgram(dir, {"LOG"})};
  ASSERT_GT(first.pid, 0);
  ASSERT_TRUE(WaitForLogLine(first.pid, log, "Loading settings"));
  ChildGuard second{StartProgram(dir, {"LOG", "ALLOWDUP"})};
  ASSERT_GT(second.pid, 0);
  ASSERT_TRUE(WaitForLogLine(second.pid, log, "Loading settings", 2));
  const std::string s = Slurp(log);
  // The first copy's own lines are still there, before the second's start.
  EXPECT_EQ(Count(s, "Log File Start"), 2);
  EXPECT_EQ(Count(s, "MainForm Create"), 2);
  EXPECT_LT(s.find("MainForm Create"), s.rfind("Log File Start"));
  kill(second.pid, SIGTERM);
  kill(first.pid, SIGTERM);
  EXPECT_EQ(WaitExit(second.pid, 20000), 0);
  EXPECT_EQ(WaitExit(first.pid, 20000), 0);
  second.pid = first.pid = -1;
}
