// Update runs against the fake update site.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <filesystem>
#include <fstream>

#include "ads/update/update_run.h"
#include "common/fake_site.h"
#include "core/ad_locations.h"
#include "core/branding.h"
#include "core/program_state.h"
#include "core/result_slots.h"
#include "core/settings_file.h"
#include "platform/string_list.h"
#include "retrieval/http_engine.h"
#include "retrieval/site_files.h"

namespace fs = std::filesystem;

namespace {

FakeSite& Site() {
  static FakeSite site("update");
  return site;
}

// params.par keys for the site: list at listPath, notice at noticePath (both servers alike).
void PointAt(const std::string& listPath, const std::string& noticePath = "/webupdate/lastwup.txt",
             const std::string& notice2 = "/webupdate/lastwup.txt") {
  const std::string h = Site().Host();
  ParamList.Clear();
  for (const std::string& l : std::vector<std::string>{"WUFILESITE=" + h, "WUFILENAME=" + noticePath, "WUFILESITE2=" + h, "WUFILENAME2=" + notice2,
                        "WUFILESITE3=-", "UPDATELISTSITE=" + h, "UPDATELISTPATH=" + listPath, "UPDATELISTSITE2=" + h,
                        "UPDATELISTPATH2=" + listPath, "UPDATELISTSITE3=-", "QUPDATELISTSITE=" + h,
                        "QUPDATELISTPATH=" + listPath, "QUPDATELISTSITE2=" + h, "QUPDATELISTPATH2=" + listPath,
                        "QUPDATELISTSITE3=-"})
    ParamList.Add(l);
}

struct Recorder {
  std::vector<std::string> lines, messages;
  bool cancelPicker = false;
  std::function<void(UpdatePlan&)> pick;
  UpdateUi Ui() {
    UpdateUi ui;
    ui.Status = [this](const std::string& l) { lines.push_back(l); };
    ui.ReplaceStatus = [this](const std::string& l) {
      if (!lines.empty()) lines.back() = l;
    };
    ui.Message = [this](const std::string& c, const std::string& t) { messages.push_back(c + ": " + t); };
    ui.PickFiles = [this](UpdatePlan& p) {
      if (pick) pick(p);
      return !cancelPicker;
    };
    return ui;
  }
  bool Saw(const std::string& l) const { return std::find(lines.begin(), lines.end(), l) != lines.end(); }
  // One manual run shown here; its done flag. exe gets the new executable's path.
  bool Run() {
    UpdateUi ui = Ui();
    bool done = false;
    RunWebUpdate(false, &ui, done, exe);
    return done;
  }
  std::string exe;
};

std::string Read(const std::string& name) {
  std::string s;
  ReadWholeFile(ProgDir + name, s);
  return s;
}

void Write(const std::string& name, const std::string& text) { std::ofstream(ProgDir + name, std::ios::binary) << text; }

void RemoveUpdated() {
  for (const char* n : {"extra.dat", "quiet.dat", "updsite.sdf", "vantora.new", "corrupt.bin", "gone.sdf",
                        "oldname.sdf", "newname.sdf", "allowed.dat", "link.dat", "fund.par", "survey.par"})
    fs::remove(ProgDir + n);
  Ini().WriteInteger("Stocks", "LastMessage", 0);
  Ini().WriteInteger("Stocks", "LastQMessage", 0);
}

class UpdateRun : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(Site().Running());
    RemoveUpdated();
    UpdateCancelled = false;
    UpdateTimeouts = {};
    Branding.ExeDefault = "vantora";
  }
  void TearDown() override {
    // No staged copy is ever left behind.
    for (const auto& e : fs::directory_iterator(ProgDir))
      EXPECT_EQ(e.path().filename().string().rfind(".vnupd-", 0), std::string::npos) << e.path();
    EXPECT_EQ(HResInUse(), 0);
    EXPECT_EQ(RunningHttpRequests(), 0);
  }
};

}  // namespace

