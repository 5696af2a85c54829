#include "text_routines.h"

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
