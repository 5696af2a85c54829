#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <sched.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "common/fake_site.h"
#include "mainwin/startup.h"
#include "platform/ini_file.h"
#include "platform/string_list.h"
#include "private_mount.h"
#include "run_program.h"

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
  ASSERT_EQ(second.Wait(20000), 0);
  // The second copy added its line to the first copy's log and left the first one's lines.
  const std::string shared = Slurp(dir + "stocks.log");
  EXPECT_NE(shared.find("dup found! terminating"), std::string::npos);
  EXPECT_LT(shared.find("MainForm Create"), shared.find("dup found! terminating"));
  EXPECT_EQ(shared.find("Log File Start"), shared.rfind("Log File Start"));
  EXPECT_EQ(WaitExit(first.pid, 0), -1) << "the first copy must still run";

  kill(first.pid, SIGTERM);
  EXPECT_EQ(first.Wait(20000), 0);
  // The program folder was seeded and the settings file written on close.
  EXPECT_TRUE(fs::exists(dir + "params.par"));
  IniFile ini(dir + "STOCKS.INI");
  EXPECT_EQ(ini.ReadString("Stocks", "CurView", ""), "Default");
  std::string log = Slurp(dir + "stocks.log");
  EXPECT_NE(log.find("START"), std::string::npos);
  EXPECT_NE(log.find("Final"), std::string::npos);
}

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

  for (int run = 0; run < 2; ++run) ASSERT_NO_FATAL_FAILURE(RunUntilLoadedAndClose(dir)) << run;
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
    EXPECT_EQ(winner.Wait(20000), 0);
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
  EXPECT_EQ(second.Wait(20000), 0);
  EXPECT_EQ(first.Wait(20000), 0);
}

namespace {

// Waits until a child has written the text to the pipe it writes its standard error to.
std::string ReadUntil(int fd, const std::string& text, int timeoutMs) {
  std::string got;
  ::fcntl(fd, F_SETFL, O_NONBLOCK);
  for (int waited = 0; waited < timeoutMs && got.find(text) == std::string::npos; waited += 20) {
    char buf[512];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) got.append(buf, static_cast<size_t>(n));
    else std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return got;
}

}  // namespace

TEST(Startup, EmptyFilesNeverReplaceTheirBackupsAndOurBinariesComeIn) {
  TempHome temp("empty");
  const std::string dir = temp.path.string() + "/";
  const std::string port = "Mine|PORT1||IBM;100;123.45;0;0;0;bought in May\r\n";
  ASSERT_TRUE(WriteFileAtomic(dir + "PORT.DAT", ""));
  ASSERT_TRUE(WriteFileAtomic(dir + "PORT.DA_", port));
  ASSERT_TRUE(WriteFileAtomic(dir + "STOCKS.INI", ""));
  ASSERT_TRUE(WriteFileAtomic(dir + "STOCKS.IN_", "[Stocks]\r\nRefreshSecs=45\r\n"));
  ASSERT_TRUE(WriteFileAtomic(dir + "vnupdexe", "the user's own"));  // never replaced
  for (int run = 0; run < 2; ++run) {
    ASSERT_NO_FATAL_FAILURE(RunUntilLoadedAndClose(dir)) << run;
    if (run == 0) {
      const std::string log = Slurp(dir + "stocks.log");
      EXPECT_NE(log.find("STOCKS.INI was empty; the backup STOCKS.IN_ is used"), std::string::npos) << log;
      EXPECT_NE(log.find("PORT.DAT was empty; the backup PORT.DA_ is used"), std::string::npos) << log;
    }
  }
  EXPECT_EQ(Slurp(dir + "PORT.DAT"), port);
  EXPECT_EQ(Slurp(dir + "PORT.DA_"), port);
  EXPECT_EQ(IniFile(dir + "STOCKS.INI").ReadInteger("Stocks", "RefreshSecs", 0), 45);
  EXPECT_EQ(IniFile(dir + "STOCKS.IN_").ReadInteger("Stocks", "RefreshSecs", 0), 45);
  // A folder the user made gets our support library; the updater the user put there stays.
  EXPECT_EQ(Slurp(dir + "librirudid.so"), Slurp(std::string(VN_BINARY_DIR) + "/librirudid.so"));
  EXPECT_EQ(Slurp(dir + "vnupdexe"), "the user's own");
}

