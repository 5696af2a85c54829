// The services every later window shares: the update checksum, the URL launcher's defaults,
// the banner-location table and its covered-share rule, our binaries in a new program folder.
#include <gtest/gtest.h>

#include <QRegion>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "core/ad_locations.h"
#include "core/add_snap.h"
#include "core/checksum.h"
#include "core/indices.h"
#include "core/locks.h"
#include "core/market_clock.h"
#include "core/program_state.h"
#include "core/url_launch.h"
#include "platform/messages.h"

namespace fs = std::filesystem;

namespace {

// Restores a hook table and the desktop handler after a test replaced them.
struct LauncherGuard {
  UrlLaunchHookTable hooks = UrlHooks;
  std::function<bool(const std::string&)> desktop = DesktopOpenUrl;
  ~LauncherGuard() {
    UrlHooks = hooks;
    DesktopOpenUrl = desktop;
  }
};

void PutAdRow(int row, int location) {
  std::lock_guard lock(AdLock);
  AdTable[row] = {};
  if (location) {
    AdTable[row].Source = "127.0.0.1/ad.gif";
    AdTable[row].Location = location;
  }
}

}  // namespace

TEST(TextChecksum, AddsTheCrcTableEntriesOfEveryByte) {
  const z_crc_t* reference = get_crc_table();
  for (int b = 0; b < 256; ++b) ASSERT_EQ(Crc32Table()[b], reference[b]) << b;
  EXPECT_EQ(TextChecksum(""), 0);
  EXPECT_EQ(TextChecksum("a"), static_cast<int32_t>(reference['a']));
  EXPECT_EQ(TextChecksum("ab"), static_cast<int32_t>(reference['a'] + reference['b']));
  // A sum, not a CRC: the order of the bytes does not count (the chart cache must not use it).
  EXPECT_EQ(TextChecksum("22,50"), TextChecksum("50,22"));
  // Wraps modulo 2^32 and reads as a signed number.
  const std::string ff(1000, '\xff');
  EXPECT_EQ(TextChecksum(ff), static_cast<int32_t>(static_cast<uint32_t>(1000u * reference[255])));
  EXPECT_LT(TextChecksum(ff), 0);
}

