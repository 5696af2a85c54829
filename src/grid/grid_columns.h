#pragma once
// The 44 column kinds of the quote grid: their settings keys, long titles and how their
// texts compare when sorting.
#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "core/settings.h"

enum ColKind : int {
  SymCol, BidCol, AskCol, LastCol, ChangeCol, PctChangeCol, VolCol, OpenCol, HighCol, LowCol,
  PrevCol, NameCol, BidSizeCol, AskSizeCol, LastSizeCol, TradesCol, TickCol, TimeCol, SpreadCol,
  RangeCol, SharesCol, BaseCol, CommCol, CostCol, ValueCol, GainCol, PctGainCol, VChangeCol,
  LowLimCol, HighLimCol, NoteCol, SepCol, ChartCol, NewsCol, Fund1Col, Fund2Col, Fund3Col,
  Fund4Col, Fund5Col, Fund6Col, Fund7Col, FundText1Col, FundText2Col, DateCol
};
static_assert(DateCol + 1 == ColKindCount, "44 column kinds");

// Settings keys in kind order, "SymCol" .. "DateCol".
extern const std::array<const char*, ColKindCount> ColKeyNames;
// Long titles in kind order, "Symbol" .. "Quote Date".
extern const std::array<const char*, ColKindCount> ColTitles;

// The kind of a settings key (any case); -1 when unknown.
int ColKindOfKey(std::string_view key);
// Kinds left out while the grid is in compact mode.
bool HiddenInCompactMode(int kind);

// The grid column of each kind (-1: not shown): the layout's positions in order, leaving out
// the compact mode's kinds when mode is 1 and the kinds whose keys the comma list droppedKeys
// names (any case; a quote source that cannot fill them).
std::array<int, ColKindCount> PlaceGridColumns(const GlobVars& layout, int mode, std::string_view droppedKeys);

// A symbol that has a chart: not empty, not a separator, not "TOTAL" and not "$CASH".
bool IsChartSymbol(std::string_view symbol);

// Column styles (bits of GlobVars::ColStyle).
constexpr int StyleSignColors = 1;  // green when the row's value rose, red when it fell
constexpr int StyleBold = 2;