TEST(Startup, AFullDiskLeavesNoEmptyStarterFileAndTheNextStartCopiesThem) {
  TempHome temp("full");
  TempHome runtime("full_run");
  const std::string dir = temp.path.string() + "/";
  const std::vector<std::string> env = {"VANTORA_HOME=" + dir, "HOME=" + runtime.path.string(),
                                        "XDG_RUNTIME_DIR=" + runtime.path.string()};
  PrivateMount disk(temp.path.string(), PrivateMount::SmallDisk);
  // Without a mount namespace the disk fills up for the program alone: no file may grow.
  auto start = [&](bool full, int errFd = -1) -> pid_t {
    if (disk.Ok()) return disk.Start(env, {"LOG"}, errFd);
    return PrivateMount::Spawn(
        env, {"LOG"},
        [full] {
          if (!full) return true;
          ::signal(SIGXFSZ, SIG_IGN);
          const rlimit none{0, 0};
          return ::setrlimit(RLIMIT_FSIZE, &none) == 0;
        },
        errFd);
  };
  auto path = [&](const std::string& name) { return disk.Ok() ? disk.Path(name) : dir + name; };
  if (disk.Ok()) FillDisk(path("filler"));

  {
    int err[2];
    ASSERT_EQ(::pipe2(err, O_CLOEXEC), 0);
    ChildGuard copy{start(true, err[1])};
    ::close(err[1]);
    ASSERT_GT(copy.pid, 0);
    // Its guard's socket appears once the main window exists.
    for (int i = 0; i < 600 && GuardSocket(runtime.path).empty() && WaitExit(copy.pid, 0) == -1; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_FALSE(GuardSocket(runtime.path).empty()) << "the program did not start on a full disk";
    kill(copy.pid, SIGTERM);
    // Settings it could not write are said, not taken for written.
    const std::string said = ReadUntil(err[0], "No space left on device).", 20000);
    EXPECT_NE(said.find("Could not write the collected data and the settings in " + dir + ": "),
              std::string::npos)
        << said;
    EXPECT_NE(said.find("STOCKS.INI could not be written (No space left on device)"), std::string::npos) << said;
    EXPECT_EQ(copy.Wait(20000), 0);
    ::close(err[0]);
  }
  for (const char* name : {"menu.par", "popmenu.par", "params.par", "cust.par", "PORT.DAT", "vnupdexe"}) {
    std::error_code ec;
    if (fs::exists(path(name), ec)) {
      EXPECT_GT(fs::file_size(path(name), ec), 0u) << name << " left empty";
    }
  }

  if (disk.Ok()) fs::remove(path("filler"));
  ChildGuard copy{start(false)};
  ASSERT_GT(copy.pid, 0);
  ASSERT_TRUE(WaitForLogLine(copy.pid, path("stocks.log"), "Loading settings"))
      << WaitExit(copy.pid, 0) << " " << Slurp(path("stocks.log"));
  const std::string log = Slurp(path("stocks.log"));
  EXPECT_EQ(log.find("holds no menu entries"), std::string::npos) << log;
  kill(copy.pid, SIGTERM);
  EXPECT_EQ(copy.Wait(20000), 0);
  for (const char* name : {"menu.par", "popmenu.par"})
    EXPECT_EQ(Slurp(path(name)), Slurp(DefaultDataDir("/nonexistent") + "/" + name)) << name;
}

TEST(Startup, AReadOnlyFolderIsSaidAndTheProgramEndsAtOnce) {
  TempHome temp("readonly");
  const std::string dir = temp.path.string() + "/";
  const std::vector<std::string> env = {"VANTORA_HOME=" + dir, "HOME=" + dir, "XDG_RUNTIME_DIR=" + dir};
  PrivateMount ro(temp.path.string(), PrivateMount::ReadOnly);
  if (!ro.Ok()) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes to any folder, and " << ro.Why();
    fs::permissions(temp.path, fs::perms::owner_read | fs::perms::owner_exec);
  }
  int err[2];
  ASSERT_EQ(::pipe2(err, O_CLOEXEC), 0);
  ChildGuard copy{ro.Ok() ? ro.Start(env, {"LOG"}, err[1]) : PrivateMount::Spawn(env, {"LOG"}, {}, err[1])};
  ::close(err[1]);
  ASSERT_GT(copy.pid, 0);
  const std::string said = ReadUntil(err[0], "cannot be written", 10000);
  EXPECT_NE(said.find("The program folder " + dir + " cannot be written: "), std::string::npos) << said;
  // The box that says it too ends with the session.
  kill(copy.pid, SIGTERM);
  EXPECT_EQ(copy.Wait(10000), 1);
  ::close(err[0]);
  fs::permissions(temp.path, fs::perms::owner_all);
}

