// Palettes, the octree quantizer and ReduceColors on small pictures whose
// answers are worked out by hand.
#include <gtest/gtest.h>

#include <set>

#include "colour_reduction.h"
#include "palette_quantizer.h"

namespace {

QImage Picture(int width, int height, const std::vector<QRgb>& pixels, QImage::Format format = QImage::Format_RGB32) {
  QImage image(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) image.setPixel(x, y, pixels[size_t(y * width + x)]);
  return image.convertToFormat(format);
}

// Many distinct colours: a red-green ramp with a blue stripe pattern.
QImage Colourful(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) image.setPixel(x, y, qRgb(x * 255 / width, y * 255 / height, (x * 7 + y * 13) % 256));
  return image;
}

std::set<int> IndicesUsed(const QImage& indexed) {
  std::set<int> used;
  for (int y = 0; y < indexed.height(); ++y)
    for (int x = 0; x < indexed.width(); ++x) used.insert(indexed.pixelIndex(x, y));
  return used;
}

}  // namespace

TEST(Palettes, FixedPalettes) {
  const Palette netscape = NetscapePalette();
  ASSERT_EQ(netscape.size(), 216u);
  EXPECT_EQ(netscape[0], qRgb(0, 0, 0));
  EXPECT_EQ(netscape[215], qRgb(255, 255, 255));
  EXPECT_EQ(netscape[2 * 36 + 4 * 6 + 1], qRgb(102, 204, 51));

  const Palette& statics = DefaultSystemPalette();
  ASSERT_EQ(statics.size(), 20u);
  const Palette halftone = HalftonePalette();
  ASSERT_EQ(halftone.size(), 256u);
  EXPECT_TRUE(std::equal(statics.begin(), statics.begin() + 10, halftone.begin()));
  EXPECT_TRUE(std::equal(statics.begin() + 10, statics.end(), halftone.begin() + 246));
}

TEST(Quantizer, KeepsFewColoursExactlyInTreeOrder) {
  // Blue sits in root child 1, green in 2, red in 4: read depth first.
  const QImage picture = Picture(3, 2, {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255), qRgb(255, 0, 0),
                                        qRgb(0, 255, 0), qRgb(0, 0, 255)});
  const Palette p = CreateOptimizedPaletteForBitmap(picture, 8, 8, false);
  EXPECT_EQ(p, (Palette{qRgb(0, 0, 255), qRgb(0, 255, 0), qRgb(255, 0, 0), 0xFF000000, 0xFF000000, 0xFF000000,
                        0xFF000000, 0xFF000000}));
}

TEST(Quantizer, MergesNearestBranchWeightedByPixels) {
  // (0,0,0) and (0,0,6) part only at bit 2 of blue, five levels down; white
  // parts at the root. With room for two colours the two dark ones merge into
  // (0, 0, (3*0 + 6) / 4) = (0, 0, 1).
  TColorQuantizer q(2, 8);
  for (int i = 0; i < 3; ++i) q.AddColor(0, 0, 0);
  q.AddColor(0, 0, 6);
  EXPECT_EQ(q.LeafCount(), 2);
  q.AddColor(255, 255, 255);
  EXPECT_EQ(q.LeafCount(), 2);
  EXPECT_EQ(q.LeafColors(), (Palette{qRgb(0, 0, 1), qRgb(255, 255, 255)}));
  // Further pixels land in the merged leaves without growing the tree.
  q.AddColor(0, 0, 5);
  q.AddColor(250, 250, 250);
  EXPECT_EQ(q.LeafCount(), 2);

  TColorQuantizer one(0, 8);  // held to one colour: everything merges into the root
  one.AddColor(0, 0, 0);
  one.AddColor(200, 100, 50);
  EXPECT_EQ(one.LeafColors(), (Palette{qRgb(100, 50, 25)}));
}

TEST(Quantizer, StaticColoursFrameThePictureColours) {
  const Palette p = CreateOptimizedPaletteForBitmap(Picture(2, 1, {qRgb(1, 2, 3), qRgb(200, 100, 50)}), 236, 8, true);
  ASSERT_EQ(p.size(), 256u);
  const Palette& statics = DefaultSystemPalette();
  EXPECT_TRUE(std::equal(statics.begin(), statics.begin() + 10, p.begin()));
  EXPECT_TRUE(std::equal(statics.begin() + 10, statics.end(), p.begin() + 246));
  EXPECT_EQ(p[10], qRgb(1, 2, 3));
  EXPECT_EQ(p[11], qRgb(200, 100, 50));
  EXPECT_EQ(p[12], qRgb(0, 0, 0));
  EXPECT_EQ(p[245], qRgb(0, 0, 0));
}

