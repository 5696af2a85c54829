#pragma once
// A chart window's settings and the comma-separated line that keeps them per symbol in the
// settings file (section "Charts", and "ChartsDefault"/"DEF" for new charts).
#include <array>
#include <optional>
#include <string>

#include "platform/datetime.h"

// Time period commands.
constexpr int PeriodAllDay = 1001;
constexpr int Period10Min = 1002;
constexpr int Period1Hour = 1003;
constexpr int Period2Hours = 1004;
constexpr int Period30Min = 1006;
constexpr int PeriodCustom = 1010;

// The caption's period suffix: "All", "10m", "30m", "1h", "2h" or e.g. "1h30m".
std::string PeriodText(int period, int customMinutes);

constexpr const char* IndNone = "***NONE***";
constexpr int IndSlots = 6;  // 1-5 price chart, 6 bottom chart

struct ChartSettings {
  int Left = 0, Top = 0, Width = 500, Height = 360;
  int Period = PeriodAllDay;
  bool ShowBottom = true;
  float SplitRatio = 0.66f;
  bool ShowBidAsk = true;
  std::array<std::string, IndSlots + 1> IndName;                // [1..6]
  std::array<std::array<double, IndSlots + 1>, 3> IndParam{};  // [row 0..2][slot 1..6]
  bool IndicatorsOn = true;
  bool ShowLegend = true;
  int CustomMinutes = 10;

  ChartSettings() { SetIndicatorDefaults(false); }
  // "***NONE***" with 10, 10, 10 for slots 1-5; slot 6 "Volume" ("MACD" for a chart without
  // volume) with 5, 10, 3.
  void SetIndicatorDefaults(bool noVolume);
};

// The indicator types in the picker's order.
inline constexpr std::array<const char*, 7> PriceIndicatorNames = {
    "***NONE***", "SMA", "EMA", "PV Trend", "Bollinger High", "Bollinger Low", "Horiz. Line"};
inline constexpr std::array<const char*, 5> BottomIndicatorNames = {"Volume", "MACD", "Fast Stoch.", "Slow Stoch.",
                                                                    "RSI"};

bool IsPriceIndicator(const std::string& name);
bool IsBottomIndicator(const std::string& name, bool allowVolume);
// "Volume", "Volume+" and "PV Trend" need the symbol's volume.
bool IsVolumeIndicator(const std::string& name);

// One indicator parameter (row 0..2) limited to what the indicator type can use: periods
// 1..1e6, stochastic periods 1..1000, a horizontal-line level above 0 (else 10), its flag
// rows -1e6..1e6. A value that is not finite becomes 10.
double ClampIndParam(const std::string& type, int row, double value);

// A parameter as the picker corrects it when its field is left (never refused): the text read as
// a price (decimal or fraction; what cannot belong to a number reads as nothing, so letters read
// 0); a text that still does not read gives 10; below 1 gives 1, except a horizontal line's level
// above 0 (a penny stock's price), which stays; above the picker's limit (periods 1440,
// stochastic periods 1000) the limit.
double CorrectIndParam(const std::string& type, int row, const std::string& text);
// How the picker shows a corrected parameter: a horizontal line's level as a price (a fraction
// when fractions are on), with every decimal a level below 1 needs; others as a price.
std::string IndParamText(const std::string& type, double value);

// Limits every field to what the window can use: split ratio 0.1..0.9, custom minutes
// 1..1440, a known period, periods at least 1, stochastic periods 1..1000, a horizontal-line
// level above 0, known indicator names (else the slot's default), a sane window size.
// Values that are not finite take the field's default.
void ClampChartSettings(ChartSettings& s, bool noVolume);

// Reads the line into s. ownLine: the line is the symbol's own, so Left and Top are taken too.
// A field that does not read keeps its value; reading never throws.
void ParseChartParams(const std::string& line, bool ownLine, bool noVolume, ChartSettings& s);
// The line for the settings, ending with the saving time savedAt and a comma.
std::string BuildChartParams(const ChartSettings& s, TDateTime savedAt);

// Stores the line under the symbol in "Charts". Saving a symbol that already has a line while
// the section holds 80 or more keys first removes the least recently saved other lines until
// 64 remain.
void SaveChartParams(const std::string& symbol, const std::string& params);

// Numbers in the settings' text form: "." always, 15 significant digits.
std::string FloatText(double v);
// A number in plain decimal form, as short as reads back the same ("9.5", "0.00001", never
// "1e-05"); empty for a value that is not finite.
std::string PlainDecimal(double v);
