#include "windows/news/news_logic.h"

#include <algorithm>
#include <cmath>
#include <unordered_set>

#include "core/market_clock.h"
#include "core/pending.h"
#include "core/text_helpers.h"
#include "platform/string_list.h"

double ClampSplitPercent(double percent) {
  if (!std::isfinite(percent)) return 50.0;
  return std::clamp(percent, 5.0, 95.0);
}

int HeadlinePaneHeight(int splitHeight, double splitPercent, int splitterHeight, bool browserPane, int minHeight) {
  if (!browserPane) return splitHeight;
  int h = static_cast<int>(std::lround(splitHeight * ClampSplitPercent(splitPercent) / 100.0));
  h = std::min(h, splitHeight - splitterHeight - 4);
  return std::max(h, minHeight);
}

namespace {
constexpr int GroupGaps[5] = {1, 5, 5, 1, 5};  // between neighbours of the middle group
constexpr int PartGap = 4;                     // between "Select All", the group and "Detail"

// Width of buttons first..last of the middle group (1..6) with their gaps.
int GroupWidth(const HeadlineButtonWidths& w, int first, int last) {
  int sum = 0;
  for (int i = first; i <= last; ++i) sum += w[i] + (i < last ? GroupGaps[i - 1] : 0);
  return sum;
}

// "Select All", group buttons first..last and "Detail" on one row.
int RowWidth(const HeadlineButtonWidths& w, int first, int last) {
  return w[0] + PartGap + GroupWidth(w, first, last) + PartGap + w[7];
}

void PlaceGroup(const HeadlineButtonWidths& w, int first, int last, int x, int y, HeadlineButtonPlaces& out) {
  for (int i = first; i <= last; ++i) {
    out.X[i] = x, out.Y[i] = y, out.W[i] = w[i];
    x += w[i] + (i < last ? GroupGaps[i - 1] : 0);
  }
}

void PlaceRow(const HeadlineButtonWidths& w, int first, int last, int left, int right, int y,
              HeadlineButtonPlaces& out) {
  out.X[0] = left, out.Y[0] = y, out.W[0] = w[0];
  out.X[7] = right - w[7], out.Y[7] = y, out.W[7] = w[7];
  const int from = left + w[0] + PartGap, to = right - w[7] - PartGap;
  PlaceGroup(w, first, last, from + std::max(0, (to - from - GroupWidth(w, first, last)) / 2), y, out);
}
}  // namespace

HeadlineButtonPlaces PlaceHeadlineButtons(const HeadlineButtonWidths& natural, const HeadlineButtonWidths& compact,
                                          int left, int right, int top, int rowHeight, int rowGap) {
  HeadlineButtonPlaces out;
  for (const HeadlineButtonWidths* w : {&natural, &compact}) {
    if (RowWidth(*w, 1, 6) <= right - left) {
      PlaceRow(*w, 1, 6, left, right, top, out);
      return out;
    }
  }
  out.Rows = 2;
  PlaceRow(compact, 1, 3, left, right, top, out);
  const int second = GroupWidth(compact, 4, 6);
  PlaceGroup(compact, 4, 6, left + std::max(0, (right - left - second) / 2), top + rowHeight + rowGap, out);
  return out;
}

int HeadlineButtonsMinWidth(const HeadlineButtonWidths& compact) {
  return std::max(RowWidth(compact, 1, 3), GroupWidth(compact, 4, 6));
}

int HeadlinePaneHeightBesidesGrid(int buttonRows, int rowHeight, int rowGap, int adRow) {
  constexpr int Margin = 2;
  return Margin + Margin + buttonRows * rowHeight + (buttonRows - 1) * rowGap + Margin + adRow;
}

int HeadingColumnWidth(int gridWidth, int width0, int width1, int width3, int scrollBarWidth, bool rowsFit) {
  int w = gridWidth - width0 - 2 - width1 - 2 - width3 - 6;
  if (!rowsFit) w -= scrollBarWidth;
  return std::max(w, 20);
}

int PrependForceSymbols(std::string& forceList, const std::vector<std::string>& symbols) {
  const std::string rest = Trim(forceList);
  std::unordered_set<std::string> queued;
  for (size_t at = 0; at < rest.size();) {
    const size_t end = std::min(rest.find_first_of(" \t\r\n", at), rest.size());
    if (end > at) queued.insert(rest.substr(at, end - at));
    at = end + 1;
  }
  std::vector<std::string> added;
  for (const std::string& symbol : symbols) {
    std::string s = Trim(symbol);
    if (s.empty() || !queued.insert(s).second) continue;
    added.push_back(std::move(s));
  }
  if (added.empty()) return 0;
  std::string out;
  out.reserve(rest.size() + added.size() * 8);
  for (auto it = added.rbegin(); it != added.rend(); ++it) {
    if (!out.empty()) out += ' ';
    out += *it;
  }
  if (!rest.empty()) out += ' ' + rest;
  forceList = std::move(out);
  return static_cast<int>(added.size());
}

std::vector<std::string> HandOverSymbols(const std::string& text) {
  std::vector<std::string> out;
  for (const std::string& piece : SplitPendingText(text)) {
    std::string s = Trim(piece);
    if (!s.empty() && std::find(out.begin(), out.end(), s) == out.end()) out.push_back(std::move(s));
  }
  return out;
}

std::string NewsCaption(const std::string& symbol, TDateTime lastCheck, TDateTime newestUnread) {
  if (symbol.empty()) return "News";
  const TDateTime t = newestUnread > MarketNow() ? lastCheck : std::max(lastCheck, newestUnread);
  if (t > EncodeDate(1990, 1, 1))
    return "News for " + symbol + " last checked on " + FormatDateTime("mmm dd, yyyy", t) + " at " +
           FormatDateTime("hh:mm", t) + " Eastern Time";
  return "News for " + symbol + " - never checked yet";
}

BannerRowShown FitBannerRow(const BannerRowWidths& w, int available) {
  BannerRowShown shown{w.Labels > 0, w.LeftPair > 0, w.Place3 > 0, w.Place4 > 0, w.RightPair > 0};
  auto total = [&] {
    int sum = w.Banner, parts = 1;
    auto add = [&](bool on, int width) {
      if (on) sum += width, ++parts;
    };
    add(shown.Labels, w.Labels);
    add(shown.LeftPair, w.LeftPair);
    add(shown.Place3, w.Place3);
    add(shown.Place4, w.Place4);
    add(shown.RightPair, w.RightPair);
    return sum + (parts - 1) * w.Gap;
  };
  bool* order[] = {&shown.Labels, &shown.RightPair, &shown.LeftPair, &shown.Place4, &shown.Place3};
  for (bool* part : order) {
    if (total() <= available) break;
    *part = false;
  }
  return shown;
}