TEST(Startup, TheEndOfTheSessionEndsTheProgramWhateverBoxIsOpen) {
  TempHome temp("boxes");
  const std::string dir = temp.path.string() + "/";
  // Streaming with a damaged support library says "LoadDLL Error" in a box of its own; the
  // survey reminder asks in a modal box.
  ASSERT_TRUE(WriteFileAtomic(dir + "librirudid.so", "not a library"));
  ASSERT_TRUE(WriteFileAtomic(dir + "STOCKS.INI", "[Stocks]\r\nStreamFile=IsldStr.Par\r\n"));
  ASSERT_TRUE(WriteFileAtomic(dir + "survey.par", "QUESTION1=Why?\r\n"));
  fs::create_directories(dir + ".config/vantora");
  ASSERT_TRUE(WriteFileAtomic(dir + ".config/vantora/registry.ini", "[\\SOFTWARE\\4HB\\Vantora]\r\nSREMIND=1\r\n"));
  ChildGuard copy{StartProgram(dir, {"LOG"})};
  ASSERT_GT(copy.pid, 0);
  ASSERT_TRUE(WaitForLogLine(copy.pid, dir + "stocks.log", "LoadDLL Error"));
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // the reminder comes with the housekeeping
  kill(copy.pid, SIGTERM);
  EXPECT_EQ(copy.Wait(20000), 0) << "a box kept the program alive";
  EXPECT_NE(Slurp(dir + "stocks.log").find("Main window closed"), std::string::npos);
}

TEST(Startup, TheFirstWindowSizeFollowsTheScreenAndAStoredOneWins) {
  TempHome temp("screen");
  const std::string dir = temp.path.string() + "/";
  ASSERT_TRUE(WriteFileAtomic(dir + "screen.json",
                              R"({"screens": [{"name": "Desk", "x": 0, "y": 0, "width": 1600, "height": 1000,)"
                              R"( "logicalDpiX": 96, "logicalDpiY": 96, "dpr": 1}]})"));
  const std::vector<std::string> env = {"VANTORA_HOME=" + dir, "HOME=" + dir, "XDG_RUNTIME_DIR=" + dir,
                                        "QT_QPA_PLATFORM=offscreen:configfile=" + dir + "screen.json"};
  auto run = [&] {
    ChildGuard copy{StartProgramWith(env, {"LOG"})};
    ASSERT_GT(copy.pid, 0);
    ASSERT_TRUE(WaitForLogLine(copy.pid, dir + "stocks.log", "Loading settings"));
    kill(copy.pid, SIGTERM);
    ASSERT_EQ(copy.Wait(20000), 0);
  };
  ASSERT_NO_FATAL_FAILURE(run());
  IniFile first(dir + "STOCKS.INI");
  EXPECT_EQ(first.ReadInteger("MainForm", "Width", 0), 1280);
  EXPECT_EQ(first.ReadInteger("MainForm", "Height", 0), 800);
  ASSERT_TRUE(first.WriteString("MainForm", "Width", "700"));
  ASSERT_TRUE(first.WriteString("MainForm", "Height", "500"));
  fs::remove(dir + "stocks.log");
  ASSERT_NO_FATAL_FAILURE(run());
  IniFile second(dir + "STOCKS.INI");
  EXPECT_EQ(second.ReadInteger("MainForm", "Width", 0), 700);
  EXPECT_EQ(second.ReadInteger("MainForm", "Height", 0), 500);
}

