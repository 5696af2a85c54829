// The features plug into the main window through their installers: each command either reaches
// its installed window or says that it is not available, and the shared parts start with it.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMouseEvent>

#include "ads/banner/ad_banner.h"
#include "ads/banner/ad_params.h"
#include "ads/gif/anim_gif.h"
#include "ads/gif/anim_image_control.h"
#include "common/fake_site.h"
#include "core/ad_locations.h"
#include "core/url_launch.h"
#include "core/gif_hooks.h"
#include "core/log.h"
#include "core/program_state.h"
#include "core/symbols.h"
#include "grid/stock_grid.h"
#include "mainwin/main_form.h"
#include "mainwin/main_threads.h"
#include "platform/messages.h"
#include "platform/string_list.h"
#include "retrieval/fund_thread.h"

namespace {

void Pump(const std::function<bool()>& done, int rounds = 500) {
  for (int i = 0; i < rounds && !done(); ++i) WaitAndPump(10);
}

std::string ReadLog() {
  std::string text;
  ReadWholeFile(ProgDir + "stocks.log", text);
  return text;
}

// A menu command, the hook that serves it and the status text while it is missing.
struct FeatureCommand {
  const char* Command;
  std::function<bool()> Installed;
  const char* Missing;
  bool TakesSymbol = false;  // uses the pop-up symbol once
};

const std::vector<FeatureCommand>& Commands() {
  static const std::vector<FeatureCommand> list = {
      {"NEWS", [] { return bool(MainHooks.OpenNews); }, "The news window is not available yet", true},
      {"HISTORY", [] { return bool(MainHooks.OpenHistory); }, "The historical chart window is not available yet", true},
      {"PROPHET", [] { return bool(MainHooks.OpenProphet); }, "The historical chart window is not available yet", true},
      {"ISLAND", [] { return bool(MainHooks.OpenIsland); }, "The market-depth window is not available yet", true},
      {"PRINT", [] { return bool(MainHooks.OpenPrintDialog); }, "Portfolio printing is not available yet"},
      {"ABOUT", [] { return bool(MainHooks.OpenAbout); }, "The about box is not available yet"},
      {"UPDATE", [] { return bool(MainHooks.OpenUpdate); }, "The update window is not available yet"},
      // A keyword of a feature's own: without it the command is only logged as unknown.
      {"SURVEY", [] { return MainHooks.Commands.count("SURVEY") > 0; }, ""},
  };
  return list;
}

// The commands whose feature has landed: their installer must have filled the hook. Each
// feature adds its commands here.
const std::vector<std::string> InstalledFeatureCommands = {"PRINT", "NEWS", "ISLAND", "ABOUT", "SURVEY", "UPDATE", "HISTORY", "PROPHET"};

}  // namespace

TEST(Features, EveryCommandReachesItsWindowOrSaysItIsMissing) {
  TmForm form;
  for (const std::string& c : InstalledFeatureCommands) {
    bool found = false;
    for (const FeatureCommand& f : Commands())
      if (c == f.Command) {
        found = true;
        EXPECT_TRUE(f.Installed()) << c << ": its installer left the hook empty";
      }
    EXPECT_TRUE(found) << c;
  }
  // Empty hooks never crash: the status line says so. Installed ones are opened by their own tests.
  for (const FeatureCommand& f : Commands()) {
    if (f.Installed()) continue;
    form.SetStatus("");
    PopupSymbol = "ABCD";
    form.RunCommand(std::string(f.Command) + "..........");
    EXPECT_EQ(form.StatusText(), f.Missing) << f.Command;
    EXPECT_EQ(PopupSymbol.empty(), f.TakesSymbol) << f.Command;
    PopupSymbol.clear();
  }
  // A feature's own keyword reaches it with the command's argument.
  std::string got;
  MainHooks.Commands["SURVEYX"] = [&](const std::string& arg) { got = "ran:" + arg; };
  form.RunCommand("SURVEYX.......7");
  EXPECT_EQ(got, "ran:7");
  MainHooks.Commands.erase("SURVEYX");
  form.close();
  ShuttingDown = false;
}

// The images the program makes get the screen's dithering choice: the main banner's, here.
TEST(Features, GifDitheringFollowsTheScreenInTheProgramsImages) {
  ASSERT_TRUE(WriteFileAtomic(ProgDir + "reklama.par",
                              "AD1SORC1=127.0.0.1:9/banner.gif\r\nAD1HREF1=http://127.0.0.1:9/\r\n"
                              "ADTIMR1=5\r\nADWGHT1=1\r\nADLOCT1=1\r\n"));
  for (int depth : {24, 8}) {
    OverrideScreenDepth(depth);
    TmForm form;
    AdBanner* banner = nullptr;
    for (QWidget* w : form.findChildren<QWidget*>())
      if (auto* b = dynamic_cast<AdBanner*>(w)) banner = b;
    ASSERT_NE(banner, nullptr) << depth;
    EXPECT_FALSE(banner->Gif()->DrawOptions() & doAutoDither) << depth;
    EXPECT_EQ(bool(banner->Gif()->DrawOptions() & doDither), depth == 8) << depth;
    form.close();
    ShuttingDown = false;
  }
  OverrideScreenDepth(0);
  std::remove((ProgDir + "reklama.par").c_str());
  ReadAdParams(StringList());
  ClearAdLocations();
}

