#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QPrinter>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "common/fake_site.h"
#include "windows/browser/event_wait.h"
#include "windows/browser/run_command.h"
#include "core/branding.h"
#include "core/sites.h"
#include "core/settings_file.h"
#include "core/text_helpers.h"
#include "retrieval/http_engine.h"
#include "retrieval/login_script.h"
#include "windows/web/browser_window.h"
#include "windows/web/web_login.h"

namespace {


bool Loaded(TfrmIE& w, const std::string& url) {
  return w.WB && !w.WB->Busy() && w.WB->HasDocument() && w.WB->LocationURL() == url &&
         w.NavPan->dfAddress->text().toStdString() == url;
}

std::string EngineGet(const std::string& url) {
  HttpJob job;
  job.Url = url;
  job.TimeoutMs = 20000;
  HttpResult r = PerformHttp(job, nullptr);
  return r.Ok ? r.Body : "ERR " + r.Error;
}

TEST(WebLoginText, PromptAndHost) {
  EXPECT_EQ(WebLoginPrompt("", "Fast Quotes (delayed)"),
            " Please login to Fast Quotes so Vantora can retrieve quotes.  Once you are logged in, please click "
            "the \"Logged In\" button.  To abort, click Cancel. ");
  EXPECT_EQ(WebLoginPrompt("<b>Sign in</b> first", "X"), "<b>Sign in</b> first");

  EXPECT_EQ(LoginHostOf("https://Secure.Example.COM/Account/Home"), "secure.example.com");
  EXPECT_EQ(LoginHostOf("HTTP://Quotes.Example.com:8080/x"), "quotes.example.com:8080");
  EXPECT_EQ(LoginHostOf("quotes.example.com/login"), "quotes.example.com");

  EXPECT_TRUE(CookieDomainMatches(".example.com", "quotes.example.com"));
  EXPECT_TRUE(CookieDomainMatches(".example.com", "example.com:8080"));
  EXPECT_TRUE(CookieDomainMatches("127.0.0.1", "127.0.0.1:4321"));
  EXPECT_FALSE(CookieDomainMatches("example.com", "quotes.example.com"));
  EXPECT_FALSE(CookieDomainMatches(".example.com", "badexample.com"));
  EXPECT_FALSE(CookieDomainMatches(".ads.net", "quotes.example.com"));

  BrowserCookie c{".example.com", "/", "sid", "a b", true, true, 0};
  EXPECT_EQ(NetscapeCookieLine(c), "#HttpOnly_.example.com\tTRUE\t/\tTRUE\t0\tsid\ta b");
}

class BrowserWindowTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { site_ = new FakeSite("news"); }
  static void TearDownTestSuite() {
    delete site_;
    site_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(site_->Running()); }
  static FakeSite* site_;
};
FakeSite* BrowserWindowTest::site_ = nullptr;

TEST_F(BrowserWindowTest, WebLoginHandsThePageAndTheSitesCookieToTheRequestEngine) {
  auto site = std::make_shared<HTTPSite>();
  site->Name = "News Test Site (delayed)";
  site->Code = "NEWSTEST.SDF";
  site->WebLogin = true;
  site->Host = site_->Host();
  site->LoginUrl = site_->Url("/login?user=alice&pass=right");
  std::shared_ptr<HTTPSite> saved = CurSite;
  CurSite = site;

  // An ad page on another host name sets its own cookie: it stays in the browser.
  ASSERT_TRUE(OpenInBrowserWindow("http://localhost:" + std::to_string(site_->Port()) + "/adcookie"));
  ASSERT_TRUE(frmIE);
  EXPECT_TRUE(SpinUntil([] { return frmIE->WB && !frmIE->WB->Busy() && frmIE->WB->HasDocument(); }));
  frmIE->close();
  ASSERT_TRUE(SpinUntil([] { return frmIE.isNull(); }));

  std::string prompt;
  bool pressed = false;
  QTimer press;
  QObject::connect(&press, &QTimer::timeout, [&] {
    auto* dialog = dynamic_cast<TfrmIE*>(QApplication::activeModalWidget());
    if (!dialog || pressed) return;
    prompt = dialog->MainLabel->text().toStdString();
    EXPECT_EQ(dialog->windowTitle().toStdString(), "WebLogin");
    EXPECT_EQ(dialog->MainLabel->textFormat(), Qt::PlainText);
    const std::string welcome = site_->Url("/login?user=alice&pass=right");
    if (Loaded(*dialog, welcome)) {
      pressed = true;
      dialog->pbLoggedIn->click();
    }
  });
  press.start(20);
  const bool ok = RunWebLogin(nullptr);
  press.stop();
  CurSite = saved;
  ASSERT_TRUE(pressed) << "the login page never loaded";
  ASSERT_TRUE(ok);
  EXPECT_NE(prompt.find("Please login to News Test Site so Vantora"), std::string::npos) << prompt;
  {
    std::lock_guard lock(WebLoginMutex);
    EXPECT_EQ(WebLoginUrl, site_->Url("/login?user=alice&pass=right"));
    EXPECT_NE(WebLoginPage.find("<p id=\"acct\">Account 4711</p>"), std::string::npos) << WebLoginPage;
  }
  // The engine now sends the login cookie to the site, and not the ad's.
  const std::string seen = EngineGet(site_->Url("/whoami"));
  EXPECT_NE(seen.find("vnsession=alice-4711"), std::string::npos) << seen;
  const std::string seenByAd = EngineGet("http://localhost:" + std::to_string(site_->Port()) + "/whoami");
  EXPECT_EQ(seenByAd.find("adtrack"), std::string::npos) << seenByAd;

  // Cancel: not logged in.
  CurSite = site;
  QTimer::singleShot(0, [] {
    if (auto* d = dynamic_cast<TfrmIE*>(QApplication::activeModalWidget())) d->pbCancel->click();
  });
  QTimer cancel;
  QObject::connect(&cancel, &QTimer::timeout, [] {
    if (auto* d = dynamic_cast<TfrmIE*>(QApplication::activeModalWidget())) d->pbCancel->click();
  });
  cancel.start(20);
  EXPECT_FALSE(RunWebLogin(nullptr));
  cancel.stop();
  CurSite = saved;
  ForgetLoginCookieHosts();
}

