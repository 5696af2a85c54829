// Look-ups and ditherers, against values worked out by hand and against a
// plain whole-picture model of error diffusion.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "dither.h"
#include "palette_lookup.h"

namespace {

using Grid = std::vector<std::vector<int>>;

// Dithers a grey picture (the same value in all three components) in the
// ditherer's own column order and returns the indices by position.
Grid DitherGrey(TDitherEngine& ditherer, const Grid& picture) {
  Grid out(picture.size(), std::vector<int>(picture[0].size(), -1));
  RgbTriple chosen;
  for (size_t y = 0; y < picture.size(); ++y) {
    for (size_t i = 0; i < picture[y].size(); ++i) {
      const int x = ditherer.Column();
      const int v = picture[y][size_t(x)];
      out[y][size_t(x)] = ditherer.Dither(v, v, v, chosen);
    }
    ditherer.NextLine();
  }
  return out;
}

struct Weight {
  int dy, dx, weight;  // dx counts along the direction of travel
};

struct Kernel {
  int mode;
  int divisor;
  std::vector<Weight> weights;
};

const std::vector<Kernel>& Kernels() {
  static const std::vector<Kernel> kernels = {
      {ditherFloydSteinberg, 16, {{0, 1, 7}, {1, -1, 3}, {1, 0, 5}, {1, 1, 1}}},
      {ditherStucki, 42, {{0, 1, 8}, {0, 2, 4}, {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4}, {1, 2, 2},
                          {2, -2, 1}, {2, -1, 2}, {2, 0, 4}, {2, 1, 2}, {2, 2, 1}}},
      {ditherSierra, 32, {{0, 1, 5}, {0, 2, 3}, {1, -2, 2}, {1, -1, 4}, {1, 0, 5}, {1, 1, 4}, {1, 2, 2},
                          {2, -1, 2}, {2, 0, 3}, {2, 1, 2}}},
      {ditherJaJuNi, 48, {{0, 1, 7}, {0, 2, 5}, {1, -2, 3}, {1, -1, 5}, {1, 0, 7}, {1, 1, 5}, {1, 2, 3},
                          {2, -2, 1}, {2, -1, 3}, {2, 0, 5}, {2, 1, 3}, {2, 2, 1}}},
      {ditherSteveArche, 200, {{0, 2, 32}, {1, -3, 12}, {1, -1, 26}, {1, 1, 30}, {1, 3, 16}, {2, -2, 12},
                               {2, 0, 26}, {2, 2, 12}, {3, -3, 5}, {3, -1, 12}, {3, 1, 12}, {3, 3, 5}}},
      {ditherBurkes, 32, {{0, 1, 8}, {0, 2, 4}, {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4}, {1, 2, 2}}},
  };
  return kernels;
}

struct Rgb {
  int c[3];
};

// Error diffusion over a whole-picture error buffer: no rows to rotate, no
// guard entries, error that leaves the picture is dropped.
std::vector<int> ReferenceDither(const Kernel& k, const std::vector<Rgb>& picture, int width, int height,
                                 TColorLookup& lookup) {
  std::vector<Rgb> error(picture.size(), Rgb{{0, 0, 0}});
  std::vector<int> out(picture.size(), -1);
  for (int y = 0; y < height; ++y) {
    const int dir = y % 2 == 0 ? 1 : -1;
    for (int i = 0; i < width; ++i) {
      const int x = dir > 0 ? i : width - 1 - i;
      const size_t at = size_t(y * width + x);
      int v[3];
      for (int c = 0; c < 3; ++c) {
        const int sum = error[at].c[c] + k.divisor / 2;
        const int q = sum >= 0 ? sum / k.divisor : -(-sum / k.divisor);
        v[c] = std::min(255, std::max(0, picture[at].c[c] + q));
      }
      RgbTriple chosen;
      out[at] = lookup.Lookup(v[0], v[1], v[2], chosen);
      const int e[3] = {v[0] - chosen.red, v[1] - chosen.green, v[2] - chosen.blue};
      for (const Weight& w : k.weights) {
        const int yy = y + w.dy;
        const int xx = x + w.dx * dir;
        if (yy >= height || xx < 0 || xx >= width) continue;
        for (int c = 0; c < 3; ++c) error[size_t(yy * width + xx)].c[c] += e[c] * w.weight;
      }
    }
  }
  return out;
}

}  // namespace

