// The historical charts' logic without a window: stamps, names, the cache, queries, tokens,
// moving-average values, the look-up cache and the trend-line state machine.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "ads/gif/gif_whole.h"
#include "charts/hist_ad.h"
#include "charts/hist_cache.h"
#include "charts/hist_lines.h"
#include "charts/hist_query.h"
#include "core/chart_cache.h"
#include "hist_test_gif.h"
#include "platform/string_list.h"

namespace fs = std::filesystem;

namespace {

TDateTime At(int y, int m, int d, int hh, int mm) { return EncodeDate(y, m, d) + EncodeTime(hh, mm, 0, 0); }

void EmptyCache() {
  std::error_code ec;
  fs::remove_all(ChartCacheDir(), ec);
  fs::create_directories(ChartCacheDir(), ec);
  ChartCacheBytes = 0;
}

void PutFile(const std::string& name, size_t size) {
  std::ofstream(ChartCacheDir() + name, std::ios::binary) << std::string(size, 'x');
  ChartCacheBytes += static_cast<int64_t>(size);
}

}  // namespace

// 2026-12-04 is a Friday.
TEST(HistStamps, DailyAndIntradayRules) {
  const TDateTime friday2100 = At(2026, 12, 4, 21, 0);
  EXPECT_DOUBLE_EQ(HistDailyStamp(At(2026, 12, 5, 12, 0)), friday2100);  // Saturday
  EXPECT_DOUBLE_EQ(HistDailyStamp(At(2026, 12, 6, 23, 0)), friday2100);  // Sunday night
  EXPECT_DOUBLE_EQ(HistDailyStamp(At(2026, 12, 7, 20, 59)), friday2100);  // Monday before 21:00
  EXPECT_DOUBLE_EQ(HistDailyStamp(At(2026, 12, 7, 21, 0)), At(2026, 12, 7, 21, 0));
  EXPECT_DOUBLE_EQ(HistDailyStamp(At(2026, 12, 8, 3, 0)), At(2026, 12, 7, 21, 0));

  const TDateTime during = At(2026, 12, 8, 11, 15);
  EXPECT_DOUBLE_EQ(HistIntradayStamp(during), during);
  EXPECT_DOUBLE_EQ(HistIntradayStamp(At(2026, 12, 8, 9, 0)), At(2026, 12, 7, 16, 30));
  EXPECT_DOUBLE_EQ(HistIntradayStamp(At(2026, 12, 8, 18, 0)), At(2026, 12, 8, 16, 30));
  EXPECT_DOUBLE_EQ(HistIntradayStamp(At(2026, 12, 5, 12, 0)), At(2026, 12, 4, 16, 30));  // Saturday
  EXPECT_DOUBLE_EQ(HistIntradayStamp(At(2026, 12, 6, 8, 0)), At(2026, 12, 4, 16, 30));   // Sunday morning
  // Monday before the open: the previous day is Sunday, so back to Friday's close.
  EXPECT_DOUBLE_EQ(HistIntradayStamp(At(2026, 12, 7, 8, 0)), At(2026, 12, 4, 16, 30));
}

TEST(HistNames, HashCoversOrderAndNamesStayInTheFolder) {
  const TDateTime stamp = At(2026, 12, 4, 21, 0);
  const std::string a = HistCacheName("", "MSFT", stamp, "1y", "22,50");
  const std::string b = HistCacheName("", "MSFT", stamp, "1y", "50,22");
  EXPECT_NE(a, b);  // the old character sum gave both one file
  EXPECT_EQ(a, HistCacheName("", "MSFT", stamp, "1y", "22,50"));
  EXPECT_EQ(a.rfind("MSFT_10360.8750000_1y_", 0), 0u) << a;

  const std::string odd = HistCacheName("557x532", "../A/B?", stamp, "dur:6m/x", "q");
  EXPECT_EQ(odd.find('/'), std::string::npos);
  EXPECT_EQ(std::count(odd.begin(), odd.end(), '_'), 3);
  EXPECT_FALSE(HistCachePath(odd).empty());
  EXPECT_TRUE(HistCachePath("../x").empty());
  EXPECT_TRUE(HistCachePath("").empty());
}

