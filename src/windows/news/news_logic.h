#pragma once
// The news window's rules that need no display: layout sums, the force list, the hand-over
// text and the caption.
#include <array>
#include <string>
#include <vector>

#include "platform/datetime.h"

// The splitter's place in percent of the right side's height, kept within 5 and 95.
double ClampSplitPercent(double percent);
// The headline pane's height: with the browser pane its share of the right side, never more
// than leaves the splitter and 4 pixels below it nor less than minHeight; without it, all of it.
int HeadlinePaneHeight(int splitHeight, double splitPercent, int splitterHeight, bool browserPane,
                       int minHeight = 62);

// The buttons under the headlines, in this order: "Select All", the middle group ("Mark Read",
// "Mark NOT Read", "No Bulbs", "Refresh", "Refresh All", "Preferences") and "Detail".
constexpr int HeadlineButtonCount = 8;
using HeadlineButtonWidths = std::array<int, HeadlineButtonCount>;
struct HeadlineButtonPlaces {
  int Rows = 1;
  std::array<int, HeadlineButtonCount> X{}, Y{}, W{};
};
// One row when it fits, with the buttons' own widths or else their compact ones: "Select All"
// at the left edge, "Detail" at the right edge and the group centred between them. Otherwise two
// rows of compact buttons: the marking buttons with "Select All" and "Detail" above, the refresh
// buttons and "Preferences" centred below. Rows start at top and are rowHeight + rowGap apart.
HeadlineButtonPlaces PlaceHeadlineButtons(const HeadlineButtonWidths& natural, const HeadlineButtonWidths& compact,
                                          int left, int right, int top, int rowHeight, int rowGap);
// The narrowest span in which the compact buttons still fit (in two rows).
int HeadlineButtonsMinWidth(const HeadlineButtonWidths& compact);
// The headline pane's height besides its grid: a margin above the grid and one below it, the
// button rows (rowGap apart), a margin below them and the ad row (0 when none shows).
int HeadlinePaneHeightBesidesGrid(int buttonRows, int rowHeight, int rowGap, int adRow);
// The "Heading" column's width: what the other three columns leave of the grid, less the
// scroll bar when the rows do not all fit.
int HeadingColumnWidth(int gridWidth, int width0, int width1, int width3, int scrollBarWidth, bool rowsFit);

// Puts the symbols in front of the blank-separated force list, each as if prepended in turn
// (the last one first), leaving out those the list holds as whole words and repeats. One pass
// with a set, whatever the list's length. Returns how many were added.
int PrependForceSymbols(std::string& forceList, const std::vector<std::string>& symbols);
// The symbols of a hand-over text ("|IBM||MSFT|"), each once, in order.
std::vector<std::string> HandOverSymbols(const std::string& text);

// "News", "News for IBM - never checked yet", or "News for IBM last checked on Jun 11, 2024
// at 10:31 Eastern Time" from the later of the two times; a headline dated after the market
// clock (a site's error) is not taken, so the caption never moves into the future.
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
