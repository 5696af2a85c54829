#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QPrinter>
#include <QDesktopServices>
#include <QTextBrowser>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <vector>
#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>

#include "common/fake_site.h"
#include "windows/browser/event_wait.h"
#include "windows/browser/run_command.h"
#include "windows/browser/browser_control.h"
#include "windows/browser/browser_environment.h"
#include "windows/browser/browser_nav_bar.h"

namespace {

// The engine's first start on a busy machine takes seconds; this only bounds a hang.
constexpr int kLoadDeadlineMs = 60000;

struct LoadEnd {
  bool ended = false;
  bool ok = false;
  std::string url;
  bool busyAtOnce = false;
};

// Navigates and runs the event loop until the control reports the end of the load.
LoadEnd NavigateAndWait(BrowserControl& control, const std::string& url) {
  LoadEnd end;
  QEventLoop loop;
  QTimer deadline;
  deadline.setSingleShot(true);
  QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
  control.OnNavigateComplete2 = [&](const std::string& at, bool ok) {
    end.ended = true;
    end.ok = ok;
    end.url = at;
    loop.quit();
  };
  control.Navigate(url);
  end.busyAtOnce = control.Busy();
  deadline.start(kLoadDeadlineMs);
  if (!end.ended) loop.exec();
  control.OnNavigateComplete2 = nullptr;
  return end;
}

class BrowserControlTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { site_ = new FakeSite("browser_pages"); }
  static void TearDownTestSuite() {
    delete site_;
    site_ = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(site_->Running()) << "browser_pages.py did not start";
    host_ = std::make_unique<QWidget>();
    host_->resize(640, 480);
    control_ = CreateBrowserControl(host_.get());
    ASSERT_NE(control_, nullptr);
    control_->resize(host_->size());
    host_->show();
  }

  static FakeSite* site_;
  std::unique_ptr<QWidget> host_;
  BrowserControl* control_ = nullptr;
};

FakeSite* BrowserControlTest::site_ = nullptr;

TEST_F(BrowserControlTest, LoadsPagesFromLocalSiteAndReportsWhereTheyEnded) {
  const std::string page = site_->Url("/page.html");
  LoadEnd end = NavigateAndWait(*control_, page);
  ASSERT_TRUE(end.ended) << "no end of load within the deadline";
  EXPECT_TRUE(end.busyAtOnce) << "busy only once the engine reports the start";
  EXPECT_TRUE(end.ok);
  EXPECT_EQ(end.url, page);
  EXPECT_EQ(control_->LocationURL(), page);
  EXPECT_EQ(control_->LocationName(), "Vantora browser page");
  EXPECT_FALSE(control_->Busy());

  // A redirect ends at its target, which is what the address field shows.
  end = NavigateAndWait(*control_, site_->Url("/moved"));
  ASSERT_TRUE(end.ended);
  EXPECT_TRUE(end.ok);
  EXPECT_EQ(end.url, page);
  EXPECT_EQ(control_->LocationURL(), page);

  // An address typed without a scheme is a web address.
  end = NavigateAndWait(*control_, "127.0.0.1:" + std::to_string(site_->Port()) + "/");
  ASSERT_TRUE(end.ended);
  EXPECT_TRUE(end.ok);
  EXPECT_EQ(control_->LocationURL(), site_->Url("/"));
}

TEST_F(BrowserControlTest, FailedAndReplacedLoadsEndCleanly) {
  LoadEnd end = NavigateAndWait(*control_, site_->Url("/hangup"));
  ASSERT_TRUE(end.ended) << "a failed load must end, or the host's loading state sticks";
  EXPECT_FALSE(end.ok);
  EXPECT_FALSE(control_->Busy());

  // A load that never finishes, replaced by another: the end reported is the new one's.
  control_->Navigate(site_->Url("/stall"));
  end = NavigateAndWait(*control_, site_->Url("/page.html"));
  ASSERT_TRUE(end.ended);
  EXPECT_TRUE(end.ok);
  EXPECT_EQ(end.url, site_->Url("/page.html"));
  EXPECT_FALSE(control_->Busy());

  control_->Navigate("  ");
  EXPECT_FALSE(control_->Busy());
}

