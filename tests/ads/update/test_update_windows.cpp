// The update window, the file picker and the reminder, driven as a user would.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <filesystem>
#include <fstream>

#include "ads/update/update_install.h"
#include "ads/update/update_run.h"
#include "ads/update/update_window.h"
#include "common/fake_site.h"
#include "core/branding.h"
#include "core/main_hooks.h"
#include "core/market_clock.h"
#include "platform/messages.h"
#include "core/program_state.h"
#include "core/settings_file.h"
#include "platform/clock.h"
#include "platform/datetime.h"
#include "platform/string_list.h"
#include "prefs/prefs_dialog.h"
#include "retrieval/fund_thread.h"

namespace fs = std::filesystem;

namespace {

std::string Shot(const std::string& name) {
  const std::string dir = std::string(VN_BINARY_DIR) + "/screenshots/";
  QDir().mkpath(QString::fromStdString(dir));
  return dir + name;
}

UpdatePlan PickerPlan() {
  UpdatePlan p;
  for (const char* d : {"REQUIRED Streaming library", "NEW         Extra market data", "UPDATED Quote site one"}) {
    PlannedFile f;
    f.Display = d;
    p.Files.push_back(f);
  }
  return p;
}

// Runs fn on the modal dialog of type T once it is up (polled on the event loop).
template <typename T>
void WhenModal(std::function<void(T*)> fn, int triesLeft = 3000) {
  QTimer::singleShot(5, [fn, triesLeft] {
    if (auto* d = dynamic_cast<T*>(QApplication::activeModalWidget())) return fn(d);
    if (triesLeft > 0) WhenModal<T>(fn, triesLeft - 1);
  });
}

// Runs fn once cond holds (polled on the event loop).
void WhenTrue(std::function<bool()> cond, std::function<void()> fn, int triesLeft = 3000) {
  QTimer::singleShot(5, [cond, fn, triesLeft] {
    if (cond()) return fn();
    if (triesLeft > 0) WhenTrue(cond, fn, triesLeft - 1);
  });
}

struct Boxes {
  std::vector<std::string> seen;
  Boxes() {
    UpdateWindowHooks.MessageBox = [this](QWidget*, const std::string& c, const std::string& t, const std::string&) {
      seen.push_back(c + ": " + t);
    };
  }
  ~Boxes() { UpdateWindowHooks = {}; }
};

}  // namespace

TEST(UpdateWindows, PickerKeepsRequiredFiles) {
  UpdatePlan plan = PickerPlan();
  TdlgUpdateFiles dlg(nullptr, plan);
  dlg.show();
  ASSERT_EQ(dlg.ChList->count(), 3);
  dlg.pbDeselectClick();
  EXPECT_EQ(dlg.ChList->item(0)->checkState(), Qt::Checked);
  EXPECT_EQ(dlg.ChList->item(1)->checkState(), Qt::Unchecked);
  dlg.ChList->item(0)->setCheckState(Qt::Unchecked);  // a click on a required entry
  EXPECT_EQ(dlg.ChList->item(0)->checkState(), Qt::Checked);
  dlg.pbSelectAllClick();
  dlg.ChList->item(2)->setCheckState(Qt::Unchecked);
  dlg.grab().save(QString::fromStdString(Shot("update_file_picker.png")));
  dlg.OkClick();
  EXPECT_FALSE(dlg.Cancelled);
  EXPECT_TRUE(plan.Files[0].Picked);
  EXPECT_TRUE(plan.Files[1].Picked);
  EXPECT_FALSE(plan.Files[2].Picked);

  UpdatePlan other = PickerPlan();
  TdlgUpdateFiles cancel(nullptr, other);
  cancel.CancelClick();
  EXPECT_TRUE(cancel.Cancelled);
}

