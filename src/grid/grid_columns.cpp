#include "grid/grid_columns.h"

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

bool IsPictureKind(int kind) { return kind == ChartCol || kind == NewsCol; }
