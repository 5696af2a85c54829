// reklama.par into the ad table, the weighted choice and the address macros, with an injected
// random source so every share is checked exactly.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <cstdlib>
#include <map>
#include <set>
#include <mutex>
#include <random>

#include "ads/banner/ad_params.h"
#include "core/ad_locations.h"
#include "common/fake_site.h"
#include "core/chart_cache.h"
#include "core/program_state.h"
#include "retrieval/param_files.h"

namespace {

StringList Params(std::initializer_list<const char*> lines) {
  StringList l;
  for (const char* s : lines) l.Add(s);
  return l;
}

// Draws the values it is given, in turn.
AdRandom Fixed(std::vector<int64_t> values) {
  auto state = std::make_shared<std::pair<std::vector<int64_t>, size_t>>(std::move(values), 0);
  return [state](int64_t range) {
    int64_t v = state->first[state->second++ % state->first.size()];
    return std::min(v, range - 1);
  };
}

// Uniform draws from a seeded generator: the same sequence on every run.
AdRandom Seeded(uint64_t seed) {
  auto gen = std::make_shared<std::mt19937_64>(seed);
  return [gen](int64_t range) { return std::uniform_int_distribution<int64_t>(0, range - 1)(*gen); };
}

// One ad per weight, all for kind 4.
StringList WeightedAds(const std::vector<int64_t>& weights) {
  StringList l;
  for (size_t i = 0; i < weights.size(); ++i) {
    const std::string n = std::to_string(i + 1);
    l.Add("AD1SORC" + n + "=h/" + n + ".gif");
    l.Add("AD1HREF" + n + "=http://x/" + n);
    l.Add("ADTIMR" + n + "=10");
    l.Add("ADWGHT" + n + "=" + std::to_string(weights[i]));
    l.Add("ADLOCT" + n + "=4");
  }
  return l;
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

TEST(AdParams, LongBlurbsAreCutAndLongAddressesDropTheirAd) {
  std::string accented;
  for (int i = 0; i < 200; ++i) accented += "\xC3\xA9";  // 400 bytes of two-byte characters
  const std::string huge(1 << 20, 'x');
  const std::string longSource = "h/" + std::string(MaxAdAddressLength, 'a') + ".gif";
  ReadAdParams(Params({("BLURB1=" + std::string(360, 'w')).c_str(), ("BLURB2=" + huge).c_str(),
                       ("BLURB3=" + accented).c_str(), "BLURB4=short|two",
                       ("AD1SORC1=" + longSource).c_str(), "AD1HREF1=http://a/", "ADTIMR1=10", "ADWGHT1=1",
                       "ADLOCT1=4", "AD1SORC2=h/b.gif", ("AD1HREF2=http://b/" + std::string(MaxAdAddressLength, 'q')).c_str(),
                       "ADTIMR2=10", "ADWGHT2=1", "ADLOCT2=4", "AD1SORC3=h/c.gif", "AD1HREF3=http://c/",
                       "ADTIMR3=10", "ADWGHT3=1", "ADLOCT3=4"}));
  std::lock_guard lock(AdLock);
  ASSERT_EQ(AdState.Blurbs.Count(), 4);
  EXPECT_EQ(AdState.Blurbs[0].size(), MaxBlurbLength);
  EXPECT_EQ(AdState.Blurbs[1].size(), MaxBlurbLength);
  // Cut between characters, never inside one.
  EXPECT_TRUE(AdState.Blurbs[2] == accented.substr(0, MaxBlurbLength));
  EXPECT_EQ(AdState.Blurbs[3], "short|two");
  // Only the ad with sane addresses makes a row.
  EXPECT_TRUE(AdTable[1].Source == "h/c.gif");
  EXPECT_TRUE(AdTable[2].Source.empty());
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

// 10^5 seeded draws against the shares by chi-square (0.1 % critical values), also where the
// shares add up past 2^31.
TEST(AdParams, DrawsFollowTheSharesOverTheWhole64BitTotal) {
  struct Case {
    std::vector<int64_t> weights;
    double critical;  // chi-square at 0.1 % for the cells with an expectation above 5
  };
  const Case cases[] = {{{1, 2, 3, 4}, 16.27}, {{1, 1, 2147483647}, 10.83}, {{1, 2147483647, 2147483647}, 3.0}};
  const int draws = 100000;
  for (const Case& c : cases) {
    ReadAdParams(WeightedAds(c.weights));
    const AdRandom random = Seeded(20260607);
    std::map<int, int> got;
    for (int i = 0; i < draws; ++i) {
      std::string src, link;
      bool redirect = false;
      ++got[PickAd(4, src, link, redirect, random)];
    }
    const int64_t wmin = *std::min_element(c.weights.begin(), c.weights.end());
    const int64_t wmax = *std::max_element(c.weights.begin(), c.weights.end());
    double total = 0;
    for (int64_t w : c.weights) total += double(wmin + wmax - w);
    double chi = 0;
    for (size_t i = 0; i < c.weights.size(); ++i) {
      const double expected = draws * double(wmin + wmax - c.weights[i]) / total;
      const int observed = got[int(i) + 1];
      if (expected > 5) chi += (observed - expected) * (observed - expected) / expected;
      else EXPECT_LE(observed, 1) << "row " << i + 1;
    }
    EXPECT_LT(chi, c.critical) << "weights " << c.weights[0] << ", " << c.weights[1] << ", " << c.weights[2];
  }
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
  // Thousands of macros in one call take one value and move the sequence on once.
  {
    std::string many, manyLink;
    for (int i = 0; i < 5000; ++i) many += "##SEQ1##/";
    for (int i = 0; i < 3000; ++i) manyLink += "##SEQ9##";
    ExpandAdMacros(many, manyLink, true, m, Fixed({0}));
    std::string want;
    for (int i = 0; i < 5000; ++i) want += "6/";
    EXPECT_EQ(many, want);
    EXPECT_EQ(manyLink, std::string(3000, '6'));
    EXPECT_EQ(m.SeqPos[1], 7);
    // A macro without its closing "##" loses the five characters "##SEQ" and ends the text's pass.
    std::string open = "a##SEQ1##b##SEQ1c", none;
    ExpandAdMacros(open, none, false, m, Fixed({0}));
    EXPECT_EQ(open, "a7b1c");
  }

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

// The demo's side-by-side ad panels (kinds 40 and 41) never share an ad, and each rotates.
TEST(AdParams, DemoPanelsHaveAdsOfTheirOwn) {
  const std::string command = "python3 '" + FakeSiteScript("ads") + "' --demo-setup '" + ProgDir + "' 8123";
  ASSERT_EQ(std::system(command.c_str()), 0);
  StringList params;
  ReadParamsFile("reklama.par", params);
  ReadAdParams(params);
  std::map<int, std::set<std::string>> sources;
  {
    std::lock_guard lock(AdLock);
    for (int r = 1; r <= AdRowCount; ++r)
      if (!AdTable[r].Source.empty()) sources[AdTable[r].Location].insert(AdTable[r].Source);
  }
  EXPECT_GE(sources[40].size(), 2u);
  EXPECT_GE(sources[41].size(), 2u);
  for (const std::string& s : sources[40]) EXPECT_EQ(sources[41].count(s), 0u) << s;
  std::remove((ProgDir + "reklama.par").c_str());
  ReadAdParams(StringList());
}