TEST(UpdateWindows, ManualRunThroughTheWindow) {
  FakeSite site("update");
  ASSERT_TRUE(site.Running());
  ParamList.Clear();
  for (const std::string& l : std::vector<std::string>{
           "WUFILESITE=" + site.Host(), "WUFILESITE2=" + site.Host(), "WUFILESITE3=-", "UPDATELISTSITE=" + site.Host(),
           "UPDATELISTPATH=/webupdate/full.txt", "UPDATELISTSITE2=-"})
    ParamList.Add(l);
  fs::remove(ProgDir + "extra.dat");
  fs::remove(ProgDir + "updsite.sdf");
  fs::remove(ProgDir + "vantora.new");
  Branding.ExeDefault = "vantora";
  Boxes boxes;
  std::vector<std::string> started;
  UpdateWindowHooks.RunningExe = [] { return ProgDir + "running-vantora"; };
  std::ofstream(ProgDir + "running-vantora") << "old";
  UpdateWindowHooks.StartUpdater = [&](const std::string& n, const std::string& r) {
    started = {n, r};
    return 0;
  };
  bool pickerSeen = false;
  WhenModal<TdlgUpdateFiles>([&](TdlgUpdateFiles* d) {
    pickerSeen = true;
    d->grab().save(QString::fromStdString(Shot("update_picker_in_run.png")));
    d->OkClick();
  });
  QuitRequested = false;
  TfrmUpdate form(nullptr, false);
  form.exec();
  EXPECT_TRUE(pickerSeen);
  EXPECT_TRUE(form.Done);
  EXPECT_FALSE(UpdateFormShowing);
  EXPECT_EQ(started, (std::vector<std::string>{ProgDir + "vantora.new", ProgDir + "running-vantora"}));
  EXPECT_TRUE(QuitRequested);
  ASSERT_EQ(boxes.seen.size(), 1u);
  EXPECT_EQ(boxes.seen[0].rfind("Executable Update: You have downloaded a new executable.\r\n\r\n", 0), 0u);
  QuitRequested = false;

  // The window as the user reads it at the end of a run.
  form.show();
  form.resize(520, 300);
  form.grab().save(QString::fromStdString(Shot("update_window.png")));
  form.hide();
  std::vector<std::string> lines;
  for (int i = 0; i < form.lbShow->count(); ++i) lines.push_back(form.lbShow->item(i)->text().toStdString());
  EXPECT_EQ(lines.back(), "Finished");
  EXPECT_FALSE(form.pbCancel->isEnabled());
  EXPECT_TRUE(form.pbClose->isEnabled());

  // The updater cannot start: the box says so and the program goes on.
  fs::remove(ProgDir + "vantora.new");
  UpdateWindowHooks.StartUpdater = [](const std::string&, const std::string&) { return 2; };
  boxes.seen.clear();
  TfrmUpdate again(nullptr, false);
  WhenModal<TdlgUpdateFiles>([](TdlgUpdateFiles* d) { d->OkClick(); });
  again.exec();
  EXPECT_FALSE(QuitRequested);
  ASSERT_EQ(boxes.seen.size(), 2u);
  EXPECT_EQ(boxes.seen[1], "WINEXEC error: Could not WinExec " + ProgDir + "vnupdexe! Error #:2");

  // An executable in a system folder is not swapped: the new file stays and the run says so.
  fs::remove(ProgDir + "vantora.new");
  UpdateWindowHooks.RunningExe = [] { return std::string("/usr/bin/env"); };
  started.clear();
  UpdateWindowHooks.StartUpdater = [&](const std::string& n, const std::string& r) {
    started = {n, r};
    return 0;
  };
  TfrmUpdate system(nullptr, false);
  WhenModal<TdlgUpdateFiles>([](TdlgUpdateFiles* d) { d->OkClick(); });
  // The run failed to hand over: the window stays for the user to read, until Close.
  WhenTrue([&] { return system.pbClose->isEnabled(); }, [&] {
    system.grab().save(QString::fromStdString(Shot("update_window_kept_executable.png")));
    system.pbClose->click();
  });
  system.exec();
  EXPECT_FALSE(system.Done);
  EXPECT_TRUE(started.empty());
  EXPECT_FALSE(QuitRequested);
  EXPECT_TRUE(fs::exists(ProgDir + "vantora.new"));
  EXPECT_EQ(system.lbShow->item(system.lbShow->count() - 1)->text().toStdString(),
            "/usr/bin/env cannot be replaced from here: install the new file by hand.");
  fs::remove(ProgDir + "running-vantora");
}

