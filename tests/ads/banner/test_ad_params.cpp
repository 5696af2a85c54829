// reklama.par into the ad table, the weighted choice and the address macros, with an injected
// random source so every share is checked exactly.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>

#include "ads/banner/ad_params.h"
#include "core/ad_locations.h"
#include "core/chart_cache.h"

namespace {

StringList Params(std::initializer_list<const char*> lines) {
  StringList l;
  for (const char* s : lines) l.Add(s);
  return l;
}

// Draws the values it is given, in turn.
AdRandom Fixed(std::vector<int> values) {
  auto state = std::make_shared<std::pair<std::vector<int>, size_t>>(std::move(values), 0);
  return [state](int range) {
    int v = state->first[state->second++ % state->first.size()];
    return std::min(v, range - 1);
  };
}

}  // namespace

TEST(AdParams, RowsSettingsAndCacheNames) {
  namespace fs = std::filesystem;
  fs::create_directories(ChartCacheDir());
  std::ofstream(ChartCacheDir() + "gif7.gif") << "old";
  std::ofstream(ChartCacheDir() + "chart.gif") << "kept";
  ReadAdParams(Params({"BLOCKOBSCURED=YES", "OBSCUREDPERC=12.5", "DELAYAFTERCLICK=x", "BLURB1=One|Two",
                       "BLURB2=Three", "BLURB4=skipped after a gap",
                       "AD1SORC1=127.0.0.1/a.gif", "AD1HREF1=http://a.test/", "ADCACHE1=Y",
                       "ADTIMR1=30,40", "ADWGHT1=1,3", "ADLOCT1=1,1",
                       "AD1SORC2=127.0.0.1/b.gif", "AD1HREF2=http://b.test/", "ADTIMR2=30",
                       "ADWGHT2=1,2", "ADLOCT2=1,3",  // lists that do not match: no row
                       "AD1SORC3=127.0.0.1/c.gif", "AD1HREF3=http://c.test/", "ADTIMR3=0,30",
                       "ADTIMRWE3=5,x", "ADWGHT3=1,1", "ADLOCT3=2,3", "ADREDIR3=N"}));
  std::lock_guard lock(AdLock);
  EXPECT_TRUE(AdSettings.BlockObscured);
  EXPECT_FALSE(AdSettings.BlockPartObscured);
  EXPECT_DOUBLE_EQ(AdSettings.ObscuredPerc, 12.5);
  EXPECT_EQ(AdSettings.DelayAfterClick, 10);
  ASSERT_EQ(AdState.Blurbs.Count(), 2);
  EXPECT_EQ(AdTable[1].Period, 30);
  EXPECT_EQ(AdTable[2].Period, 40);
  EXPECT_EQ(AdTable[2].Weight, 3);
  // Two rows of one kind get a cache file each.
  EXPECT_NE(AdTable[1].CacheFile, AdTable[2].CacheFile);
  EXPECT_EQ(fs::path(AdTable[1].CacheFile).filename(), "GIF1.GIF");
  // Ad 3: its first entry has no period; the second takes the weekday period at the weekend.
  EXPECT_EQ(AdTable[3].Location, 3);
  EXPECT_EQ(AdTable[3].WeekendPeriod, 30);
  EXPECT_FALSE(AdTable[3].Redirect);
  EXPECT_TRUE(AdTable[4].Source.empty());
  EXPECT_FALSE(fs::exists(ChartCacheDir() + "gif7.gif"));  // cached banners go, in any case
  EXPECT_TRUE(fs::exists(ChartCacheDir() + "chart.gif"));
}

