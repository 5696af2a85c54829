// The comparing step as a plan, and applying it to a folder.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "ads/update/update_plan.h"
#include "platform/string_list.h"

namespace fs = std::filesystem;

namespace {

// A folder of names with their versions (definition files: VERSION line; others: trailer).
UpdateFolderView MapView(const std::map<std::string, double>& files) {
  UpdateFolderView v;
  auto find = [files](const std::string& n) -> const double* {
    for (const auto& [k, val] : files)
      if (SameText(k, n)) return &val;
    return nullptr;
  };
  v.Exists = [find](const std::string& n) { return find(n) != nullptr; };
  v.SiteFileVersion = [find](const std::string& n, bool) { return find(n) ? *find(n) : 0.0; };
  v.TrailerVersion = [find](const std::string& n) { return find(n) ? *find(n) : 0.0; };
  return v;
}

PlanInput Input(double version = 1.3, bool quiet = false) {
  PlanInput in;
  in.ProgVersion = version;
  in.Quiet = quiet;
  in.ExeDefault = "vantora";
  in.RunningExeName = "vantora";
  return in;
}

std::vector<std::string> Displays(const UpdatePlan& p) {
  std::vector<std::string> out;
  for (const auto& f : p.Files) out.push_back(f.Display);
  return out;
}

}  // namespace

TEST(UpdatePlan, ChoosesByKindAndVersion) {
  const std::string list =
      "// comment\n"
      "UPDATESITE: 127.0.0.1:1/mirror\n"
      "r/new.sdf new.sdf 1.0 0 NewSite\n"
      "r/req.so req.so 1.0 0 Lib REQUIRED\n"
      "r/only.sdf only.sdf 1.0 0 OnlyIfThere UPDATEONLY\n"
      "r/old.sdf old.sdf 2.0 0 OlderInstalled\n"
      "r/same.sdf same.sdf 1.2 0 SameInstalled\n"
      "r/bin.dat bin.dat 3.0 0 Binary\n"
      "r/ahead.sdf ahead.sdf 0.5 0 AheadOfProgram\n"
      "r/out.sdf out.sdf 9.0 1.0 OutOfRange\n"
      "r/vantora.new vantora.new 1.4 0 Program\n"
      "r/vantora.old vantora.old 1.3 0 SameProgram\n";
  auto view = MapView({{"old.sdf", 1.5}, {"same.sdf", 1.2}, {"bin.dat", 2.0}, {"ahead.sdf", 1.6}});
  UpdatePlan p = PlanUpdate(list, Input(), view);
  EXPECT_EQ(p.Servers, std::vector<std::string>{"127.0.0.1:1/mirror"});
  EXPECT_EQ(Displays(p), (std::vector<std::string>{"NEW         NewSite", "REQUIRED Lib", "UPDATED OlderInstalled",
                                                   "UPDATED Binary", "UPDATED AheadOfProgram", "UPDATED Program"}));
  EXPECT_TRUE(p.Files.back().Executable);
  // A quiet run leaves the executable to the update window.
  UpdatePlan quiet = PlanUpdate(list, Input(1.3, true), view);
  EXPECT_EQ(quiet.Files.size(), 5u);
  // An unreadable entry ends the list.
  UpdatePlan cut = PlanUpdate("r/a.sdf a.sdf 1 0 A\nr/b.sdf b.sdf x 0 B\nr/c.sdf c.sdf 1 0 C\n", Input(), view);
  EXPECT_EQ(cut.Files.size(), 1u);
}

TEST(UpdatePlan, MessagesShownOnceAndNeverLowered) {
  const std::string list =
      "MSG:#2\nMSG:old news\n"
      "MSG:#5(1,2)\nMSG:hello\nMSG:world\n"
      "MSG:#6(5,9)\nMSG:not for us\n"
      "MSG:#7\nMSG:pending at the end\n";
  PlanInput in = Input();
  in.LastMessage = 3;
  UpdatePlan p = PlanUpdate(list, in, MapView({}));
  ASSERT_EQ(p.Messages.size(), 2u);
  EXPECT_EQ(p.Messages[0].Number, 5);
  EXPECT_EQ(p.Messages[0].Text, "hello\r\nworld\r\n");
  EXPECT_EQ(p.Messages[1].Text, "pending at the end\r\n");
  EXPECT_EQ(p.LastMessage, 7);
  in.LastMessage = 9;
  UpdatePlan later = PlanUpdate(list, in, MapView({}));
  EXPECT_TRUE(later.Messages.empty());
  EXPECT_EQ(later.LastMessage, 9);
}

TEST(UpdatePlan, HostileNamesRefused) {
  const std::string list =
      "r/a ../evil.sdf 1 0 Climb\n"
      "r/a /etc/evil.sdf 1 0 Absolute\n"
      "r/a sub/evil.sdf 1 0 Separator\n"
      "r/a STOCKS.ini 1 0 Settings\n"
      "r/a Port.Dat 1 0 Portfolio\n"
      "r/a VANTORA 9 0 RunningProgram\n"
      "../../x ok.sdf 1 0 RemoteClimb\n"
      "'r/a b' ok2.sdf 1 0 RemoteBlank\n"
      "DELETE sdata.dmp 0\n"
      "DELETE ../../home 0\n"
      "RENAME stocks.ini x.sdf 0\n"
      "RENAME x.sdf stocks.IN_ 0\n"
      "r/fine fine.sdf 1 0 Fine\n";
  UpdatePlan p = PlanUpdate(list, Input(), MapView({{"x.sdf", 1}}));
  ASSERT_EQ(p.Files.size(), 1u);
  EXPECT_EQ(p.Files[0].Entry.Local, "fine.sdf");
  ASSERT_EQ(p.Steps.size(), 1u);
  EXPECT_EQ(p.Refused.size(), 12u);
}

