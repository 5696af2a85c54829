#pragma once
// Colours as the settings file stores them: 0x00BBGGRR.
#include <QColor>

#include <cstdint>

using TColor = uint32_t;

constexpr TColor RGBColor(int r, int g, int b) {
  return static_cast<TColor>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
constexpr int GetRValue(TColor c) { return static_cast<int>(c & 0xFF); }
constexpr int GetGValue(TColor c) { return static_cast<int>((c >> 8) & 0xFF); }
constexpr int GetBValue(TColor c) { return static_cast<int>((c >> 16) & 0xFF); }

inline QColor ToQColor(TColor c) { return QColor(GetRValue(c), GetGValue(c), GetBValue(c)); }
inline TColor FromQColor(const QColor& q) { return RGBColor(q.red(), q.green(), q.blue()); }

constexpr TColor clBlack = RGBColor(0, 0, 0);
constexpr TColor clWhite = RGBColor(255, 255, 255);
constexpr TColor clRed = RGBColor(255, 0, 0);
constexpr TColor clGreen = RGBColor(0, 128, 0);
constexpr TColor clLime = RGBColor(0, 255, 0);
constexpr TColor clBlue = RGBColor(0, 0, 255);
constexpr TColor clNavy = RGBColor(0, 0, 128);
constexpr TColor clYellow = RGBColor(255, 255, 0);
constexpr TColor clSilver = RGBColor(192, 192, 192);
constexpr TColor clGray = RGBColor(128, 128, 128);
constexpr TColor clAqua = RGBColor(0, 255, 255);
constexpr TColor clFuchsia = RGBColor(255, 0, 255);
constexpr TColor clMaroon = RGBColor(128, 0, 0);
constexpr TColor clTeal = RGBColor(0, 128, 128);
constexpr TColor clPurple = RGBColor(128, 0, 128);
constexpr TColor clOlive = RGBColor(128, 128, 0);
