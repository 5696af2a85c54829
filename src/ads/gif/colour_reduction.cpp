#include "colour_reduction.h"

#include <algorithm>
#include <new>

#include "palette_lookup.h"
#include "palette_quantizer.h"

namespace {

QImage ToRgb32(const QImage& image) {
  if (image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32) return image;
  return image.convertToFormat(QImage::Format_RGB32);
}

const QRgb* Pixels(const QImage& rgb) { return reinterpret_cast<const QRgb*>(rgb.constBits()); }

}  // namespace

QImage ReduceColors(const QImage& bitmap, int reduction, int ditherMode, const Palette& customPalette,
                    int reductionBits) {
  if (bitmap.isNull()) return QImage();
  if (reduction == reduceNone) {
    QImage copy = bitmap.convertToFormat(QImage::Format_RGB888);
    if (copy.isNull()) throw std::bad_alloc();
    return copy;
  }

  // QImage shares on copy and detaches on write, so the caller's picture is never touched.
  const QImage source = ToRgb32(bitmap);
  if (source.isNull()) throw std::bad_alloc();
  const int width = source.width();
  const int height = source.height();
  const qsizetype pitch = source.bytesPerLine() / 4;

  Palette palette;
  std::unique_ptr<TColorLookup> lookup;
  switch (reduction) {
    case reduceSystemPalette: palette = DefaultSystemPalette(); break;
    case reduceHalftone: palette = HalftonePalette(); break;
    case reduceGray4: palette = Gray4Palette(); break;
    case reduceMonochrome:
      palette = MonochromePalette();
      lookup = std::make_unique<TMonochromeLookup>();
      break;
    case reduceGray256:
      palette = Gray256Palette();
      lookup = std::make_unique<TGrayScaleLookup>();
      break;
    case reduceNetscape:
      palette = NetscapePalette();
      lookup = std::make_unique<TNetscapeColorLookup>();
      break;
    case reduceQuantize:
      palette = CreateOptimizedPalette(Pixels(source), width, height, pitch, 1 << std::clamp(reductionBits, 0, 8), 8,
                                       false);
      break;
    case reduceQuantizeSystem:
      palette = CreateOptimizedPalette(Pixels(source), width, height, pitch, 256 - StaticColorCount, 8, true);
      break;
    case reduceCustom:
      palette.assign(customPalette.begin(), customPalette.begin() + std::min<size_t>(customPalette.size(), 256));
      break;
    default: return QImage();
  }
  if (!lookup) lookup = std::make_unique<TFastColorLookup>(palette);
  if (lookup->Colors() == 0) return QImage();
  const std::unique_ptr<TDitherEngine> ditherer = CreateDitherer(ditherMode, width, *lookup);
  if (!ditherer) return QImage();

  QImage result(width, height, QImage::Format_Indexed8);
  if (result.isNull()) throw std::bad_alloc();
  result.setColorTable(QList<QRgb>(palette.begin(), palette.end()));
  RgbTriple chosen;
  for (int y = 0; y < height; ++y) {
    const QRgb* in = Pixels(source) + y * pitch;
    uchar* out = result.scanLine(y);
    for (int i = 0; i < width; ++i) {
      const int x = ditherer->Column();
      const QRgb p = in[x];
      out[x] = uchar(ditherer->Dither(qRed(p), qGreen(p), qBlue(p), chosen));
    }
    ditherer->NextLine();
  }
  return result;
}