TEST_F(BrowserControlTest, BackAndForwardFollowHistoryAndReportTheirState) {
  std::vector<std::pair<int, bool>> states;
  control_->OnCommandStateChange = [&](int command, bool enable) { states.emplace_back(command, enable); };
  ASSERT_TRUE(NavigateAndWait(*control_, site_->Url("/linked1.html")).ok);
  EXPECT_FALSE(control_->CanGoBack());
  ASSERT_TRUE(NavigateAndWait(*control_, site_->Url("/linked2.html")).ok);
  EXPECT_TRUE(control_->CanGoBack());
  EXPECT_NE(std::find(states.begin(), states.end(), std::make_pair(BrowserControl::CommandBack, true)), states.end());

  // Back through the bar; forward becomes possible and the bar's buttons follow the events.
  TBrowserNavBar bar(host_.get());
  bar.Attach(control_);
  LoadEnd end;
  control_->OnNavigateComplete2 = [&](const std::string& at, bool ok) {
    end.ended = true;
    end.ok = ok;
    end.url = at;
  };
  bar.pbNavLeftClick();
  ASSERT_TRUE(SpinUntil([&] { return end.ended; }));
  EXPECT_EQ(end.url, site_->Url("/linked1.html"));
  EXPECT_TRUE(SpinUntil([&] { return bar.pbNavRight->isEnabled(); })) << "no forward state after going back";
  EXPECT_FALSE(bar.pbNavLeft->isEnabled());
  end = {};
  bar.pbNavRightClick();
  ASSERT_TRUE(SpinUntil([&] { return end.ended; }));
  EXPECT_EQ(end.url, site_->Url("/linked2.html"));
  EXPECT_TRUE(SpinUntil([&] { return !bar.pbNavRight->isEnabled() && bar.pbNavLeft->isEnabled(); }));
  control_->OnNavigateComplete2 = nullptr;

  // Home goes where the host says; an empty address makes Go do nothing.
  control_->HomeUrl = site_->Url("/page.html");
  bar.dfAddress->clear();
  bar.pbGoClick();
  EXPECT_FALSE(control_->Busy());
  control_->OnNavigateComplete2 = [&](const std::string& at, bool) {
    end.ended = true;
    end.url = at;
  };
  end = {};
  bar.pbNavHomeClick();
  ASSERT_TRUE(SpinUntil([&] { return end.ended; }));
  EXPECT_EQ(end.url, site_->Url("/page.html"));
  control_->OnNavigateComplete2 = nullptr;
  control_->OnCommandStateChange = nullptr;
}

TEST_F(BrowserControlTest, StopEndsAStalledLoad) {
  LoadEnd end;
  control_->OnNavigateComplete2 = [&](const std::string&, bool ok) {
    end.ended = true;
    end.ok = ok;
  };
  control_->Navigate(site_->Url("/stall"));
  EXPECT_TRUE(control_->Busy());
  // A stop that comes before the engine has the request under way finds nothing to stop, so
  // stop again until the load reports its end.
  QTimer stopper;
  QObject::connect(&stopper, &QTimer::timeout, control_, [this] { control_->Stop(); });
  stopper.start(200);
  ASSERT_TRUE(SpinUntil([&] { return end.ended; }));
  stopper.stop();
  EXPECT_FALSE(end.ok);
  EXPECT_FALSE(control_->Busy());
  control_->OnNavigateComplete2 = nullptr;
}