TEST_F(UpdateRun, ManualRunInstallsAndTheNextFindsNothing) {
  PointAt("/webupdate/sdfl1125.txt");
  Recorder rec;
  std::vector<std::string> offered;
  rec.pick = [&](UpdatePlan& p) {
    for (auto& f : p.Files) offered.push_back(f.Display);
  };
  bool done = false;
  std::string exe = "stale";
  RunWebUpdate(false, nullptr, done, exe);  // no window: still a run
  ASSERT_TRUE(done);
  EXPECT_TRUE(exe.empty());
  RemoveUpdated();
  EXPECT_TRUE(rec.Run());
  EXPECT_EQ(offered, std::vector<std::string>{"NEW         Extra market data"});
  EXPECT_EQ(rec.messages, std::vector<std::string>{"Information Message: Welcome to the local update site.\r\n"});
  EXPECT_EQ(Ini().ReadInteger("Stocks", "LastMessage", 0), 1);
  EXPECT_EQ(Ini().ReadString("Stocks", "LastWUNotify", ""), "12/01/26");
  EXPECT_NE(Ini().ReadString("Stocks", "LastUpdate", ""), "");
  ASSERT_FALSE(rec.lines.empty());
  EXPECT_EQ(rec.lines.back(), "Finished");
  EXPECT_TRUE(rec.Saw("Fetching site configuration files list"));
  EXPECT_TRUE(rec.Saw("Comparing Files"));
  EXPECT_EQ(Read("extra.dat").rfind("Extra market data for the demo.\n", 0), 0u);

  Recorder again;
  EXPECT_TRUE(again.Run());
  EXPECT_TRUE(again.Saw("No new/updated files"));
  EXPECT_EQ(again.messages, std::vector<std::string>{"Update Result: All files are up to date."});
}

// Versioned files as updates install them: the next run compares with these versions, the about
// box shows them, and a parameter file read only at start brings the restart note.
TEST_F(UpdateRun, VersionedFilesAndTheRestartNote) {
  PointAt("/webupdate/versioned.txt");
  Recorder rec;
  EXPECT_TRUE(rec.Run());
  EXPECT_EQ(rec.lines.back(), "Finished");
  EXPECT_EQ(rec.messages, std::vector<std::string>{"Information: Some of the changes that you downloaded will only take "
                                                   "effect the next time you restart " + Branding.ProgShortName + "."});
  std::map<std::string, double> versions;
  for (const ProgramFileVersion& v : VersionedProgramFiles()) versions[v.Name] = v.Version;
  EXPECT_DOUBLE_EQ(versions["fund.par"], 2.5);
  EXPECT_DOUBLE_EQ(versions["survey.par"], 2.25);
  EXPECT_DOUBLE_EQ(versions["extra.dat"], 2.0);
  EXPECT_FALSE(versions.count("STOCKS.INI"));
  // The next run compares with the installed versions and fetches nothing again.
  Recorder again;
  EXPECT_TRUE(again.Run());
  EXPECT_TRUE(again.Saw("No new/updated files"));
}

TEST_F(UpdateRun, FullListAppliesStepsInOrder) {
  PointAt("/webupdate/full.txt");
  Write("gone.sdf", "VERSION=1\n");
  Write("oldname.sdf", "VERSION=1\nold");
  Ini().WriteString("GONE.SDF", "Login", "x");
  Ini().WriteString("OLDNAME.SDF", "Login", "moved");
  Recorder rec;
  EXPECT_TRUE(rec.Run());
  EXPECT_EQ(rec.exe, ProgDir + "vantora.new");
  EXPECT_EQ(fs::status(rec.exe).permissions() & fs::perms::all, fs::perms(0755));
  EXPECT_FALSE(fs::exists(ProgDir + "gone.sdf"));
  EXPECT_EQ(Read("newname.sdf"), "VERSION=1\nold");
  EXPECT_EQ(Ini().ReadString("NEWNAME.SDF", "Login", ""), "moved");
  EXPECT_EQ(Ini().ReadString("OLDNAME.SDF", "Login", ""), "");
  EXPECT_EQ(Ini().ReadString("GONE.SDF", "Login", ""), "");
  EXPECT_NE(SiteNames.IndexOf("Updated Quotes"), -1);
  EXPECT_EQ(Read("updsite.sdf").rfind("VERSION=2.6", 0), 0u);
}

