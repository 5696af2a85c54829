#include "palette_quantizer.h"

#include <algorithm>

TColorQuantizer::TColorQuantizer(int maxColors, int colorBits)
    : maxColors_(std::clamp(maxColors, 1, 256)), colorBits_(std::clamp(colorBits, 1, 8)) {
  nodes_.reserve(size_t(maxColors_) * 4 + 64);
}

int32_t TColorQuantizer::NewNode(int level) {
  int32_t n;
  if (!freeNodes_.empty()) {
    n = freeNodes_.back();
    freeNodes_.pop_back();
    nodes_[n] = TOctreeNode();
  } else {
    n = int32_t(nodes_.size());
    nodes_.emplace_back();
  }
  if (level == colorBits_) {
    nodes_[n].leaf = true;
    ++leafCount_;
  } else {
    nodes_[n].nextReducible = reducible_[level];
    reducible_[level] = n;
  }
  return n;
}

void TColorQuantizer::FreeNode(int32_t node) { freeNodes_.push_back(node); }

void TColorQuantizer::AddColor(int red, int green, int blue) {
  if (root_ < 0) root_ = NewNode(0);
  int32_t n = root_;
  for (int level = 0; !nodes_[n].leaf; ++level) {
    const int shift = 7 - level;
    const int slot = (((red >> shift) & 1) << 2) | (((green >> shift) & 1) << 1) | ((blue >> shift) & 1);
    int32_t child = nodes_[n].children[slot];
    if (child < 0) {
      child = NewNode(level + 1);  // may move nodes_
      nodes_[n].children[slot] = child;
    }
    n = child;
  }
  TOctreeNode& leaf = nodes_[n];
  ++leaf.pixelCount;
  leaf.redSum += uint64_t(red);
  leaf.greenSum += uint64_t(green);
  leaf.blueSum += uint64_t(blue);
  while (leafCount_ > maxColors_) Reduce();
}

void TColorQuantizer::AddPixels(const QRgb* pixels, int count) {
  for (int i = 0; i < count; ++i) AddColor(qRed(pixels[i]), qGreen(pixels[i]), qBlue(pixels[i]));
}

void TColorQuantizer::Reduce() {
  int level = colorBits_ - 1;
  while (level > 0 && reducible_[level] < 0) --level;
  const int32_t n = reducible_[level];
  if (n < 0) return;  // only the root is left and it is a leaf already
  reducible_[level] = nodes_[n].nextReducible;
  int merged = 0;
  for (int32_t& child : nodes_[n].children) {
    if (child < 0) continue;
    // The deepest reducible level is chosen, so every child here is a leaf.
    const TOctreeNode& c = nodes_[child];
    nodes_[n].pixelCount += c.pixelCount;
    nodes_[n].redSum += c.redSum;
    nodes_[n].greenSum += c.greenSum;
    nodes_[n].blueSum += c.blueSum;
    FreeNode(child);
    child = -1;
    ++merged;
  }
  nodes_[n].leaf = true;
  leafCount_ = leafCount_ - merged + 1;
}

void TColorQuantizer::CollectLeaves(int32_t node, Palette& out) const {
  const TOctreeNode& n = nodes_[node];
  if (n.leaf) {
    if (n.pixelCount == 0) {
      out.push_back(qRgb(0, 0, 0));
    } else {
      out.push_back(qRgb(int(n.redSum / n.pixelCount), int(n.greenSum / n.pixelCount),
                         int(n.blueSum / n.pixelCount)));
    }
    return;
  }
  for (int32_t child : n.children)
    if (child >= 0) CollectLeaves(child, out);
}

Palette TColorQuantizer::LeafColors() const {
  Palette out;
  out.reserve(size_t(leafCount_));
  if (root_ >= 0) CollectLeaves(root_, out);
  return out;
}

Palette CreateOptimizedPalette(const QRgb* pixels, int width, int height, qsizetype pixelsPerLine, int colors,
                               int colorBits, bool withStaticColors) {
  const int pictureColors = withStaticColors ? std::clamp(colors, 1, 256 - StaticColorCount) : std::clamp(colors, 1, 256);
  TColorQuantizer quantizer(pictureColors, colorBits);
  for (int y = 0; y < height; ++y) quantizer.AddPixels(pixels + y * pixelsPerLine, width);
  const Palette leaves = quantizer.LeafColors();

  Palette palette(withStaticColors ? 256 : size_t(pictureColors), qRgb(0, 0, 0));
  const size_t first = withStaticColors ? StaticColorsLow : 0;
  std::copy_n(leaves.begin(), std::min<size_t>(leaves.size(), size_t(pictureColors)), palette.begin() + first);
  if (withStaticColors) {
    const Palette& statics = DefaultSystemPalette();
    std::copy_n(statics.begin(), StaticColorsLow, palette.begin());
    std::copy(statics.begin() + StaticColorsLow, statics.end(), palette.end() - (StaticColorCount - StaticColorsLow));
  }
  return palette;
}

Palette CreateOptimizedPaletteForBitmap(const QImage& bitmap, int colors, int colorBits, bool withStaticColors) {
  if (bitmap.isNull()) return CreateOptimizedPalette(nullptr, 0, 0, 0, colors, colorBits, withStaticColors);
  const QImage rgb = (bitmap.format() == QImage::Format_RGB32 || bitmap.format() == QImage::Format_ARGB32)
                         ? bitmap
                         : bitmap.convertToFormat(QImage::Format_RGB32);
  return CreateOptimizedPalette(reinterpret_cast<const QRgb*>(rgb.constBits()), rgb.width(), rgb.height(),
                                rgb.bytesPerLine() / 4, colors, colorBits, withStaticColors);
}
