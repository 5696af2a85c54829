#include "streaming/client/stream_symbols.h"

#include <algorithm>
#include <cstdlib>

#include "core/indices.h"
#include "core/stock_table.h"
#include "core/symbols.h"
#include "core/text_helpers.h"

std::string ChannelTable::KindOf(const std::string& code) const {
  for (const StreamChannel& c : Channels)
    if (c.Code == code) return c.Kind;
  return {};
}

namespace {

std::vector<std::string> SplitAt(const std::string& text, char sep) {
  std::vector<std::string> out;
  size_t start = 0;
  while (true) {
    const size_t at = text.find(sep, start);
    out.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) break;
    start = at + 1;
  }
  return out;
}

}  // namespace

ChannelTable ParseChannelList(const std::string& list) {
  ChannelTable t;
  std::vector<std::string> items = SplitAt(list, '|');
  if (items.size() < 2) return t;
  const std::string& first = items[1];
  if (first.empty() || first.size() > 5) return t;
  t.CodeLength = static_cast<int>(first.size());
  for (size_t i = 1; i < items.size(); i += 3) {
    if (static_cast<int>(t.Channels.size()) >= MaxStreamChannels) break;
    StreamChannel c;
    c.Code = items[i].substr(0, 5);
    c.Kind = i + 1 < items.size() ? items[i + 1].substr(0, 10) : std::string();
    c.Number = i + 2 < items.size() ? std::atoi(items[i + 2].c_str()) : 0;
    t.Channels.push_back(std::move(c));
  }
  return t;
}

std::vector<std::string> CleanStreamSymbols(const std::string& symbols) {
  std::vector<std::string> out;
  for (std::string& s : SplitAt(symbols, '+'))
    if (!s.empty() && s.find(' ') == std::string::npos) out.push_back(std::move(s));
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

int SymbolsPerThread(int symbolLimit, int threadCount, size_t symbolCount) {
  int per = std::max(1, symbolLimit / std::max(1, threadCount));
  const size_t needed = (symbolCount + MaxStreamThreads - 1) / MaxStreamThreads;
  return std::max<int>(per, static_cast<int>(needed));
}

std::vector<std::string> SpreadStreamSymbols(const std::vector<std::string>& symbols, int perThread) {
  std::vector<std::string> groups;
  perThread = std::max(1, perThread);
  for (size_t i = 0; i < symbols.size(); ++i) {
    if (i % static_cast<size_t>(perThread) == 0) groups.emplace_back();
    if (!groups.back().empty()) groups.back() += '+';
    groups.back() += symbols[i];
  }
  return groups;
}

AskedStreamSymbols::AskedStreamSymbols(const std::string& symbols) {
  for (const std::string& s : SplitAt(symbols, '+'))
    if (!s.empty()) upper_.insert(UpperCase(s));
}

bool AskedStreamSymbols::Has(std::string_view symbol) const {
  return !symbol.empty() && upper_.contains(UpperCase(symbol));
}

bool IsStreamSymbol(std::string_view symbol) {
  if (symbol.size() > static_cast<size_t>(TMyStrList::KeyLength)) return false;
  if (symbol.find_first_of(",()|\t") != std::string_view::npos || !IsPlainText(symbol)) return false;
  return IsValidSymbol(symbol) || IsIndexSymbol(symbol);
}
