#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/branding.h"
#include "core/market_clock.h"
#include "core/program_state.h"
#include "core/settings.h"
#include "core/settings_file.h"

TEST(Settings, GlobVarsRoundTripAndClampOnRead) {
  GlobVars g;
  g.Gradient = false;
  g.PriceClr = RGBColor(1, 2, 3);
  g.Ind[4] = RGBColor(9, 8, 7);
  g.Filter = 12;
  g.CurView = "Wide view";
  g.ColPos[3] = 5;
  g.ColWidth[3] = 120;
  g.NewsTwoPanes = true;
  g.WebDefault = 'W';
  SaveGlobVars(g);
  GlobVars back;
  LoadGlobVars(back);
  EXPECT_FALSE(back.Gradient);
  EXPECT_EQ(back.PriceClr, RGBColor(1, 2, 3));
  EXPECT_EQ(back.Ind[4], RGBColor(9, 8, 7));
  EXPECT_EQ(back.Filter, 12);
  EXPECT_EQ(back.CurView, "Wide view");
  EXPECT_EQ(back.ColPos[3], 5);
  EXPECT_EQ(back.ColWidth[3], 120);
  EXPECT_EQ(back.ColPos[4], -1);
  EXPECT_TRUE(back.NewsTwoPanes);
  EXPECT_EQ(back.WebDefault, 'W');

  Ini().WriteString("Colors", "Filter", "1");
  Ini().WriteString("Colors", "PriceThick", "900");
  Ini().WriteString("Stocks", "WebDefault", "?");
  LoadGlobVars(back);
  EXPECT_EQ(back.Filter, 2);
  EXPECT_EQ(back.PriceThick, 10);
  EXPECT_EQ(back.WebDefault, 'Y');
}

TEST(Settings, YesNoAndRefusedKeys) {
  auto& ini = Ini();
  ini.WriteString("VNServer", "Active", "yes");
  EXPECT_TRUE(ini.ReadYesNo("VNServer", "Active", false));
  ini.WriteString("VNServer", "Active", "no");
  EXPECT_FALSE(ini.ReadYesNo("VNServer", "Active", true));
  // A portfolio name from the user must not break the file.
  EXPECT_FALSE(ini.WriteString("Ports", "evil]\r\n[Stocks", "1"));
  EXPECT_FALSE(ini.WriteString("Ports", "ok", "line\nbreak"));
  EXPECT_EQ(ini.ReadString("Stocks", "evil", "none"), "none");
}

TEST(Branding, ReadsCustParWithDefaults) {
  std::ofstream(ProgDir + "cust.par") << "// branding\r\nPROGFULLNAME=Demo Monitor\r\n\r\nhelpfilename=NONE\r\n"
                                         "SPLASHDELAY=abc\r\n";
  CustVarType saved = Branding;
  LoadBranding();
  EXPECT_EQ(Branding.ProgFullName, "Demo Monitor");
  EXPECT_EQ(Branding.ExeDefault, "STOCKS.EXE");
  std::string help = "x";
  GetHelpFileName(help);
  EXPECT_EQ(help, "");
  EXPECT_EQ(Branding.SplashDelay, 0);
  Branding = saved;
}

TEST(ProgramFolder, SeedsMissingFilesOnlyAndRejectsClimbingNames) {
  namespace fs = std::filesystem;
  fs::path data = fs::path(ProgDir) / "seed-data";
  fs::create_directories(data / "sub");
  std::ofstream(data / "params.par") << "A=1";
  std::ofstream(data / "sub" / "x.SDF") << "x";
  fs::path target = fs::path(ProgDir) / "seeded";
  fs::create_directories(target);
  std::ofstream(target / "params.par") << "mine";
  ASSERT_TRUE(SeedProgDir(target.string() + "/", data.string()));
  std::string kept;
  ReadWholeFile((target / "params.par").string(), kept);
  EXPECT_EQ(kept, "mine");
  EXPECT_TRUE(fs::exists(target / "sub" / "x.SDF"));

  EXPECT_TRUE(IsSafeRelativeName("Cache/GIF12.GIF"));
  for (const char* bad : {"../x", "/etc/passwd", "a/../../b", "..\\x", "C:\\x", ""})
    EXPECT_FALSE(IsSafeRelativeName(bad)) << bad;
}

TEST(Settings, StoredEasternOffsetStaysInForceInLaterRuns) {
  Ini().DeleteKey("Stocks", "ETOFFSET");
  LoadMiscSettings();
  EXPECT_FALSE(ClockSynced.load());
  Ini().WriteFloat("Stocks", "ETOFFSET", -0.25);
  LoadMiscSettings();
  EXPECT_TRUE(ClockSynced.load());
  EXPECT_DOUBLE_EQ(EtOffsetCache.load(), -0.25);
  Ini().WriteString("Stocks", "ETOFFSET", "soon");
  LoadMiscSettings();
  EXPECT_FALSE(ClockSynced.load());  // an unreadable offset is no offset
  Ini().DeleteKey("Stocks", "ETOFFSET");
  ClockSynced = false;
  EtOffsetCache = 0;
}
