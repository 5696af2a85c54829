#pragma once
// The news window's rules that need no display: layout sums, the force list, the hand-over
// text and the caption.
#include <string>
#include <vector>

#include "platform/datetime.h"

// The splitter's place in percent of the right side's height, kept within 5 and 95.
double ClampSplitPercent(double percent);
// The headline pane's height: with the browser pane its share of the right side, never more
// than leaves the splitter and 4 pixels below it nor less than 62; without it, all of it.
int HeadlinePaneHeight(int splitHeight, double splitPercent, int splitterHeight, bool browserPane);
// The "Heading" column's width: what the other three columns leave of the grid, less the
// scroll bar when the rows do not all fit.
int HeadingColumnWidth(int gridWidth, int width0, int width1, int width3, int scrollBarWidth, bool rowsFit);

// Prepends a symbol to the blank-separated force list unless it is there as a whole word.
// False when it was there already.
bool PrependForceSymbol(std::string& forceList, const std::string& symbol);
// The symbols of a hand-over text ("|IBM||MSFT|"), each once, in order.
std::vector<std::string> HandOverSymbols(const std::string& text);

// "News", "News for IBM - never checked yet", or "News for IBM last checked on Jun 11, 2024
// at 10:31 Eastern Time" from the later of the two times.
std::string NewsCaption(const std::string& symbol, TDateTime lastCheck, TDateTime newestUnread);

// The banner row: which parts fit. Parts are dropped in this order until the rest fits the
// width: the two labels with their arrows, the right pair (places 5 and 6), the left pair
// (places 1 and 2), place 4, place 3. A part with no width takes no part.
struct BannerRowWidths {
  int Labels = 0;     // both labels with their arrows
  int LeftPair = 0;   // places 1 and 2, stacked
  int Place3 = 0;
  int Banner = 0;     // the main banner, always kept
  int Place4 = 0;
  int RightPair = 0;  // places 5 and 6
  int Gap = 4;        // between neighbouring parts
};
struct BannerRowShown {
  bool Labels = false, LeftPair = false, Place3 = false, Place4 = false, RightPair = false;
};
BannerRowShown FitBannerRow(const BannerRowWidths& widths, int available);
