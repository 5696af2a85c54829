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

void BuildMask(TGIFSubImage& frame, GifRenderCache& cache, const uint8_t* pixels)
{
    cache.mask = QImage();
    const int transparentIndex = frame.TransparentIndex();
    if (transparentIndex < 0)
        return;
    const int w = frame.Width(), h = frame.Height();
    QImage mask(w, h, QImage::Format_Mono);
    mask.fill(0);
    bool any = false;
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
        cache.mask = mask;
}

void Build(TGIFSubImage& frame)
{
    GifRenderCache& cache = frame.RenderCache();
    if (cache.built)
        return;
    const int w = frame.Width(), h = frame.Height();
    const TGIFColorMap& map = frame.ActiveColorMap();
    const bool dithered = frame.Image() && frame.Image()->RenderDithered();
    if (frame.Empty()) {
        cache.palette = map.ExportPalette();
        cache.bitmap = w > 0 && h > 0 ? QImage(w, h, QImage::Format_Indexed8) : QImage();
        if (!cache.bitmap.isNull()) {
            cache.bitmap.fill(0);
            cache.bitmap.setColorTable(QList<QRgb>(256, 0xFF000000u));
        }
        cache.built = true;
        return;
    }
    const uint8_t* pixels = frame.Data().data();
    QImage bitmap(w, h, QImage::Format_Indexed8);
    if (bitmap.isNull())
        throw GIFException("Out of system resources");
    QList<QRgb> table(256);
    if (!dithered) {
        for (int i = 0; i < 256; ++i)
            table[i] = GifDrawColor(map, i);
        bitmap.setColorTable(table);
        for (int y = 0; y < h; ++y)
            std::memcpy(bitmap.scanLine(y), pixels + size_t(y) * size_t(w), size_t(w));
        cache.palette = map.ExportPalette();
    } else {
        const Palette webSafe = NetscapePalette();
        for (int i = 0; i < 256; ++i)
            table[i] = i < int(webSafe.size()) ? webSafe[size_t(i)] : 0xFF000000u;
        bitmap.setColorTable(table);
        TNetscapeColorLookup lookup;
        TFloydSteinbergDitherer ditherer(w, lookup);
        const int transparentIndex = frame.TransparentIndex();
        uint8_t fill = 0;
        if (transparentIndex >= 0) {
            const GifRgb c = GifDrawColor(map, transparentIndex);
            RgbTriple chosen;
            fill = uint8_t(lookup.Lookup(qRed(c), qGreen(c), qBlue(c), chosen));
        }
        for (int y = 0; y < h; ++y) {
            const uint8_t* row = pixels + size_t(y) * size_t(w);
            uchar* out = bitmap.scanLine(y);
            std::memset(out, fill, size_t(w));
            for (int i = 0; i < w; ++i) {
                const int x = ditherer.Column();
                if (row[x] == transparentIndex) {
                    ditherer.Skip();
                    continue;
                }
                const GifRgb c = GifDrawColor(map, row[x]);
                RgbTriple chosen;
                out[x] = uchar(ditherer.Dither(qRed(c), qGreen(c), qBlue(c), chosen));
            }
            ditherer.NextLine();
        }
        cache.palette = webSafe;
    }
    cache.bitmap = bitmap;
    if (frame.Transparent())
        BuildMask(frame, cache, pixels);
    cache.built = true;
}

QImage Drawable(GifRenderCache& cache)
{
    if (cache.drawable.isNull()) {
        QImage argb = cache.bitmap.convertToFormat(QImage::Format_ARGB32);
        const int w = argb.width(), h = argb.height();
        for (int y = 0; y < h; ++y) {
            const uchar* maskRow = cache.mask.constScanLine(y);
            auto* row = reinterpret_cast<QRgb*>(argb.scanLine(y));
            for (int x = 0; x < w; ++x)
                if (maskRow[x >> 3] & (0x80 >> (x & 7)))
                    row[x] = 0;
        }
        cache.drawable = argb;
    }
    return cache.drawable;
}

}  // namespace

QImage TGIFSubImage::GetBitmap()
{
    Build(*this);
    return RenderCache().bitmap;
}

void TGIFSubImage::SetBitmap(const QImage& bitmap)
{
    DropRenderCache();
    if (!bitmap.isNull())
        Assign(bitmap);
}

bool TGIFSubImage::HasMask()
{
    Build(*this);
    return !RenderCache().mask.isNull();
}

QImage TGIFSubImage::Mask()
{
    return HasMask() ? RenderCache().mask : QImage();
}

std::vector<GifRgb> TGIFSubImage::GetPalette()
{
    Build(*this);
    return RenderCache().palette;
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
    Build(*this);
    GifRenderCache& cache = RenderCache();
    const bool masked = transparent && Transparent() && HasMask();
    const QImage& source = masked ? Drawable(cache) : cache.bitmap;
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
        if (static_cast<long long>(w) * h > kMaxGifArea)
            throw GIFException("Image too large: logical screen of " + std::to_string(w) + " x " +
                               std::to_string(h) + " pixels exceeds the limit of " +
                               std::to_string(kMaxGifArea) + " pixels");
        canvas_ = QImage(w, h, QImage::Format_ARGB32);
        if (canvas_.isNull())
            throw GIFException("Out of system resources");
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
    const int disposal = gce ? gce->Disposal() : 0;
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
