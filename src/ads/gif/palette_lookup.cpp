#include "palette_lookup.h"

#include <algorithm>
#include <cstdlib>

TFastColorLookup::TFastColorLookup(const Palette& palette)
    : TColorLookup(int(std::min<size_t>(palette.size(), 256))), cache_(new uint16_t[32768]) {
  std::fill_n(cache_.get(), 32768, Unknown);
  for (int i = 0; i < colors_; ++i) {
    red_[i] = uint8_t(qRed(palette[i]));
    green_[i] = uint8_t(qGreen(palette[i]));
    blue_[i] = uint8_t(qBlue(palette[i]));
    uint16_t& slot = cache_[Key(red_[i], green_[i], blue_[i])];
    if (slot == Unknown) slot = uint16_t(i);
  }
}

int TFastColorLookup::Search(int red, int green, int blue) const {
  int best = 0;
  int bestDistance = 0x30000;
  for (int i = 0; i < colors_; ++i) {
    const int d = std::abs(red - red_[i]) + std::abs(green - green_[i]) + std::abs(blue - blue_[i]);
    if (d < bestDistance) {
      bestDistance = d;
      best = i;
      if (d == 0) break;
    }
  }
  return best;
}

int TFastColorLookup::Lookup(int red, int green, int blue, RgbTriple& chosen) {
  uint16_t& slot = cache_[Key(red, green, blue)];
  if (slot == Unknown) slot = uint16_t(Search(red, green, blue));
  const int i = slot;
  chosen = {red_[i], green_[i], blue_[i]};
  return i;
}
