#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "common/fake_site.h"
#include "core/main_hooks.h"
#include "core/market_clock.h"
#include "core/program_state.h"
#include "dialog_test_util.h"
#include "platform/registry.h"
#include "retrieval/fund_thread.h"
#include "retrieval/http_engine.h"
#include "windows/dialogs/dialog_messages.h"
#include "windows/dialogs/dialogs_install.h"
#include "windows/dialogs/survey_dialog.h"
#include "windows/dialogs/survey_query.h"

namespace {

const char* const SurveyPar =
    "VERSION=2.1\n"
    "MESSAGE=Help us.||Thank you.\n"
    "COUNTRYNAME=Canada,United States,Other\n"
    "GENDERNAME=---,Female,Male\nGENDERCODE=-,F,M\n"
    "AGENAME=---,Young,Old\nAGECODE=-,1\n"
    "BROKERNAME=Broker One,Broker Two,Broker Three\nBROKERCODE=B1,B2,B3\n";

RegistryStore& Reg() { return RegistryStore::CurrentUser(); }

void ClearSurveyValues() {
  for (const char* name : {"SURV", "SDAT", "SREMIND"}) Reg().DeleteValue(RegKeyPath, name);
}

template <typename T>
T* Visible() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* d = dynamic_cast<T*>(w); d && d->isVisible()) return d;
  return nullptr;
}

class SurveyTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::ofstream(ProgDir + "survey.par") << SurveyPar;
    ClearSurveyValues();
    TdlgSurvey::ThanksMs = 0;
  }
  void TearDown() override {
    std::filesystem::remove(ProgDir + "survey.par");
    ClearSurveyValues();
    DialogMessage = nullptr;
    MainHooks = {};
    FundHooks = {};
  }
};

}  // namespace

TEST(SurveyQuery, ListsFromTheFileAndTheirDefaults) {
  StringList none;
  SurveyLists d = ReadSurveyLists(none);
  EXPECT_EQ(d.Version, "1.0");
  EXPECT_EQ(d.Message, "");
  EXPECT_EQ(d.Names[SqHow], std::vector<std::string>{"---"});
  EXPECT_EQ(d.Codes[SqHow], std::vector<std::string>{"-"});
  EXPECT_EQ(SplitSurveyList(" a , b c,,d "), (std::vector<std::string>{"a", "b c", "", "d"}));

  StringList p;
  p.Add("MESSAGE=One||Two");
  p.Add("AGENAME=---,Under 25,25 to 34");
  EXPECT_EQ(ReadSurveyLists(p).Message, "One\nTwo");
  EXPECT_EQ(ReadSurveyLists(p).Names[SqAge].size(), 3u);  // blanks inside a name do not split it
}

TEST(SurveyQuery, QueryOrderEncodingAndShortCodeLists) {
  SurveyLists l;
  l.Version = "2.1";
  for (auto& codes : l.Codes) codes = {"-", "X"};
  l.Codes[SqAge] = {"-"};  // shorter than its names
  l.BrokerCodes = {"B1", "B2", "B 3"};
  SurveyAnswers a;
  a.Country = "United States";
  a.Chosen.fill(1);
  a.Brokers = {false, false, false};
  a.Zip = "  12 34 ";
  a.Checks = {{11, true}, {12, false}, {0, true}};
  a.Ratings = {{1, 3}, {2, 0}};
  EXPECT_EQ(BuildSurveyQuery(l, a),
            "VER=2.1&CNTRY=United+States&GEN=X&AGE=&STA=X&HSZ=X&EDU=X&INC=X&OCC=X&CSZ=X&HOW=X&BRO=&ZIP=12+34&"
            "C11=1&C12=0&Q1=3&Q2=0&");
  a.Brokers = {true, false, true};
  const std::string q = BuildSurveyQuery(l, a);
  EXPECT_NE(q.find("&BRO=B1,B+3,&ZIP="), std::string::npos) << q;
}

