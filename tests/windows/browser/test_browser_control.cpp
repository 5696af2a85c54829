#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>

#include "common/fake_site.h"
#include "windows/browser/browser_control.h"
#include "windows/browser/browser_environment.h"

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