// With too few file handles the program says so and ends with status 1; it does not abort.
TEST(Startup, TooFewFileHandlesEndWithAClearMessage) {
  TempHome temp("handles");
  const std::string dir = temp.path.string() + "/";
  int err[2];
  ASSERT_EQ(::pipe2(err, O_CLOEXEC), 0);
  ChildGuard copy{SpawnProgram({"VANTORA_HOME=" + dir, "HOME=" + dir, "XDG_RUNTIME_DIR=" + dir}, {"LOG"},
                               [] {
                                 const rlimit few{12, 12};
                                 return ::setrlimit(RLIMIT_NOFILE, &few) == 0;
                               },
                               err[1])};
  ::close(err[1]);
  ASSERT_GT(copy.pid, 0);
  EXPECT_EQ(copy.Wait(30000), 1);
  std::string said;
  char buf[512];
  for (ssize_t n; (n = ::read(err[0], buf, sizeof buf)) > 0;) said.append(buf, static_cast<size_t>(n));
  ::close(err[0]);
  EXPECT_NE(said.find("Too few file handles"), std::string::npos) << said;
}

// A save that fails when the session ends by signal (here past a file-size limit, which no longer
// ends the program) leaves a note; the next start says it in its box and removes the note.
TEST(Startup, ASaveThatFailedAtASessionEndIsSaidAtTheNextStart) {
  TempHome temp("savefail");
  const std::string dir = temp.path.string() + "/";
  std::string filler = "[Filler]\r\n";
  for (int i = 0; filler.size() < 3000; ++i) filler += "Key" + std::to_string(i) + "=some value to fill the file\r\n";
  ASSERT_TRUE(WriteFileAtomic(dir + "STOCKS.INI", filler + "\r\n"));
  {
    ChildGuard copy{SpawnProgram({"VANTORA_HOME=" + dir, "HOME=" + dir, "XDG_RUNTIME_DIR=" + dir}, {"LOG"}, [] {
      const rlimit small{2048, 2048};
      return ::setrlimit(RLIMIT_FSIZE, &small) == 0;
    })};
    ASSERT_GT(copy.pid, 0);
    for (int i = 0; i < 600 && GuardSocket(temp.path).empty() && WaitExit(copy.pid, 0) == -1; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_FALSE(GuardSocket(temp.path).empty()) << "the program did not start under a file-size limit";
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // past the first activation
    kill(copy.pid, SIGTERM);
    ASSERT_EQ(copy.Wait(20000), 0);
  }
  EXPECT_NE(Slurp(dir + "save-failed.txt").find("Could not write the settings"), std::string::npos);
  ASSERT_NO_FATAL_FAILURE(RunUntilLoadedAndClose(dir));
  const std::string log = Slurp(dir + "stocks.log");
  EXPECT_NE(log.find("When the program last ended, its save failed: Could not write the settings"), std::string::npos)
      << log;
  EXPECT_FALSE(fs::exists(dir + "save-failed.txt"));
}

// A run with logging on, a banner shown and the quote server on, ended by the session: every
// unit writes its closing lines once, after the main window has closed.
TEST(Startup, EveryUnitClosesOnceAfterTheMainWindow) {
  FakeSite ads("ads");
  ASSERT_TRUE(ads.Running());
  TempHome temp("units");
  const std::string dir = temp.path.string() + "/", log = dir + "stocks.log";
  ASSERT_TRUE(WriteFileAtomic(dir + "reklama.par", "AD1SORC1=" + ads.Host() + "/banner1.gif\r\nAD1HREF1=http://" +
                                                       ads.Host() + "/click/1\r\nADTIMR1=5\r\nADWGHT1=1\r\n"
                                                       "ADLOCT1=1\r\nADREDIR1=N\r\n"));
  ASSERT_TRUE(WriteFileAtomic(dir + "STOCKS.INI", "[VNServer]\r\nActive=YES\r\nPort=0\r\n"));
  ChildGuard copy{StartProgram(dir, {"LOG"})};
  ASSERT_GT(copy.pid, 0);
  ASSERT_TRUE(WaitForLogLine(copy.pid, log, "ADS - GOT A GIF! at ")) << Slurp(log);
  kill(copy.pid, SIGTERM);
  ASSERT_EQ(copy.Wait(20000), 0);
  const std::string s = Slurp(log);
  // Started at start, not at first use.
  EXPECT_LT(s.find("ChartU Init"), s.find("ADS - GOT A GIF!"));
  const size_t closed = s.find("Main window closed");
  ASSERT_NE(closed, std::string::npos);
  for (const char* line : {"AGifFinal\r\n", "AGifFinalZ\r\n", "WinShoes\r\n", "WinShoesZ\r\n"}) {
    EXPECT_EQ(Count(s, line), 1) << line;
    EXPECT_GT(s.find(line), closed) << line;
  }
}