// A list longer than a list may hold is refused at once, and Cancel stays live while a long
// list is compared.
TEST(UpdateWindows, LongListsKeepTheWindowLive) {
  FakeSite site("update");
  ASSERT_TRUE(site.Running());
  auto pointAt = [&](const std::string& list) {
    ParamList.Clear();
    for (const std::string& l : std::vector<std::string>{"WUFILESITE=" + site.Host(), "WUFILESITE2=-",
                                                         "UPDATELISTSITE=" + site.Host(), "UPDATELISTPATH=" + list,
                                                         "UPDATELISTSITE2=-"})
      ParamList.Add(l);
  };
  auto lines = [](TfrmUpdate& form) {
    std::vector<std::string> out;
    for (int i = 0; i < form.lbShow->count(); ++i) out.push_back(form.lbShow->item(i)->text().toStdString());
    return out;
  };
  Boxes boxes;
  bool pickerSeen = false;
  auto watchPicker = [&] {
    WhenModal<TdlgUpdateFiles>([&](TdlgUpdateFiles* d) {
      pickerSeen = true;
      d->CancelClick();
    });
  };

  pointAt("/webupdate/long.txt");
  watchPicker();
  TfrmUpdate tooLong(nullptr, false);
  WhenTrue([&] { return tooLong.pbClose->isEnabled(); }, [&] { QTest::mouseClick(tooLong.pbClose, Qt::LeftButton); });
  tooLong.exec();
  EXPECT_FALSE(pickerSeen);
  EXPECT_FALSE(tooLong.Done);
  const auto refused = lines(tooLong);
  ASSERT_GE(refused.size(), 2u);
  EXPECT_EQ(refused[refused.size() - 2], "Error in update list: more than 5000 entries");
  EXPECT_EQ(refused.back(), "ERROR - cannot continue");

  // Comparing 4,000 entries with an installed file reads it 8,000 times; Cancel, clicked as
  // soon as comparing began, ends the run.
  std::string slow = "VERSION=2.0\r\n";
  while (slow.size() < 40000) slow += "// padding the definition file so that reading it takes a while\r\n";
  std::ofstream(ProgDir + "slow.sdf", std::ios::binary) << slow;
  pointAt("/webupdate/slow.txt");
  watchPicker();
  TfrmUpdate cancelled(nullptr, false);
  bool clickedWhileComparing = false;
  WhenTrue([&] { return cancelled.lbShow->count() > 0 && lines(cancelled).back() == "Comparing Files"; }, [&] {
    clickedWhileComparing = true;
    QTest::mouseClick(cancelled.pbCancel, Qt::LeftButton);
  });
  WhenTrue([&] { return cancelled.pbClose->isEnabled(); }, [&] { QTest::mouseClick(cancelled.pbClose, Qt::LeftButton); });
  cancelled.exec();
  EXPECT_TRUE(clickedWhileComparing);
  EXPECT_FALSE(pickerSeen);
  EXPECT_FALSE(cancelled.Done);
  EXPECT_EQ(lines(cancelled).back(), "Cancelled by user");
  fs::remove(ProgDir + "slow.sdf");
}

