#pragma once
// The dithering choice made for every new GIF image. The GIF image class lives above this
// library, so it installs the hook that applies the choice to its objects.
#include <functional>

class TAnimGif;

// Applies the choice to an image: its dithering option := dither, automatic dithering off.
using GifDitheringHook = std::function<void(TAnimGif* image, bool dither)>;
void SetGifDitheringHook(GifDitheringHook hook);

// Dithering pays off on screens of 10 or fewer bits per pixel.
bool DitherForScreenDepth(int bitsPerPixel);
// The primary screen's depth (24 when there is no screen); off the main thread, the last
// depth the main thread saw.
int ScreenDepth();

// Tests feed a screen depth in; 0 goes back to the real screen's.
void OverrideScreenDepth(int bitsPerPixel);

// Called on every GIF image right after it is created.
void SetGifDithering(TAnimGif* image);
