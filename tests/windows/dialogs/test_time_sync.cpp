#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <cmath>

#include "common/fake_site.h"
#include "core/market_clock.h"
#include "core/program_state.h"
#include "core/settings_file.h"
#include "dialog_test_util.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "prefs/prefs_dialog.h"
#include "retrieval/http_engine.h"
#include "windows/dialogs/dialogs_install.h"
#include "windows/dialogs/time_sync.h"
#include "windows/dialogs/time_sync_dialog.h"

namespace {

constexpr double Second = 1.0 / 86400;

TDateTime At(int y, int mo, int d, int h, int mi, int s) { return EncodeDate(y, mo, d) + EncodeTime(h, mi, s, 0); }

FakeSite& ClockSite() {
  static FakeSite site("dialogs");
  return site;
}

// Fixes the clock pages ("" gives the live page back, "500" makes it fail).
void SetPages(const std::string& page1, const std::string& page2) {
  HttpJob job;
  job.Url = ClockSite().Url("/set?page1=" + QUrl::toPercentEncoding(QString::fromStdString(page1)).toStdString() +
                            "&page2=" + QUrl::toPercentEncoding(QString::fromStdString(page2)).toStdString());
  ASSERT_TRUE(PerformHttp(job, nullptr).Ok);
}

void SetParam(const std::string& key, const std::string& value) {
  for (int i = ParamList.Count() - 1; i >= 0; --i)
    if (UpperCase(ParamList.Names(i)) == key) ParamList.Delete(i);
  if (!value.empty()) ParamList.Add(key + "=" + value);
}

// Opens the dialog as the preferences do and runs check on it once it stops being busy.
void RunSync(const std::function<void(TftmSync&)>& check) {
  InstallDialogs(nullptr);
  ASSERT_TRUE(PrefsHooks.OpenTimeSync);
  bool checked = false;
  auto* poll = new QTimer;
  int rounds = 0;
  QObject::connect(poll, &QTimer::timeout, [&] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* d = dynamic_cast<TftmSync*>(w);
      if (!d || !d->isVisible()) continue;
      // Done when a fetch finished: Close offered, or a failure status shown with the fetch over.
      const bool over = d->Fetched || (!d->SyncBusy && d->pbCont->isHidden());
      if (over && !checked) {
        checked = true;
        check(*d);
        // The user closes it with the button it offers.
        if (d->isVisible()) QTest::mouseClick(d->Fetched ? d->pbCont : d->pbCancel, Qt::LeftButton);
      } else if (++rounds > 1200) {
        d->reject();  // a safety stop for a broken build, not a timing check
      }
    }
  });
  poll->start(25);
  PrefsHooks.OpenTimeSync(nullptr);
  delete poll;
  PrefsHooks.OpenTimeSync = nullptr;
  EXPECT_TRUE(checked);
}

class TimeSyncDialog : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(ClockSite().Running());
    ClockSynced = false;
    EtOffsetCache = 0;
    Ini().DeleteKey("Stocks", "ETOFFSET");
    SetParam("TIMEHOST1", ClockSite().Host());
    SetParam("TIMEHOST2", ClockSite().Host());
    SetPages("", "");
  }
  void TearDown() override {
    SetParam("TIMEHOST1", "");
    SetParam("TIMEHOST2", "");
    ClockSynced = false;
    EtOffsetCache = 0;
  }
};

// The offset that makes the market clock Eastern time now.
double TrueOffset() { return EasternFromUtcMs(NowUtcMs()) - LocalNow(); }

}  // namespace

TEST(TimeSyncPages, BothPageFormsWithExplicitYearsAndMidnight) {
  MasterReading r = ReadMasterPage1(
      "<pre>\n<BR>Dec. 31, 2031, 04:59:59 UTC\t\tUniversal Time\n<BR>Dec. 30, 2031, 11:59:59 PM EST\t\tEastern Time\n");
  ASSERT_TRUE(r.Date && r.Time);
  EXPECT_EQ(*r.Date, EncodeDate(2031, 12, 30));  // the year as written, though far ahead of today
  EXPECT_NEAR(*r.Time, EncodeTime(23, 59, 59, 0), 1e-9);

  r = ReadMasterPage1("<BR>Mar. 08, 2026, 12:00:00 AM EST\t\tEastern Time");
  ASSERT_TRUE(r.Date && r.Time);
  EXPECT_EQ(*r.Time, 0.0);  // midnight is a time, not a failure
  EXPECT_EQ(*r.Date, EncodeDate(2026, 3, 8));
  EXPECT_EQ(ParseClockTime(" 00:00:00 "), std::optional<double>(0.0));
  EXPECT_FALSE(ParseClockTime(" xx:yy "));
  EXPECT_FALSE(ParseClockTime(" 12:00:00 PM ").value_or(0) == 0);

  r = ReadMasterPage2("<TR><TD>New York</TD><TD>12:00:00 AM, Sunday, March 08, 2026</TD></TR>");
  ASSERT_TRUE(r.Date && r.Time);
  EXPECT_EQ(*r.Time, 0.0);
  EXPECT_EQ(*r.Date, EncodeDate(2026, 3, 8));
  r = ReadMasterPage2("<TD>New York</TD><TD>03:15:00 PM, Friday</TD>");
  EXPECT_TRUE(r.Marker);
  EXPECT_TRUE(r.Time);
  EXPECT_FALSE(r.Date);

  // No "Easter" marker: nothing read at all.
  r = ReadMasterPage1("<html>Service moved</html>");
  EXPECT_FALSE(r.Marker || r.Date || r.Time);
  EXPECT_FALSE(ReadMasterPage2("<html>London only</html>").Marker);
}