TEST_F(UpdateRun, CorruptFileStopsAndAppliesNothing) {
  PointAt("/webupdate/corrupt.txt");
  Write("gone.sdf", "VERSION=1\n");
  Ini().WriteString("Stocks", "LastUpdate", "");
  const std::string notice = Ini().ReadString("Stocks", "LastWUNotify", "");
  Ini().WriteString("Stocks", "LastWUNotify", "old notice");
  Recorder rec;
  EXPECT_FALSE(rec.Run());
  EXPECT_TRUE(rec.Saw("Error in file: CRC Check Failed"));
  EXPECT_FALSE(rec.Saw("Fetching quiet.dat"));
  EXPECT_FALSE(rec.Saw("Finished"));
  EXPECT_TRUE(rec.Saw("Updating lists and site info"));
  EXPECT_EQ(rec.lines.back(), "Update incomplete");
  EXPECT_FALSE(fs::exists(ProgDir + "extra.dat"));
  EXPECT_FALSE(fs::exists(ProgDir + "corrupt.bin"));
  EXPECT_TRUE(fs::exists(ProgDir + "gone.sdf"));
  EXPECT_NE(Ini().ReadString("Stocks", "LastUpdate", ""), "");
  // The reminder stays on after a failed run.
  EXPECT_EQ(Ini().ReadString("Stocks", "LastWUNotify", ""), "old notice");
  Ini().WriteString("Stocks", "LastWUNotify", notice);
}

TEST_F(UpdateRun, HostileListChangesNothingOutsideTheAllowedSet) {
  PointAt("/webupdate/hostile.txt");
  const std::string outsideDir = ProgDir + "../vn-update-outside-" + std::to_string(::getpid()) + "/";
  fs::create_directories(outsideDir);
  std::ofstream(outsideDir + "target.dat") << "outside";
  fs::create_symlink(outsideDir + "target.dat", ProgDir + "link.dat");
  const std::string ini = Read("STOCKS.INI");
  Write("PORT.DAT", "portfolio");
  Write("SDATA.DMP", "dump");
  std::map<std::string, fs::file_time_type> before;
  for (const auto& e : fs::directory_iterator(ProgDir)) before[e.path().filename().string()] = fs::last_write_time(e.path());
  Recorder rec;
  EXPECT_TRUE(rec.Run());
  EXPECT_EQ(Read("PORT.DAT"), "portfolio");
  EXPECT_EQ(Read("SDATA.DMP"), "dump");
  EXPECT_TRUE(fs::exists(ProgDir + "STOCKS.INI"));
  EXPECT_FALSE(fs::exists(ProgDir + "../escape.dat"));
  EXPECT_FALSE(fs::exists("/tmp/vn-absolute.dat"));
  EXPECT_FALSE(fs::exists(ProgDir + "ok.dat"));
  std::string outside;
  ReadWholeFile(outsideDir + "target.dat", outside);
  EXPECT_EQ(outside, "outside");
  EXPECT_FALSE(rec.Saw("Fetching link.dat"));
  // The one allowed name arrived; the link was refused as an install target.
  EXPECT_TRUE(fs::exists(ProgDir + "allowed.dat"));
  EXPECT_TRUE(fs::is_symlink(ProgDir + "link.dat"));
  for (const auto& e : fs::directory_iterator(ProgDir)) {
    const std::string n = e.path().filename().string();
    if (n == "allowed.dat" || n == "STOCKS.INI" || n == "STOCKS.IN_" || n == "registry.ini" || n == "stocks.log") continue;
    EXPECT_TRUE(before.count(n)) << n;
    if (before.count(n) && !fs::is_symlink(e.path())) {
      EXPECT_EQ(before[n], fs::last_write_time(e.path())) << n;
    }
  }
  fs::remove_all(outsideDir);
}

