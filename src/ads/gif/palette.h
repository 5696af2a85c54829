#pragma once
// Fixed palettes of the colour reduction. A palette is a plain list of up to
// 256 colours (alpha 0xFF); index i of the list is palette entry i.
#include <QRgb>
#include <vector>

using Palette = std::vector<QRgb>;

// The platform's default palette: its 20 static colours, the first 10 of
// which sit at the bottom of a 256-entry system palette and the last 10 at
// the top.
const Palette& DefaultSystemPalette();
constexpr int StaticColorCount = 20;
constexpr int StaticColorsLow = 10;

// The halftone palette of a 256-colour screen: the 20 static colours around
// a 6x6x6 colour cube and 20 extra greys (256 entries).
Palette HalftonePalette();
// 0, 0x80, 0xC0, 0xFF.
Palette Gray4Palette();
// Black and white.
Palette MonochromePalette();
// Grey levels 0 to 255 at their own index.
Palette Gray256Palette();
// The 216-colour web-safe palette: index r*36 + g*6 + b, levels 0..5 of 51.
Palette NetscapePalette();