TEST(Features, FundamentalsThreadRunsFromTheSettingsLoadToTheClose) {
  LogOn = true;
  StartLog();
  std::atomic<int> usage{0};
  {
    TmForm form;
    FundHooks.Usage = [&] {
      ++usage;
      return std::string();
    };
    EXPECT_EQ(form.FundThread(), nullptr);
    form.show();
    Pump([&] { return form.SettingsLoaded() && usage > 0; });
    ASSERT_NE(form.FundThread(), nullptr);
    EXPECT_EQ(usage.load(), 1);
    form.close();
    EXPECT_EQ(form.FundThread(), nullptr);
  }
  EXPECT_EQ(ReadLog().find("Fund did not end"), std::string::npos);
  EXPECT_FALSE(FundHooks.Usage);  // the window's close emptied the hooks it had filled
  ShuttingDown = false;
  LogOn = false;
}

TEST(Features, MainWindowRotatesBannersFromTheAdServer) {
  FakeSite ads("ads");
  ASSERT_TRUE(ads.Running());
  const std::string host = ads.Host();
  ASSERT_TRUE(WriteFileAtomic(ProgDir + "reklama.par",
                              "AD1SORC1=" + host + "/banner1.gif\r\nAD1HREF1=http://" + host + "/click/1\r\n"
                              "ADTIMR1=5\r\nADWGHT1=1\r\nADLOCT1=1\r\nADREDIR1=N\r\n"
                              "AD1SORC2=" + host + "/panel2.gif\r\nAD1HREF2=http://" + host + "/click/2\r\n"
                              "ADTIMR2=5,5\r\nADWGHT2=1,1\r\nADLOCT2=40,41\r\nADREDIR2=N\r\n"
                              "BLURB1=" + std::string(360, 'W') + "\r\n"));
  std::vector<int> clicks;
  {
    TmForm form;
    form.resize(760, 560);  // within the test screen, so it is kept
    form.show();
    UrlHooks.OpenAdLink = [&](int loc) { clicks.push_back(loc); };
    // No meta-object of its own: found by type among the window's widgets.
    std::vector<AdBanner*> banners;
    for (QWidget* w : form.findChildren<QWidget*>())
      if (auto* b = dynamic_cast<AdBanner*>(w)) banners.push_back(b);
    AdBanner* main = nullptr;
    for (AdBanner* b : banners)
      if (b->Image()->width() > 200) main = b;
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(banners.size(), 3u);  // the main banner and two panels
    QApplication::processEvents();
    const QPoint bannerAt = main->mapTo(&form, QPoint(0, 0));
    auto shown = [&] {
      std::lock_guard lock(AdLock);
      for (AdBanner* b : banners)
        if (AdLocLink[b->Location()].empty()) return false;
      return true;
    };
    Pump(shown, 1500);
    ASSERT_TRUE(shown());
    EXPECT_EQ(main->Gif()->FrameCount(), 4);
    WaitAndPump(300);
    // A long blurb is elided in its column: the window keeps its width, the banner its place.
    EXPECT_EQ(form.width(), 760);
    EXPECT_EQ(main->mapTo(&form, QPoint(0, 0)), bannerAt);
    const QList<QLabel*> blurbs = main->findChildren<QLabel*>();
    ASSERT_EQ(blurbs.size(), 2);
    EXPECT_TRUE(blurbs[0]->text().endsWith(QChar(0x2026)));
    EXPECT_EQ(size_t(blurbs[0]->toolTip().size()), MaxBlurbLength);  // cut when read
    for (QLabel* b : blurbs) SetBlurbText(b, "Short");
    QApplication::processEvents();
    EXPECT_EQ(main->mapTo(&form, QPoint(0, 0)), bannerAt);
    for (QLabel* b : blurbs) SetBlurbText(b, std::string(360, 'W'));
    const std::string dir = std::string(VN_BINARY_DIR) + "/screenshots";
    QDir().mkpath(QString::fromStdString(dir));
    EXPECT_TRUE(form.grab().save(QString::fromStdString(dir + "/main_window_banner.png")));
    // A click goes to the launcher with the banner's location.
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(10, 10), main->mapToGlobal(QPointF(10, 10)), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(main, &press);
    EXPECT_EQ(clicks, std::vector<int>{main->Location()});
    form.close();
  }
  std::remove((ProgDir + "reklama.par").c_str());
  ReadAdParams(StringList());
  ClearAdLocations();
  ShuttingDown = false;
}
