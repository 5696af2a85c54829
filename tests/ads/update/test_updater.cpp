// The updater program: waits for the program to end, swaps in the new executable with a backup,
// starts it, and puts the old one back when the new one does not come up. The publishing tool.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QProcess>
#include <QStringList>

#include <filesystem>
#include <fstream>

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
    for (const char* n : {"stop", "started-OLD", "started-NEW", "vantora.new"}) fs::remove(dir_ + n);
    fs::remove(exe_ + ".bak");
  }
  void TearDown() override {
    std::ofstream(dir_ + "stop") << "";
    // Whatever copy runs ends now and lets go of the guard.
    EXPECT_TRUE(WaitUntil([this] { return !GuardHeld(dir_); }, nullptr, 30000) == WaitResult::Done);
    fs::remove(dir_ + "stop");
    fs::remove_all(dir_ + "app");
    ::unsetenv("VANTORA_HOME");
  }
  // Runs the updater to its end; its exit code.
  int RunUpdaterProgram(const std::string& newExe, int heldGuardFd = -1) {
    QProcess p;
    p.start(VN_UPDATER, {QString::fromStdString(newExe), QString::fromStdString(exe_), "2.5.0"});
    EXPECT_TRUE(p.waitForStarted(10000));
    if (heldGuardFd >= 0) {
      // The old program still runs: the updater waits for it.
      EXPECT_FALSE(p.waitForFinished(300));
      EXPECT_EQ(Tag(exe_), "OLD");
      ::close(heldGuardFd);
    }
    EXPECT_TRUE(p.waitForFinished(60000));
    return p.exitCode();
  }
  int HoldGuard() {
    const int fd = ::open(GuardLockPath(dir_).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    return fd;
  }
  std::string dir_, exe_;
};

}  // namespace

TEST_F(Updater, SwapsAndStartsTheNewProgram) {
  MakeProgram(dir_ + "vantora.new", "NEW");
  EXPECT_EQ(RunUpdaterProgram(dir_ + "vantora.new", HoldGuard()), 0);
  EXPECT_EQ(Tag(exe_), "NEW");
  EXPECT_EQ(Tag(exe_ + ".bak"), "OLD");
  EXPECT_TRUE(fs::exists(dir_ + "started-NEW"));
  EXPECT_FALSE(fs::exists(dir_ + "vantora.new"));
  EXPECT_EQ(fs::status(exe_).permissions() & fs::perms::all, fs::perms(0755));
  EXPECT_TRUE(GuardHeld(dir_));
}

TEST_F(Updater, RollsBackABrokenProgram) {
  std::ofstream(dir_ + "vantora.new") << "#!/bin/sh\nexit 1\n";
  EXPECT_EQ(RunUpdaterProgram(dir_ + "vantora.new"), 4);
  EXPECT_EQ(Tag(exe_), "OLD");
  // The old program is running again.
  EXPECT_TRUE(WaitUntil([this] { return fs::exists(dir_ + "started-OLD"); }, nullptr, 30000) == WaitResult::Done);
  EXPECT_FALSE(fs::exists(dir_ + "started-NEW"));
}

TEST_F(Updater, RefusesBadArgumentsAndSystemFolders) {
  MakeProgram(dir_ + "vantora.new", "NEW");
  QProcess p;
  p.start(VN_UPDATER, {"relative", "paths", "1"});
  ASSERT_TRUE(p.waitForFinished(30000));
  EXPECT_EQ(p.exitCode(), 1);
  p.start(VN_UPDATER, {QString::fromStdString(dir_ + "vantora.new"), "/usr/bin/env", "1"});
  ASSERT_TRUE(p.waitForFinished(30000));
  EXPECT_EQ(p.exitCode(), 3);
  EXPECT_TRUE(fs::exists(dir_ + "vantora.new"));
  EXPECT_FALSE(CanSwapExecutable("/usr/bin/env"));
  EXPECT_TRUE(CanSwapExecutable(exe_));
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
