#include "grid/grid_columns.h"

#include <algorithm>
#include <utility>

#include "core/symbols.h"
#include "platform/string_list.h"

const std::array<const char*, ColKindCount> ColKeyNames = {
    "SymCol",     "BidCol",      "AskCol",       "LastCol",      "ChangeCol",  "PctChangeCol", "VolCol",
    "OpenCol",    "HighCol",     "LowCol",       "PrevCol",      "NameCol",    "BidSizeCol",   "AskSizeCol",
    "LastSizeCol", "TradesCol",  "TickCol",      "TimeCol",      "SpreadCol",  "RangeCol",     "SharesCol",
    "BaseCol",    "CommCol",     "CostCol",      "ValueCol",     "GainCol",    "PctGainCol",   "VChangeCol",
    "LowLimCol",  "HighLimCol",  "NoteCol",      "SepCol",       "ChartCol",   "NewsCol",      "Fund1Col",
    "Fund2Col",   "Fund3Col",    "Fund4Col",     "Fund5Col",     "Fund6Col",   "Fund7Col",     "FundText1Col",
    "FundText2Col", "DateCol"};

const std::array<const char*, ColKindCount> ColTitles = {
    "Symbol",       "Bid",         "Ask",          "Last",          "Change",      "% Change",
    "Volume",       "Open",        "High",         "Low",           "Prev. Close", "Name",
    "Bid Size",     "Ask Size",    "Last Size",    "Trades",        "Tick",        "Quote Time",
    "Spread",       "Day's Range", "Shares",       "Base Price",    "Commission",  "Cost Basis",
    "Value",        "Gain",        "% Gain",       "Value Change",  "Low Limit",   "High Limit",
    "Note",         "",            "Chart",        "News",          "Fundamental 1", "Fundamental 2",
    "Fundamental 3", "Fundamental 4", "Fundamental 5", "Fundamental 6", "Fundamental 7", "Fund. Text 1",
    "Fund. Text 2", "Quote Date"};

int ColKindOfKey(std::string_view key) {
  for (int i = 0; i < ColKindCount; ++i)
    if (SameText(key, ColKeyNames[static_cast<size_t>(i)])) return i;
  return -1;
}

bool HiddenInCompactMode(int kind) {
  return kind == SepCol || kind == ChartCol || kind == NoteCol || kind == FundText1Col || kind == FundText2Col;
}

std::array<int, ColKindCount> PlaceGridColumns(const GlobVars& layout, int mode, std::string_view droppedKeys) {
  std::vector<std::string> dropped;
  for (size_t start = 0; start <= droppedKeys.size();) {
    size_t comma = droppedKeys.find(',', start);
    if (comma == std::string_view::npos) comma = droppedKeys.size();
    dropped.push_back(Trim(std::string(droppedKeys.substr(start, comma - start))));
    start = comma + 1;
  }
  std::vector<std::pair<int, int>> shown;  // position, kind
  for (int k = 0; k < ColKindCount; ++k) {
    const int pos = layout.ColPos[static_cast<size_t>(k)];
    if (pos < 0) continue;
    if (mode == 1 && HiddenInCompactMode(k)) continue;
    if (std::any_of(dropped.begin(), dropped.end(), [&](const std::string& d) { return SameText(d, ColKeyNames[static_cast<size_t>(k)]); }))
      continue;
    shown.emplace_back(pos, k);
  }
  std::stable_sort(shown.begin(), shown.end());
  std::array<int, ColKindCount> cols;
  cols.fill(-1);
  for (size_t i = 0; i < shown.size(); ++i) cols[static_cast<size_t>(shown[i].second)] = static_cast<int>(i);
  return cols;
}

bool IsChartSymbol(std::string_view symbol) {
  return !symbol.empty() && !IsDashesOnly(symbol) && !SameText(symbol, "TOTAL") && !SameText(symbol, "$CASH");
}
