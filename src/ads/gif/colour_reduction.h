#pragma once
// Reduces a picture of any depth to an 8-bit picture of a chosen palette,
// optionally dithered. Used when a deep-colour picture becomes a GIF frame.
#include <QImage>
#include <cstdint>

#include "dither.h"
#include "palette.h"

enum TColorReduction : uint8_t {
  reduceNone = 0,            // no palette: a 24-bit copy
  reduceSystemPalette = 1,   // the platform's 20 static colours
  reduceHalftone = 2,        // the halftone palette of a 256-colour screen
  reduceGray4 = 3,           // 0, 0x80, 0xC0, 0xFF
  reduceMonochrome = 4,      // black and white
  reduceGray256 = 5,         // 256 greys
  reduceNetscape = 6,        // the 216-colour web-safe palette
  reduceQuantize = 7,        // octree of the picture, 2^reductionBits colours
  reduceQuantizeSystem = 8,  // octree, 236 colours between the 20 static colours
  reduceCustom = 9,          // the caller's palette
};

// Returns a new picture; `bitmap` is only read. The result is Format_Indexed8
// with the palette as its colour table, Format_RGB888 for reduceNone, and a
// null image for an unknown reduction or dither mode or a palette without
// colours. Alpha is ignored. reductionBits is held to 0..8 and a custom
// palette to its first 256 entries. Throws std::bad_alloc when the result
// cannot be allocated.
QImage ReduceColors(const QImage& bitmap, int reduction, int ditherMode, const Palette& customPalette,
                    int reductionBits);
