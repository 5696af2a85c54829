#pragma once
// The 44 column kinds of the quote grid: their settings keys, long titles and how their
// texts compare when sorting.
#include <array>
#include <string_view>

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
// Kinds drawn by the grid itself rather than as text.
bool IsPictureKind(int kind);

// Column styles (bits of GlobVars::ColStyle).
constexpr int StyleSignColors = 1;  // green when the row's value rose, red when it fell
constexpr int StyleBold = 2;
