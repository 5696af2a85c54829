#pragma once
// Colour look-ups: map a red-green-blue colour to the index of a palette
// entry and report the colour of that entry.
#include <cstdint>
#include <memory>

#include "palette.h"

struct RgbTriple {
  uint8_t red = 0;
  uint8_t green = 0;
  uint8_t blue = 0;
};

class TColorLookup {
public:
  explicit TColorLookup(int colors) : colors_(colors) {}
  virtual ~TColorLookup() = default;
  TColorLookup(const TColorLookup&) = delete;
  TColorLookup& operator=(const TColorLookup&) = delete;

  // Components are 0..255. Returns the palette index; `chosen` gets its colour.
  virtual int Lookup(int red, int green, int blue, RgbTriple& chosen) = 0;
  int Colors() const { return colors_; }

protected:
  int colors_;
};

// Nearest entry of any palette (up to 256 entries) by the sum of absolute
// component differences. Answers are cached per 15-bit colour (top 5 bits of
// each component), so a palette is searched at most once per cache key.
class TFastColorLookup final : public TColorLookup {
public:
  // Entries past the 256th are ignored: an 8-bit index cannot reach them.
  explicit TFastColorLookup(const Palette& palette);
  int Lookup(int red, int green, int blue, RgbTriple& chosen) override;

private:
  static constexpr uint16_t Unknown = 0xFFFF;
  static int Key(int red, int green, int blue) { return (red >> 3) | ((green >> 3) << 5) | ((blue >> 3) << 10); }
  int Search(int red, int green, int blue) const;

  uint8_t red_[256] = {};
  uint8_t green_[256] = {};
  uint8_t blue_[256] = {};
  std::unique_ptr<uint16_t[]> cache_;
};

// The 216-colour web-safe palette, by arithmetic.
class TNetscapeColorLookup final : public TColorLookup {
public:
  TNetscapeColorLookup() : TColorLookup(216) {}
  int Lookup(int red, int green, int blue, RgbTriple& chosen) override {
    const int r = (red + 3) / 51;
    const int g = (green + 3) / 51;
    const int b = (blue + 3) / 51;
    chosen = {uint8_t(r * 51), uint8_t(g * 51), uint8_t(b * 51)};
    return b + 6 * g + 36 * r;
  }
};

// 256 greys by luminance.
class TGrayScaleLookup final : public TColorLookup {
public:
  TGrayScaleLookup() : TColorLookup(256) {}
  int Lookup(int red, int green, int blue, RgbTriple& chosen) override {
    const int y = (77 * red + 150 * green + 29 * blue) >> 8;
    chosen = {uint8_t(y), uint8_t(y), uint8_t(y)};
    return y;
  }
};

// Black (0) or white (1) by luminance.
class TMonochromeLookup final : public TColorLookup {
public:
  TMonochromeLookup() : TColorLookup(2) {}
  int Lookup(int red, int green, int blue, RgbTriple& chosen) override {
    if (77 * red + 150 * green + 29 * blue < 32513) {
      chosen = {0, 0, 0};
      return 0;
    }
    chosen = {255, 255, 255};
    return 1;
  }
};