TEST_F(BrowserControlTest, PrintsToPdfFindsTextAndGivesTheDocument) {
  EXPECT_FALSE(control_->HasDocument());
  bool found = true, called = false;
  control_->Find("Quotes", false, [&](bool f) { found = f, called = true; });
  EXPECT_TRUE(called && !found) << "nothing to search before a document";
  ASSERT_TRUE(NavigateAndWait(*control_, site_->Url("/page.html")).ok);
  EXPECT_TRUE(control_->HasDocument());

  std::string text, html;
  bool gotText = false, gotHtml = false;
  control_->DocumentText([&](const std::string& t) { text = t, gotText = true; });
  control_->DocumentHtml([&](const std::string& h) { html = h, gotHtml = true; });
  ASSERT_TRUE(SpinUntil([&] { return gotText && gotHtml; }));
  EXPECT_NE(text.find("Quotes at a glance"), std::string::npos);
  EXPECT_NE(html.find("<p id=\"symbol\">VNTR</p>"), std::string::npos);

  called = false;
  control_->Find("glance", false, [&](bool f) { found = f, called = true; });
  ASSERT_TRUE(SpinUntil([&] { return called; }));
  EXPECT_TRUE(found);
  called = false;
  control_->Find("no such words", false, [&](bool f) { found = f, called = true; });
  ASSERT_TRUE(SpinUntil([&] { return called; }));
  EXPECT_FALSE(found);

  QTemporaryDir dir;
  const std::string pdf = QDir(dir.path()).filePath("page.pdf").toStdString();
  bool printed = false, ok = false, second = true;
  control_->PrintToPdf(pdf, [&](bool r) { ok = r, printed = true; });
  // A second job while one runs is refused at once, not lost.
  control_->PrintToPdf(pdf + ".2", [&](bool r) { second = r; });
  EXPECT_FALSE(second);
  ASSERT_TRUE(SpinUntil([&] { return printed; }));
  ASSERT_TRUE(ok);
  const std::string pdfText = RunCommand("pdftotext '" + pdf + "' -");
  EXPECT_NE(pdfText.find("Quotes at a glance"), std::string::npos) << pdfText;
}

TEST_F(BrowserControlTest, PagesLeadOnlyToWebAddressesAndTheHostMayRefuse) {
  // A local file opens only when the user typed it.
  QTemporaryDir dir;
  const QString file = QDir(dir.path()).filePath("local.html");
  FILE* f = fopen(file.toStdString().c_str(), "w");
  ASSERT_NE(f, nullptr);
  fputs("<html><title>local</title><body>local file</body></html>", f);
  fclose(f);
  control_->Navigate(file.toStdString());
  EXPECT_FALSE(control_->Busy()) << "a local path from a page or a link must not load";
  control_->Navigate("file://" + file.toStdString());
  EXPECT_FALSE(control_->Busy());

  bool typedDone = false;
  control_->OnNavigateComplete2 = [&](const std::string&, bool) { typedDone = true; };
  control_->Navigate(file.toStdString(), true);
  ASSERT_TRUE(SpinUntil([&] { return typedDone; }));
  EXPECT_EQ(control_->LocationName(), "local");
  control_->OnNavigateComplete2 = nullptr;

  // The host's before-navigate handler sees every main-document move and can refuse it.
  std::vector<std::string> asked;
  control_->OnBeforeNavigate2 = [&](const std::string& url) {
    asked.push_back(url);
    return url.find("linked") == std::string::npos;
  };
  EXPECT_TRUE(NavigateAndWait(*control_, site_->Url("/page.html")).ok);
  control_->Navigate(site_->Url("/linked1.html"));
  ASSERT_TRUE(SpinUntil([&] { return !control_->Busy(); }));
  EXPECT_EQ(control_->LocationURL(), site_->Url("/page.html"));
  ASSERT_GE(asked.size(), 2u);
  EXPECT_EQ(asked.back(), site_->Url("/linked1.html"));
  control_->OnBeforeNavigate2 = nullptr;
}

TEST_F(BrowserControlTest, ALinkToAnotherSchemeNeverReachesTheDesktop) {
  // Without the control's scheme rule the engine hands such a link to the desktop's handler.
  QTextBrowser desktop;  // stands in for the desktop's handler of the scheme
  QDesktopServices::setUrlHandler("vntrtest", &desktop, "setSource");
  std::vector<std::string> asked;
  control_->OnBeforeNavigate2 = [&](const std::string& url) {
    asked.push_back(url);
    return true;
  };
  ASSERT_TRUE(NavigateAndWait(*control_, site_->Url("/link?to=vntrtest:open-something")).ok);
  QWidget* page = nullptr;
  for (QWidget* w : control_->findChildren<QWidget*>())
    if (QByteArray(w->metaObject()->className()) == "QWebEngineView") page = w->focusProxy();
  ASSERT_NE(page, nullptr);
  // The user clicks the link once the page takes input (its title says the click arrived).
  ASSERT_TRUE(SpinUntil([&] {
    if (control_->LocationName() == "clicked") return true;
    QTest::mouseClick(page, Qt::LeftButton, {}, QPoint(40, 40));
    return false;
  }));
  // A later load ends after the engine dealt with the click; the refused link's own end may
  // arrive first, so the load is asked again until it is the one that ended.
  LoadEnd end;
  for (int i = 0; i < 3 && !(end.ok && end.url == site_->Url("/page.html")); ++i)
    end = NavigateAndWait(*control_, site_->Url("/page.html"));
  ASSERT_TRUE(end.ok) << end.url;
  SpinUntil([&] { return !desktop.source().isEmpty(); }, 1000);
  EXPECT_TRUE(desktop.source().isEmpty()) << desktop.source().toString().toStdString();
  for (const std::string& url : asked) EXPECT_EQ(url.rfind("http://", 0), 0u) << url;
  control_->OnBeforeNavigate2 = nullptr;
  QDesktopServices::unsetUrlHandler("vntrtest");
}

