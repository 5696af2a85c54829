#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <fstream>

#include "common/fake_site.h"
#include "core/button_form.h"
#include "core/program_state.h"
#include "core/settings_file.h"
#include "core/sites.h"
#include "dialog_test_util.h"
#include "platform/messages.h"
#include "prefs/prefs_dialog.h"
#include "retrieval/http_engine.h"
#include "windows/dialogs/dialogs_install.h"
#include "windows/dialogs/lookup_dialog.h"
#include "windows/dialogs/lookup_search.h"

namespace {

FakeSite& Site() {
  static FakeSite site("dialogs");
  return site;
}

// The site's raw path of the last look-up and how many look-ups it answered.
std::pair<std::string, int> LastLookup() {
  HttpJob job;
  job.Url = Site().Url("/last");
  const HttpResult r = PerformHttp(job, nullptr);
  std::string path = r.Body.substr(0, r.Body.find('\n'));
  size_t at = 0;
  for (int i = 0; i < 2; ++i) at = r.Body.find('\n', at) + 1;
  return {path, std::atoi(r.Body.c_str() + at)};
}

void WriteSource(const std::string& file, const std::string& name, const std::string& host) {
  std::ofstream(ProgDir + file) << "VERSION=1.0\nNAME=" << name << "\nLOOKUPSITE=" << host
                                << "\nLOOKUPPATH=/lookup?s=##PARAM##\nLOOKUPNOMATCH=no matches\n"
                                   "LOOKUPTOOMANY=first 200\n[SCRIPT]\nMODE LOOKUP\nEACH \"<tr>\" UNTIL \"</tr>\"\n"
                                   "  FIND \"<td class=s>\"\n  GET SYMBOL UNTIL \"</td>\"\n  FIND \"<td class=n>\"\n"
                                   "  GET NAME UNTIL \"</td>\"\n  EMIT ROW\nEND\n";
}

class LookupDialog : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(Site().Running());
    WriteSource("local.lup", "Local Lookup", Site().Host());
    std::ofstream(ProgDir + "broken.lup") << "VERSION=1.0\nNAME=Broken\n[NOSUCHSECTION]\n";
    Ini().WriteString("Stocks", "LookupFile", "local.lup");
    LookupFile.clear();
    LookupSite.reset();
    TdlgLookup::ClearLastLookup();
  }
  // The user replaces the terms in the field and clicks Search.
  void Search(TdlgLookup& dlg, const std::string& terms) {
    QTest::keyClick(dlg.dfName, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(dlg.dfName, QString::fromStdString(terms));
    ASSERT_EQ(dlg.dfName->text().toStdString(), terms);
    ASSERT_TRUE(dlg.pbSearch->isEnabled());
    QTest::mouseClick(dlg.pbSearch, Qt::LeftButton);
  }
};

}  // namespace

TEST(LookupSearch, RequestFillsTheFirstParamAndDefaults) {
  StringList params;
  LookupRequest r = BuildLookupRequest(params, "big corp&co");
  EXPECT_EQ(r.Method, "GET");
  EXPECT_EQ(r.Host, DefaultLookupHost);
  EXPECT_EQ(r.Path, "/l?s=big+corp%26co");
  EXPECT_EQ(r.ExtraHeader, "Content-type: html/text");
  params.Add("LOOKUPMETH=post");
  params.Add("LOOKUPDATA=q=##PARAM##&again=##PARAM##");
  params.Add("LOOKUPPATH=/find");
  r = BuildLookupRequest(params, "a b");
  EXPECT_EQ(r.Method, "POST");
  EXPECT_EQ(r.PostData, "q=a+b&again=##PARAM##");
  EXPECT_EQ(r.ExtraHeader, "Content-Type: application/x-www-form-urlencoded");

  EXPECT_EQ(ClassifyLookupPage("ERR", true, false, "no matches"), LookupOutcome::Error);
  EXPECT_EQ(ClassifyLookupPage("", true, true, "no matches"), LookupOutcome::Cancelled);
  EXPECT_EQ(ClassifyLookupPage("<tr>x</tr> NO MATCHES", false, false, "no matches"), LookupOutcome::NoMatch);
  EXPECT_EQ(ClassifyLookupPage("rows", false, false, ""), LookupOutcome::Results);
  EXPECT_NE(LookupResultsLabel("the FIRST 200 rows", "first 200").find("only first 200"), std::string::npos);
}

