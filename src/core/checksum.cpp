#include "core/checksum.h"

#include <array>

const uint32_t* Crc32Table() {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  return table.data();
}

int32_t TextChecksum(std::string_view text) {
  const uint32_t* table = Crc32Table();
  uint32_t sum = 0;
  for (unsigned char b : text) sum += table[b];
  return static_cast<int32_t>(sum);
}