TEST(UpdateWindows, ReminderTimes) {
  TestClock clock(DateTimeToUnixMs(EncodeDate(2026, 3, 2) + 10.0 / 24));
  SetClock(&clock);
  Ini().WriteString("Stocks", "LastWUNotify", "11/01/26");
  LastWUNotify = "12/01/26";
  NextWUReminder = 0;
  WUInterval = 180;
  const TDateTime tenAm = LocalNow();
  EXPECT_TRUE(UpdateReminderDue(tenAm));
  {
    TWUNeeded r(nullptr);
    r.show();
    r.grab().save(QString::fromStdString(Shot("update_reminder.png")));
    r.BitBtn2Click();  // "Postpone It" at 10:00
  }
  EXPECT_NEAR(NextWUReminder, tenAm + 6.0 / 24, 1e-6);
  EXPECT_FALSE(UpdateReminderDue(LocalNow()));
  EXPECT_TRUE(UpdateReminderDue(NextWUReminder));
  {
    TWUNeeded r(nullptr);
    r.BitBtn3Click();
  }
  EXPECT_EQ(Ini().ReadString("Stocks", "LastWUNotify", ""), "12/01/26");
  EXPECT_FALSE(UpdateReminderDue(LocalNow() + 1));
  SetClock(nullptr);
}

// Escape is the reminder's cancel button and the title bar's close postpones it: neither
// brings the box back at the next housekeeping tick.
TEST(UpdateWindows, EscapeAndTheTitleBarsCloseEndTheReminder) {
  TestClock clock(DateTimeToUnixMs(EncodeDate(2026, 3, 2) + 10.0 / 24));
  SetClock(&clock);
  WUInterval = 180;
  QuitRequested = false;
  QWidget main;
  main.show();
  auto reminder = [] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* r = dynamic_cast<TWUNeeded*>(w); r && r->isVisible()) return r;
    return static_cast<TWUNeeded*>(nullptr);
  };
  for (bool titleBar : {false, true}) {
    SCOPED_TRACE(titleBar ? "title bar" : "Escape");
    Ini().WriteString("Stocks", "LastWUNotify", "11/01/26");
    LastWUNotify = "12/01/26";
    NextWUReminder = 0;
    ShowUpdateReminder(&main);
    TWUNeeded* box = reminder();
    ASSERT_NE(box, nullptr);
    QPointer<TWUNeeded> alive(box);
    if (titleBar) box->windowHandle()->close();  // as the window manager's close does
    else QTest::keyClick(box, Qt::Key_Escape);
    WaitAndPump(50);
    EXPECT_EQ(reminder(), nullptr);
    for (int tick = 0; tick < 4; ++tick) {
      ShowUpdateReminder(&main);
      EXPECT_EQ(reminder(), nullptr);
    }
    if (titleBar) {
      EXPECT_NEAR(NextWUReminder, LocalNow() + 0.25, 1e-6);
      EXPECT_EQ(Ini().ReadString("Stocks", "LastWUNotify", ""), "11/01/26");
    } else {
      EXPECT_NEAR(NextWUReminder, LocalNow() + 180.0 / 1440, 1e-6);
      EXPECT_EQ(Ini().ReadString("Stocks", "LastWUNotify", ""), "12/01/26");
    }
    for (int i = 0; i < 50 && alive; ++i) WaitAndPump(10);
    EXPECT_TRUE(alive.isNull());  // freed on close
  }
  LastWUNotify.clear();
  SetClock(nullptr);
}

