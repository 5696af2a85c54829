#include "core/settings.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "core/branding.h"
#include "core/market_clock.h"
#include "core/program_state.h"
#include "core/settings_file.h"

GlobVars LiveSettings;
GlobVars WorkSettings;
GlobVars PrintSettings;
bool ShowFractions = false;
std::atomic<int> RefreshSecs{20};

int RefreshFloor(int siteMinRefresh) { return std::max(1, siteMinRefresh); }

int SetRefreshSecs(int seconds, int siteMinRefresh) {
  const int secs = std::max(seconds, RefreshFloor(siteMinRefresh));
  RefreshSecs = secs;
  if (IniFile_) Ini().WriteInteger("Stocks", "RefreshSecs", secs);
  return secs;
}

GlobVars::GlobVars() {
  for (int i = 0; i < ColKindCount; ++i) {
    ColPos[static_cast<size_t>(i)] = -1;
    ColStyle[static_cast<size_t>(i)] = 0;
    ColWidth[static_cast<size_t>(i)] = 0;  // none stored: the grid fits the column to its texts
  }
}

namespace {
TColor ReadColor(const char* key, TColor def) {
  int v = Ini().ReadInteger("Colors", key, static_cast<int>(def));
  return static_cast<TColor>(v) & 0xFFFFFF;
}
void WriteColor(const char* key, TColor c) { Ini().WriteInteger("Colors", key, static_cast<int>(c & 0xFFFFFF)); }

int Clamp(int v, int lo, int hi) { return std::clamp(v, lo, hi); }

// "position,style,width" of one column kind.
void ParseColumn(const std::string& text, int& pos, int& style, int& width) {
  StringList parts;
  parts.SetCommaText(text);
  auto num = [&](int i, int def) {
    if (i >= parts.Count()) return def;
    int v = def;
    auto r = std::from_chars(parts[i].data(), parts[i].data() + parts[i].size(), v);
    return r.ec == std::errc() ? v : def;
  };
  pos = Clamp(num(0, pos), -1, ColKindCount);
  style = num(1, style);
  const int w = num(2, width);
  width = w == 0 ? 0 : Clamp(w, 8, 2000);
}
}  // namespace

void LoadGlobVars(GlobVars& g) {
  auto& ini = Ini();
  g.Gradient = ini.ReadYesNo("Colors", "Gradient", g.Gradient);
  g.BackClr = ReadColor("BackClr", g.BackClr);
  g.GradStart = ReadColor("GradStart", g.GradStart);
  g.GradEnd = ReadColor("GradEnd", g.GradEnd);
  g.BidClr = ReadColor("BidClr", g.BidClr);
  g.AskClr = ReadColor("AskClr", g.AskClr);
  g.PriceClr = ReadColor("PriceClr", g.PriceClr);
  g.VolClr = ReadColor("VolClr", g.VolClr);
  g.AxisClr = ReadColor("AxisClr", g.AxisClr);
  g.TextClr = ReadColor("TextClr", g.TextClr);
  g.PriceThick = Clamp(ini.ReadInteger("Colors", "PriceThick", g.PriceThick), 1, 10);
  g.BidThick = Clamp(ini.ReadInteger("Colors", "BidThick", g.BidThick), 1, 10);
  g.IndThick = Clamp(ini.ReadInteger("Colors", "IndThick", g.IndThick), 1, 10);
  for (int i = 0; i < 5; ++i)
    g.Ind[static_cast<size_t>(i)] = ReadColor(("Ind" + std::to_string(i + 1)).c_str(), g.Ind[static_cast<size_t>(i)]);
  g.Filter = std::max(2, ini.ReadInteger("Colors", "Filter", g.Filter));
  g.AxL = ini.ReadYesNo("Colors", "AxL", g.AxL);
  g.PortChart = ini.ReadString("Colors", "PortChart", g.PortChart);
  g.Hints = ini.ReadYesNo("Misc", "Hints", g.Hints);
  g.CurView = ini.ReadString("Stocks", "CurView", g.CurView).substr(0, 255);
  if (g.CurView.empty()) g.CurView = "Default";
  for (int i = 0; i < ColKindCount; ++i) {
    auto k = static_cast<size_t>(i);
    std::string v = ini.ReadString("Columns", "C" + std::to_string(i), "");
    if (!v.empty()) ParseColumn(v, g.ColPos[k], g.ColStyle[k], g.ColWidth[k]);
  }
  // Every width at 64 is what earlier versions wrote for all columns, not a width the user chose.
  if (std::all_of(g.ColWidth.begin(), g.ColWidth.end(), [](int w) { return w == 64; })) g.ColWidth.fill(0);
  g.FontName = ini.ReadString("Fonts", "Name", g.FontName);
  g.FontSize = Clamp(ini.ReadInteger("Fonts", "Size", g.FontSize), 4, 72);
  g.FontStyle = ini.ReadInteger("Fonts", "Style", g.FontStyle) & 3;
  g.RowHeight = Clamp(ini.ReadInteger("Fonts", "RowHeight", g.RowHeight), 8, 200);
  g.NewsTwoPanes = ini.ReadYesNo("News", "TwoPanes", g.NewsTwoPanes);
  g.NewsBrowserOff = ini.ReadYesNo("News", "BrowserOff", g.NewsBrowserOff);
  std::string web = UpperCase(ini.ReadString("Stocks", "WebDefault", std::string(1, g.WebDefault)));
  g.WebDefault = !web.empty() && (web[0] == 'Y' || web[0] == 'W' || web[0] == 'N') ? web[0] : 'Y';
}