TEST(ReduceColors, FixedPaletteKinds) {
  const QImage picture =
      Picture(4, 1, {qRgb(255, 255, 255), qRgb(0, 0, 0), qRgb(127, 127, 127), qRgb(128, 128, 128)});
  const Palette none;

  const QImage netscape = ReduceColors(picture, reduceNetscape, ditherNone, none, 8);
  ASSERT_EQ(netscape.format(), QImage::Format_Indexed8);
  EXPECT_EQ(netscape.colorCount(), 216);
  EXPECT_EQ(netscape.pixelIndex(0, 0), 215);
  EXPECT_EQ(netscape.pixelIndex(1, 0), 0);
  EXPECT_EQ(netscape.pixelIndex(2, 0), 2 * 43);  // 127 -> level 2 (102)

  const QImage mono = ReduceColors(picture, reduceMonochrome, ditherNone, none, 8);
  EXPECT_EQ(mono.colorCount(), 2);
  EXPECT_EQ(IndicesUsed(mono), (std::set<int>{0, 1}));
  EXPECT_EQ(mono.pixelIndex(2, 0), 0);
  EXPECT_EQ(mono.pixelIndex(3, 0), 1);

  const QImage grey = ReduceColors(picture, reduceGray256, ditherFloydSteinberg, none, 8);
  EXPECT_EQ(grey.colorCount(), 256);
  EXPECT_EQ(grey.pixelIndex(2, 0), 127);

  const QImage gray4 = ReduceColors(picture, reduceGray4, ditherNone, none, 8);
  EXPECT_EQ(gray4.colorCount(), 4);
  EXPECT_EQ(gray4.pixelIndex(2, 0), 1);  // 127 is nearest 0x80
  EXPECT_EQ(gray4.pixelIndex(0, 0), 3);

  const QImage system = ReduceColors(picture, reduceSystemPalette, ditherNone, none, 8);
  EXPECT_EQ(system.colorCount(), 20);
  EXPECT_EQ(system.color(system.pixelIndex(0, 0)), qRgb(255, 255, 255));
  EXPECT_EQ(system.color(system.pixelIndex(3, 0)), qRgb(128, 128, 128));

  const Palette custom = {qRgb(255, 0, 0), qRgb(250, 250, 250)};
  const QImage mine = ReduceColors(picture, reduceCustom, ditherNone, custom, 8);
  EXPECT_EQ(mine.colorTable(), QList<QRgb>(custom.begin(), custom.end()));
  EXPECT_EQ(mine.pixelIndex(0, 0), 1);
}

TEST(ReduceColors, QuantizedKinds) {
  const QImage picture = Colourful(64, 48);
  for (const int bits : {1, 4, 8}) {
    const QImage q = ReduceColors(picture, reduceQuantize, ditherNone, {}, bits);
    EXPECT_EQ(q.colorCount(), 1 << bits);
    for (int index : IndicesUsed(q)) EXPECT_LT(index, 1 << bits);
  }
  // More bits than an 8-bit picture holds are held to 8.
  EXPECT_EQ(ReduceColors(picture, reduceQuantize, ditherFloydSteinberg, {}, 31).colorCount(), 256);
  EXPECT_EQ(ReduceColors(picture, reduceQuantize, ditherNone, {}, -3).colorCount(), 1);

  const QImage system = ReduceColors(picture, reduceQuantizeSystem, ditherSierra, {}, 8);
  ASSERT_EQ(system.colorCount(), 256);
  EXPECT_EQ(system.color(255), qRgb(255, 255, 255));

  // A picture of few colours comes back exact.
  const QImage few = Picture(2, 2, {qRgb(10, 20, 30), qRgb(200, 0, 0), qRgb(200, 0, 0), qRgb(10, 20, 30)});
  const QImage exact = ReduceColors(few, reduceQuantize, ditherFloydSteinberg, {}, 8);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x) EXPECT_EQ(exact.pixel(x, y), few.pixel(x, y));
}

TEST(ReduceColors, UnknownKindsAndEmptyPalettesGiveEmptyPicture) {
  const QImage picture = Colourful(8, 8);
  EXPECT_TRUE(ReduceColors(picture, 12, ditherNone, {}, 8).isNull());
  EXPECT_TRUE(ReduceColors(picture, reduceNetscape, 9, {}, 8).isNull());
  EXPECT_TRUE(ReduceColors(picture, reduceCustom, ditherNone, {}, 8).isNull());
  EXPECT_TRUE(ReduceColors(QImage(), reduceNetscape, ditherNone, {}, 8).isNull());

  Palette big(300, qRgb(9, 9, 9));
  EXPECT_EQ(ReduceColors(picture, reduceCustom, ditherNone, big, 8).colorCount(), 256);
}

TEST(ReduceColors, LeavesTheCallersPictureAlone) {
  // Formats that need converting and one that does not; reduceNone gives a 24-bit copy.
  for (const auto format : {QImage::Format_RGB32, QImage::Format_ARGB32, QImage::Format_RGB888}) {
    const QImage picture = Colourful(13, 7).convertToFormat(format);
    const QImage before = picture.copy();
    const uchar* bits = picture.constBits();
    for (const int kind : {0, 3, 6, 7, 8}) {
      const QImage result = ReduceColors(picture, kind, ditherStucki, {}, 8);
      ASSERT_FALSE(result.isNull());
      EXPECT_EQ(result.size(), picture.size());
    }
    EXPECT_EQ(picture, before);
    EXPECT_EQ(picture.constBits(), bits);

    const QImage copy = ReduceColors(picture, reduceNone, ditherNone, {}, 8);
    EXPECT_EQ(copy.format(), QImage::Format_RGB888);
    EXPECT_EQ(copy.pixel(5, 3), before.pixel(5, 3));
  }
}