TEST_F(BrowserControlTest, ThePrintButtonWritesAPdfWithTextEvenWhenThePageClosesAtOnce) {
  ASSERT_TRUE(NavigateAndWait(*control_, site_->Url("/page.html")).ok);
  auto* bar = new TBrowserNavBar(host_.get());
  bar->Attach(control_);
  bar->show();
  QTemporaryDir dir;
  const std::string pdf = QDir(dir.path()).filePath("printed.pdf").toStdString();
  // The user picks "print to file" as PDF in the print dialog.
  bar->ChoosePrinter = [&](QWidget*, QPrinter& printer) {
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(pdf));
    return true;
  };
  std::vector<std::string> notices;
  bar->Notice = [&](const std::string& text) { notices.push_back(text); };
  ASSERT_TRUE(bar->pbPrint->isEnabled());
  QTest::mouseClick(bar->pbPrint, Qt::LeftButton);
  // The window closes before the engine has written the file, and at once: no event runs while
  // it goes. The file is finished later, and whole.
  const qsizetype windows = QApplication::topLevelWidgets().size();
  bool ranEvents = false;
  QObject scope;
  QTimer::singleShot(0, &scope, [&] { ranEvents = true; });
  host_.reset();
  control_ = nullptr;
  EXPECT_FALSE(ranEvents) << "closing the control ran the event loop";
  std::string text;
  EXPECT_TRUE(SpinUntil([&] {
    text = RunCommand("pdftotext '" + pdf + "' - 2>&1");
    return text.find("Quotes at a glance") != std::string::npos;
  }, 20000)) << "the PDF is missing, cut short or a picture: " << text;
  EXPECT_TRUE(notices.empty());
  // What the engine needed for the job goes once the job ended.
  EXPECT_TRUE(SpinUntil([&] { return QApplication::topLevelWidgets().size() == windows - 1; }, 20000));
}

TEST(BrowserControlAvailability, SwitchedOffMeansNoControl) {
  QWidget host;
  ASSERT_TRUE(BrowserControlAvailable());
  setenv("VANTORA_NO_BROWSER", "1", 1);
  EXPECT_FALSE(BrowserControlAvailable());
  EXPECT_EQ(CreateBrowserControl(&host), nullptr);
  unsetenv("VANTORA_NO_BROWSER");
  EXPECT_TRUE(BrowserControlAvailable());
}

TEST(BrowserEnvironment, EngineFlagsAddedOnceBesideTheUsers) {
  const std::string ours = "--disable-background-networking";
  EXPECT_EQ(WithBrowserEngineFlags(""), ours);
  EXPECT_EQ(WithBrowserEngineFlags("--lang=de "), "--lang=de " + ours);
  EXPECT_EQ(WithBrowserEngineFlags("--lang=de " + ours), "--lang=de " + ours);
  // A longer switch that merely starts with ours is not ours.
  EXPECT_EQ(WithBrowserEngineFlags(ours + "-x"), ours + "-x " + ours);

  // What main() prepared before the application object.
  EXPECT_TRUE(QCoreApplication::testAttribute(Qt::AA_ShareOpenGLContexts));
  const char* flags = std::getenv("QTWEBENGINE_CHROMIUM_FLAGS");
  ASSERT_NE(flags, nullptr);
  EXPECT_EQ(WithBrowserEngineFlags(flags), flags);
  if (geteuid() == 0) {
    EXPECT_NE(std::getenv("QTWEBENGINE_DISABLE_SANDBOX"), nullptr);
  }
}

}  // namespace
