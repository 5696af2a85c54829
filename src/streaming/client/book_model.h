#pragma once
// The market-depth book as its fields arrive ("VNCallback" codes), without a display: rows of
// each side, price levels and their colours, the level bar and the bid:ask ratio.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/color.h"

struct BookRow {
  int32_t Id = 0;
  double Volume = 0;
  double Price = 0;
};

struct BookBarRow {
  double Price = 0;
  double Volume = 0;
  TColor Color = 0;
};

// One drawn piece of the level bar.
struct BookBarSegment {
  int X = 0, Width = 0;
  TColor Color = 0;
};

constexpr TColor BookGrey = 12632256;

// The colour of a price level from 1: yellow, lime, aqua, red, then navy.
TColor BookLevelColor(int level);
// The level colour of each row along one side.
std::vector<TColor> BookLevelColors(const std::vector<BookRow>& rows);
// A price in 1/256 units.
double BookPrice(int32_t value);
// "%20.0n": thousands separated, no decimals, trimmed.
std::string BookNumber(double value);
// Seconds after midnight as "hh:mm:ss".
std::string BookTime(int32_t seconds);

// The bar's pieces for a drawing width: each row with a volume gets its share of width - 3,
// left to right; markX is where the 3-pixel black mark goes after the first yellow piece
// (-1: none). With no volume at all there is one grey piece.
std::vector<BookBarSegment> BookBarSegments(const std::vector<BookBarRow>& bar, int width, int& markX);

class BookModel {
public:
  static constexpr int MaxRows = 50;

  enum class Change { None, Labels, Snapshot, Complete };
  // Applies one field; says what the window has to redraw.
  Change Field(int code, int32_t value);
  // Empties both sides (a new snapshot).
  void Clear();
  // Forgets everything of the symbol: both sides, the labels, the snapshot time, the colours,
  // the bar and the totals (another symbol).
  void Reset() { *this = BookModel(); }

  std::vector<BookRow> Bids, Asks;
  std::string Orders, Volume, Price, Time;  // the four labels
  int32_t SnapshotSeconds = -1;

  // Filled at the end of a snapshot.
  std::vector<TColor> BidColors, AskColors;
  std::vector<BookBarRow> Bar;  // sorted by price, equal prices merged
  int64_t BidTotal = 0, AskTotal = 0;

  // The caption with its time part replaced, keeping a ratio part; and with the ratio set.
  static std::string CaptionWithTime(const std::string& caption, const std::string& time);
  static std::string CaptionWithRatio(const std::string& caption, int64_t bid, int64_t ask);

private:
  void Finish();
  int bidSeen_ = 0, askSeen_ = 0;  // rows announced per side in this snapshot
};
