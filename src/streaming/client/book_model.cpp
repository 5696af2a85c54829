#include "streaming/client/book_model.h"

#include <cmath>
#include <algorithm>
#include <cstdio>

#include "core/text_helpers.h"

TColor BookLevelColor(int level) {
  switch (level) {
    case 1: return 65535;
    case 2: return 65280;
    case 3: return 16776960;
    case 4: return 255;
    default: return 8388608;
  }
}

std::vector<TColor> BookLevelColors(const std::vector<BookRow>& rows) {
  std::vector<TColor> out;
  int level = 1;
  for (size_t i = 0; i < rows.size(); ++i) {
    if (i > 0 && rows[i].Price != rows[i - 1].Price) ++level;
    out.push_back(BookLevelColor(level));
  }
  return out;
}

double BookPrice(int32_t value) { return value / 256 + (value % 256) / 256.0; }

std::string BookNumber(double value) {
  char digits[32];
  std::snprintf(digits, sizeof digits, "%.0f", std::fabs(value));
  std::string d = digits, out;
  for (size_t i = 0; i < d.size(); ++i) {
    if (i > 0 && (d.size() - i) % 3 == 0) out += ',';
    out += d[i];
  }
  return (value <= -0.5 ? "-" : "") + out;
}

std::string BookTime(int32_t seconds) {
  if (seconds < 0) seconds = 0;
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", seconds / 3600 % 100, seconds / 60 % 60, seconds % 60);
  return text;
}

std::vector<BookBarSegment> BookBarSegments(const std::vector<BookBarRow>& bar, int width, int& markX) {
  markX = -1;
  double total = 0;
  for (const BookBarRow& r : bar) total += r.Volume;
  if (total <= 0) return {{0, width, BookGrey}};
  std::vector<BookBarSegment> out;
  const int usable = std::max(0, width - 3);
  double x = 0;
  bool markPlaced = false;
  for (const BookBarRow& r : bar) {
    if (r.Volume <= 0) continue;
    const int w = static_cast<int>(std::lround(r.Volume / total * usable));
    out.push_back({static_cast<int>(std::lround(x)), w, r.Color});
    x += w;
    if (!markPlaced && r.Color == BookLevelColor(1)) {
      markPlaced = true;
      markX = static_cast<int>(std::lround(x));
      x += 3;
    }
  }
  return out;
}

void BookModel::Clear() {
  Bids.clear();
  Asks.clear();
  bidSeen_ = askSeen_ = 0;
}

BookModel::Change BookModel::Field(int code, int32_t value) {
  switch (code) {
    case 2:
      SnapshotSeconds = value;
      Clear();
      return Change::Snapshot;
    case 5: Orders = BookNumber(value); return Change::Labels;
    case 6: Volume = BookNumber(value); return Change::Labels;
    case 7: Price = FormatPriceFraction(BookPrice(value)); return Change::Labels;
    case 8: Time = BookTime(value); return Change::Labels;
    case 12:
    case 15: {
      std::vector<BookRow>& side = code == 12 ? Bids : Asks;
      int& seen = code == 12 ? bidSeen_ : askSeen_;
      if (++seen <= MaxRows) side.push_back({value, 0, 0});  // rows past the 50th are not stored
      return Change::None;
    }
    case 13:
    case 14:
    case 16:
    case 17: {
      std::vector<BookRow>& side = code < 15 ? Bids : Asks;
      const int seen = code < 15 ? bidSeen_ : askSeen_;
      // A field before the side's first row, or of a row past the 50th, has no row to go to.
      if (seen < 1 || seen > MaxRows) return Change::None;
      if (code == 13 || code == 16) side.back().Volume = value;
      else side.back().Price = BookPrice(value);
      return Change::None;
    }
    case 83:
      Finish();
      return Change::Complete;
    default:
      return Change::None;
  }
}

void BookModel::Finish() {
  BidColors = BookLevelColors(Bids);
  AskColors = BookLevelColors(Asks);
  Bar.clear();
  BidTotal = AskTotal = 0;
  for (size_t i = 0; i < Bids.size(); ++i) {
    Bar.push_back({Bids[i].Price, Bids[i].Volume, BidColors[i]});
    BidTotal += std::llround(Bids[i].Volume);
  }
  for (size_t i = 0; i < Asks.size(); ++i) {
    Bar.push_back({Asks[i].Price, Asks[i].Volume, AskColors[i]});
    AskTotal += std::llround(Asks[i].Volume);
  }
  // Lowest price first, equal prices keep their order; then equal prices merge into the first.
  std::stable_sort(Bar.begin(), Bar.end(), [](const BookBarRow& a, const BookBarRow& b) { return a.Price < b.Price; });
  size_t kept = 0;
  for (size_t i = 1; i < Bar.size(); ++i) {
    if (Bar[i].Price == Bar[kept].Price) {
      Bar[kept].Volume += Bar[i].Volume;
      Bar[i].Volume = 0;
    } else {
      kept = i;
    }
  }
}

std::string BookModel::CaptionWithTime(const std::string& caption, const std::string& time) {
  const size_t ratio = caption.find(" Ratio");
  return time + (ratio == std::string::npos ? std::string() : caption.substr(ratio));
}

std::string BookModel::CaptionWithRatio(const std::string& caption, int64_t bid, int64_t ask) {
  const size_t ratio = caption.find(" Ratio");
  return caption.substr(0, ratio) + " Ratio: " + std::to_string(bid) + ":" + std::to_string(ask);
}
