#include "palette.h"

const Palette& DefaultSystemPalette() {
  static const Palette colours = {
      qRgb(0x00, 0x00, 0x00), qRgb(0x80, 0x00, 0x00), qRgb(0x00, 0x80, 0x00),
      qRgb(0x80, 0x80, 0x00), qRgb(0x00, 0x00, 0x80), qRgb(0x80, 0x00, 0x80),
      qRgb(0x00, 0x80, 0x80), qRgb(0xC0, 0xC0, 0xC0), qRgb(0xC0, 0xDC, 0xC0),
      qRgb(0xA6, 0xCA, 0xF0),
      qRgb(0xFF, 0xFB, 0xF0), qRgb(0xA0, 0xA0, 0xA4), qRgb(0x80, 0x80, 0x80),
      qRgb(0xFF, 0x00, 0x00), qRgb(0x00, 0xFF, 0x00), qRgb(0xFF, 0xFF, 0x00),
      qRgb(0x00, 0x00, 0xFF), qRgb(0xFF, 0x00, 0xFF), qRgb(0x00, 0xFF, 0xFF),
      qRgb(0xFF, 0xFF, 0xFF)};
  return colours;
}

Palette HalftonePalette() {
  const Palette& statics = DefaultSystemPalette();
  Palette p(statics.begin(), statics.begin() + StaticColorsLow);
  const Palette cube = NetscapePalette();
  p.insert(p.end(), cube.begin(), cube.end());
  // Greys between the cube's six levels, so grey ramps do not band.
  for (int k = 1; k <= 20; ++k) {
    const int y = (255 * k + 10) / 21;
    p.push_back(qRgb(y, y, y));
  }
  p.insert(p.end(), statics.begin() + StaticColorsLow, statics.end());
  return p;
}

Palette Gray4Palette() {
  return {qRgb(0, 0, 0), qRgb(0x80, 0x80, 0x80), qRgb(0xC0, 0xC0, 0xC0), qRgb(0xFF, 0xFF, 0xFF)};
}

Palette MonochromePalette() { return {qRgb(0, 0, 0), qRgb(255, 255, 255)}; }

Palette Gray256Palette() {
  Palette p(256);
  for (int y = 0; y < 256; ++y) p[y] = qRgb(y, y, y);
  return p;
}

Palette NetscapePalette() {
  Palette p;
  p.reserve(216);
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b) p.push_back(qRgb(r * 51, g * 51, b * 51));
  return p;
}
