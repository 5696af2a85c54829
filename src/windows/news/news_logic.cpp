#include "windows/news/news_logic.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "core/text_helpers.h"
#include "platform/string_list.h"

double ClampSplitPercent(double percent) {
  if (!std::isfinite(percent)) return 50.0;
  return std::clamp(percent, 5.0, 95.0);
}

int HeadlinePaneHeight(int splitHeight, double splitPercent, int splitterHeight, bool browserPane) {
  if (!browserPane) return splitHeight;
  int h = static_cast<int>(std::lround(splitHeight * ClampSplitPercent(splitPercent) / 100.0));
  h = std::min(h, splitHeight - splitterHeight - 4);
  return std::max(h, 62);
}

int HeadingColumnWidth(int gridWidth, int width0, int width1, int width3, int scrollBarWidth, bool rowsFit) {
  int w = gridWidth - width0 - 2 - width1 - 2 - width3 - 6;
  if (!rowsFit) w -= scrollBarWidth;
  return std::max(w, 20);
}

bool PrependForceSymbol(std::string& forceList, const std::string& symbol) {
  const std::string s = Trim(symbol);
  if (s.empty()) return false;
  std::istringstream words(forceList);
  std::string word;
  while (words >> word)
    if (word == s) return false;
  const std::string rest = Trim(forceList);
  forceList = rest.empty() ? s : s + " " + rest;
  return true;
}

std::vector<std::string> HandOverSymbols(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= text.size()) {
    size_t bar = text.find('|', start);
    if (bar == std::string::npos) bar = text.size();
    std::string s = Trim(std::string_view(text).substr(start, bar - start));
    if (!s.empty() && std::find(out.begin(), out.end(), s) == out.end()) out.push_back(std::move(s));
    start = bar + 1;
  }
  return out;
}

std::string NewsCaption(const std::string& symbol, TDateTime lastCheck, TDateTime newestUnread) {
  if (symbol.empty()) return "News";
  const TDateTime t = std::max(lastCheck, newestUnread);
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
