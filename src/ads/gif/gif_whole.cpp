#include "gif_whole.h"

#include <cstddef>

namespace {

// Moves pos past a run of data sub-blocks and their terminator; false when it runs off.
bool SkipSubBlocks(std::string_view b, size_t& pos) {
  for (;;) {
    if (pos >= b.size()) return false;
    const size_t length = static_cast<unsigned char>(b[pos++]);
    if (length == 0) return true;
    if (length > b.size() - pos) return false;
    pos += length;
  }
}

// Moves pos past a colour table when the packed flags announce one.
bool SkipColourTable(std::string_view b, size_t& pos, unsigned char flags) {
  if (!(flags & 0x80)) return true;
  const size_t bytes = 3u * (2u << (flags & 7));
  if (bytes > b.size() - pos) return false;
  pos += bytes;
  return true;
}

}  // namespace

bool GifArrivedWhole(std::string_view b) {
  if (b.size() < 13 || b.substr(0, 3) != "GIF") return false;
  size_t pos = 13;
  if (!SkipColourTable(b, pos, static_cast<unsigned char>(b[10]))) return false;
  while (pos < b.size()) {
    switch (static_cast<unsigned char>(b[pos++])) {
      case 0x00:  // padding between blocks, which readers skip
        break;
      case 0x3B:  // the trailer
        return true;
      case 0x21:  // an extension: its label, then sub-blocks
        if (pos >= b.size()) return false;
        ++pos;
        if (!SkipSubBlocks(b, pos)) return false;
        break;
      case 0x2C: {  // an image: descriptor, colour table, code size, sub-blocks
        if (b.size() - pos < 9) return false;
        const auto flags = static_cast<unsigned char>(b[pos + 8]);
        pos += 9;
        if (!SkipColourTable(b, pos, flags) || pos >= b.size()) return false;
        ++pos;
        if (!SkipSubBlocks(b, pos)) return false;
        break;
      }
      default:
        return false;
    }
  }
  return false;
}