TEST_F(UpdateRun, CancelAndPickerCancelApplyNothing) {
  PointAt("/webupdate/full.txt");
  Write("gone.sdf", "VERSION=1\n");
  Recorder rec;
  rec.cancelPicker = true;
  EXPECT_FALSE(rec.Run());
  EXPECT_EQ(rec.lines.back(), "Cancelled by user");
  EXPECT_TRUE(fs::exists(ProgDir + "gone.sdf"));

  // Every entry unchecked: the run ends as cancelled.
  Recorder none;
  none.pick = [](UpdatePlan& p) {
    for (auto& f : p.Files)
      if (f.Display.rfind("REQUIRED", 0) != 0) f.Picked = false;
  };
  EXPECT_TRUE(none.Run());  // the REQUIRED file stays and is installed
  EXPECT_TRUE(fs::exists(ProgDir + "extra.dat"));
  EXPECT_FALSE(fs::exists(ProgDir + "updsite.sdf"));
  EXPECT_TRUE(none.exe.empty());

  // Cancel pressed while the file is on its way.
  PointAt("/webupdate/stallfile.txt");
  Recorder mid;
  UpdateUi ui3 = mid.Ui();
  ui3.Status = [&](const std::string& l) {
    mid.lines.push_back(l);
    if (l == "Fetching stalled.dat") UpdateCancelled = true;
  };
  bool done = true;
  std::string exe;
  RunWebUpdate(false, &ui3, done, exe);
  EXPECT_FALSE(done);
  EXPECT_TRUE(mid.Saw("Updating lists and site info"));
  EXPECT_EQ(mid.lines.back(), "Cancelled by user");
  EXPECT_FALSE(fs::exists(ProgDir + "stalled.dat"));
}

TEST_F(UpdateRun, BadAndStalledRepliesEndWithinTheirDeadlines) {
  UpdateTimeouts.List = 1;
  UpdateTimeouts.Binary = 1;
  for (const auto& [first, second] : std::vector<std::pair<std::string, std::string>>{
           {"/err", "/notdate"}, {"/empty", "/stall?ms=20000"}}) {
    PointAt("/webupdate/sdfl1125.txt", first, second);
    Recorder rec;
    EXPECT_FALSE(rec.Run());
    EXPECT_EQ(rec.lines.back(), "ERROR - cannot continue") << first;
  }
  // A notice on the second server is enough (a busy machine gets the usual time).
  UpdateTimeouts.List = 60;
  PointAt("/webupdate/sdfl1125.txt", "/err", "/webupdate/lastwup.txt");
  Recorder ok;
  EXPECT_TRUE(ok.Run());
  // A file that never arrives is an error once its time-out passed.
  PointAt("/webupdate/stallfile.txt");
  Recorder st;
  EXPECT_FALSE(st.Run());
  EXPECT_TRUE(st.Saw("Error fetching file"));
  EXPECT_EQ(st.lines.back(), "Update incomplete");
}

TEST_F(UpdateRun, QuietRunOnItsThread) {
  PointAt("/webupdate/quietlst.txt");
  std::atomic<int> messages{0};
  UpdateUi ui;
  ui.Message = [&](const std::string&, const std::string&) { ++messages; };
  HandedOverNotice.clear();
  StartWebUpdateThread("notice from usage", ui);
  // Joining the thread ends the run only after it finished here: it has no reason to stop.
  ASSERT_TRUE(WaitUntil([] { return !WebUpdateRunning() && fs::exists(ProgDir + "quiet.dat"); }, nullptr, 30000) ==
              WaitResult::Done);
  StopWebUpdateThread();
  EXPECT_EQ(messages.load(), 1);
  EXPECT_EQ(Ini().ReadInteger("Stocks", "LastQMessage", 0), 4);
  EXPECT_EQ(Ini().ReadString("Stocks", "LastAdNotify", ""), "notice from usage");
  QCoreApplication::processEvents();
  EXPECT_EQ(LastWUNotify, "12/01/26");

  // Stopping a quiet run that waits ends it at once.
  PointAt("/webupdate/quietlst.txt", "/stall?ms=20000", "/stall?ms=20000");
  StartWebUpdateThread("", ui);
  ASSERT_TRUE(WaitUntil([] { return WebUpdateRunning(); }, nullptr, 10000) == WaitResult::Done);
  StopWebUpdateThread();
  EXPECT_FALSE(WebUpdateRunning());
}

TEST_F(UpdateRun, FileLargerThanAPage) {
  PointAt("/webupdate/big.txt");
  Recorder rec;
  EXPECT_TRUE(rec.Run());
  EXPECT_EQ(fs::file_size(ProgDir + "big.dat"), (17u << 20) + 8u);
  EXPECT_TRUE(rec.Saw("Fetching big.dat " + std::to_string((17u << 20) + 8u + 12u) + " bytes"));
  fs::remove(ProgDir + "big.dat");
}