TEST(SurveyQuery, ReminderIsDueOnlyWithAFileNoAnswerAndItsDayCome) {
  const TDateTime today = EncodeDate(2026, 12, 7) + 0.5;
  const std::string todayText = RemindDayText(today);
  EXPECT_EQ(todayText, std::to_string(static_cast<int>(EncodeDate(2026, 12, 7))));
  EXPECT_TRUE(SurveyReminderDue(true, "", todayText, today));
  EXPECT_FALSE(SurveyReminderDue(false, "", todayText, today));
  EXPECT_FALSE(SurveyReminderDue(true, "VER=1&", todayText, today));
  EXPECT_FALSE(SurveyReminderDue(true, "", RemindDayText(today + 1), today));
  EXPECT_FALSE(SurveyReminderDue(true, "", "", today));
  EXPECT_FALSE(SurveyReminderDue(true, "", std::to_string(SurveyNeverDay), today));
}

TEST_F(SurveyTest, FormFillsFromTheFileGroupsChecksAndSendStoresTheQuery) {
  TdlgSurvey dlg;
  dlg.show();
  EXPECT_EQ(dlg.cmbCountry->currentText().toStdString(), "United States");
  EXPECT_EQ(dlg.cmbGender->count(), 3);
  EXPECT_EQ(dlg.cmbGender->currentIndex(), 0);
  EXPECT_EQ(dlg.cmbHow->currentText().toStdString(), "---");  // not in the file: the default
  EXPECT_EQ(dlg.lbBrokers->count(), 3);

  // One answer per group.
  QCheckBox* home = dlg.CheckWithTag(32);
  QCheckBox* school = dlg.CheckWithTag(33);
  home->click();
  school->click();
  EXPECT_FALSE(home->isChecked());
  dlg.CheckWithTag(31)->click();
  EXPECT_FALSE(school->isChecked());
  EXPECT_TRUE(dlg.CheckWithTag(31)->isChecked());
  dlg.CheckWithTag(11)->click();
  dlg.CheckWithTag(12)->click();
  EXPECT_FALSE(dlg.CheckWithTag(11)->isChecked());

  dlg.cmbGender->setCurrentIndex(2);
  dlg.cmbAge->setCurrentIndex(2);  // "Old" has no code
  dlg.lbBrokers->item(1)->setCheckState(Qt::Checked);
  dlg.dfZip->setText(" 10 001 ");
  dlg.Ratings[0]->setCurrentIndex(5);
  WaitAndPump(20);
  EXPECT_TRUE(SaveScreenshot(&dlg, "dialogs_survey"));
  SurveyCheckTime = MarketNow() + 1;
  dlg.pbSendClick();
  EXPECT_EQ(dlg.result(), QDialog::Accepted);
  EXPECT_LT(SurveyCheckTime.load(), MarketNow());
  EXPECT_EQ(Reg().ReadString(RegKeyPath, "SDAT", ""), "-");
  EXPECT_EQ(Reg().ReadString(RegKeyPath, "SURV", ""),
            "VER=2.1&CNTRY=United+States&GEN=M&AGE=&STA=-&HSZ=-&EDU=-&INC=-&OCC=-&CSZ=-&HOW=-&BRO=B2,&ZIP=10+001&"
            "C11=0&C12=1&C21=0&C22=0&C31=1&C32=0&C33=0&Q1=5&Q2=0&Q3=0&");
}

TEST_F(SurveyTest, RemindLaterAndDoNotSend) {
  {
    TdlgSurvey dlg;
    dlg.show();
    dlg.pbRemindClick();
  }
  EXPECT_EQ(Reg().ReadString(RegKeyPath, "SREMIND", ""), RemindDayText(MarketNow() + 1));
  EXPECT_EQ(Reg().ReadString(RegKeyPath, "SURV", ""), "");
  {
    TdlgSurvey dlg;
    dlg.show();
    dlg.pbCancelClick();
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
  }
  EXPECT_EQ(Reg().ReadString(RegKeyPath, "SURV", ""), "");
}