// At start the quiet run's message and the reminder come unasked: each waits while a modal box
// is open and while the other shows, and a short message keeps its caption whole.
TEST(UpdateWindows, BoxesWaitTheirTurnWithWholeCaptions) {
  FakeSite site("update");
  ASSERT_TRUE(site.Running());
  ParamList.Clear();
  for (const std::string& l : std::vector<std::string>{"WUFILESITE=" + site.Host(), "WUFILESITE2=-",
                                                       "QUPDATELISTSITE=" + site.Host(),
                                                       "QUPDATELISTPATH=/webupdate/quietlst.txt", "QUPDATELISTSITE2=-"})
    ParamList.Add(l);
  fs::remove(ProgDir + "quiet.dat");
  Ini().WriteInteger("Stocks", "LastQMessage", 0);
  Ini().WriteString("Stocks", "LastWUNotify", "11/01/26");
  LastWUNotify.clear();
  NextWUReminder = 0;
  QuitRequested = false;
  QWidget main;
  main.resize(640, 400);
  main.show();
  InstallSelfUpdate(&main);
  auto shown = [] {
    std::vector<std::string> titles;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->isVisible() && (qobject_cast<QMessageBox*>(w) || dynamic_cast<TWUNeeded*>(w)))
        titles.push_back(w->windowTitle().toStdString());
    return titles;
  };

  QDialog other(&main);
  other.setWindowTitle("Another modal box");
  bool checked = false;
  QTimer::singleShot(0, [&] {
    FundHooks.StartUpdate("");
    EXPECT_TRUE(WaitUntil([] { return !WebUpdateRunning() && fs::exists(ProgDir + "quiet.dat"); }, nullptr, 30000) ==
                WaitResult::Done);
    WaitAndPump(600);  // the message is handed over; the reminder is due
    MainHooks.UpdateReminder();
    WaitAndPump(600);
    EXPECT_EQ(LastWUNotify, "12/01/26");
    EXPECT_TRUE(shown().empty());
    checked = true;
    other.accept();
  });
  ++ModalDepth;
  other.exec();
  --ModalDepth;
  EXPECT_TRUE(checked);

  // The message first, alone; the reminder waits for it.
  ASSERT_TRUE(WaitUntil([&] { return !shown().empty(); }, nullptr, 10000) == WaitResult::Done);
  MainHooks.UpdateReminder();
  WaitAndPump(100);
  ASSERT_EQ(shown(), std::vector<std::string>{"Information Message"});
  QMessageBox* box = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* b = qobject_cast<QMessageBox*>(w); b && b->isVisible()) box = b;
  ASSERT_NE(box, nullptr);
  QFont bold = box->font();
  bold.setBold(true);
  EXPECT_GE(box->width(), QFontMetrics(bold).horizontalAdvance(box->windowTitle()) + 100);
  box->grab().save(QString::fromStdString(Shot("update_quiet_message.png")));
  QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
  WaitAndPump(100);
  MainHooks.UpdateReminder();
  WaitAndPump(100);
  EXPECT_EQ(shown(), std::vector<std::string>{"WebUpdate Needed"});
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* r = dynamic_cast<TWUNeeded*>(w); r && r->isVisible()) QTest::mouseClick(r->BitBtn2, Qt::LeftButton);
  WaitAndPump(100);
  EXPECT_TRUE(shown().empty());
  StopWebUpdateThread();
  fs::remove(ProgDir + "quiet.dat");
  MainHooks = {};
  PrefsHooks.OpenUpdate = nullptr;
  FundHooks = {};
}

TEST(UpdateWindows, InstallerFillsTheHooks) {
  QWidget main;
  InstallSelfUpdate(&main);
  EXPECT_TRUE(MainHooks.OpenUpdate);
  EXPECT_TRUE(MainHooks.UpdateReminder);
  EXPECT_TRUE(PrefsHooks.OpenUpdate);
  ASSERT_TRUE(FundHooks.UpdateBlocked);
  EXPECT_TRUE(FundHooks.StartUpdate);
  UpdateCancelled = false;
  UpdateFormShowing = false;
  EXPECT_FALSE(FundHooks.UpdateBlocked());
  UpdateFormShowing = true;  // the fundamentals thread starts no quiet run now
  EXPECT_TRUE(FundHooks.UpdateBlocked());
  UpdateFormShowing = false;
  UpdateCancelled = true;  // nor after the window's Cancel
  EXPECT_TRUE(FundHooks.UpdateBlocked());
  UpdateCancelled = false;
  MainHooks = {};
  PrefsHooks.OpenUpdate = nullptr;
  FundHooks = {};
}