TEST_F(BrowserWindowTest, ArticlesReuseTheOneWindowAndClosingKeepsTheLastPage) {
  const std::string first = site_->Url("/article/IBM/1");
  ASSERT_TRUE(OpenInBrowserWindow(first));
  QPointer<TfrmIE> window = frmIE;
  ASSERT_TRUE(window);
  EXPECT_FALSE(window->TopPan->isVisible());
  ASSERT_TRUE(SpinUntil([&] { return Loaded(*window, first); }))
      << window->WB->Busy() << window->WB->HasDocument() << window->WB->LocationURL() << " "
      << window->NavPan->dfAddress->text().toStdString();

  // The engine paints a page a little after it reports the load: wait for the first paint.
  window->resize(640, 420);
  const QImage blank = window->WB->grab().toImage();
  SpinUntil([&] { return window->WB->grab().toImage() != blank; }, 10000);
  QDir().mkpath(QString::fromStdString(std::string(VN_BINARY_DIR) + "/screenshots"));
  window->grab().save(QString::fromStdString(std::string(VN_BINARY_DIR) + "/screenshots/browser_window.png"));

  const std::string second = site_->Url("/article/MSFT/2");
  EXPECT_FALSE(OpenInBrowserWindow("file:///etc/passwd"));
  ASSERT_TRUE(OpenInBrowserWindow(second));
  EXPECT_EQ(frmIE, window) << "a second article must reuse the open window";
  ASSERT_TRUE(SpinUntil([&] { return Loaded(*window, second); }));
  EXPECT_TRUE(window->NavPan->pbNavLeft->isEnabled());
  window->Timer1Timer();
  EXPECT_TRUE(window->NavPan->pbPrint->isEnabled());
  EXPECT_TRUE(window->NavPan->pbFind->isEnabled());

  window->move(40, 50);
  const QRect placed = window->geometry();
  window->close();
  EXPECT_TRUE(frmIE.isNull()) << "a closed window must not be reused before it is freed";
  ASSERT_TRUE(SpinUntil([&] { return window.isNull(); }));
  {
    std::lock_guard lock(WebLoginMutex);
    EXPECT_NE(WebLoginPage.find("The full story of MSFT 2"), std::string::npos);
  }
  EXPECT_EQ(Ini().ReadInteger("News", "BWINW", 0), placed.width());
  EXPECT_EQ(Ini().ReadInteger("News", "BWINH", 0), placed.height());
  EXPECT_EQ(placed.width(), 640);
}