TEST_F(LookupDialog, SearchShowsResultsConfirmsAndReplaysWithoutARequest) {
  {
    TdlgLookup dlg;
    dlg.show();
    // Only the source that loads is offered, and the stored one is chosen.
    ASSERT_EQ(dlg.cmbSite->count(), 1);
    EXPECT_EQ(dlg.cmbSite->currentText().toStdString(), "Local Lookup");
    EXPECT_FALSE(dlg.pbSearch->isEnabled());
    dlg.dfName->setText("   ");
    EXPECT_FALSE(dlg.pbSearch->isEnabled());
    Search(dlg, "big corp");
    EXPECT_EQ(LastLookup().first, "/lookup?s=big+corp");
    ASSERT_TRUE(dlg.Results->isVisible());
    ASSERT_EQ(dlg.Results->rowCount(), 3);
    EXPECT_EQ(dlg.Results->item(0, 0)->text().toStdString(), "BIGCORP1");
    EXPECT_EQ(dlg.Results->item(1, 1)->text().toStdString(), "Big Corp Holdings 2");
    EXPECT_EQ(dlg.labResults->text().toStdString(), "Lookup Results: click on the one you want.");
    // Confirm without a selected row does nothing.
    dlg.pbConfirmClick();
    EXPECT_TRUE(dlg.ChosenSymbol.empty());
    EXPECT_TRUE(dlg.isVisible());
    dlg.Results->selectRow(1);
    dlg.ResultsClick();
    WaitAndPump(20);
    EXPECT_TRUE(SaveScreenshot(&dlg, "dialogs_lookup"));
    dlg.pbConfirmClick();
    EXPECT_EQ(dlg.ChosenSymbol, "BIGCORP2");
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
  }
  const int requests = LastLookup().second;
  TdlgLookup again;
  again.show();
  EXPECT_EQ(LastLookup().second, requests);
  EXPECT_EQ(again.dfName->text().toStdString(), "big corp");
  ASSERT_TRUE(again.Results->isVisible());
  ASSERT_EQ(again.Results->selectedItems().size(), 2);
  EXPECT_EQ(again.Results->selectedItems().front()->row(), 1);
  EXPECT_TRUE(again.ChosenSymbol.empty());
}

TEST_F(LookupDialog, StatusesForEmptyCutFailedAndMixedPages) {
  TdlgLookup dlg;
  dlg.show();
  Search(dlg, "zzz");
  EXPECT_EQ(dlg.stStatus->text().toStdString(), "No Matches Found");
  EXPECT_FALSE(dlg.Results->isVisible());
  Search(dlg, "both");
  EXPECT_EQ(dlg.stStatus->text().toStdString(), "No Matches Found");
  EXPECT_FALSE(dlg.Results->isVisible());
  Search(dlg, "fail");
  EXPECT_EQ(dlg.stStatus->text().toStdString(), "Error in Lookup.");
  EXPECT_TRUE(dlg.pbSearch->isEnabled());
  EXPECT_TRUE(dlg.pbCancel->isVisible());
  Search(dlg, "many");
  EXPECT_EQ(dlg.labResults->text().toStdString(), "Lookup Results: (only first 200 shown) click on the one you want.");
  EXPECT_EQ(dlg.Results->rowCount(), 250);
}

TEST_F(LookupDialog, LongNamesShowWholeAndALatin1PageReadsRight) {
  TdlgLookup dlg;
  dlg.show();
  Search(dlg, "long");
  ASSERT_EQ(dlg.Results->rowCount(), 5);
  WaitAndPump(20);
  // Each name is wholly inside its row, however many lines it takes.
  const QFontMetrics fm(dlg.Results->font());
  for (int r = 0; r < dlg.Results->rowCount(); ++r) {
    const QString name = dlg.Results->item(r, 1)->text();
    const QRect need = fm.boundingRect(QRect(0, 0, dlg.Results->columnWidth(1) - 8, 10000),
                                       Qt::TextWordWrap | Qt::AlignLeft, name);
    EXPECT_GE(dlg.Results->rowHeight(r), need.height()) << name.toStdString();
  }
  EXPECT_TRUE(SaveScreenshot(&dlg, "dialogs_lookup_long_names"));

  Search(dlg, "latin");
  ASSERT_EQ(dlg.Results->rowCount(), 3);
  EXPECT_EQ(dlg.Results->item(0, 1)->text().toStdString(), "Soci\xC3\xA9t\xC3\xA9 G\xC3\xA9n\xC3\xA9rale");
  EXPECT_EQ(dlg.Results->item(1, 1)->text().toStdString(), "M\xC3\xBCller & S\xC3\xB6hne");
}

