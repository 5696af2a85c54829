#pragma once
// Frame rendering: cached bitmaps, transparency masks, drawing, and the composition of
// animation frames by their disposal methods.

#include <QImage>
#include <QRect>
#include <vector>

#include "gif_image.h"

// What a frame keeps of its rendering, each part made when first asked for. Drawing needs only
// the full-colour picture; the indexed bitmap and the mask are made for their callers.
struct GifRenderCache {
    QImage bitmap;             // Format_Indexed8; null until GetBitmap
    QImage mask;               // Format_Mono, 1 = transparent; null when no pixel is
    bool maskBuilt = false;
    QImage drawable;           // ARGB32_Premultiplied as drawn; null until drawn
    bool drawableMasked = false;  // transparent pixels cleared in `drawable`
    std::vector<GifRgb> palette;
    bool paletteBuilt = false;
    uint64_t lastUse = 0;
};
size_t GifRenderCacheBytes(const GifRenderCache& cache);

// Reports a row-by-row operation of `image` ("Rendering...", "Converting..."): the starting
// stage, a running stage every 32 rows, and the ending stage with 100 once Done, else 0.
class GifRowProgress {
public:
    GifRowProgress(const GifDocument* image, const char* message, int rows);
    ~GifRowProgress();
    GifRowProgress(const GifRowProgress&) = delete;
    GifRowProgress& operator=(const GifRowProgress&) = delete;
    void Row(int y);
    void Done() { done_ = true; }

private:
    const GifDocument* image_;
    const char* message_;
    int rows_;
    bool done_ = false;
};

// A full-colour picture of w x h: "Image too large" past kMaxGifArea, "Out of system resources"
// when it cannot be had.
QImage GifPicture(int w, int h, QImage::Format format = QImage::Format_ARGB32_Premultiplied);

// The colour of an index in a table as drawn: an index outside the table uses entry 0, and a
// frame without any table draws black.
GifRgb GifDrawColor(const TGIFColorMap& map, int index);

// Composes the animation as a viewer shows it: one picture of the logical screen per non-empty
// frame, after that frame is drawn over what the earlier frames' disposal methods left.
// Pixels no frame has covered are transparent; "restore to background" clears the frame's area
// to transparent; "restore to previous" puts back what was there before the frame. Reserved
// disposal values (4..7) keep the frame like "do not dispose" (DisposalAsPlayed). Frames are
// clipped to the screen.
class GifCompositor {
public:
    explicit GifCompositor(const GifDocument& document);
    // The next composed frame; a null image when every frame has been shown.
    QImage Next();
    // Index of the frame that Next() returned last.
    int FrameIndex() const { return lastFrame_; }

private:
    const GifDocument& document_;
    QImage canvas_;
    QImage previous_;
    QRect pendingArea_;
    int pendingDisposal_ = 0;
    int next_ = 0;
    int lastFrame_ = -1;
};

std::vector<QImage> RenderAnimationFrames(const GifDocument& document);
