// The updater program: waits for the program to end, swaps in the new executable with a backup,
// starts it, and puts the old one back when the new one does not come up. The publishing tool.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QProcess>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <chrono>

#include "ads/update/update_file.h"
#include "core/program_state.h"
#include "platform/messages.h"
#include "platform/string_list.h"
#include "updater/updater_core.h"

namespace fs = std::filesystem;

namespace {

std::string Slurp(const std::string& path) {
  std::string s;
  ReadWholeFile(path, s);
  return s;
}

std::string Tag(const std::string& path) {
  const std::string s = Slurp(path);
  return s.size() >= 3 ? s.substr(s.size() - 3) : "";
}

// A copy of the stand-in program whose file ends with the tag.
void MakeProgram(const std::string& path, const std::string& tag) {
  fs::copy_file(VN_UPDATE_TEST_PROG, path, fs::copy_options::overwrite_existing);
  std::ofstream(path, std::ios::binary | std::ios::app) << tag;
  fs::permissions(path, fs::perms(0755));
}

class Updater : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = fs::weakly_canonical(ProgDir).string();
    if (dir_.back() != '/') dir_ += '/';
    ::setenv("VANTORA_HOME", dir_.c_str(), 1);
    fs::create_directories(dir_ + "app");
    exe_ = dir_ + "app/vantora-test";
    MakeProgram(exe_, "OLD");
    for (const char* n : {"stop", "started-OLD", "started-NEW", "vantora.new", "vnupdexe.log"}) fs::remove(dir_ + n);
    fs::remove_all(exe_ + ".bak");
  }
  void TearDown() override {
    std::ofstream(dir_ + "stop") << "";
    // Whatever copy runs ends now and lets go of the guard.
    EXPECT_TRUE(WaitUntil([this] { return !GuardHeld(dir_) && !ExecutableRunning(exe_); }, nullptr, 30000) ==
                WaitResult::Done);
    fs::remove(dir_ + "stop");
    fs::remove_all(dir_ + "app");
    ::unsetenv("VANTORA_HOME");
  }
  // Runs the updater to its end; its exit code. While the old program runs (release given), the
  // updater must wait and change nothing; release ends the old program.
  int RunUpdaterProgram(const std::string& newExe, const std::function<void()>& release = {},
                        const std::string& exe = {}) {
    QProcess p;
    p.start(VN_UPDATER, {QString::fromStdString(newExe), QString::fromStdString(exe.empty() ? exe_ : exe), "2.5.0"});
    EXPECT_TRUE(p.waitForStarted(10000));
    if (release) {
      EXPECT_FALSE(p.waitForFinished(1000));
      EXPECT_EQ(Tag(exe_), "OLD");
      release();
    }
    EXPECT_TRUE(p.waitForFinished(60000));
    return p.exitCode();
  }
  int HoldGuard() {
    const int fd = ::open(GuardLockPath(dir_).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    return fd;
  }
  bool Started(const char* tag) {
    return WaitUntil([&] { return fs::exists(dir_ + "started-" + tag); }, nullptr, 30000) == WaitResult::Done;
  }
  std::string Log() { return Slurp(dir_ + "vnupdexe.log"); }
  std::string dir_, exe_;
};

}  // namespace

TEST_F(Updater, SwapsAndStartsTheNewProgram) {
  MakeProgram(dir_ + "vantora.new", "NEW");
  const int guard = HoldGuard();
  EXPECT_EQ(RunUpdaterProgram(dir_ + "vantora.new", [&] { ::close(guard); }), 0);
  EXPECT_EQ(Tag(exe_), "NEW");
  EXPECT_EQ(Tag(exe_ + ".bak"), "OLD");
  EXPECT_TRUE(fs::exists(dir_ + "started-NEW"));
  EXPECT_FALSE(fs::exists(dir_ + "vantora.new"));
  EXPECT_EQ(fs::status(exe_).permissions() & fs::perms::all, fs::perms(0755));
  EXPECT_TRUE(GuardHeld(dir_));
}

// A copy started with ALLOWDUP holds no guard: the updater finds it by its executable.
TEST_F(Updater, WaitsForACopyThatHoldsNoGuard) {
  MakeProgram(dir_ + "vantora.new", "NEW");
  QProcess old;
  old.start(QString::fromStdString(exe_), {"ALLOWDUP"});
  ASSERT_TRUE(old.waitForStarted(10000));
  ASSERT_TRUE(Started("OLD"));
  EXPECT_FALSE(GuardHeld(dir_));
  EXPECT_TRUE(ExecutableRunning(exe_));
  EXPECT_EQ(RunUpdaterProgram(dir_ + "vantora.new", [&] {
              old.kill();
              old.waitForFinished(10000);
            }),
            0);
  EXPECT_EQ(Tag(exe_), "NEW");
  EXPECT_TRUE(fs::exists(dir_ + "started-NEW"));
}

