#include "retrieval/password_scramble.h"

#include <cstdint>

namespace {
constexpr std::string_view Key = "Vn7q!Lr2#xT9";
uint8_t Mask(size_t i) { return static_cast<uint8_t>(Key[i % Key.size()] + 31 * i); }
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}
}  // namespace

std::string ScramblePassword(std::string_view clear) {
  if (clear.empty()) return {};
  static const char* digits = "0123456789ABCDEF";
  std::string out = "~";
  for (size_t i = 0; i < clear.size(); ++i) {
    uint8_t b = static_cast<uint8_t>(clear[i]) ^ Mask(i);
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

std::string UnscramblePassword(std::string_view stored) {
  if (stored.empty() || stored[0] != '~' || stored.size() % 2 == 0) return std::string(stored);
  std::string out;
  const size_t count = (stored.size() - 1) / 2;
  for (size_t n = 0; n < count; ++n) {
    int hi = HexValue(stored[1 + 2 * n]), lo = HexValue(stored[2 + 2 * n]);
    if (hi < 0 || lo < 0) return std::string(stored);
    out += static_cast<char>(static_cast<uint8_t>(hi * 16 + lo) ^ Mask(n));
  }
  return out;
}