TEST(HistCache, StoreSkipsExistingRefusesNonGifAndEvictsStaleFirst) {
  EmptyCache();
  ChartCacheMB = 1;
  const std::string gif = histtest::SmallGif(40, 20);
  const TDateTime now = At(2026, 12, 8, 12, 0);
  auto stampFor = [&](const std::string& period) {
    return period == "1d" ? HistIntradayStamp(now) : HistDailyStamp(now);
  };

  EXPECT_EQ(StoreInCache("A_1_1y_x", "ERR", stampFor), StoreResult::NotGif);
  EXPECT_EQ(StoreInCache("A_1_1y_x", "GIF89a garbage", stampFor), StoreResult::NotGif);
  EXPECT_EQ(StoreInCache("../escape", gif, stampFor), StoreResult::BadName);
  const std::string current = "CUR_" + HistStampText(HistDailyStamp(now)) + "_1y_h";
  ASSERT_EQ(StoreInCache(current, gif, stampFor), StoreResult::Stored);
  EXPECT_EQ(ChartCacheBytes, static_cast<int64_t>(gif.size()));
  EXPECT_EQ(StoreInCache(current, gif + "x", stampFor), StoreResult::AlreadyCached);
  EXPECT_EQ(ChartCacheBytes, static_cast<int64_t>(gif.size()));

  // A chart cut anywhere is not whole; one cut short is never stored, even after it was shown,
  // and one found in the cache is dropped.
  EXPECT_TRUE(GifArrivedWhole(gif));
  for (size_t n = 0; n < gif.size(); ++n) EXPECT_FALSE(GifArrivedWhole(gif.substr(0, n))) << n;
  const std::string cut = gif.substr(0, gif.size() * 2 / 3);
  EXPECT_EQ(StoreInCache("CUT_1_1y_c", cut, stampFor, true), StoreResult::NotGif);
  std::ofstream(ChartCacheDir() + "CUT_1_1y_c.gif", std::ios::binary) << cut;
  ChartCacheBytes += int64_t(cut.size());
  std::string back;
  EXPECT_FALSE(ReadCachedChart("CUT_1_1y_c", back));
  EXPECT_FALSE(fs::exists(ChartCacheDir() + "CUT_1_1y_c.gif"));
  EXPECT_EQ(ChartCacheBytes, static_cast<int64_t>(gif.size()));

  // Over the limit: the stale chart goes first, then the others in listing order.
  PutFile("OLD_" + HistStampText(HistDailyStamp(now) - 1) + "_1y_h.gif", 450'000);
  PutFile("GIF3.GIF", 300'000);  // a banner, upper case
  PutFile("KEEP_" + HistStampText(HistDailyStamp(now)) + "_1y_k.gif", 260'000);
  ASSERT_EQ(StoreInCache("NEW_" + HistStampText(HistDailyStamp(now)) + "_1y_n", gif, stampFor), StoreResult::Stored);
  EXPECT_FALSE(fs::exists(ChartCacheDir() + "OLD_" + HistStampText(HistDailyStamp(now) - 1) + "_1y_h.gif"));
  EXPECT_TRUE(fs::exists(ChartCacheDir() + "GIF3.GIF"));
  EXPECT_TRUE(fs::exists(ChartCacheDir() + current + ".gif"));
  EXPECT_EQ(ChartCacheBytes, GetGifCacheSize());

  // A chart larger than the limit empties the folder and is still written.
  const std::string big = gif + std::string(1'100'000, '\0');
  ASSERT_EQ(StoreInCache("BIG_1_1y_b", big, stampFor), StoreResult::Stored);
  int files = 0;
  for (const auto& e : fs::directory_iterator(ChartCacheDir())) files += e.path().extension() != ".tmp";
  EXPECT_EQ(files, 1);
  EXPECT_EQ(ChartCacheBytes, static_cast<int64_t>(big.size()));
  EXPECT_TRUE(ReadCachedChart("BIG_1_1y_b", back));
  EXPECT_EQ(back, big);
  EmptyCache();
}

TEST(HistQuery, SiteOneQueryTestsTheCompareIdAndEncodesTypedText) {
  StringList params;
  params.SetText(
      "HISTPERIODPARM=p=@@@\nHISTFREQPARM=f=@@@\nHISTUPPERPARM=up=@@@\nHISTLOWERPARM=lo=@@@\n"
      "HISTPRICEPARM=pr=@@@\nHISTSTYLEPARM=st=@@@\nHISTPERIODSHORT=\"1d\",\"5d\"\n");
  const HistSiteParams p = ReadHistParams(params);
  EXPECT_EQ(p.Path, "/chart.asp?");
  EXPECT_TRUE(p.OurAds);
  EXPECT_TRUE(p.Site.empty());
  HistChoices c;
  c.Symbol = "BRK.B";
  c.PeriodCode = "1y";
  c.FreqCode = "d";
  c.TopFlags = 8 | 1024;
  c.BottomFlags = 2;
  c.PriceCode = "1";
  c.StyleCode = "10";
  c.IndexCode = "aaaaa:0";
  c.MaCode = "5";
  c.MaValues = "25,50";
  c.CompareStock = " IBM ";
  c.CompareId = "ERR";
  c.SidParam = "sid=77";
  std::string q = BuildHistQuery(p, c);
  EXPECT_EQ(q,
            "/chart.asp?p=1y&f=d&up=1032&lo=2&pr=1&st=10&size=2&comp=&r=chart&onbad=badsymbol&country=us&"
            "compidx=aaaaa%3A0&ma=5&maval=25,50&symb=BRK.B&sid=77");
  c.CompareId = "12";
  c.PeriodCode = "5d";  // intraday: the daily-only bits leave the query
  q = BuildHistQuery(p, c);
  EXPECT_NE(q.find("comp=IBM%3A12&"), std::string::npos) << q;
  EXPECT_NE(q.find("up=8&"), std::string::npos) << q;
  c.Symbol = "A&B C";
  EXPECT_NE(BuildHistQuery(p, c).find("symb=A%26B+C&"), std::string::npos);
  EXPECT_FALSE(IsValidChartSymbol("A&B"));
  EXPECT_TRUE(IsValidChartSymbol("BRK.B"));
  EXPECT_TRUE(IsValidChartSymbol("$COMPX"));
  EXPECT_TRUE(IsValidChartSymbol("BRK+B"));
  EXPECT_TRUE(IsValidChartSymbol("BRK B"));
  EXPECT_FALSE(IsValidChartSymbol(" BRK"));
  c.Symbol = "BRK+B";
  EXPECT_NE(BuildHistQuery(p, c).find("symb=BRK%2BB&"), std::string::npos);
}

TEST(HistQuery, SiteTwoQueryTokensCompareAndIndicators) {
  StringList params;
  params.SetText(
      "PROPSYMBPARM=symbol=@@@\nPROPPERIODPARM=@@@\nPROPFREQPARM=freq=@@@\nPROPPRICEPARM=type=@@@\n"
      "PROPSTYLEPARM=colors=@@@\nPROPLOWERFLAG=0,6,9\nPROPLOWERCODE=vol=1,rsi=14,macd=1\n"
      "PROPUPPERFLAG=1,2,3\nPROPUPPERCODE=bb=20,sar=1,env=5\n");
  const PropSiteParams p = ReadPropParams(params);
  EXPECT_EQ(p.Port, 80);
  EXPECT_EQ(p.PeriodShort, 4);
  PropChoices c;
  c.Symbol = "NOW";
  c.PeriodCode = "start=NOW-7";
  c.FreqCode = "d";
  c.PriceCode = "c";
  c.StyleCode = "w";
  c.CompareText = "IBM  MSFT,";
  c.MaCode = "EMA EMA";
  c.MaValues = "22,50";
  c.BottomFlags = "06";
  c.TopFlags = "2";
  c.Width = 522;
  c.Height = 269;
  const TDateTime now = At(2026, 12, 8, 11, 0);
  EXPECT_EQ(BuildPropQuery(p, c, now),
            "/chart.asp?width=522&height=269&compare=IBM,MSFT&symbol=NOW&start=12%2F1%2F2026&freq=d&type=c&"
            "colors=w&price.scale=0&EMA=22,50&vol=1&rsi=14&sar=1");
  EXPECT_EQ(ExpandDateTokens("a=NOW+7&b=NOW&c=YEAR-1&d=YSTART", now),
            "a=12%2F1%2F2026&b=12%2F8%2F2026&c=12%2F8%2F2025&d=1%2F1%2F2026");
  EXPECT_EQ(ExpandDateTokens("y=YEAR-3", At(2024, 2, 29, 10, 0)), "y=2%2F28%2F2021");
  EXPECT_EQ(ReplaceMarkerWithDates("no marker NOW", "x", now, false), "no marker NOW");
  EXPECT_EQ(PropCompareList(" ,IBM  MSFT,,"), "IBM,MSFT");

  // Resizing changes the key; the compare order matters.
  PropChoices d = c;
  d.Width = 600;
  EXPECT_NE(PropCacheKey(c), PropCacheKey(d));
  d = c;
  d.MaValues = "50,22";
  EXPECT_NE(HistQueryHash(PropCacheKey(c)), HistQueryHash(PropCacheKey(d)));

  std::string flags;
  for (const char f : {'3', '1', '2'}) ToggleFlag(flags, f);
  EXPECT_EQ(flags, "123");
  ToggleFlag(flags, '2');
  EXPECT_EQ(flags, "13");
}

TEST(HistQuery, MovingAverageValues) {
  EXPECT_EQ(NormaliseHistMaValues("4", "30"), "30,60,120");
  EXPECT_EQ(NormaliseHistMaValues("0", "30"), "");
  EXPECT_EQ(NormaliseHistMaValues("3", "10 x 20"), "10");  // "x" dropped, the 2nd place not refilled
  EXPECT_EQ(NormaliseHistMaValues("5", ""), "");
  EXPECT_EQ(NormaliseHistMaValues("5", "abc"), "abc");
  EXPECT_EQ(NormaliseHistMaValues("1", "25.5,50"), "");
  EXPECT_EQ(NormaliseHistMaValues("3", "25,50,75"), "25,50");
  EXPECT_EQ(NormalisePropMaValues("-", "22"), "");
  EXPECT_EQ(NormalisePropMaValues("EMA EMA EMA", ""), "10,20,40");
  EXPECT_EQ(NormalisePropMaValues("SMA", " "), "10");
  EXPECT_EQ(NormalisePropMaValues("A B C D", ""), "");
  EXPECT_EQ(NormalisePropMaValues("EMA EMA", "22"), "22,44");
  EXPECT_EQ(NormalisePropMaValues("EMA", "999999999"), "999999999");
  EXPECT_EQ(NormalisePropMaValues("EMA EMA", "999999999"), "999999999,999999999");
}

TEST(HistQuery, StateFieldsSiteIdsAndWipeOrders) {
  const auto f = SplitStateFields(HistDefaultState);
  ASSERT_EQ(f.size(), 12u);
  EXPECT_EQ(f[7], "aaaaa:0");
  EXPECT_EQ(f[8], "");
  EXPECT_EQ(JoinStateFields({"1", "a|b", ""}), "1|a b||");
  EXPECT_EQ(SplitStateFields("1|2").size(), 1u);

  std::string id;
  EXPECT_TRUE(ParseSiteId("<a href=\"/c?sid=1234&x=1\">", id));
  EXPECT_EQ(id, "1234");
  EXPECT_TRUE(ParseSiteId("... sid=99\" ...", id));
  EXPECT_EQ(id, "99");
  EXPECT_TRUE(ParseSiteId("sid=555", id));  // no "&" after it: up to the end
  EXPECT_EQ(id, "555");
  EXPECT_FALSE(ParseSiteId("no id here", id));
  EXPECT_FALSE(ParseSiteId("sid=&x", id));
  EXPECT_FALSE(ParseSiteId("sid=1|2&", id));

  std::string cache;
  AddSiteId(cache, "MSFT", "46");
  AddSiteId(cache, "IBM", "12");
  AddSiteId(cache, "BAD", "1|2");
  EXPECT_EQ(cache, "|MSFT|46|IBM|12|");
  EXPECT_TRUE(FindSiteId(cache, "IBM", id));
  EXPECT_EQ(id, "12");
  EXPECT_FALSE(FindSiteId(cache, "BAD", id));
  EXPECT_FALSE(FindSiteId(cache, "46", id) && id == "IBM");

  EXPECT_TRUE(SiteIdWipeDue("12/01/2026 10:00", ""));  // never carried out: due
  EXPECT_TRUE(SiteIdWipeDue("2026-12-02 10:00", "12/01/2026 10:00"));
  EXPECT_FALSE(SiteIdWipeDue("12/01/2026 10:00", "12/01/2026 10:00"));
  EXPECT_FALSE(SiteIdWipeDue("", ""));
  EXPECT_FALSE(SiteIdWipeDue("13/45/2026 10:00", ""));
}

TEST(HistTrendLines, DrawGrabDragDeleteAndLimits) {
  TrendLines t;
  // A drag of 5 pixels adds nothing; a press without a move changes only the selection.
  t.MouseDown(10, 10);
  t.MouseMove(15, 15);
  t.MouseUp();
  EXPECT_EQ(t.LineCount(), 0);
  t.MouseDown(10, 10);
  t.MouseUp();
  EXPECT_EQ(t.LineCount(), 0);

  t.MouseDown(10, 10);
  t.MouseMove(50, 30);
  TrendLine band;
  ASSERT_TRUE(t.RubberBand(band));
  EXPECT_EQ(band.X2, 50);
  t.MouseMove(110, 60);
  t.MouseUp();
  ASSERT_EQ(t.LineCount(), 1);
  EXPECT_EQ(t.SelectedLine(), 1);
  EXPECT_FALSE(t.Dragging());

  // Within 8 pixels of an end: that end moves, the other stays.
  t.MouseDown(107, 63);
  t.MouseMove(200, 100);
  t.MouseUp();
  EXPECT_EQ(t.Line(1).X1, 10);
  EXPECT_EQ(t.Line(1).X2, 200);

  // A vertical line's body is grabbed and moved whole.
  t.MouseDown(300, 10);
  t.MouseMove(300, 100);
  t.MouseUp();
  ASSERT_EQ(t.LineCount(), 2);
  int line = 0;
  EXPECT_EQ(t.HitTest(304, 50, line), TrendLines::Hit::Body);
  EXPECT_EQ(line, 2);
  EXPECT_TRUE(t.MouseDown(304, 50));
  t.MouseMove(314, 60);
  ASSERT_TRUE(t.RubberBand(band));
  EXPECT_EQ(band.X1, 310);
  t.MouseUp();
  EXPECT_EQ(t.Line(2).X1, 310);
  EXPECT_EQ(t.Line(2).Y2, 110);

  // A sloped body: within 2 pixels of the line.
  EXPECT_EQ(t.HitTest(105, 57, line), TrendLines::Hit::Body);
  EXPECT_EQ(t.HitTest(105, 59, line), TrendLines::Hit::None);

  // Delete the selected line; the next one moves down.
  t.MouseDown(105, 55);
  t.MouseUp();
  EXPECT_EQ(t.SelectedLine(), 1);
  EXPECT_TRUE(t.DeleteSelected());
  EXPECT_EQ(t.LineCount(), 1);
  EXPECT_EQ(t.Line(1).X1, 310);
  EXPECT_FALSE(t.DeleteSelected());

  // Twenty lines at most; Clear leaves no selection behind.
  for (int i = 0; i < 25; ++i) {
    t.MouseDown(20 + i * 20, 400);
    t.MouseMove(20 + i * 20, 300);
    t.MouseUp();
  }
  EXPECT_EQ(t.LineCount(), TrendLines::MaxLines);
  t.MouseDown(40, 350);
  t.MouseUp();
  EXPECT_GT(t.SelectedLine(), 0);
  t.Clear();
  EXPECT_EQ(t.LineCount(), 0);
  EXPECT_EQ(t.SelectedLine(), 0);
  EXPECT_FALSE(t.DeleteSelected());
}

TEST(HistSiteAd, LinksAndImagesOfTheAdPage) {
  SiteAd ad;
  std::string why;
  ASSERT_TRUE(ParseSiteAdPage("<A HREF=/click/3 target=x><IMG SRC=\"/img/3.gif\" width=468>", "ads.local", "img.local",
                              ad, why));
  EXPECT_EQ(ad.Link, "http://ads.local/click/3");
  EXPECT_EQ(ad.ImageHost, "img.local");  // the fixed image server, not the ad server
  EXPECT_EQ(ad.ImagePath, "/img/3.gif");

  ASSERT_TRUE(ParseSiteAdPage("<a href=\"https://x.test/c?1\"><img src=\"https://cdn.test:8443/b.gif\"></a>", "a", "i",
                              ad, why));
  EXPECT_EQ(ad.Link, "https://x.test/c?1");
  EXPECT_EQ(ad.ImageHost, "https://cdn.test:8443");
  EXPECT_EQ(ad.ImagePath, "/b.gif");

  // The no-script part wins over the script block.
  ASSERT_TRUE(ParseSiteAdPage("<script>w('<a href=\"http://bad/\"><img src=\"http://bad/x\">')</script>"
                              "<noscript><a href=\"http://good/\"><img src=\"http://good/y.gif\"></a></noscript>",
                              "a", "i", ad, why));
  EXPECT_EQ(ad.Link, "http://good/");
  EXPECT_EQ(ad.ImageHost, "good");

  // Not a web link, no image, an address only somewhere inside the text.
  EXPECT_FALSE(ParseSiteAdPage("<a href=\"javascript:go()\"><img src=\"/a.gif\">", "a", "i", ad, why));
  EXPECT_EQ(why, "No HREF");
  EXPECT_FALSE(ParseSiteAdPage("<p>no link</p>", "a", "i", ad, why));
  EXPECT_EQ(why, "No HREF");
  EXPECT_FALSE(ParseSiteAdPage("<a href=\"/c\">text</a>", "a", "i", ad, why));
  EXPECT_EQ(why, "No SRC");
  EXPECT_FALSE(ParseSiteAdPage("<a href=\"/c\"><img src=\"ftp://x/http://y/z.gif\">", "a", "i", ad, why));
  ASSERT_TRUE(ParseSiteAdPage("<a href=\"/c\"><img src=\"http://hostonly\">", "a", "i", ad, why));
  EXPECT_EQ(ad.ImageHost, "hostonly");
  EXPECT_EQ(ad.ImagePath, "/");
}