// A new program that ends at once, and one that cannot be executed at all: the old one is put
// back and runs again, and the log says what went wrong.
TEST_F(Updater, RollsBackABrokenProgram) {
  std::ofstream(dir_ + "vantora.new") << "#!/bin/sh\nexit 1\n";
  EXPECT_EQ(RunUpdaterProgram(dir_ + "vantora.new"), 4);
  EXPECT_EQ(Tag(exe_), "OLD");
  // The old program is running again.
  EXPECT_TRUE(Started("OLD"));
  EXPECT_FALSE(fs::exists(dir_ + "started-NEW"));
  EXPECT_NE(Log().find("the new program ended before it started up"), std::string::npos) << Log();
  std::ofstream(dir_ + "stop") << "";
  EXPECT_TRUE(WaitUntil([&] { return !GuardHeld(dir_) && !ExecutableRunning(exe_); }, nullptr, 30000) ==
              WaitResult::Done);
  for (const char* n : {"stop", "started-OLD", "vnupdexe.log"}) fs::remove(dir_ + n);

  // Neither a script nor a program the system can load.
  std::ofstream(dir_ + "vantora.new", std::ios::binary) << std::string(64, '\x7f');
  EXPECT_EQ(RunUpdaterProgram(dir_ + "vantora.new"), 4);
  EXPECT_EQ(Tag(exe_), "OLD");
  EXPECT_TRUE(Started("OLD"));
  EXPECT_NE(Log().find("could not start the new program " + exe_ + ": " + std::strerror(ENOEXEC)), std::string::npos)
      << Log();
  EXPECT_EQ(Log().find("ended before it started up"), std::string::npos) << Log();
}

// After a valid hand-over the user is always left with a running program, and the log says why.
TEST_F(Updater, EveryWayOutLeavesAProgramRunning) {
  // An executable of the folder that may not be replaced here: under a system prefix for root
  // (the new file beside it), else in a folder the user cannot write.
  const bool root = ::geteuid() == 0;
  const std::string top = root ? "/var/lib/vn-updater-test-" + std::to_string(::getpid()) + "/" : dir_;
  const std::string appDir = top + (root ? "app/" : "ro-app/");
  std::error_code ec;
  fs::create_directories(appDir, ec);
  if (ec) GTEST_SKIP() << "cannot make " << appDir;
  MakeProgram(top + "vantora.new", "NEW");
  const std::string fixed = appDir + "vantora-test";
  MakeProgram(fixed, "OLD");
  if (!root) fs::permissions(appDir, fs::perms(0555));
  EXPECT_EQ(RunUpdaterProgram(top + "vantora.new", {}, fixed), 3);
  EXPECT_TRUE(Started("OLD"));
  EXPECT_EQ(Tag(fixed), "OLD");
  EXPECT_TRUE(fs::exists(top + "vantora.new"));
  const std::string log = Slurp(top + "vnupdexe.log");  // beside the new file
  EXPECT_NE(log.find("cannot be replaced here"), std::string::npos) << log;
  EXPECT_NE(log.find("started the old program " + fixed), std::string::npos) << log;
  std::ofstream(dir_ + "stop") << "";
  EXPECT_TRUE(WaitUntil([&] { return !ExecutableRunning(fixed); }, nullptr, 30000) == WaitResult::Done);
  fs::permissions(appDir, fs::perms(0755));
  fs::remove_all(appDir);
  if (root) fs::remove_all(top);
  fs::remove(dir_ + "stop");
  fs::remove(dir_ + "started-OLD");

  // The swap fails (its backup cannot be made): the old program is started again.
  MakeProgram(dir_ + "vantora.new", "NEW");
  fs::create_directories(exe_ + ".bak/in-the-way");
  EXPECT_EQ(RunUpdaterProgram(dir_ + "vantora.new"), 5);
  EXPECT_EQ(Tag(exe_), "OLD");
  EXPECT_TRUE(Started("OLD"));
}

