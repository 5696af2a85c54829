#include <gtest/gtest.h>

#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "core/main_hooks.h"
#include "core/program_state.h"
#include "core/settings_file.h"
#include "core/url_launch.h"
#include "dialog_test_util.h"
#include "platform/messages.h"
#include "retrieval/password_scramble.h"
#include "windows/dialogs/dialogs_install.h"
#include "windows/dialogs/login_dialog.h"

namespace {
std::shared_ptr<HTTPSite> MakeSite(const std::string& name) {
  auto site = std::make_shared<HTTPSite>();
  site->Name = name;
  site->StoredLogin = "olduser";
  site->StoredPassword = "oldpass";
  site->SavePassword = true;
  return site;
}
}  // namespace

TEST(LoginDialog, NamesTheSiteByItsShortNameOrTheNameBeforeTheParenthesis) {
  auto site = MakeSite("Fake Quotes (delayed 20 min)");
  EXPECT_EQ(LoginDisplayName(*site, ""), "Fake Quotes");
  EXPECT_EQ(LoginDisplayName(*site, "FQ"), "FQ");
  site->Name = "  Plain  ";
  EXPECT_EQ(LoginDisplayName(*site, ""), "Plain");

  CurSite = MakeSite("Fake Quotes (delayed 20 min)");
  {
    TdlgPass dlg(CurSite, "FAKE.SDF");
    EXPECT_TRUE(PassDlgExists);
    dlg.show();
    EXPECT_EQ(dlg.Label1->text().toStdString(), "Fake Quotes requires you to login in order to get quote data.");
    EXPECT_EQ(dlg.pbLink->text().toStdString(), "Go register at Fake Quotes");
    EXPECT_EQ(dlg.lbName->text().toStdString(), "Name");
    EXPECT_EQ(dlg.lbPass->text().toStdString(), "Password");
    EXPECT_EQ(dlg.dfName->text().toStdString(), "olduser");
    EXPECT_EQ(dlg.dfPass->text().toStdString(), "oldpass");
    EXPECT_TRUE(dlg.cbSave->isChecked());
    EXPECT_EQ(dlg.dfPass->echoMode(), QLineEdit::Password);
    WaitAndPump(30);
    EXPECT_TRUE(SaveScreenshot(&dlg, "dialogs_login"));
  }
  EXPECT_FALSE(PassDlgExists);
  CurSite.reset();
}

// A site's name from its definition file is shown as it is written: markup in it draws no large
// red text and no link in the dialog.
TEST(LoginDialog, TheSitesNameShowsAsPlainText) {
  auto site = MakeSite("<font color=#ff0000 size=7>Evil</font> & <a href=\"http://x.test/\">Co</a>");
  site->LoginNameCaption = "<b>ID</b>";
  TdlgPass dlg(site, "EVIL.SDF");
  dlg.show();
  WaitAndPump(30);
  EXPECT_TRUE(dlg.Label1->text().startsWith("<font color=#ff0000 size=7>Evil</font> & <a href="));
  EXPECT_EQ(dlg.pbLink->text().toStdString().find(" & "), std::string::npos);  // no mnemonic made of it
  for (QLabel* l : {dlg.Label1, dlg.Label2, dlg.lbName}) {
    const QImage shot = l->grab().toImage();
    int red = 0;
    for (int y = 0; y < shot.height(); ++y)
      for (int x = 0; x < shot.width(); ++x) {
        const QColor c = shot.pixelColor(x, y);
        red += c.red() > 200 && c.green() < 60 && c.blue() < 60;
      }
    EXPECT_EQ(red, 0) << l->text().toStdString();
  }
  EXPECT_TRUE(SaveScreenshot(&dlg, "dialogs_login_markup_name"));
}

TEST(LoginDialog, OkSavesScrambledCancelLeavesEverything) {
  Ini().EraseSection("MEMBER.SDF");
  auto site = MakeSite("Member Site");
  site->LoginNameCaption = "Member ID";
  site->PasswordCaption = "PIN";
  {
    TdlgPass dlg(site, "MEMBER.SDF");
    dlg.show();
    EXPECT_EQ(dlg.lbName->text().toStdString(), "Member ID");
    EXPECT_EQ(dlg.lbPass->text().toStdString(), "PIN");
    dlg.dfName->setText("newuser");
    dlg.dfPass->setText("newpass");
    dlg.pbCancelClick();
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
  }
  EXPECT_TRUE(site->EnteredLogin.empty());
  EXPECT_EQ(site->StoredLogin, "olduser");
  EXPECT_EQ(Ini().ReadString("MEMBER.SDF", "Login", "<none>"), "<none>");

  {
    TdlgPass dlg(site, "MEMBER.SDF");
    dlg.show();
    dlg.dfName->setText("newuser");
    dlg.dfPass->setText("new pass");
    dlg.pbOKClick();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
  }
  EXPECT_EQ(site->EnteredLogin, "newuser");
  EXPECT_EQ(site->StoredPassword, "new pass");
  EXPECT_EQ(Ini().ReadString("MEMBER.SDF", "Login", ""), "newuser");
  const std::string stored = Ini().ReadString("MEMBER.SDF", "Password", "");
  EXPECT_NE(stored, "new pass");
  EXPECT_EQ(UnscramblePassword(stored), "new pass");

  // Without "Save Password" the password is not kept in the settings.
  {
    TdlgPass dlg(site, "MEMBER.SDF");
    dlg.show();
    dlg.cbSave->setChecked(false);
    dlg.pbOKClick();
  }
  EXPECT_EQ(Ini().ReadString("MEMBER.SDF", "Password", "x"), "");
}

TEST(LoginDialog, RegisterButtonOpensTheSitesAddressElseTheHelpPage) {
  std::vector<std::string> opened;
  UrlHooks.OpenURL = [&](const std::string& url) { opened.push_back(url); };
  auto site = MakeSite("Member Site");
  site->RegisterUrl = "http://127.0.0.1:9/register";
  TdlgPass withUrl(site, "MEMBER.SDF");
  withUrl.LinkLabelClick();
  auto bare = MakeSite("Bare Site");
  TdlgPass without(bare, "BARE.SDF");
  without.LinkLabelClick();
  ParamList.Add("SITEHELPURL=http://127.0.0.1:9/help/sites.htm");
  without.LinkLabelClick();
  ParamList.Delete(ParamList.Count() - 1);
  UrlHooks.OpenURL = nullptr;
  ASSERT_EQ(opened.size(), 3u);
  EXPECT_EQ(opened[0], "http://127.0.0.1:9/register");
  EXPECT_NE(opened[1].find("sites.htm"), std::string::npos);
  EXPECT_EQ(opened[2], "http://127.0.0.1:9/help/sites.htm");
}

TEST(LoginDialog, HookWithoutCurrentSiteDoesNothingAndQuitClosesTheDialog) {
  QWidget main;
  InstallDialogs(&main);
  ASSERT_TRUE(MainHooks.ShowLoginDialog);
  CurSite.reset();
  MainHooks.ShowLoginDialog();  // returns at once: no site, no dialog
  EXPECT_FALSE(PassDlgExists);

  CurSite = MakeSite("Quit Site");
  bool sawDialog = false;
  WhenModal([&] {
    sawDialog = PassDlgExists.load();
    QuitRequested = true;
  });
  MainHooks.ShowLoginDialog();
  QuitRequested = false;
  EXPECT_TRUE(sawDialog);
  EXPECT_FALSE(PassDlgExists);
  EXPECT_EQ(ModalDepth, 0);
  CurSite.reset();
  MainHooks = {};
}