TEST(LookupPage, PagesAreReadInTheirDeclaredCharset) {
  EXPECT_EQ(PageAsUtf8("<meta charset=\"iso-8859-1\">Caf\xE9"), "<meta charset=\"iso-8859-1\">Caf\xC3\xA9");
  EXPECT_EQ(PageAsUtf8("<META HTTP-EQUIV=Content-Type CONTENT='text/html; charset=windows-1252'>\x80 \x93x\x94"),
            "<META HTTP-EQUIV=Content-Type CONTENT='text/html; charset=windows-1252'>\xE2\x82\xAC \xE2\x80\x9Cx\xE2\x80\x9D");
  // UTF-8, declared or not, stays as it is; undeclared bytes that are no UTF-8 are Latin-1.
  EXPECT_EQ(PageAsUtf8("<meta charset=utf-8>Caf\xC3\xA9"), "<meta charset=utf-8>Caf\xC3\xA9");
  EXPECT_EQ(PageAsUtf8("Caf\xC3\xA9"), "Caf\xC3\xA9");
  EXPECT_EQ(PageAsUtf8("Caf\xE9"), "Caf\xC3\xA9");
  // Overlong forms and surrogates are no UTF-8.
  EXPECT_EQ(PageAsUtf8("\xE0\x80\xAF"), "\xC3\xA0\xE2\x82\xAC\xC2\xAF");
  EXPECT_EQ(PageAsUtf8("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xE2\x82\xAC");
}

TEST_F(LookupDialog, ConfirmFromThePreferencesFillsTheirSymbol) {
  InstallDialogs(nullptr);
  ASSERT_TRUE(OpenSymbolLookup);
  TdlgPref prefs(nullptr);
  prefs.Pages->setCurrentIndex(prefs.PageOfTag(PrefsTabMisc));
  prefs.show();
  // The user types the terms, searches, clicks the second row and confirms, with the mouse. The
  // dialog is closed before anything is asserted: a failure must not leave its modal loop running.
  bool opened = false, modal = false;
  int rows = -1;
  WhenModal([&] {
    TdlgLookup* dlg = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* d = dynamic_cast<TdlgLookup*>(w); d && d->isVisible()) dlg = d;
    if (!dlg) return;
    opened = true;
    modal = dlg->isModal();
    QTest::keyClicks(dlg->dfName, "big corp");
    QTest::mouseClick(dlg->pbSearch, Qt::LeftButton);
    rows = dlg->Results->rowCount();
    if (rows == 3) {
      QTest::mouseClick(dlg->Results->viewport(), Qt::LeftButton, {},
                        dlg->Results->visualRect(dlg->Results->model()->index(1, 1)).center());
      QTest::mouseClick(dlg->pbConfirm, Qt::LeftButton);
    }
    if (dlg->isVisible()) dlg->reject();
  });
  // A safety stop for a broken build: whatever modal window is still open goes.
  QTimer deadline;
  deadline.setSingleShot(true);
  QObject::connect(&deadline, &QTimer::timeout, [] {
    for (int i = 0; i < 10; ++i)
      if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget())) d->reject();
  });
  deadline.start(30000);
  QTest::mouseClick(prefs.pbLookup, Qt::LeftButton);
  deadline.stop();
  ASSERT_TRUE(opened) << "no look-up dialog opened";
  EXPECT_TRUE(modal);
  ASSERT_EQ(rows, 3);
  EXPECT_EQ(prefs.dfSymbol->text().toStdString(), "BIGCORP2");
  EXPECT_EQ(ModalDepth, 0);
  OpenSymbolLookup = nullptr;
}

TEST_F(LookupDialog, CancelAndQuitEndASlowSearch) {
  TdlgLookup dlg;
  dlg.show();
  dlg.dfName->setText("slow");
  QTimer::singleShot(100, &dlg, [&] {
    EXPECT_TRUE(dlg.pbCancelLookup->isVisible());
    EXPECT_FALSE(dlg.pbCancel->isVisible());
    dlg.pbCancelLookupClick();
  });
  dlg.pbSearchClick();
  EXPECT_EQ(dlg.stStatus->text().toStdString(), "Lookup Cancelled.");
  EXPECT_EQ(RunningHttpRequests(), 0);

  // The program quits while the dialog is open and searching: the modal loop ends.
  InstallDialogs(nullptr);
  ASSERT_TRUE(OpenSymbolLookup);
  WhenModal([] {
    QTimer::singleShot(100, [] { QuitRequested = true; });
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* d = dynamic_cast<TdlgLookup*>(w); d && d->isVisible()) {
        d->dfName->setText("slow");
        d->pbSearchClick();
      }
  });
  EXPECT_EQ(OpenSymbolLookup(nullptr), "");
  QuitRequested = false;
  EXPECT_EQ(ModalDepth, 0);
  OpenSymbolLookup = nullptr;
}

TEST_F(LookupDialog, ChoosingASourceStoresItAndANewSourceIsUsed) {
  WriteSource("other.lup", "Another Lookup", Site().Host());
  TdlgLookup dlg;
  dlg.show();
  ASSERT_EQ(dlg.cmbSite->count(), 2);
  const int other = dlg.LookupFileNames.IndexOf("other.lup");
  ASSERT_GE(other, 0);
  dlg.cmbSite->setCurrentIndex(other);
  dlg.cmbSiteClick();
  EXPECT_EQ(Ini().ReadString("Stocks", "LookupFile", ""), "other.lup");
  ASSERT_TRUE(LookupSite);
  EXPECT_EQ(LookupSite->Name, "Another Lookup");
  std::remove((ProgDir + "other.lup").c_str());
}

// With no source file installed, the dialog says so instead of leaving Search disabled
// without a word.
TEST_F(LookupDialog, WithoutASourceTheDialogSaysSo) {
  for (const char* f : {"local.lup", "broken.lup"}) std::remove((ProgDir + f).c_str());
  TdlgLookup dlg;
  dlg.show();
  QTest::keyClicks(dlg.dfName, "acme");
  EXPECT_FALSE(dlg.pbSearch->isEnabled());
  EXPECT_TRUE(dlg.stStatus->isVisible());
  EXPECT_EQ(dlg.stStatus->text().toStdString(), "No look-up source is installed");
  EXPECT_FALSE(dlg.cmbSite->isEnabled());
}