// Arguments the updater refuses start nothing, and it says why.
TEST_F(Updater, RefusedArgumentsStartNothing) {
  auto run = [](const QStringList& args) {
    QProcess p;
    p.start(VN_UPDATER, args);
    EXPECT_TRUE(p.waitForFinished(30000));
    return p.exitCode();
  };
  EXPECT_EQ(run({"relative", "paths", "1"}), 1);
  // The same file twice, by any name: the swap would delete the executable.
  fs::create_hard_link(exe_, dir_ + "hard.new");
  fs::create_symlink(exe_, dir_ + "soft.new");
  const QString exe = QString::fromStdString(exe_);
  for (const std::string& same : {exe_, dir_ + "app/../app/vantora-test", dir_ + "hard.new", dir_ + "soft.new"})
    EXPECT_EQ(run({QString::fromStdString(same), exe, "1.0"}), 1) << same;
  EXPECT_EQ(Tag(exe_), "OLD");
  EXPECT_FALSE(fs::exists(exe_ + ".bak"));
  EXPECT_FALSE(fs::exists(dir_ + "started-OLD"));
  EXPECT_NE(Log().find("is the same file as " + exe_ + "; nothing started"), std::string::npos) << Log();
  fs::remove(dir_ + "hard.new");
  fs::remove(dir_ + "soft.new");
  EXPECT_FALSE(CanSwapExecutable("/usr/bin/env"));
  EXPECT_TRUE(CanSwapExecutable(exe_));
}

// A running-executable argument outside the new file's folder is refused and starts nothing, and
// the log, when a link stands in its place, is not written through the link.
TEST_F(Updater, RefusesAnExecutableOutsideTheFolderAndALinkedLog) {
  MakeProgram(dir_ + "vantora.new", "NEW");
  const fs::path outside = fs::temp_directory_path() / ("vn_updater_outside_" + std::to_string(::getpid()));
  fs::create_directories(outside);
  const std::string foreign = (outside / "some-program").string();
  MakeProgram(foreign, "OLD");
  std::ofstream((outside / "notes.txt").string()) << "mine\n";
  fs::create_symlink(outside / "notes.txt", dir_ + "vnupdexe.log");
  EXPECT_EQ(RunUpdaterProgram(dir_ + "vantora.new", {}, foreign), 1);
  EXPECT_EQ(Slurp((outside / "notes.txt").string()), "mine\n") << "the log followed its link";
  EXPECT_TRUE(fs::is_symlink(dir_ + "vnupdexe.log"));
  // Nothing was started or changed, neither the program outside nor the new file.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_FALSE(fs::exists(dir_ + "started-OLD"));
  EXPECT_FALSE(ExecutableRunning(foreign));
  EXPECT_EQ(Tag(foreign), "OLD");
  EXPECT_TRUE(fs::exists(dir_ + "vantora.new"));
  fs::remove(dir_ + "vnupdexe.log");
  // Without the link the refusal is logged, naming the executable.
  EXPECT_EQ(RunUpdaterProgram(dir_ + "vantora.new", {}, foreign), 1);
  EXPECT_NE(Log().find("the running executable " + foreign + " is outside the folder of"), std::string::npos) << Log();
  EXPECT_FALSE(ExecutableInFolderOf(dir_ + "app/../../x", dir_ + "vantora.new"));
  EXPECT_TRUE(ExecutableInFolderOf(exe_, dir_ + "vantora.new"));
  fs::remove_all(outside);
}

TEST(UpdateTool, WrapsForTheSite) {
  const std::string dir = ProgDir;
  std::string data(300000, 'x');
  for (size_t i = 0; i < data.size(); i += 7) data[i] = char(i % 256);
  std::ofstream(dir + "tool-in.bin", std::ios::binary) << data;
  std::ofstream(dir + "tool-in.sdf", std::ios::binary) << "VERSION=3.0\r\nNAME=x\r\n";
  std::ofstream(dir + "tool-bad.sdf", std::ios::binary) << "NAME=x\r\n";
  auto run = [](const QStringList& args) {
    QProcess p;
    p.start(VN_WRAP_TOOL, args);
    p.waitForFinished(30000);
    return p.exitCode();
  };
  const QString d = QString::fromStdString(dir);
  EXPECT_EQ(run({d + "tool-in.bin", d + "tool-out.bin"}), 0);
  EXPECT_EQ(run({d + "tool-in.sdf", d + "tool-out.sdf"}), 0);
  EXPECT_EQ(run({d + "tool-bad.sdf", d + "tool-bad.out"}), 1);
  EXPECT_FALSE(fs::exists(dir + "tool-bad.out"));
  std::string bin = Slurp(dir + "tool-out.bin"), def = Slurp(dir + "tool-out.sdf");
  EXPECT_EQ(bin.rfind("CMPVN00300000", 0), 0u);
  EXPECT_EQ(CheckUpdateFile(bin, false), "");
  EXPECT_EQ(bin, data);
  EXPECT_EQ(CheckUpdateFile(def, true), "");
  EXPECT_EQ(def, "VERSION=3.0\r\nNAME=x\r\n");
  for (const char* n : {"tool-in.bin", "tool-in.sdf", "tool-bad.sdf", "tool-out.bin", "tool-out.sdf"}) fs::remove(dir + n);
}
