// The ad thread against the fake ad server: a banner is fetched ahead and put up when due, a
// corrupt body, a short one, one cut short and a 404 leave the shown banner and cache nothing, one that loads
// but cannot be drawn marks its row, a window that
// closes mid-fetch is never touched, and shut-down ends a fetch in flight.
#include <gtest/gtest.h>

#include <QApplication>

#include <filesystem>
#include <memory>
#include <mutex>

#include "ads/banner/ad_banner.h"
#include "ads/banner/ad_params.h"
#include "ads/banner/ad_thread.h"
#include "ads/gif/anim_gif.h"
#include "common/fake_site.h"
#include "core/ad_locations.h"
#include "core/chart_cache.h"
#include "core/market_clock.h"
#include "platform/messages.h"
#include "retrieval/http_engine.h"

namespace {

FakeSite& Ads() {
  static FakeSite site("ads");
  return site;
}

// One ad per source, all for kind 5; cached when asked.
void OneAd(const std::string& path, bool cache = false) {
  StringList p;
  p.Add("AD1SORC1=" + Ads().Host() + path);
  p.Add("AD1HREF1=http://" + Ads().Host() + "/click/1");
  p.Add("ADTIMR1=30");
  p.Add("ADWGHT1=1");
  p.Add("ADLOCT1=5");
  p.Add(std::string("ADCACHE1=") + (cache ? "Y" : "N"));
  p.Add("FETCHERRORDELAY=10");
  ReadAdParams(p);
}

struct Harness {
  AdThreadType thread;
  TDateTime now = 46000.5;  // a Monday
  Harness() {
    thread.WaitMs = 0;
    thread.Now = [this] { return now; };
    thread.UserInactive = [] { return false; };
  }
  void Visible(int loc) {
    std::lock_guard lock(AdLock);
    AdLocMinimized[loc] = AdLocBlocked[loc] = false;
  }
};

}  // namespace

TEST(AdThread, FetchesAheadAndShowsWhenDue) {
  ASSERT_TRUE(Ads().Running());
  ClearAdLocations();
  OneAd("/banner1.gif", true);
  QWidget host;
  std::unique_ptr<AdBanner> banner(CreateAdBanner(5, &host));
  ASSERT_TRUE(banner);
  const int loc = banner->Location();
  Harness h;
  h.Visible(loc);
  h.thread.Pass();
  {
    std::lock_guard lock(AdLock);
    EXPECT_EQ(AdLocLink[loc], "http://" + Ads().Host() + "/click/1");
    EXPECT_TRUE(AdLocData[loc].empty() || AdLocData[loc].size() > MinAdBytes);  // the next one fetched ahead
    EXPECT_NEAR(AdLocShowTime[loc], h.now + 30 / 86400.0, 1e-9);
    EXPECT_EQ(AdLocPeriod[loc], 30);
  }
  EXPECT_EQ(banner->Gif()->FrameCount(), 4);
  // Cached rows keep their banner in a "GIF<n>.GIF" file of the cache folder.
  EXPECT_TRUE(std::filesystem::exists(ChartCacheDir() + "GIF1.GIF"));

  // Bad bodies: the shown banner stays, the row sits out, nothing is cached.
  // The hidden host's banner timer, run while a fetch waits, marks the location minimised: each
  // pass starts with it visible again.
  for (const char* bad : {"/corrupt.gif", "/exact.gif", "/missing.gif", "/cut.gif"}) {
    OneAd(bad, true);
    {
      std::lock_guard lock(AdLock);
      AdLocData[loc].clear();
      AdLocShowTime[loc] = 0;
    }
    h.Visible(loc);
    h.thread.Pass();
    h.thread.Pass();
    std::lock_guard lock(AdLock);
    EXPECT_EQ(banner->Gif()->FrameCount(), 4) << bad;
    EXPECT_TRUE(AdTable[1].Failed) << bad;
    EXPECT_TRUE(AdTable[1].CacheFile.empty()) << bad;
    EXPECT_FALSE(std::filesystem::exists(ChartCacheDir() + "GIF1.GIF")) << bad;
  }

  // A GIF that loads but cannot be drawn (its screen is far too large): the showing fails, the
  // row sits out and the location tries again after the error delay.
  OneAd("/hugescreen.gif");
  {
    std::lock_guard lock(AdLock);
    AdLocData[loc].clear();
    AdLocShowTime[loc] = 0;
  }
  h.Visible(loc);
  h.thread.Pass();
  {
    std::lock_guard lock(AdLock);
    EXPECT_EQ(banner->Gif()->FrameCount(), 4);
    EXPECT_TRUE(AdTable[1].Failed);
    EXPECT_NEAR(AdLocShowTime[loc], h.now + 10 / 86400.0, 1e-9);
  }
  banner.reset();
  ClearAdLocations();
}