void SaveGlobVars(const GlobVars& g) {
  auto& ini = Ini();
  ini.BeginBatch();
  ini.WriteYesNo("Colors", "Gradient", g.Gradient);
  WriteColor("BackClr", g.BackClr);
  WriteColor("GradStart", g.GradStart);
  WriteColor("GradEnd", g.GradEnd);
  WriteColor("BidClr", g.BidClr);
  WriteColor("AskClr", g.AskClr);
  WriteColor("PriceClr", g.PriceClr);
  WriteColor("VolClr", g.VolClr);
  WriteColor("AxisClr", g.AxisClr);
  WriteColor("TextClr", g.TextClr);
  ini.WriteInteger("Colors", "PriceThick", g.PriceThick);
  ini.WriteInteger("Colors", "BidThick", g.BidThick);
  ini.WriteInteger("Colors", "IndThick", g.IndThick);
  for (int i = 0; i < 5; ++i) WriteColor(("Ind" + std::to_string(i + 1)).c_str(), g.Ind[static_cast<size_t>(i)]);
  ini.WriteInteger("Colors", "Filter", g.Filter);
  ini.WriteYesNo("Colors", "AxL", g.AxL);
  ini.WriteString("Colors", "PortChart", g.PortChart);
  ini.WriteYesNo("Misc", "Hints", g.Hints);
  ini.WriteString("Stocks", "CurView", g.CurView);
  for (int i = 0; i < ColKindCount; ++i) {
    auto k = static_cast<size_t>(i);
    ini.WriteString("Columns", "C" + std::to_string(i),
                    std::to_string(g.ColPos[k]) + "," + std::to_string(g.ColStyle[k]) + "," +
                        std::to_string(g.ColWidth[k]));
  }
  ini.WriteString("Fonts", "Name", g.FontName);
  ini.WriteInteger("Fonts", "Size", g.FontSize);
  ini.WriteInteger("Fonts", "Style", g.FontStyle);
  ini.WriteInteger("Fonts", "RowHeight", g.RowHeight);
  ini.WriteYesNo("News", "TwoPanes", g.NewsTwoPanes);
  ini.WriteYesNo("News", "BrowserOff", g.NewsBrowserOff);
  ini.WriteString("Stocks", "WebDefault", std::string(1, g.WebDefault));
  ini.EndBatch();
}

void LoadMiscSettings() {
  auto& ini = Ini();
  ShowFractions = ini.ReadYesNo("Misc", "Fractions", false);
  UseProxy = ini.ReadYesNo("Proxy", "UseProxy", false);
  ShowAds = ini.ReadYesNo("Ads", "Show", false);
  LastWUNotify = ini.ReadString("Stocks", "LastWUNotify", "");
  // A synchronised offset stays in force in later runs, until the system time changes.
  const double unset = std::numeric_limits<double>::quiet_NaN();
  const double offset = ini.ReadFloat("Stocks", "ETOFFSET", unset);
  ClockSynced = !std::isnan(offset);
  EtOffsetCache = ClockSynced ? offset : 0.0;
  std::string wu = ParamValue(ParamList, "WUINTERVAL", "180");
  int v = 180;
  auto r = std::from_chars(wu.data(), wu.data() + wu.size(), v);
  WUInterval = r.ec == std::errc() && v > 0 ? v : 180;
}
