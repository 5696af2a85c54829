#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "ads/banner/ad_thread.h"
#include "common/fake_site.h"
#include "core/ad_locations.h"
#include "core/branding.h"
#include "core/error_report.h"
#include "core/market_clock.h"
#include "core/program_state.h"
#include "core/settings.h"
#include "core/settings_file.h"
#include "core/text_helpers.h"
#include "core/url_launch.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "platform/registry.h"
#include "windows/web/url_launcher.h"
#include "windows/web/web_install.h"

namespace {

TEST(UrlText, NormalisingKeepsPathsAndAddsTheScheme) {
  EXPECT_EQ(NormalizeUrl("quotes.example.com/a/b?x=1"), "http://quotes.example.com/a/b?x=1");
  EXPECT_EQ(NormalizeUrl("/quotes.example.com/a"), "http://quotes.example.com/a");
  EXPECT_EQ(NormalizeUrl("//quotes.example.com/a"), "//quotes.example.com/a");
  EXPECT_EQ(NormalizeUrl("HTTP://Host/a"), "HTTP://Host/a");
  EXPECT_EQ(NormalizeUrl("https://host/a"), "https://host/a");
  EXPECT_EQ(NormalizeUrl("C:\\docs\\help.htm"), "C:\\docs\\help.htm");
  EXPECT_EQ(NormalizeUrl("file://x//y"), "file://x//y");

  EXPECT_TRUE(IsWebAddress("https://host:8443/a"));
  EXPECT_FALSE(IsWebAddress("file:///etc/passwd"));
  EXPECT_FALSE(IsWebAddress("javascript:alert(1)"));
  EXPECT_FALSE(IsWebAddress("http:///nohost"));
  EXPECT_FALSE(IsWebAddress("C:\\docs\\help.htm"));

  EXPECT_EQ(WaysOrder('Y'), "YWN");
  EXPECT_EQ(WaysOrder('W'), "WYN");
  EXPECT_EQ(WaysOrder('N'), "NYW");
  EXPECT_EQ(WaysOrder('n'), "NYW");
  EXPECT_EQ(WaysOrder('?'), "YWN");
}

TEST(UrlText, BrowserCommandsSplitLikeAShellWithoutOne) {
  const std::string url = "http://h/a?b=1&c=2";
  LaunchCommand c = SplitBrowserCommand("\"/opt/My Browser/browser\" --new-window", url);
  EXPECT_EQ(c.Program, "/opt/My Browser/browser");
  EXPECT_EQ(c.Args, (std::vector<std::string>{url, "--new-window"}));

  c = SplitBrowserCommand("browser --app=%1 --x %1", url);
  EXPECT_EQ(c.Args, (std::vector<std::string>{"--app=" + url, "--x", "%1"}));

  // The address stays one argument whatever it holds: no shell ever sees it.
  c = SplitBrowserCommand("browser", "http://h/;rm -rf ~");
  EXPECT_EQ(c.Args, (std::vector<std::string>{"http://h/;rm -rf ~"}));
  EXPECT_TRUE(SplitBrowserCommand("   ", url).Program.empty());

  EXPECT_EQ(DesktopExecCommand("firefox-esr %u"), "firefox-esr %1");
  EXPECT_EQ(DesktopExecCommand("/usr/bin/web --name=%c %U %i"), "/usr/bin/web --name= %1");
  EXPECT_EQ(DesktopExecCommand("b 100%%"), "b 100%");
}

TEST(UrlText, RedirectRequestsKeepSchemeAndPort) {
  RedirectTarget t = SplitRedirectAddress("https://ads.example.com:8443/click?id=7");
  ASSERT_TRUE(t.Ok);
  EXPECT_EQ(t.Host, "https://ads.example.com:8443");
  EXPECT_EQ(t.Path, "/click?id=7");
  t = SplitRedirectAddress("http://a-very-long-host-name-that-would-not-fit.example.com");
  ASSERT_TRUE(t.Ok);
  EXPECT_EQ(t.Host, "http://a-very-long-host-name-that-would-not-fit.example.com");
  EXPECT_EQ(t.Path, "/");
  EXPECT_FALSE(SplitRedirectAddress("ftp://host/x").Ok);
  EXPECT_FALSE(SplitRedirectAddress("").Ok);
}

// Records what the launcher does in place of the desktop.
class LaunchTest : public ::testing::Test {
protected:
  void SetUp() override {
    saved_ = Launcher;
    savedDefault_ = LiveSettings.WebDefault;
    Launcher.OpenDesktop = [this](const std::string& url) {
      calls.push_back("Y " + url);
      return desktopWorks;
    };
    Launcher.SystemBrowserCommand = [this] { return systemCommand; };
    Launcher.UserBrowserCommand = [this] { return userCommand; };
    Launcher.StartProgram = [this](const std::string& program, const std::vector<std::string>& args) {
      std::string line = "RUN " + program;
      for (const auto& a : args) line += " [" + a + "]";
      calls.push_back(line);
      return programsWork;
    };
    Launcher.OpenInBrowserWindow = [this](const std::string& url) {
      calls.push_back("WINDOW " + url);
      return true;
    };
    Launcher.ShowRedirected = [this](const std::string& url) { calls.push_back("BOX " + url); };
    InstallWeb(nullptr);
    // The installer points the window ways at the real windows; keep the recorders.
    Launcher.OpenInBrowserWindow = [this](const std::string& url) {
      calls.push_back("WINDOW " + url);
      return true;
    };
    Launcher.ShowRedirected = [this](const std::string& url) { calls.push_back("BOX " + url); };
    reports.clear();
    SetErrorReportHandler([this](const std::string& m, const std::string& p) { reports.push_back(p + ": " + m); });
  }
  void TearDown() override {
    Launcher = saved_;
    LiveSettings.WebDefault = savedDefault_;
    UrlHooks = {};
    SetErrorReportHandler(nullptr);
    HaveIE4 = false;
    std::lock_guard lock(AdLock);
    AdParams.Clear();
    for (int i = 1; i <= AdLocationCount; ++i) AdLocLink[i].clear(), AdLocRedirect[i] = false, AdLocShowTime[i] = 0;
  }

