#include "gif_render.h"

#include <QPainter>
#include <algorithm>
#include <cstring>

#include "dither.h"
#include "palette.h"
#include "palette_lookup.h"

GifRgb GifDrawColor(const TGIFColorMap& map, int index)
{
    const auto& entries = map.Entries();
    if (entries.empty())
        return 0xFF000000u;
    if (index < 0 || index >= int(entries.size()))
        index = 0;
    return entries[size_t(index)].Rgb();
}

namespace {

// Rounded a * b / c, like the platform's multiply-divide.
int MulDiv(int a, int b, int c)
{
    if (c == 0)
        return -1;
    const long long product = static_cast<long long>(a) * b;
    const long long half = (c > 0 ? c : -c) / 2;
    return int(product >= 0 ? (product + half) / c : (product - half) / c);
}

}  // namespace

GifRowProgress::GifRowProgress(const GifDocument* image, const char* message, int rows)
    : image_(image), message_(message), rows_(rows > 0 ? rows : 1)
{
    if (image_)
        image_->Progress(psStarting, 0, message_);
}

void GifRowProgress::Row(int y)
{
    if (image_ && y % 32 == 0)
        image_->Progress(psRunning, int(static_cast<long long>(y) * 100 / rows_), message_);
}

GifRowProgress::~GifRowProgress()
{
    try {
        if (image_)
            image_->Progress(psEnding, done_ ? 100 : 0, message_);
    } catch (...) {
        // A failing handler must not end the program from here.
    }
}

namespace {

// Calls fn(y, row) with each row of colour indices as drawn: the frame's own pixels, or
// dithered to the web-safe palette, where transparent pixels keep one fill index.
template <typename Fn>
void IndexRows(const TGIFSubImage& frame, bool dithered, Fn&& fn)
{
    const int w = frame.Width(), h = frame.Height();
    const uint8_t* pixels = frame.Data().data();
    GifRowProgress progress(frame.Image(), "Rendering...", h);
    if (!dithered) {
        for (int y = 0; y < h; ++y) {
            progress.Row(y);
            fn(y, pixels + size_t(y) * size_t(w));
        }
        progress.Done();
        return;
    }
    const TGIFColorMap& map = frame.ActiveColorMap();
    TNetscapeColorLookup lookup;
    TFloydSteinbergDitherer ditherer(w, lookup);
    const int transparentIndex = frame.TransparentIndex();
    uint8_t fill = 0;
    if (transparentIndex >= 0) {
        const GifRgb c = GifDrawColor(map, transparentIndex);
        RgbTriple chosen;
        fill = uint8_t(lookup.Lookup(qRed(c), qGreen(c), qBlue(c), chosen));
    }
    std::vector<uint8_t> out(static_cast<size_t>(w));
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = pixels + size_t(y) * size_t(w);
        std::fill(out.begin(), out.end(), fill);
        for (int i = 0; i < w; ++i) {
            const int x = ditherer.Column();
            if (row[x] == transparentIndex) {
                ditherer.Skip();
                continue;
            }
            const GifRgb c = GifDrawColor(map, row[x]);
            RgbTriple chosen;
            out[size_t(x)] = uint8_t(ditherer.Dither(qRed(c), qGreen(c), qBlue(c), chosen));
        }
        ditherer.NextLine();
        progress.Row(y);
        fn(y, out.data());
    }
    progress.Done();
}

bool Dithered(const TGIFSubImage& frame) { return frame.Image() && frame.Image()->RenderDithered(); }

// The 256 colours of the indices IndexRows gives.
QList<QRgb> DrawTable(const TGIFSubImage& frame, bool dithered)
{
    QList<QRgb> table(256, 0xFF000000u);
    if (dithered) {
        const Palette webSafe = NetscapePalette();
        for (size_t i = 0; i < webSafe.size() && i < 256; ++i)
            table[qsizetype(i)] = webSafe[i];
    } else if (frame.HasOwnPalette()) {
        const std::vector<GifRgb>& own = frame.OwnPalette();
        for (int i = 0; i < 256; ++i)
            table[i] = (size_t(i) < own.size() ? own[size_t(i)] : own[0]) | 0xFF000000u;
    } else {
        const TGIFColorMap& map = frame.ActiveColorMap();
        for (int i = 0; i < 256; ++i)
            table[i] = GifDrawColor(map, i);
    }
    return table;
}

// The frame's cache, marked as used now, after making room for `bytes` more.
GifRenderCache& UseCache(TGIFSubImage& frame, size_t bytes)
{
    GifDocument* image = frame.Image();
    if (image && bytes > 0)
        image->ReserveRenderCache(&frame, bytes);
    GifRenderCache& cache = frame.RenderCache();
    if (image)
        cache.lastUse = image->NextRenderUse();
    return cache;
}

