#include "core/symbols.h"

#include <algorithm>

#include "platform/string_list.h"

bool IsValidSymbol(std::string_view symbol) {
  if (symbol.empty()) return false;
  const std::string s = UpperCase(symbol);
  if (s == "TOTAL") return false;
  const bool slashFirst = s[0] == '/';
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if ((c >= 'A' && c <= 'Z') || c == ' ' || c == '+' || c == '.') continue;
    if (c == '/' && i == 0) continue;
    if (c >= '0' && c <= '9' && slashFirst && i + 1 == s.size()) continue;
    return false;
  }
  return true;
}

bool IsDashesOnly(std::string_view text) {
  return !text.empty() && text.find_first_not_of('-') == std::string_view::npos;
}

bool AddUniqueSymbol(std::vector<std::string>& symbols, std::string_view symbol) {
  if (std::any_of(symbols.begin(), symbols.end(), [&](const std::string& s) { return SameText(s, symbol); }))
    return false;
  symbols.emplace_back(symbol);
  return true;
}