TEST(UpdatePlan, ListOrder) {
  // DELETE then an entry for the name: the entry is new (replace); after it, the delete goes.
  UpdatePlan p = PlanUpdate("DELETE a.sdf 0\nr/a.sdf a.sdf 1.0 0 A UPDATEONLY\nr/b.sdf b.sdf 1.0 0 B\n"
                            "DELETE b.sdf 0\nRENAME c.sdf d.sdf 0\nr/d.sdf d.sdf 1.0 0 D\n",
                            Input(), MapView({{"a.sdf", 5.0}, {"b.sdf", 0.5}, {"c.sdf", 1.2}}));
  // a: missing after the delete and UPDATEONLY; b: taken, then deleted (the delete lets a
  // later entry for b come new again); d: holds c's version 1.2 after the rename, newer than 1.0.
  ASSERT_EQ(Displays(p), std::vector<std::string>{"UPDATED B"});
  ASSERT_EQ(p.Steps.size(), 4u);
  EXPECT_EQ(p.Steps[0].Kind, StepKind::Delete);
  EXPECT_EQ(p.Steps[1].Kind, StepKind::Install);
  EXPECT_EQ(p.Steps[2].Kind, StepKind::Delete);
  EXPECT_EQ(p.Steps[3].Kind, StepKind::Rename);
}

class UpdateApply : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = ::testing::TempDir() + "apply-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  void Write(const std::string& name, const std::string& text) { std::ofstream(dir_ + name, std::ios::binary) << text; }
  std::string Read(const std::string& name) {
    std::string s;
    ReadWholeFile(dir_ + name, s);
    return s;
  }
  std::string Stage(const std::string& text) {
    static int n = 0;
    const std::string path = dir_ + ".staged" + std::to_string(++n);
    Write(path.substr(dir_.size()), text);
    return path;
  }
  std::string dir_;
};

TEST_F(UpdateApply, DeleteThenEntryReplacesAndInstalledIsNeverDeleted) {
  Write("a.sdf", "VERSION=1\nold");
  Write("keep.txt", "keep");
  UpdatePlan p = PlanUpdate("DELETE a.sdf 0\nr/a.sdf a.sdf 2 0 A\nDELETE a.sdf 0\nr/v vantora.new 9 0 Prog\n",
                            Input(), MapView({{"a.sdf", 1}}));
  ASSERT_EQ(p.Files.size(), 2u);
  std::vector<std::string> erased;
  ApplyHooks hooks;
  hooks.EraseSection = [&](const std::string& s) { erased.push_back(s); };
  const std::string s0 = Stage("VERSION=2\nnew"), s1 = Stage("#!/bin/sh\n");
  ApplyReport r = ApplyUpdatePlan(p, {{0, s0}, {1, s1}}, dir_, Input(), hooks);
  EXPECT_TRUE(r.Errors.empty());
  EXPECT_EQ(Read("a.sdf"), "VERSION=2\nnew");
  EXPECT_EQ(erased, std::vector<std::string>{"A.SDF"});  // the first delete, before the install
  EXPECT_EQ(r.Installed, (std::vector<std::string>{dir_ + "a.sdf", dir_ + "vantora.new"}));
  EXPECT_EQ(fs::status(dir_ + "vantora.new").permissions() & fs::perms::all, fs::perms(0755));
  EXPECT_EQ(fs::status(dir_ + "a.sdf").permissions() & fs::perms::all, fs::perms(0644));
  EXPECT_FALSE(fs::exists(s0));
  EXPECT_EQ(Read("keep.txt"), "keep");
}

TEST_F(UpdateApply, LinksAndUnpickedAreLeftAlone) {
  const std::string outside = dir_ + "../outside-" + std::to_string(::getpid()) + ".sdf";
  std::ofstream(outside) << "VERSION=1\noutside";
  fs::create_symlink(outside, dir_ + "link.sdf");
  Write("b.sdf", "VERSION=1\nb");
  UpdatePlan p = PlanUpdate("r/l link.sdf 2 0 L\nDELETE link.sdf 0\nr/b b.sdf 2 0 B\nRENAME link.sdf c.sdf 0\n",
                            Input(), MapView({{"link.sdf", 1}, {"b.sdf", 1}}));
  ASSERT_EQ(p.Files.size(), 2u);
  p.Files[1].Picked = false;
  const std::string s0 = Stage("VERSION=2\nvia link"), s1 = Stage("VERSION=2\nb");
  ApplyReport r = ApplyUpdatePlan(p, {{0, s0}, {1, s1}}, dir_, Input(), {});
  EXPECT_EQ(r.Errors.size(), 1u);
  std::string o;
  ReadWholeFile(outside, o);
  EXPECT_EQ(o, "VERSION=1\noutside");
  EXPECT_TRUE(fs::is_symlink(dir_ + "link.sdf"));
  EXPECT_EQ(Read("b.sdf"), "VERSION=1\nb");
  EXPECT_FALSE(fs::exists(s0));
  EXPECT_FALSE(fs::exists(s1));
  fs::remove(outside);
}