void BuildPalette(TGIFSubImage& frame, GifRenderCache& cache)
{
    if (cache.paletteBuilt)
        return;
    if (Dithered(frame)) {
        const Palette webSafe = NetscapePalette();
        cache.palette.assign(webSafe.begin(), webSafe.end());
    } else if (frame.HasOwnPalette()) {
        cache.palette = frame.OwnPalette();
    } else {
        cache.palette = frame.ActiveColorMap().ExportPalette();
    }
    cache.paletteBuilt = true;
}

GifRenderCache& BuildBitmap(TGIFSubImage& frame)
{
    const int w = frame.Width(), h = frame.Height();
    GifRenderCache* cache = frame.CachedRender() ? &frame.RenderCache() : nullptr;
    if (cache && !cache->bitmap.isNull())
        return UseCache(frame, 0);
    cache = &UseCache(frame, size_t(w) * size_t(h));
    BuildPalette(frame, *cache);
    if (w <= 0 || h <= 0)
        return *cache;
    QImage bitmap = GifPicture(w, h, QImage::Format_Indexed8);
    if (frame.Empty()) {
        bitmap.fill(0);
        bitmap.setColorTable(QList<QRgb>(256, 0xFF000000u));
    } else {
        const bool dithered = Dithered(frame);
        bitmap.setColorTable(DrawTable(frame, dithered));
        IndexRows(frame, dithered, [&](int y, const uint8_t* row) { std::memcpy(bitmap.scanLine(y), row, size_t(w)); });
    }
    cache->bitmap = bitmap;
    return *cache;
}

GifRenderCache& BuildMask(TGIFSubImage& frame)
{
    GifRenderCache* cache = frame.CachedRender() ? &frame.RenderCache() : nullptr;
    if (cache && cache->maskBuilt)
        return UseCache(frame, 0);
    const int transparentIndex = frame.TransparentIndex();
    const int w = frame.Width(), h = frame.Height();
    cache = &UseCache(frame, transparentIndex >= 0 && !frame.Empty() ? size_t(w + 7) / 8 * size_t(h) : 0);
    cache->maskBuilt = true;
    cache->mask = QImage();
    if (transparentIndex < 0 || frame.Empty())
        return *cache;
    QImage mask(w, h, QImage::Format_Mono);
    if (mask.isNull())
        throw GIFException("Out of system resources");
    mask.fill(0);
    bool any = false;
    const uint8_t* pixels = frame.Data().data();
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = pixels + size_t(y) * size_t(w);
        uchar* bits = mask.scanLine(y);
        for (int x = 0; x < w; ++x)
            if (row[x] == transparentIndex) {
                bits[x >> 3] |= uchar(0x80 >> (x & 7));
                any = true;
            }
    }
    if (any)
        cache->mask = mask;
    return *cache;
}

// The frame as drawn, in full colour; with `masked` its transparent pixels are cleared.
const QImage& BuildDrawable(TGIFSubImage& frame, bool masked)
{
    GifRenderCache* cache = frame.CachedRender() ? &frame.RenderCache() : nullptr;
    if (cache && !cache->drawable.isNull() && cache->drawableMasked == masked)
        return UseCache(frame, 0).drawable;
    const int w = frame.Width(), h = frame.Height();
    if (cache)
        cache->drawable = QImage();
    cache = &UseCache(frame, size_t(w) * size_t(h) * 4);
    QImage drawable = GifPicture(w, h);
    const bool dithered = Dithered(frame);
    const QList<QRgb> table = DrawTable(frame, dithered);
    const int transparentIndex = masked ? frame.TransparentIndex() : -1;
    const uint8_t* pixels = frame.Data().data();
    IndexRows(frame, dithered, [&](int y, const uint8_t* row) {
        const uint8_t* own = pixels + size_t(y) * size_t(w);
        auto* out = reinterpret_cast<QRgb*>(drawable.scanLine(y));
        for (int x = 0; x < w; ++x)
            out[x] = own[x] == transparentIndex ? 0u : table[row[x]];
    });
    cache->drawable = drawable;
    cache->drawableMasked = masked;
    return cache->drawable;
}

}  // namespace

size_t GifRenderCacheBytes(const GifRenderCache& cache)
{
    return size_t(cache.bitmap.sizeInBytes()) + size_t(cache.mask.sizeInBytes()) +
           size_t(cache.drawable.sizeInBytes()) + cache.palette.size() * sizeof(GifRgb);
}

QImage GifPicture(int w, int h, QImage::Format format)
{
    if (static_cast<long long>(w) * h > kMaxGifArea)
        throw GIFException("Image too large: " + std::to_string(w) + " x " + std::to_string(h) +
                           " pixels exceeds the limit of " + std::to_string(kMaxGifArea) + " pixels");
    QImage picture(w, h, format);
    if (picture.isNull() && w > 0 && h > 0)
        throw GIFException("Out of system resources");
    return picture;
}

QImage TGIFSubImage::GetBitmap() { return BuildBitmap(*this).bitmap; }

void TGIFSubImage::SetBitmap(const QImage& bitmap)
{
    DropRenderCache();
    if (!bitmap.isNull())
        Assign(bitmap);
}

bool TGIFSubImage::HasMask() { return !BuildMask(*this).mask.isNull(); }