TEST(TimeSyncPages, OffsetAgainstTheStartAcrossMidnightAndTheClockChange) {
  // The PC runs on UTC. The request starts at 23:59:58 and takes 4 seconds; the page was made
  // as it arrived, on the next day.
  TDateTime start = At(2026, 3, 8, 4, 59, 58);  // UTC; Eastern 23:59:58 on the 7th (EST)
  TDateTime received = start + 4 * Second;
  TDateTime master = MasterAtStart(EncodeDate(2026, 3, 8), EncodeTime(0, 0, 2, 0), start, received);
  EXPECT_NEAR(master, At(2026, 3, 7, 23, 59, 58) + 3 * Second, 1e-9);
  double offset = SyncOffset(master, start);
  EXPECT_NEAR(offset, -5.0 / 24 + 3 * Second, 1e-9);

  // The clocks go forward at 2:00 Eastern: the page after the change shows daylight time.
  start = At(2026, 3, 8, 6, 59, 58);  // 01:59:58 EST
  received = start + 4 * Second;      // 03:00:02 EDT
  master = MasterAtStart(EncodeDate(2026, 3, 8), EncodeTime(3, 0, 2, 0), start, received);
  offset = SyncOffset(master, start);
  const TDateTime eastern = EasternFromUtcMsByRule(DateTimeToUnixMs(received));
  EXPECT_NEAR(received + offset, eastern + 3 * Second, 1e-9);

  // The wrong-clock warning compares whole date-times: two minutes across midnight are fine.
  EXPECT_FALSE(ClockLooksWrong(At(2026, 3, 7, 23, 59, 0), At(2026, 3, 8, 0, 1, 0)));
  EXPECT_TRUE(ClockLooksWrong(At(2026, 3, 7, 23, 50, 0), At(2026, 3, 8, 0, 1, 0)));
  EXPECT_TRUE(ClockLooksWrong(At(2026, 3, 7, 12, 0, 0), At(2026, 3, 8, 12, 0, 0)));  // a day off
}

TEST(TimeSyncPages, StatusTextIsPlainAndShort) {
  EXPECT_EQ(PlainElided("<b>Bad</b>\n\n  <i>time</i>\r\n", 80), "Bad time");
  const std::string cut = PlainElided(std::string(500, 'x'), 20);
  EXPECT_EQ(cut, std::string(17, 'x') + "...");
  EXPECT_EQ(PlainElided("\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", 6), "\xC3\xA9...");
}

TEST_F(TimeSyncDialog, FetchStartsByItselfFallsBackAndPutsTheOffsetInForce) {
  SetParam("TIMEHOST1", "127.0.0.1:1");  // nothing listens there: the first source fails
  RunSync([](TftmSync& d) {
    EXPECT_TRUE(d.Fetched) << d.stStatus->text().toStdString();
    EXPECT_EQ(d.stStatus->text().toStdString(), "Master Time Fetched (accurate to within 10 seconds)");
    EXPECT_EQ(d.pbCont->text().toStdString(), "&Close");
    EXPECT_FALSE(d.pbCancel->isVisible());
    EXPECT_FALSE(d.lbWrong->isVisible());
    EXPECT_NE(d.lbMaster->text().toStdString(), "**Undetermined**");
    EXPECT_TRUE(SaveScreenshot(&d, "dialogs_sync"));
    QTest::mouseClick(d.pbCont, Qt::LeftButton);  // Close
    EXPECT_EQ(d.result(), QDialog::Accepted);
  });
  EXPECT_TRUE(ClockSynced);
  EXPECT_NEAR(EtOffsetCache.load(), TrueOffset(), 10 * Second);
  const std::string stored = Ini().ReadString("Stocks", "ETOFFSET", "");
  EXPECT_NE(stored.find('.'), std::string::npos) << stored;
  EXPECT_EQ(stored.find(','), std::string::npos) << stored;
  EXPECT_NEAR(Ini().ReadFloat("Stocks", "ETOFFSET", 99), EtOffsetCache.load(), 1e-9);
}

