#pragma once
// Octree colour quantizer: builds a palette of at most N colours that suits
// one picture. The tree is reduced as colours arrive, so it never holds more
// than the maximum colours plus the one leaf a new pixel may add.
#include <QImage>
#include <cstdint>
#include <vector>

#include "palette.h"

class TColorQuantizer {
public:
  // maxColors is held to 1..256 and colorBits (tree depth) to 1..8.
  TColorQuantizer(int maxColors, int colorBits);

  void AddColor(int red, int green, int blue);
  void AddPixels(const QRgb* pixels, int count);
  int LeafCount() const { return leafCount_; }
  int MaxColors() const { return maxColors_; }
  // The leaves' average colours, depth first with children 0 to 7.
  Palette LeafColors() const;

private:
  struct TOctreeNode {
    bool leaf = false;
    uint64_t pixelCount = 0;
    uint64_t redSum = 0, greenSum = 0, blueSum = 0;
    int32_t nextReducible = -1;
    int32_t children[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
  };

  int32_t NewNode(int level);
  void FreeNode(int32_t node);
  void Reduce();
  void CollectLeaves(int32_t node, Palette& out) const;

  std::vector<TOctreeNode> nodes_;
  std::vector<int32_t> freeNodes_;
  int32_t root_ = -1;
  int leafCount_ = 0;
  int maxColors_;
  int colorBits_;
  int32_t reducible_[8] = {-1, -1, -1, -1, -1, -1, -1, -1};  // per level, most recent first
};

// An optimized palette for a picture of RGB32 pixels (alpha ignored);
// pixelsPerLine is the row pitch. Without static colours the palette has
// `colors` entries (held to 1..256); with them it has 256: the platform's 10
// low static colours, up to 236 picture colours from entry 10, and its 10 high
// static colours at 246 to 255. Entries no picture colour fills are black.
Palette CreateOptimizedPalette(const QRgb* pixels, int width, int height, qsizetype pixelsPerLine, int colors,
                               int colorBits, bool withStaticColors);
// The same for a picture of any format.
Palette CreateOptimizedPaletteForBitmap(const QImage& bitmap, int colors, int colorBits, bool withStaticColors);