QImage TGIFSubImage::Mask() { return BuildMask(*this).mask; }

std::vector<GifRgb> TGIFSubImage::GetPalette()
{
    GifRenderCache& cache = UseCache(*this, 0);
    BuildPalette(*this, cache);
    return cache.palette;
}

void TGIFSubImage::PrepareDrawing(bool transparent)
{
    if (!Empty())
        BuildDrawable(*this, transparent && TransparentIndex() >= 0);
}

QRect TGIFSubImage::ScaleRect(const QRect& rect) const
{
    const int imageWidth = image_ ? image_->Width() : width_;
    const int imageHeight = image_ ? image_->Height() : height_;
    if (imageWidth <= 0 || imageHeight <= 0)
        return rect;
    const int left = rect.left() + MulDiv(left_, rect.width(), imageWidth);
    const int top = rect.top() + MulDiv(top_, rect.height(), imageHeight);
    const int right = rect.left() + MulDiv(left_ + width_, rect.width(), imageWidth);
    const int bottom = rect.top() + MulDiv(top_ + height_, rect.height(), imageHeight);
    return QRect(QPoint(left, top), QSize(right - left, bottom - top));
}

void TGIFSubImage::Draw(QPainter& painter, const QRect& rect, bool tile, bool transparent)
{
    StretchDraw(painter, tile ? rect : ScaleRect(rect), tile, transparent);
}

void TGIFSubImage::StretchDraw(QPainter& painter, const QRect& rect, bool tile, bool transparent)
{
    if (Empty())
        return;
    // A transparent frame without a transparent pixel draws the same either way.
    const QImage& source = BuildDrawable(*this, transparent && TransparentIndex() >= 0);
    if (!tile) {
        painter.drawImage(rect, source);
        return;
    }
    const int imageWidth = image_ && image_->Width() > 0 ? image_->Width() : width_;
    const int imageHeight = image_ && image_->Height() > 0 ? image_->Height() : height_;
    painter.save();
    painter.setClipRect(rect, Qt::IntersectClip);
    for (int top = rect.top() + top_; top <= rect.bottom(); top += imageHeight)
        for (int left = rect.left() + left_; left <= rect.right(); left += imageWidth)
            painter.drawImage(QRect(left, top, width_, height_), source);
    painter.restore();
}

// ---------------------------------------------------------------- composition

GifCompositor::GifCompositor(const GifDocument& document) : document_(document) {}

QImage GifCompositor::Next()
{
    const int count = document_.Images.Count();
    while (next_ < count && document_.Images[next_].Empty())
        ++next_;
    const int w = document_.Width(), h = document_.Height();
    if (next_ >= count || w <= 0 || h <= 0)
        return QImage();
    if (canvas_.isNull()) {
        // The screen is allocated only once there is a frame to show on it.
        canvas_ = GifPicture(w, h, QImage::Format_ARGB32);
        canvas_.fill(0);
    }

    // Dispose of the frame shown last.
    if (pendingDisposal_ == dmBackground) {
        for (int y = pendingArea_.top(); y <= pendingArea_.bottom(); ++y)
            std::fill_n(reinterpret_cast<QRgb*>(canvas_.scanLine(y)) + pendingArea_.left(),
                        pendingArea_.width(), 0u);
    } else if (pendingDisposal_ == dmPrevious && !previous_.isNull()) {
        canvas_ = previous_;
    }

    const TGIFSubImage& frame = document_.Images[next_];
    lastFrame_ = next_++;
    const auto* gce = frame.GraphicControlExtension();
    const int disposal = gce ? DisposalAsPlayed(gce->Disposal()) : 0;
    const QRect area = QRect(frame.Left(), frame.Top(), frame.Width(), frame.Height()) & canvas_.rect();
    if (disposal == dmPrevious)
        previous_ = canvas_.copy();
    pendingDisposal_ = disposal;
    pendingArea_ = area;

    if (!area.isEmpty()) {
        const TGIFColorMap& map = frame.ActiveColorMap();
        QRgb colors[256];
        for (int i = 0; i < 256; ++i)
            colors[i] = GifDrawColor(map, i);
        const int transparentIndex = frame.TransparentIndex();
        const int w = frame.Width();
        for (int y = area.top(); y <= area.bottom(); ++y) {
            const uint8_t* src = frame.Data().data() + size_t(y - frame.Top()) * size_t(w) +
                                 size_t(area.left() - frame.Left());
            QRgb* dst = reinterpret_cast<QRgb*>(canvas_.scanLine(y)) + area.left();
            for (int x = 0; x < area.width(); ++x)
                if (src[x] != transparentIndex)
                    dst[x] = colors[src[x]];
        }
    }
    return canvas_.copy();
}

std::vector<QImage> RenderAnimationFrames(const GifDocument& document)
{
    std::vector<QImage> frames;
    GifCompositor compositor(document);
    for (QImage image = compositor.Next(); !image.isNull(); image = compositor.Next())
        frames.push_back(image);
    return frames;
}