  std::vector<std::string> calls, reports;
  bool desktopWorks = true, programsWork = true;
  std::string systemCommand, userCommand;
  LauncherPlatform saved_;
  char savedDefault_ = 'Y';
};

TEST_F(LaunchTest, WaysAreTriedInTheUsersOrderUntilOneWorks) {
  // 'N' with no browser command of the user's: the desktop's handler is next.
  LiveSettings.WebDefault = 'N';
  EXPECT_EQ(OpenUrlByWays("quotes.example.com/x"), 'Y');
  EXPECT_EQ(calls, (std::vector<std::string>{"Y http://quotes.example.com/x"}));

  calls.clear();
  userCommand = "mybrowser --tab %1";
  EXPECT_EQ(OpenUrlByWays("http://h/a"), 'N');
  EXPECT_EQ(calls, (std::vector<std::string>{"RUN mybrowser [--tab] [http://h/a]"}));

  // 'W': the system browser first; when it fails, the desktop, then the user's.
  calls.clear();
  LiveSettings.WebDefault = 'W';
  systemCommand = "\"/usr/bin/x-www-browser\" %1";
  programsWork = false;
  desktopWorks = false;
  EXPECT_EQ(OpenUrlByWays("http://h/a"), 0);
  EXPECT_EQ(calls, (std::vector<std::string>{"RUN /usr/bin/x-www-browser [http://h/a]", "Y http://h/a",
                                             "RUN mybrowser [--tab] [http://h/a]"}));

  // Only web addresses leave the program through OpenURL.
  calls.clear();
  desktopWorks = true;
  EXPECT_EQ(OpenUrlByWays("C:\\Windows\\notepad.exe"), 0);
  EXPECT_EQ(OpenUrlByWays("file:///etc/passwd"), 0);
  EXPECT_EQ(OpenUrlByWays("javascript:alert(1)"), 0);
  EXPECT_TRUE(calls.empty());

  // A link with blanks or other unsafe characters opens encoded, as the browser pane opens it;
  // the scheme rule stays.
  calls.clear();
  LiveSettings.WebDefault = 'Y';
  EXPECT_EQ(OpenUrlByWays("http://h/news/big story.htm?q=a b&x=\"<y>\""), 'Y');
  EXPECT_EQ(OpenUrlByWays("https://h/50%off"), 'Y');
  EXPECT_EQ(OpenUrlByWays("h/a b"), 'Y');
  EXPECT_EQ(calls, (std::vector<std::string>{"Y http://h/news/big%20story.htm?q=a%20b&x=%22%3Cy%3E%22",
                                             "Y https://h/50%25off", "Y http://h/a%20b"}));
  calls.clear();
  for (const char* hostile : {"javascript:alert('a b')", "file:///etc/pass wd", "http://a b.example/x",
                              "ht tp://h/x", " data:text/html,<b>x</b>", "vnc://h/ x"})
    EXPECT_EQ(OpenUrlByWays(hostile), 0) << hostile;
  EXPECT_TRUE(calls.empty());
  // Nor do links with control characters in them.
  for (const char* odd : {"http://h/a\nb", "http://h/a\x01" "b", "http://h/a\tb"}) EXPECT_EQ(OpenUrlByWays(odd), 0) << odd;
  EXPECT_TRUE(calls.empty());

  // The core's OpenURL goes through the installed launcher.
  LiveSettings.WebDefault = 'Y';
  OpenURL("http://h/core");
  EXPECT_EQ(calls, (std::vector<std::string>{"Y http://h/core"}));
}

TEST_F(LaunchTest, AdClicksTakeTheAdWaysAndMoveTheReplacementEarlier) {
  const TDateTime later = LocalNow() + 1;
  {
    std::lock_guard lock(AdLock);
    AdLocLink[5] = "ads.example.com/click?v=##VER##";
    AdLocShowTime[5] = later;
  }
  // Without the browser control: straight to OpenURL.
  HaveIE4 = false;
  EXPECT_EQ(OpenAdLinkByWays(5), "OPENURL");
  const std::string opened = "http://ads.example.com/click?v=" + VersionText(ProgVersion);
  EXPECT_EQ(calls, (std::vector<std::string>{"Y " + opened}));
  TDateTime first;
  {
    std::lock_guard lock(AdLock);
    first = AdLocShowTime[5];
  }
  EXPECT_LT(first, later);
  EXPECT_LE(first, LocalNow() + AdSettings.DelayAfterClick / 86400.0 + 1e-9);

  // With it, the defaults: "IE" has no program here, so "CUSTOM" opens the browser window.
  // A second click opens the ad again; its replacement time never moves later.
  calls.clear();
  HaveIE4 = true;
  EXPECT_EQ(OpenAdLinkByWays(5), "CUSTOM");
  EXPECT_EQ(OpenAdLinkByWays(5), "CUSTOM");
  EXPECT_EQ(calls, (std::vector<std::string>{"WINDOW " + opened, "WINDOW " + opened}));
  {
    std::lock_guard lock(AdLock);
    EXPECT_LE(AdLocShowTime[5], first);
  }

  // An ad without a link opens the company's address; "DEFAULT" with SHOWREDIR shows the box.
  calls.clear();
  {
    std::lock_guard lock(AdLock);
    AdLocLink[7] = "  ";
    AdParams.Clear();
    AdParams.Add("ADBROWSER1=DEFAULT");
  }
  Ini().WriteString("Stocks", "SHOWREDIR", "YES");
  EXPECT_EQ(OpenAdLinkByWays(7), "DEFAULT");
  Ini().WriteString("Stocks", "SHOWREDIR", "NO");
  EXPECT_EQ(calls, (std::vector<std::string>{"BOX " + Branding.CompURL, "Y " + Branding.CompURL}));

  // Locations outside 1..30 are ignored, through the core's entry too.
  calls.clear();
  EXPECT_EQ(OpenAdLinkByWays(0), "");
  EXPECT_EQ(OpenAdLinkByWays(31), "");
  OpenAdLink(-3);
  OpenAdLink(AdLocationCount + 1);
  EXPECT_TRUE(calls.empty());
  EXPECT_TRUE(reports.empty());
}

// The ad thread puts a banner up and OpenAdLink moves its replacement time: both count the
// delay after a click on the PC's clock, whatever the machine's time zone.
TEST_F(LaunchTest, TheDelayAfterAClickCountsOnOneClockInEveryZone) {
  TestClock clock(DateTimeToUnixMs(EncodeDate(2026, 3, 4) + EncodeTime(15, 0, 0, 0)));  // a Wednesday
  ScopedClock use(clock);
  const char* saved = std::getenv("TZ");
  const std::string savedTz = saved ? saved : "";
  HaveIE4 = false;
  for (const char* zone : {"UTC", "America/Los_Angeles"}) {
    setenv("TZ", zone, 1);
    tzset();
    AdThreadType thread;  // the thread's own schedule clock
    const double period = 30 / 86400.0, delay = AdSettings.DelayAfterClick / 86400.0;
    ASSERT_GT(AdSettings.DelayAfterClick, 0);
    {
      std::lock_guard lock(AdLock);
      AdLocLink[5] = "ads.example.com/click";
      AdLocShowTime[5] = thread.Now() + period;  // put up now for 30 seconds
    }
    EXPECT_EQ(OpenAdLinkByWays(5), "OPENURL");
    std::lock_guard lock(AdLock);
    EXPECT_NEAR(AdLocShowTime[5], thread.Now() + delay, 1e-8) << zone;
  }
  if (saved) setenv("TZ", savedTz.c_str(), 1);
  else unsetenv("TZ");
  tzset();
}

TEST_F(LaunchTest, RedirectsResolveToTheirFirstTarget) {
  FakeSite site("news");
  ASSERT_TRUE(site.Running());
  std::string resolved;
  ResolveRedirect(site.Url("/redirect"), resolved);
  EXPECT_EQ(resolved, site.Url("/article/AD/1"));

  // No redirect, a page that fails, an address that is no web address: the address itself.
  ResolveRedirect(site.Url("/article/AD/2"), resolved);
  EXPECT_EQ(resolved, site.Url("/article/AD/2"));
  ResolveRedirect(site.Url("/missing"), resolved);
  EXPECT_EQ(resolved, site.Url("/missing"));
  ResolveRedirect("file:///etc/passwd", resolved);
  EXPECT_EQ(resolved, "file:///etc/passwd");

  // Inside another wait of the main thread the platform refuses a second one: that is a
  // failure, never a resolved address.
  std::string nested = "unset";
  bool ran = false;
  WaitUntil(
      [&] {
        if (!ran) {
          ran = true;
          ResolveRedirect(site.Url("/redirect"), nested);
        }
        return true;
      },
      nullptr, 1000);
  EXPECT_TRUE(ran);
  EXPECT_EQ(nested, site.Url("/redirect"));

  // An ad that asks for it is resolved before the "DEFAULT" way opens it.
  {
    std::lock_guard lock(AdLock);
    AdLocLink[3] = site.Url("/redirect");
    AdLocRedirect[3] = true;
    AdParams.Clear();
    AdParams.Add("ADBROWSER1=DEFAULT");
  }
  HaveIE4 = true;
  calls.clear();
  EXPECT_EQ(OpenAdLinkByWays(3), "DEFAULT");
  EXPECT_EQ(calls, (std::vector<std::string>{"Y " + site.Url("/article/AD/1")}));
}

}  // namespace
