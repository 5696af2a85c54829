#pragma once
// The user settings record: held live (LiveSettings), as the preferences dialog's working
// copy, and as the print dialog's layout record (PrintSettings).
#include <array>
#include <atomic>
#include <string>

#include "platform/color.h"

constexpr int ColKindCount = 44;

struct GlobVars {
  // Chart colours and pens.
  bool Gradient = true;
  TColor BackClr = clBlack;
  TColor GradStart = RGBColor(0, 0, 64);
  TColor GradEnd = RGBColor(0, 0, 0);
  TColor BidClr = clRed;
  TColor AskClr = clLime;
  TColor PriceClr = clYellow;
  TColor VolClr = clAqua;
  TColor AxisClr = clGray;
  TColor TextClr = clWhite;
  int PriceThick = 2;
  int BidThick = 1;
  int IndThick = 1;
  std::array<TColor, 5> Ind{clFuchsia, clAqua, RGBColor(128, 128, 255), RGBColor(255, 128, 0), clWhite};
  int Filter = 30;          // spike filter, percent, at least 2
  bool AxL = false;         // axes on the left
  std::string PortChart;    // "%" = portfolio charts in percent
  bool Hints = true;
  // Views and grid layout.
  std::string CurView = "Default";
  std::array<int, ColKindCount> ColPos{};    // grid column of each kind, -1 hidden
  std::array<int, ColKindCount> ColStyle{};  // style of each shown kind
  std::array<int, ColKindCount> ColWidth{};  // 0: none stored, fitted to the column's texts
  std::string FontName = "Sans Serif";
  int FontSize = 9;
  int FontStyle = 0;  // bit 0 bold, bit 1 italic
  int RowHeight = 18;
  // News and web.
  bool NewsTwoPanes = false;
  bool NewsBrowserOff = false;
  char WebDefault = 'Y';  // first way to open an address: 'Y' the desktop's handler, 'W' the system's browser, 'N' the user's DefBrowser command

  GlobVars();
};

extern GlobVars LiveSettings;
extern GlobVars WorkSettings;   // the preferences dialog's working copy
extern GlobVars PrintSettings;  // the portfolio print dialog's hidden grid
extern bool ShowFractions;      // section "Misc", key "Fractions"
// The refresh interval in force, seconds (section "Stocks", key "RefreshSecs"; the main window
// keeps it).
extern std::atomic<int> RefreshSecs;
// The shortest refresh interval the user may set: a second, and never below the quote site's
// MINREFRESH.
int RefreshFloor(int siteMinRefresh);
// Puts an interval the user set in force (raised to the floor): RefreshSecs and the settings
// file. Returns the interval in force.
int SetRefreshSecs(int seconds, int siteMinRefresh);

// Reads and writes the record's keys in the settings file (see docs/file-formats.md).
void LoadGlobVars(GlobVars& g);
void SaveGlobVars(const GlobVars& g);
void LoadMiscSettings();  // ShowFractions, UseProxy, ShowAds, LastWUNotify, ETOFFSET