TEST_F(BrowserWindowTest, AWindowFreedRightAfterAPrintGoesAtOnceAndTheFileIsStillWhole) {
  const std::string page = site_->Url("/article/IBM/1");
  auto window = std::make_unique<TfrmIE>(nullptr);
  window->show();
  window->Navigate(page);
  ASSERT_TRUE(SpinUntil([&] { return Loaded(*window, page); }));
  QTemporaryDir dir;
  const std::string pdf = QDir(dir.path()).filePath("article.pdf").toStdString();
  window->NavPan->ChoosePrinter = [&](QWidget*, QPrinter& printer) {
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(pdf));
    return true;
  };
  // The window's timer refreshes the navigation bar, which is freed before the browser control:
  // no tick may come while the window is torn down.
  window->Timer1->setInterval(1);
  const qsizetype windows = QApplication::topLevelWidgets().size();
  QTest::mouseClick(window->NavPan->pbPrint, Qt::LeftButton);
  bool ranEvents = false;
  QObject scope;
  QTimer::singleShot(0, &scope, [&] { ranEvents = true; });
  window.reset();
  EXPECT_FALSE(ranEvents) << "freeing the window ran the event loop";
  std::string text;
  EXPECT_TRUE(SpinUntil([&] {
    text = RunCommand("pdftotext '" + pdf + "' - 2>&1");
    return text.find("The full story of IBM 1") != std::string::npos;
  }, 20000)) << text;
  EXPECT_TRUE(SpinUntil([&] { return QApplication::topLevelWidgets().size() == windows - 1; }, 20000));
}

// The value of KEY=value in a file of the folder ("" when missing).
std::string FileValue(const std::string& path, const std::string& key) {
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t eq = line.find('=');
    if (eq != std::string::npos && UpperCase(Trim(line.substr(0, eq))) == UpperCase(key)) return line.substr(eq + 1);
  }
  return "";
}

TEST_F(BrowserWindowTest, TheDemoSendsHomeResearchAndTheWebSiteToTheFakeSite) {
  // The demo's set-up of the fake site over the shipped files, for the site's real port.
  QTemporaryDir home;
  const std::string dir = home.path().toStdString() + "/";
  for (const char* file : {"cust.par", "popmenu.par"})
    std::filesystem::copy_file(std::string(VN_FIXTURES_DIR) + "/../../data/" + file, dir + file);
  const std::string command = "python3 '" + FakeSiteScript("news") + "' --demo-setup '" + dir + "' " +
                              std::to_string(site_->Port());
  ASSERT_EQ(std::system(command.c_str()), 0) << command;

  // The about box's web site and the browser's Home.
  const std::string web = FileValue(dir + "cust.par", "CompURL");
  EXPECT_EQ(web, site_->Url("/"));
  // "Research (local demo)" of the grid's pop-up menu, for a symbol.
  std::string research;
  {
    std::ifstream in(dir + "popmenu.par");
    std::string line;
    while (std::getline(in, line))
      if (line.find("RESEARCH") != std::string::npos) research = Trim(line.substr(line.find("RESEARCH") + 14));
  }
  ReplaceAll(research, "##STOCKS##", "IBM", false);
  EXPECT_EQ(research, site_->Url("/research?s=IBM"));
  EXPECT_NE(EngineGet(research).find("IBM"), std::string::npos);

  const std::string savedHome = Branding.CompURL;
  Branding.CompURL = web;
  ASSERT_TRUE(OpenInBrowserWindow(site_->Url("/article/IBM/1")));
  QPointer<TfrmIE> window = frmIE;
  ASSERT_TRUE(SpinUntil([&] { return Loaded(*window, site_->Url("/article/IBM/1")); }));
  QTest::mouseClick(window->NavPan->pbNavHome, Qt::LeftButton);
  EXPECT_TRUE(SpinUntil([&] { return Loaded(*window, web); }));
  EXPECT_FALSE(window->WB->LocationName().empty());
  Branding.CompURL = savedHome;
  window->close();
  ASSERT_TRUE(SpinUntil([&] { return window.isNull(); }));
}

TEST(BrowserWindowNoEngine, OpensAndSaysWhatIsMissing) {
  setenv("VANTORA_NO_BROWSER", "1", 1);
  {
    TfrmIE window(nullptr);
    EXPECT_EQ(window.WB, nullptr);
    ASSERT_NE(window.NoBrowserLabel, nullptr);
    EXPECT_NE(window.NoBrowserLabel->text().indexOf("not available"), -1);
    EXPECT_FALSE(window.pbLoggedIn->isEnabled());
    window.StartUrl = "http://127.0.0.1:1/";
    window.show();
    EXPECT_FALSE(window.NavPan->pbNavStop->isEnabled());
    window.NavPan->pbNavLeftClick();
    window.NavPan->pbPrintClick();
    window.close();
    std::lock_guard lock(WebLoginMutex);
    EXPECT_TRUE(WebLoginPage.empty());
  }
  unsetenv("VANTORA_NO_BROWSER");
}

}  // namespace
