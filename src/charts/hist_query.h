#pragma once
// The chart sites' vocabulary (parameters of params.par) and the text work of the historical
// chart windows: queries, moving-average values, window-state lines, date tokens and the
// site-id look-up cache. No widgets here.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/datetime.h"
#include "platform/string_list.h"

// Chart site 1 ("HIST..." keys).
struct HistSiteParams {
  StringList PeriodList, PeriodCode, FreqList, FreqCode, FreqShortD, FreqLongD, IndList, IndCode;
  StringList MovAveList, MovAveCode, PriceList, PriceCode, StyleList, StyleCode;
  std::string PeriodParm, PeriodShort, FreqParm, UpperParm, LowerParm, PriceParm, StyleParm;
  std::string Site, Path, Home, LookupSite, WipeCache;
  bool OurAds = true;
  std::string AdSite, AdPath, AdImageSite;
  // The period code is intraday: it occurs, in double quotes, in "HISTPERIODSHORT".
  bool IsShortPeriod(std::string_view code) const;
};
// Chart site 2 ("PROP..." keys).
struct PropSiteParams {
  std::string Site, Path, Home, SymbParm, PeriodParm, FreqParm, PriceParm, StyleParm;
  int Port = 80;
  int PeriodShort = 4;
  StringList PeriodList, PeriodCode, FreqList, FreqCode, FreqShortD, FreqShort, FreqLongD, FreqLong;
  StringList MovAveList, MovAveCode, UpperList, UpperCode, UpperFlag, LowerList, LowerCode, LowerFlag;
  StringList PriceList, PriceCode, StyleList, StyleCode;
  bool IsShortPeriod(std::string_view code) const;
};
HistSiteParams ReadHistParams(const StringList& params);
PropSiteParams ReadPropParams(const StringList& params);

// Template with its first "@@@" replaced by value.
std::string ReplaceMarker(std::string_view tmpl, std::string_view value);
// "NOW[±n]", "YEAR[±n]" and "YSTART" in text written as m/d/yyyy dates (URL-encoded).
std::string ExpandDateTokens(std::string_view text, TDateTime now);
// ReplaceMarker for site 2 with date tokens expanded when the template held "@@@". A typed
// value is put in after the expansion, so a symbol "NOW" stays "NOW"; a code from the
// parameters may carry tokens of its own.
std::string ReplaceMarkerWithDates(std::string_view tmpl, std::string_view value, TDateTime now, bool typedValue);

// A symbol as typed into a chart window: 1 to 12 of A-Z 0-9 . ^ $ - : / + and inner blanks
// (upper-cased and trimmed first).
bool IsValidChartSymbol(std::string_view symbol);

// The moving-average values field made to fit the kind (site 1: code "0" none, "1","2" one
// value, "3","5" two, "4","6" three; missing values double the last given one).
std::string NormaliseHistMaValues(std::string_view code, std::string_view field);
// Site 2: one value per word of the code, "-" none, an empty field gives 10, 20, 40.
std::string NormalisePropMaValues(std::string_view code, std::string_view field);

// Site 2's compare text: blank- or comma-separated symbols joined by one ",".
std::string PropCompareList(std::string_view text);
void SortChars(std::string& text);
// Adds the flag when absent, removes it when present, keeps the characters sorted.
void ToggleFlag(std::string& flags, char flag);

// The choices of a site-1 chart.
struct HistChoices {
  std::string Symbol, PeriodCode, FreqCode, PriceCode, StyleCode, IndexCode, MaCode, MaValues;
  std::string CompareStock, CompareId, SidParam;
  uint32_t TopFlags = 0, BottomFlags = 0;
};
// The bits of the upper indicators that only daily charts have.
constexpr uint32_t HistDailyOnlyTopBits = 512 | 1024 | 2048 | 4096;
std::string BuildHistQuery(const HistSiteParams& p, const HistChoices& c);
// The text the site-1 cache name hashes: every choice that changes the picture.
std::string HistCacheKey(const HistChoices& c);

struct PropChoices {
  std::string Symbol, PeriodCode, FreqCode, PriceCode, StyleCode, MaCode, MaValues, CompareText;
  std::string TopFlags, BottomFlags;
  bool LogScale = false;
  int Width = 0, Height = 0;
};
std::string PropIndicatorQuery(const PropSiteParams& p, const PropChoices& c);
std::string BuildPropQuery(const PropSiteParams& p, const PropChoices& c, TDateTime now);
std::string PropCacheKey(const PropChoices& c);

// The fields of a window-state line ("a|b|c|"); a field missing from the text is absent.
std::vector<std::string> SplitStateFields(std::string_view text);
std::string JoinStateFields(const std::vector<std::string>& fields);
inline constexpr const char* HistDefaultState = "264|154|1|1|5|7|9|aaaaa:0||268435456|0|25,50|";
inline constexpr const char* PropDefaultState = "43|34|0|0|EMA EMA|duration=6m|0||06|2|22,50|N|557|532|";

// The site identifier of a look-up page: the text after "sid=" up to "&", a quote, '<', '>'
// or white space. False when the page has none, or it is empty or holds "|".
bool ParseSiteId(std::string_view page, std::string& id);
// The look-up cache "|SYM|id|SYM2|id2|...".
bool FindSiteId(std::string_view cache, std::string_view symbol, std::string& id);
void AddSiteId(std::string& cache, std::string_view symbol, std::string_view id);
// "m/d/yyyy hh:mm[:ss]" or "yyyy-mm-dd hh:mm[:ss]"; false without one blank between the two.
bool ParseWipeStamp(std::string_view text, TDateTime& out);
// True when the wipe order of the parameter is newer than the one last carried out (the
// settings' text; an empty or unreadable one counts as never).
bool SiteIdWipeDue(std::string_view paramText, std::string_view doneText);