TEST(AdThread, HiddenBannersMoveTheirScheduleOnlyWithinTheHour) {
  ClearAdLocations();
  OneAd("/banner2.gif");
  QWidget host;
  std::unique_ptr<AdBanner> banner(CreateAdBanner(5, &host));
  ASSERT_TRUE(banner);
  const int loc = banner->Location();
  Harness h;
  h.thread.Fetch = [](const std::string&, const std::atomic<bool>&) { return std::string(); };
  {
    std::lock_guard lock(AdLock);
    AdLocMinimized[loc] = true;
    AdLocData[loc] = "GIF89a pending";
    AdLocShowTime[loc] = h.now - 100 / 86400.0;
    AdLocPeriod[loc] = 30;
  }
  h.thread.Pass();
  {
    std::lock_guard lock(AdLock);
    EXPECT_NEAR(AdLocShowTime[loc], h.now - 70 / 86400.0, 1e-9);  // one period on, not shown
    EXPECT_EQ(AdLocData[loc], "GIF89a pending");
    AdLocShowTime[loc] = h.now - 2.0 / 24;  // hours ago: left alone
  }
  h.thread.Pass();
  {
    std::lock_guard lock(AdLock);
    EXPECT_NEAR(AdLocShowTime[loc], h.now - 2.0 / 24, 1e-9);
  }
  banner.reset();
  ClearAdLocations();
}

TEST(AdThread, AWindowClosedDuringItsFetchIsNeverTouched) {
  ClearAdLocations();
  OneAd("/banner3.gif");
  auto* host = new QWidget;
  AdBanner* banner = CreateAdBanner(5, host);
  ASSERT_TRUE(banner);
  const int loc = banner->Location();
  Harness h;
  h.Visible(loc);
  h.thread.Fetch = [&](const std::string& src, const std::atomic<bool>& stop) {
    delete host;  // the window closes while its banner is on the wire
    host = nullptr;
    return FetchAdOverHttp(src, stop);
  };
  h.thread.Pass();
  h.thread.Pass();
  std::lock_guard lock(AdLock);
  EXPECT_FALSE(AdLocUsed[loc]);
  EXPECT_TRUE(AdLocData[loc].empty());
  EXPECT_TRUE(AdLocImage[loc].isNull());
}

TEST(AdThread, ShutDownEndsAFetchInFlight) {
  ClearAdLocations();
  OneAd("/slow.gif?ms=60000");
  QWidget host;
  std::unique_ptr<AdBanner> banner(CreateAdBanner(5, &host));
  ASSERT_TRUE(banner);
  {
    std::lock_guard lock(AdLock);
    AdLocMinimized[banner->Location()] = AdLocBlocked[banner->Location()] = false;
  }
  AdThreadType thread;
  std::atomic<bool> fetching{false};
  thread.Fetch = [&](const std::string& src, const std::atomic<bool>& stop) {
    fetching = true;
    return FetchAdOverHttp(src, stop);
  };
  thread.Start();
  for (int i = 0; i < 3000 && !fetching; ++i) WaitAndPump(10);
  ASSERT_TRUE(fetching.load());
  // The reply would take 60 s; the stop flag ends the wait long before.
  EXPECT_TRUE(thread.Stop(30000));
  EXPECT_FALSE(AdThreadBusy.load());
  banner.reset();
  ClearAdLocations();
}