TEST_F(TimeSyncDialog, WarnsWhenTheClockBeforeWasOff) {
  ClockSynced = true;
  EtOffsetCache = TrueOffset() + 1.0 / 24;  // the market clock runs an hour ahead
  RunSync([](TftmSync& d) {
    EXPECT_TRUE(d.Fetched) << d.stStatus->text().toStdString();
    EXPECT_TRUE(d.lbWrong->isVisible());
    EXPECT_TRUE(SaveScreenshot(&d, "dialogs_sync_wrong_clock"));
  });
  EXPECT_NEAR(EtOffsetCache.load(), TrueOffset(), 10 * Second);
}

TEST_F(TimeSyncDialog, BadPagesChangeNothing) {
  // A first page without the marker does not fall back to the second source.
  SetPages("<html>Service moved</html>", "");
  RunSync([](TftmSync& d) {
    EXPECT_EQ(d.stStatus->text().toStdString(), "Invalid Page - ERROR accessing Master Clock");
    EXPECT_EQ(d.lbMaster->text().toStdString(), "**Undetermined**");
    EXPECT_TRUE(d.pbCancel->isVisible());
  });
  SetPages("<p>\n<BR>Dec. 07, 2026, <b>soon</b>\t\tEastern Time\n</p>", "");
  RunSync([](TftmSync& d) {
    EXPECT_EQ(d.stStatus->text().toStdString().rfind("Bad Time \"", 0), 0u);
    EXPECT_EQ(d.stStatus->text().toStdString().find('<'), std::string::npos);
  });
  SetPages("500", "500");
  RunSync([](TftmSync& d) {
    EXPECT_EQ(d.stStatus->text().toStdString(), "ERROR accessing Master Clock");
    // The explanation keeps its own room above the clock lines.
    QLabel* local = nullptr;
    for (QLabel* l : d.findChildren<QLabel*>())
      if (l->text() == "System Local Time:") local = l;
    ASSERT_NE(local, nullptr);
    EXPECT_LE(d.Label1->geometry().bottom(), local->geometry().top());
    EXPECT_GE(d.Label1->height(), d.Label1->heightForWidth(d.Label1->width()));
    EXPECT_TRUE(d.rect().contains(d.stStatus->geometry()));
    EXPECT_TRUE(SaveScreenshot(&d, "dialogs_sync_failed"));
  });
  // A master clock a century off, or two days ahead, is refused: nothing goes into force.
  for (const char* page : {"<BR>Jan. 01, 1900, 10:00:00 AM EST\t\tEastern Time",
                           "<BR>%DATE%, 10:00:00 AM EST\t\tEastern Time"}) {
    std::string text = page;
    const size_t at = text.find("%DATE%");
    if (at != std::string::npos) text.replace(at, 6, FormatDateTime("mmm. dd, yyyy", LocalNow() + 2));
    SetPages(text, "");
    RunSync([&](TftmSync& d) {
      EXPECT_FALSE(d.Fetched) << text;
      EXPECT_NE(d.stStatus->text().toStdString().find("more than a day"), std::string::npos)
          << d.stStatus->text().toStdString();
      EXPECT_EQ(d.lbMaster->text().toStdString(), "**Undetermined**");
      EXPECT_TRUE(d.pbCancel->isVisible());
    });
  }
  EXPECT_FALSE(ClockSynced);
  EXPECT_EQ(Ini().ReadString("Stocks", "ETOFFSET", "none"), "none");
}

TEST_F(TimeSyncDialog, CancelDuringTheFetchAndQuitCloseIt) {
  SetPages("slow", "");  // the first clock does not answer while the test runs
  InstallDialogs(nullptr);
  // Acts on the dialog once its fetch is under way.
  auto whenBusy = [](std::function<void(TftmSync&)> act) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, act] {
      for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = dynamic_cast<TftmSync*>(w); d && d->isVisible() && d->SyncBusy) {
          poll->stop();
          poll->deleteLater();
          act(*d);
        }
    });
    poll->start(20);
  };
  whenBusy([](TftmSync& d) { QTest::mouseClick(d.pbCancel, Qt::LeftButton); });
  PrefsHooks.OpenTimeSync(nullptr);
  EXPECT_FALSE(ClockSynced);
  EXPECT_EQ(RunningHttpRequests(), 0);

  whenBusy([](TftmSync&) { QuitRequested = true; });
  PrefsHooks.OpenTimeSync(nullptr);
  QuitRequested = false;
  EXPECT_FALSE(ClockSynced);
  PrefsHooks.OpenTimeSync = nullptr;
  SetPages("", "");
}
