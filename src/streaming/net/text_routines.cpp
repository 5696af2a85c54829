#include "text_routines.h"

#include <algorithm>
#include <ostream>

namespace vn::net {

std::string Fetch(std::string& text, const std::string& delimiter) {
  const size_t pos = delimiter.empty() ? std::string::npos : text.find(delimiter);
  if (pos == std::string::npos) {
    std::string all;
    all.swap(text);
    return all;
  }
  std::string head = text.substr(0, pos);
  text.erase(0, pos + delimiter.size());
  return head;
}

int RPos(const std::string& sub, const std::string& text, int start) {
  if (sub.empty() || sub.size() > text.size()) return 0;
  size_t from = std::string::npos;
  if (start >= 1) from = static_cast<size_t>(start - 1);
  const size_t pos = text.rfind(sub, from);
  return pos == std::string::npos ? 0 : static_cast<int>(pos) + 1;
}

int MinIntValue(std::span<const int> values) {
  return values.empty() ? 0 : *std::min_element(values.begin(), values.end());
}

void WriteToStream(std::ostream& stream, std::string_view text) {
  stream.write(text.data(), static_cast<std::streamsize>(text.size()));
}

void WriteLnToStream(std::ostream& stream, std::string_view text) {
  WriteToStream(stream, text);
  stream.write("\r\n", 2);
}

std::string ReplaceText(std::string_view text, std::string_view oldPattern, std::string_view newPattern,
                        int flags) {
  if (oldPattern.empty()) return std::string(text);
  const bool ignoreCase = (flags & ReplaceIgnoreCase) != 0;
  auto matchesAt = [&](size_t at) {
    const std::string_view here = text.substr(at, oldPattern.size());
    return ignoreCase ? SameTextAscii(here, oldPattern) : here == oldPattern;
  };
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i + oldPattern.size() <= text.size()) {
    if (!matchesAt(i)) {
      out += text[i++];
      continue;
    }
    out += newPattern;
    i += oldPattern.size();
    if (!(flags & ReplaceAll)) break;
  }
  out += text.substr(i);
  return out;
}

std::string UpperCaseAscii(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

bool SameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

std::string TrimAscii(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ') --e;
  return std::string(text.substr(b, e - b));
}

}  // namespace vn::net