TEST(UrlLauncher, DefaultsOpenOnlyWebAddressesAndTheHooksReplaceThem) {
  LauncherGuard guard;
  UrlHooks = {};
  std::vector<std::string> opened;
  DesktopOpenUrl = [&](const std::string& url) {
    opened.push_back(url);
    return true;
  };
  OpenURL("http://127.0.0.1:8080/page?x=1");
  OpenURL("  https://example.test/a  ");
  for (const char* refused : {"file:///etc/passwd", "javascript:alert(1)", "ftp://host/f", "/tmp/x",
                              "mailto:a@b.test", "http://", "", "xdg-open /etc"})
    OpenURL(refused);
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_EQ(opened[0], "http://127.0.0.1:8080/page?x=1");
  EXPECT_EQ(opened[1], "https://example.test/a");

  // Without the launcher a redirect resolves to the address itself and a click does nothing.
  std::string resolved = "stale";
  ResolveRedirect("http://a.test/r", resolved);
  EXPECT_EQ(resolved, "http://a.test/r");
  OpenAdLink(3);

  // The web feature's launcher takes over; clicks outside 1..30 never reach it.
  std::vector<int> clicks;
  UrlHooks.OpenURL = [&](const std::string& url) { opened.push_back("hook:" + url); };
  UrlHooks.ResolveRedirect = [](const std::string&, std::string& out) { out = "http://b.test/"; };
  UrlHooks.OpenAdLink = [&](int location) { clicks.push_back(location); };
  OpenURL("news.test/x");
  ResolveRedirect("http://a.test/r", resolved);
  for (int location : {0, 1, 30, 31, -5}) OpenAdLink(location);
  EXPECT_EQ(opened.back(), "hook:news.test/x");
  EXPECT_EQ(resolved, "http://b.test/");
  EXPECT_EQ(clicks, (std::vector<int>{1, 30}));

  // From a worker thread the call is carried to the main thread, never run there.
  std::thread::id ranOn;
  UrlHooks.OpenURL = [&](const std::string&) { ranOn = std::this_thread::get_id(); };
  std::thread([] { OpenURL("http://c.test/"); }).join();
  EXPECT_EQ(ranOn, std::thread::id());
  WaitAndPump(20);
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(AdLocations, ThirtyLocationsServedOnlyForKindsWithAds) {
  ClearAdLocations();
  for (int r = 1; r <= AdRowCount; ++r) PutAdRow(r, 0);
  EXPECT_FALSE(HasAdsForLocation(1));
  PutAdRow(200, 3);
  EXPECT_TRUE(HasAdsForLocation(3));
  EXPECT_FALSE(HasAdsForLocation(1));

  std::set<int> taken;
  for (int i = 0; i < AdLocationCount; ++i) {
    const int loc = RegisterAdLocation(40 + i % 8);
    ASSERT_GE(loc, 1);
    ASSERT_LE(loc, AdLocationCount);
    EXPECT_TRUE(taken.insert(loc).second);
  }
  EXPECT_EQ(RegisterAdLocation(1), 0);  // all 30 taken
  const int back = *taken.begin();
  {
    std::lock_guard lock(AdLock);
    AdLocData[back] = "GIF89a...";
    AdLocShowTime[back] = 45000;
  }
  UnregisterAdLocation(back);
  const int again = RegisterAdLocation(7);
  EXPECT_EQ(again, back);
  {
    std::lock_guard lock(AdLock);
    EXPECT_EQ(AdLocKind[again], 7);
    EXPECT_TRUE(AdLocData[again].empty());
    EXPECT_EQ(AdLocShowTime[again], 0);
    AdLocShowTime[again] = 45000;
  }
  ResetAdTimers();
  {
    std::lock_guard lock(AdLock);
    EXPECT_EQ(AdLocShowTime[again], 0);
    EXPECT_EQ(AdLocPeriod[again], 1000);
  }
  UnregisterAdLocation(0);  // ignored
  UnregisterAdLocation(31);
  ClearAdLocations();
  EXPECT_NE(RegisterAdLocation(1), 0);
  ClearAdLocations();
  PutAdRow(200, 0);
}

TEST(AdLocations, CoveredShareAndTheBlockingRule) {
  const QRect client(0, 0, 70, 14);
  double pct = -1;
  EXPECT_EQ(ClassifyObscured(client, QRegion(), pct), 'C');
  EXPECT_EQ(ClassifyObscured(client, QRegion(client), pct), 'V');
  EXPECT_EQ(pct, 0);
  // A simple region: the left half seen.
  EXPECT_EQ(ClassifyObscured(client, QRegion(0, 0, 35, 14), pct), 'P');
  EXPECT_DOUBLE_EQ(pct, 50.0);
  // A region reaching outside the control counts only inside it.
  EXPECT_EQ(ClassifyObscured(client, QRegion(-100, -100, 400, 400), pct), 'V');
  // A complex region: cells of 7 x 7, (70 + 7) / 7 = 11 by (14 + 7) / 7 = 3; two cells seen.
  QRegion two = QRegion(0, 0, 7, 7) + QRegion(63, 7, 7, 7);
  EXPECT_EQ(ClassifyObscured(client, two, pct), 'P');
  EXPECT_DOUBLE_EQ(pct, 31.0 * 100.0 / 33.0);

  AdSettingsRec s;
  EXPECT_FALSE(AdBlockedBy('C', 100, s));  // both switches off: never blocked
  s.BlockObscured = true;
  EXPECT_TRUE(AdBlockedBy('C', 100, s));
  EXPECT_FALSE(AdBlockedBy('P', 99, s));
  s.BlockPartObscured = true;
  s.ObscuredPerc = 50;
  EXPECT_FALSE(AdBlockedBy('P', 50, s));
  EXPECT_TRUE(AdBlockedBy('P', 50.5, s));
  EXPECT_FALSE(AdBlockedBy('V', 0, s));
  s.BlockObscured = false;
  EXPECT_FALSE(AdBlockedBy('C', 100, s));
}

TEST(ProgramFolder, OurMissingBinariesAreCopiedInAndExistingOnesKept) {
  const fs::path base = fs::temp_directory_path() / ("vn_bins_" + std::to_string(::getpid()));
  fs::remove_all(base);
  fs::create_directories(base / "bin");
  fs::create_directories(base / "home");
  {
    std::ofstream(base / "bin" / "vnupdexe") << "#!/bin/sh\n";
    std::ofstream(base / "bin" / "librirudid.so") << "new library";
    std::ofstream(base / "bin" / "other.so") << "x";
    std::ofstream(base / "home" / "librirudid.so") << "the user's own";
  }
  fs::permissions(base / "bin" / "vnupdexe", fs::perms::owner_all);
  const std::string home = (base / "home").string() + "/";
  std::vector<std::string> failed;
  EXPECT_EQ(InstallProgramBinaries(home, (base / "bin").string(), &failed), 1);
  EXPECT_TRUE(failed.empty());
  EXPECT_TRUE(fs::exists(base / "home" / "vnupdexe"));
  EXPECT_FALSE(fs::exists(base / "home" / "other.so"));
  std::string kept;
  ReadWholeFile((base / "home" / "librirudid.so").string(), kept);
  EXPECT_EQ(kept, "the user's own");
  EXPECT_TRUE((fs::status(base / "home" / "vnupdexe").permissions() & fs::perms::owner_exec) != fs::perms::none);
  // Removed later: the next start brings it back.
  fs::remove(base / "home" / "vnupdexe");
  EXPECT_EQ(InstallProgramBinaries(home, (base / "bin").string()), 1);
  EXPECT_TRUE(fs::exists(base / "home" / "vnupdexe"));
  fs::remove_all(base);
}

TEST(IndexStrip, FetchedIndexQuotesFillTheIndexList) {
  for (auto [symbol, last] : {std::pair{"$IDXA", 1234.5f}, std::pair{"ZZIDX", 10.0f}}) {
    SnapData s;
    s.Symbol = symbol;
    s.Last = last;
    s.PrevClose = last - 4.5f;
    s.MarketDate = s.QuoteTime = MarketNow();
    ASSERT_GE(AddSnap(s), 0);
  }
  ASSERT_TRUE(UpdateIndexList({"ZZIDX", "$IDXA", "$NOQUOTE"}));
  ASSERT_TRUE(UpdateIndexList({"$IDXA"}));  // a second pass updates, never duplicates
  LockHold hold(IdxListLock, "TEST");
  ASSERT_TRUE(hold);
  ASSERT_EQ(IndexList.size(), 1u);
  EXPECT_EQ(IndexList[0].Symbol, "$IDXA");
  EXPECT_DOUBLE_EQ(IndexList[0].Value, 1234.5);
  EXPECT_DOUBLE_EQ(IndexList[0].Change, 4.5);
  IndexList.clear();
}