TEST(AdParams, ReReadClearsTheTableAndStopsAt200Rows) {
  StringList many;
  for (int n = 1; n <= 120; ++n) {
    const std::string k = std::to_string(n);
    many.Add("AD1SORC" + k + "=h/x.gif");
    many.Add("AD1HREF" + k + "=http://x/");
    many.Add("ADTIMR" + k + "=10,10");
    many.Add("ADWGHT" + k + "=1,1");
    many.Add("ADLOCT" + k + "=5,6");
  }
  ReadAdParams(many);
  {
    std::lock_guard lock(AdLock);
    EXPECT_EQ(AdTable[200].Location, 6);
  }
  EXPECT_TRUE(HasAdsForLocation(5));
  ReadAdParams(Params({"AD1SORC1=h/y.gif", "AD1HREF1=http://y/", "ADTIMR1=10", "ADWGHT1=1", "ADLOCT1=9"}));
  EXPECT_FALSE(HasAdsForLocation(5));
  EXPECT_TRUE(HasAdsForLocation(9));
}

TEST(AdParams, WeightedChoiceGivesTheSmallestWeightTheLargestShare) {
  ReadAdParams(Params({"AD1SORC1=h/a.gif", "AD1HREF1=http://a/", "ADTIMR1=10", "ADWGHT1=1", "ADLOCT1=4",
                       "AD1SORC2=h/b.gif", "AD1HREF2=http://b/", "ADTIMR2=10", "ADWGHT2=3", "ADLOCT2=4"}));
  std::lock_guard lock(AdLock);
  // Shares 3 and 1: draws 0..2 give row 1, draw 3 gives row 2.
  std::map<int, int> got;
  for (int draw = 0; draw < 4; ++draw) {
    std::string src, link;
    bool redirect = false;
    ++got[PickAd(4, src, link, redirect, Fixed({draw}))];
  }
  EXPECT_EQ(got[1], 3);
  EXPECT_EQ(got[2], 1);
  std::string src = "unchanged", link;
  bool redirect = false;
  EXPECT_EQ(PickAd(99, src, link, redirect, Fixed({0})), 0);
  EXPECT_EQ(src, "unchanged");
  // Failed rows sit out; negative weights never give a negative share or a bad draw.
  AdTable[1].Failed = true;
  EXPECT_EQ(PickAd(4, src, link, redirect, Fixed({0})), 2);
  AdTable[1].Failed = false;
  AdTable[1].Weight = -2000000000;
  AdTable[2].Weight = -2000000000;
  const int row = PickAd(4, src, link, redirect, Fixed({1}));
  EXPECT_TRUE(row == 1 || row == 2);
}

TEST(AdParams, SequenceAndRandomMacros) {
  AdMacroState m;
  ParseAdSequence("5..7,10", m.SeqSet[1], m.SeqPos[1]);
  ParseAdSequence("", m.SeqSet[2], m.SeqPos[2]);
  EXPECT_EQ(m.SeqPos[2], -1);
  std::vector<std::string> seen;
  for (int i = 0; i < 5; ++i) {
    std::string src = "h/ad##SEQ1##.gif", link = "http://x/?n=##SEQ2##";
    ExpandAdMacros(src, link, true, m, Fixed({0}));
    seen.push_back(src);
    // One sequence number per call, in both texts.
    EXPECT_EQ(link.substr(link.find('=') + 1), src.substr(4, src.size() - 8));
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"h/ad5.gif", "h/ad6.gif", "h/ad7.gif", "h/ad10.gif", "h/ad5.gif"}));

  m.RandSet[1] = true;
  m.RandMin[1] = 1;
  m.RandMax[1] = 99;
  m.RandDigits[1] = 4;
  std::string src = "h/r##RAND1##.gif", link = "http://x/##RAND7##";
  ExpandAdMacros(src, link, true, m, Fixed({41}));
  EXPECT_EQ(src, "h/r0042.gif");
  EXPECT_EQ(link, "http://x/0042");
  // No closing "##": only the six characters "##RAND" go.
  src = "h/a.gif##RAND1";
  link.clear();
  ExpandAdMacros(src, link, true, m, Fixed({0}));
  EXPECT_EQ(src, "h/a.gif1");
  // A greatest value below the least and digits without bound stay sound.
  m.RandMin[1] = 50;
  m.RandMax[1] = 10;
  m.RandDigits[1] = 18;
  src = "##RAND1##";
  ExpandAdMacros(src, link, true, m, Fixed({5}));
  EXPECT_EQ(src, std::string(16, '0') + "50");
}