TEST(ColourLookup, ArithmeticLookups) {
  TNetscapeColorLookup netscape;
  RgbTriple c;
  EXPECT_EQ(netscape.Lookup(255, 255, 255, c), 215);
  EXPECT_EQ(c.red, 255);
  EXPECT_EQ(netscape.Lookup(0, 0, 0, c), 0);
  // 48 is already level 1; 47 is still level 0.
  EXPECT_EQ(netscape.Lookup(48, 47, 0, c), 36);
  EXPECT_EQ(c.red, 51);
  EXPECT_EQ(c.green, 0);
  // Blue is the low digit of the index, red the high one.
  EXPECT_EQ(netscape.Lookup(255, 0, 51, c), 181);

  TGrayScaleLookup grey;
  EXPECT_EQ(grey.Lookup(127, 127, 127, c), 127);
  EXPECT_EQ(grey.Lookup(255, 0, 0, c), 76);
  EXPECT_EQ(c.green, 76);

  TMonochromeLookup mono;
  EXPECT_EQ(mono.Lookup(127, 127, 127, c), 0);  // 32512, just below the threshold
  EXPECT_EQ(c.red, 0);
  EXPECT_EQ(mono.Lookup(128, 128, 128, c), 1);
  EXPECT_EQ(c.blue, 255);
  EXPECT_EQ(mono.Lookup(0, 255, 0, c), 1);  // 150 * 255 = 38250
}

TEST(ColourLookup, FastLookupFindsNearestAndCachesPerKey) {
  const Palette palette = {qRgb(10, 0, 0), qRgb(0, 10, 0), qRgb(200, 200, 200), qRgb(8, 8, 8),
                           qRgb(9, 9, 9),  qRgb(30, 30, 30), qRgb(56, 56, 56)};
  TFastColorLookup lookup(palette);
  RgbTriple c;
  EXPECT_EQ(lookup.Colors(), 7);
  // Equal distances (10 and 10): the first entry wins.
  EXPECT_EQ(lookup.Lookup(5, 5, 0, c), 0);
  EXPECT_EQ(lookup.Lookup(180, 190, 230, c), 2);
  EXPECT_EQ(c.green, 200);
  // (8,8,8) and (9,9,9) share a cache key: the first entry holds it.
  EXPECT_EQ(lookup.Lookup(9, 9, 9, c), 3);
  EXPECT_EQ(c.red, 8);
  // A key is searched once: (47,47,47) is nearer (56,56,56) but shares its
  // key with (40,40,40), whose answer (30,30,30) stands.
  EXPECT_EQ(lookup.Lookup(40, 40, 40, c), 5);
  EXPECT_EQ(lookup.Lookup(47, 47, 47, c), 5);
  EXPECT_EQ(c.red, 30);
}

TEST(Ditherer, RowsRunSerpentine) {
  TMonochromeLookup lookup;
  for (const int mode : {0, 1, 2, 3, 4, 5, 6}) {
    auto d = CreateDitherer(mode, 3, lookup);
    ASSERT_TRUE(d) << mode;
    RgbTriple c;
    std::vector<int> columns;
    for (int row = 0; row < 3; ++row) {
      for (int i = 0; i < 3; ++i) {
        columns.push_back(d->Column());
        d->Dither(10, 10, 10, c);
      }
      d->NextLine();
    }
    EXPECT_EQ(columns, (std::vector<int>{0, 1, 2, 2, 1, 0, 0, 1, 2})) << mode;
  }
  EXPECT_FALSE(CreateDitherer(9, 3, lookup));
  EXPECT_FALSE(CreateDitherer(-1, 3, lookup));
}

