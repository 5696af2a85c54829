#include "platform/log_text.h"

namespace {

// The length of the valid UTF-8 sequence of two or more bytes at text[i]; 0 when there is none
// (overlong forms, surrogates and code points past U+10FFFF are not valid).
size_t Utf8Length(std::string_view text, size_t i) {
  const auto at = [&](size_t k) { return static_cast<unsigned char>(text[i + k]); };
  const unsigned char c = at(0);
  size_t len = 0;
  unsigned char low = 0x80, high = 0xBF;  // the second byte's range
  if (c >= 0xC2 && c <= 0xDF) len = 2;
  else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    if (c == 0xE0) low = 0xA0;
    if (c == 0xED) high = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;
  }
  if (len == 0 || i + len > text.size() || at(1) < low || at(1) > high) return 0;
  for (size_t k = 2; k < len; ++k)
    if ((at(k) & 0xC0) != 0x80) return 0;
  return len;
}

}  // namespace

std::string LogSafeText(std::string_view text) {
  static constexpr char Hex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    if (const size_t len = c >= 0x80 ? Utf8Length(text, i) : 0) {
      out.append(text.substr(i, len));
      i += len;
      continue;
    }
    out += "\\x";
    out += Hex[c >> 4];
    out += Hex[c & 0xF];
    ++i;
  }
  return out;
}
