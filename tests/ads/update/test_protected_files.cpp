// The files a list may never delete, rename or overwrite, taken from what the real program
// leaves in its folder: every user-data file and backup is protected; definition and parameter
// files, the support library and the updater stay replaceable.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "ads/update/update_plan.h"
#include "core/program_files.h"
#include "platform/string_list.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

// Runs the program on the folder with the LOG switch until it has loaded its settings, then ends
// it as a session end does (it saves on the way out). What went wrong; empty when nothing did.
std::string RunProgramOnce(const std::string& dir) {
  std::vector<std::string> env = {"VANTORA_HOME=" + dir, "HOME=" + dir, "XDG_RUNTIME_DIR=" + dir,
                                  "QT_QPA_PLATFORM=offscreen"};
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  // The log says when the settings are loaded; last run's log must not say it first.
  fs::remove(dir + "stocks.log");
  std::string exe = std::string(VN_BINARY_DIR) + "/vantora", log = "LOG";
  char* argv[] = {exe.data(), log.data(), nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv, envp.data()) != 0) return "cannot start " + exe;
  bool loaded = false;
  for (int i = 0; i < 600 && !loaded; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::string text;
    loaded = ReadWholeFile(dir + "stocks.log", text) && text.find("Dumps loaded") != std::string::npos;
  }
  ::kill(pid, SIGTERM);
  int status = 0;
  for (int i = 0; i < 600; ++i) {
    if (::waitpid(pid, &status, WNOHANG) == pid) {
      if (!loaded) return "the settings were never loaded";
      if (!WIFEXITED(status)) return "ended by signal " + std::to_string(WTERMSIG(status));
      return {};
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  return "it did not end";
}

}  // namespace

TEST(ProtectedNames, EveryFileTheProgramLeaves) {
  const std::string dir = (fs::temp_directory_path() / ("vn_protected_" + std::to_string(::getpid()))).string() + "/";
  fs::remove_all(dir);
  struct Cleanup {
    std::string dir;
    ~Cleanup() {
      std::error_code ec;
      fs::remove_all(dir, ec);
    }
  } cleanup{dir};
  // A new folder: the program makes it and puts its library and updater in.
  ASSERT_EQ(RunProgramOnce(dir), "");
  // A portfolio file the program writes anew on its way out, keeping the old one as the backup.
  std::ofstream(dir + "PORT.DAT") << "Test|PORT1||IBM;100;1;0;0;0;\n";
  ASSERT_EQ(RunProgramOnce(dir), "");

  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.is_regular_file()) names.push_back(e.path().filename().string());
  for (const char* made : {"STOCKS.INI", "STOCKS.IN_", "PORT.DAT", "PORT.DA_", "SDATA.DMP", "stocks.log",
                           "params.par", "librirudid.so", "vnupdexe"})
    EXPECT_NE(std::find(names.begin(), names.end(), made), names.end()) << made << " was not made";

  // A list that deletes every one of them, in its own case and in upper case.
  PlanInput in;
  in.ProgVersion = 2.501;
  in.ExeDefault = "vantora";
  in.RunningExeName = "vantora";
  std::string list;
  for (const std::string& n : names) list += "DELETE " + n + " 0\nDELETE " + UpperCase(n) + " 0\n";
  UpdateFolderView view;
  view.Exists = [](const std::string&) { return true; };
  const UpdatePlan plan = PlanUpdate(list, in, view);
  std::set<std::string> deleted;
  for (const PlanStep& s : plan.Steps) deleted.insert(s.Name);
  for (const std::string& n : names) {
    const bool replaceable = IsUpdateListFile(n) || n == SupportLibraryFileName || n == UpdaterFileName;
    EXPECT_EQ(deleted.count(n) == 1, replaceable) << n;
    EXPECT_EQ(deleted.count(UpperCase(n)) == 1, replaceable) << UpperCase(n);
  }
}