TEST(Ditherer, HandWorkedFixtures) {
  // Floyd-Steinberg to black and white; the second row runs right to left
  // (left to right would give 0 1 1).
  {
    TMonochromeLookup lookup;
    TFloydSteinbergDitherer d(3, lookup);
    EXPECT_EQ(DitherGrey(d, {{100, 200, 50}, {60, 90, 180}}), (Grid{{0, 1, 0}, {0, 0, 1}}));
  }
  // 48 becomes 51 (error -3); the next pixel gets (-21 + 8) / 16, which
  // truncates to 0 and keeps it at 48 (rounding down would make it 47, level 0).
  {
    TNetscapeColorLookup lookup;
    TFloydSteinbergDitherer d(2, lookup);
    EXPECT_EQ(DitherGrey(d, {{48, 48}}), (Grid{{43, 43}}));
  }
  // Stucki: the first pixel's error of 40 lifts the second to 40 + 8 = 48.
  {
    TNetscapeColorLookup lookup;
    TStuckiDitherer d(3, lookup);
    EXPECT_EQ(DitherGrey(d, {{40, 40, 40}, {40, 40, 40}}), (Grid{{0, 43, 0}, {43, 0, 43}}));
  }
  // Without diffusion it is the look-up alone.
  {
    TNetscapeColorLookup lookup;
    TDitherEngine d(3, lookup);
    EXPECT_EQ(DitherGrey(d, {{40, 48, 255}}), (Grid{{0, 43, 215}}));
  }
}

TEST(Ditherer, ExactPaletteColourNeedsNoDiffusion) {
  TNetscapeColorLookup lookup;
  for (const Kernel& k : Kernels()) {
    auto d = CreateDitherer(k.mode, 7, lookup);
    const Grid out = DitherGrey(*d, Grid(5, std::vector<int>(7, 153)));
    for (const auto& row : out)
      for (int index : row) EXPECT_EQ(index, 3 * 43) << k.mode;
  }
}

TEST(Ditherer, MatchesWholePictureModel) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> component(0, 255);
  const Palette palette = {qRgb(0, 0, 0),     qRgb(255, 255, 255), qRgb(200, 30, 30), qRgb(30, 160, 40),
                           qRgb(40, 60, 210), qRgb(240, 220, 60),  qRgb(128, 128, 128)};
  for (const auto& [width, height] : {std::pair{1, 5}, std::pair{2, 3}, std::pair{17, 11}, std::pair{64, 9}}) {
    std::vector<Rgb> picture(size_t(width * height));
    // Smooth ramps with noise: errors of both signs that reach the edges.
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        for (int c = 0; c < 3; ++c)
          picture[size_t(y * width + x)].c[c] =
              std::clamp((x * 255 / std::max(1, width - 1) + c * 60 + component(rng) / 4) % 256, 0, 255);
    for (const Kernel& k : Kernels()) {
      for (const bool fast : {false, true}) {
        std::unique_ptr<TColorLookup> refLookup, ourLookup;
        if (fast) {
          refLookup = std::make_unique<TFastColorLookup>(palette);
          ourLookup = std::make_unique<TFastColorLookup>(palette);
        } else {
          refLookup = std::make_unique<TNetscapeColorLookup>();
          ourLookup = std::make_unique<TNetscapeColorLookup>();
        }
        const std::vector<int> expected = ReferenceDither(k, picture, width, height, *refLookup);
        auto d = CreateDitherer(k.mode, width, *ourLookup);
        std::vector<int> got(picture.size(), -1);
        RgbTriple c;
        for (int y = 0; y < height; ++y) {
          for (int i = 0; i < width; ++i) {
            const size_t at = size_t(y * width + d->Column());
            got[at] = d->Dither(picture[at].c[0], picture[at].c[1], picture[at].c[2], c);
          }
          d->NextLine();
        }
        EXPECT_EQ(got, expected) << "mode " << k.mode << " size " << width << "x" << height << " fast " << fast;
      }
    }
  }
}
