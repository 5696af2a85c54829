// The features plug into the main window through their installers: each command either reaches
// its installed window or says that it is not available, and the shared parts start with it.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "ads/gif/anim_gif.h"
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
      {"ISLAND", [] { return bool(MainHooks.OpenIsland); }, "The market-depth window is not available yet", true},
      {"PRINT", [] { return bool(MainHooks.OpenPrintDialog); }, "Portfolio printing is not available yet"},
      {"ABOUT", [] { return bool(MainHooks.OpenAbout); }, "The about box is not available yet"},
      {"UPDATE", [] { return bool(MainHooks.OpenUpdate); }, "The update window is not available yet"},
  };
  return list;
}

// The commands whose feature has landed: their installer must have filled the hook. Each
// feature adds its commands here.
const std::vector<std::string> InstalledFeatureCommands = {};

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

TEST(Features, GifDitheringFollowsTheScreenOnceTheProgramStarted) {
  TmForm form;  // the program's start initialises the GIF class
  for (int depth : {24, 8}) {
    OverrideScreenDepth(depth);
    TAnimGif image;
    SetGifDithering(&image);
    EXPECT_FALSE(image.DrawOptions() & doAutoDither) << depth;
    EXPECT_EQ(bool(image.DrawOptions() & doDither), depth == 8) << depth;
  }
  OverrideScreenDepth(0);
  form.close();
  ShuttingDown = false;
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
