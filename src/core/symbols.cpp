#include "core/symbols.h"

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