TEST_F(SurveyTest, ReminderStepsThroughItsAnswers) {
  std::vector<std::string> notices;
  DialogMessage = [&](QWidget*, const std::string& text, const std::string& caption) {
    notices.push_back(caption + ": " + text);
  };
  QWidget main;
  InstallDialogs(&main);
  ASSERT_TRUE(MainHooks.SurveyReminder);
  const std::string today = RemindDayText(MarketNow());

  // The first pass only sets the first prompt a week ahead.
  MainHooks.SurveyReminder();
  EXPECT_EQ(Reg().ReadString(RegKeyPath, "SREMIND", ""), RemindDayText(MarketNow() + 7));

  // Due: "Remind me later" puts it off to tomorrow.
  Reg().WriteString(RegKeyPath, "SREMIND", today);
  WhenModal([] {
    auto* prompt = Visible<TdlgRemindSurvey>();
    ASSERT_TRUE(prompt);
    EXPECT_TRUE(SaveScreenshot(prompt, "dialogs_survey_remind"));
    prompt->pbLater->click();
  });
  MainHooks.SurveyReminder();
  EXPECT_EQ(Reg().ReadString(RegKeyPath, "SREMIND", ""), RemindDayText(MarketNow() + 1));
  MainHooks.SurveyReminder();  // not due again today: no prompt (none is driven)

  // "No": thanked, and never asked again.
  Reg().WriteString(RegKeyPath, "SREMIND", today);
  WhenModal([] { Visible<TdlgRemindSurvey>()->pbNo->click(); });
  MainHooks.SurveyReminder();
  EXPECT_EQ(Reg().ReadString(RegKeyPath, "SREMIND", ""), std::to_string(SurveyNeverDay));
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0], "Thank you: If you change your mind later, you can always reach the survey through the Help menu option.");

  // "Yes": the survey follows; once sent, no more prompts.
  Reg().WriteString(RegKeyPath, "SREMIND", today);
  WhenModal([] {
    Visible<TdlgRemindSurvey>()->pbYes->click();
    QTimer::singleShot(0, [] {
      auto* survey = Visible<TdlgSurvey>();
      ASSERT_TRUE(survey);
      survey->pbSend->click();
    });
  });
  MainHooks.SurveyReminder();
  EXPECT_EQ(Reg().ReadString(RegKeyPath, "SDAT", ""), "-");
  EXPECT_FALSE(Reg().ReadString(RegKeyPath, "SURV", "").empty());
  Reg().WriteString(RegKeyPath, "SREMIND", today);
  MainHooks.SurveyReminder();  // answered: no prompt
  EXPECT_EQ(ModalDepth, 0);

  // Help/Survey opens the survey; quitting closes it.
  ASSERT_TRUE(MainHooks.Commands.count("SURVEY"));
  WhenModal([] {
    ASSERT_TRUE(Visible<TdlgSurvey>());
    QuitRequested = true;
  });
  MainHooks.Commands["SURVEY"]("");
  QuitRequested = false;
}

TEST_F(SurveyTest, TheFundamentalsThreadSendsTheAnswerOnce) {
  FakeSite site("dialogs");
  ASSERT_TRUE(site.Running());
  InstallDialogs(nullptr);
  ASSERT_TRUE(FundHooks.SendSurvey);
  EXPECT_FALSE(FundHooks.SendSurvey("VER=1&"));  // no SURVEYURL: not sent
  ParamList.Add("SURVEYURL=" + site.Url("/survey"));
  Reg().WriteString(RegKeyPath, "SURV", "VER=2.1&ZIP=10+001&");
  Reg().WriteString(RegKeyPath, "SDAT", "-");
  GetFundThread::SurveyStep();
  ParamList.Delete(ParamList.Count() - 1);
  const std::string sent = Reg().ReadString(RegKeyPath, "SDAT", "");
  EXPECT_EQ(sent, FormatDateTime("yyyymmdd", MarketNow()));
  HttpJob job;
  job.Url = site.Url("/last");
  const std::string last = PerformHttp(job, nullptr).Body;
  EXPECT_NE(last.find("/survey?VER=2.1&ZIP=10+001&"), std::string::npos) << last;
  GetFundThread::SurveyStep();  // already sent: nothing goes out again
  EXPECT_NE(PerformHttp(job, nullptr).Body.find("\n1\n"), std::string::npos);
}
