#include <QImage>
#include <algorithm>
#include <array>
#include <cstring>

#include "colour_reduction.h"
#include "gif_render.h"

namespace {

// Index of the entry nearest to `index` (sum of absolute differences), other than itself.
int NearestOther(const std::vector<TGIFColor>& colors, int index)
{
    int best = -1, bestDistance = 1 << 30;
    const TGIFColor c = colors[size_t(index)];
    for (int i = 0; i < int(colors.size()); ++i) {
        if (i == index)
            continue;
        const TGIFColor o = colors[size_t(i)];
        const int d = std::abs(c.Red - o.Red) + std::abs(c.Green - o.Green) + std::abs(c.Blue - o.Blue);
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
        }
    }
    return best;
}

}  // namespace

void TGIFSubImage::Assign(const QImage& picture)
{
    Clear();
    if (picture.isNull())
        return;
    const int w = picture.width(), h = picture.height();
    SetBounds(0, 0, w, h);

    QImage source = picture;
    const QImage::Format format = source.format();
    const bool indexed = format == QImage::Format_Mono || format == QImage::Format_MonoLSB ||
                         format == QImage::Format_Indexed8;
    if (!indexed) {
        const int reduction = image_ ? int(image_->ColorReduction) : int(reduceNetscape);
        const int dither = image_ ? int(image_->DitherMode) : int(ditherNone);
        const int bits = image_ ? image_->ReductionBits : 8;
        QImage reduced = ReduceColors(source.convertToFormat(QImage::Format_RGB32), reduction, dither,
                                      Palette(), bits);
        if (reduced.isNull())
            throw GIFException("Unsupported PixelFormat");
        source = reduced;
    } else if (format != QImage::Format_Indexed8) {
        source = source.convertToFormat(QImage::Format_Indexed8, source.colorTable());
    }

    // Transparency from the picture's alpha: hidden pixels take no colour of their own.
    std::vector<uint8_t>& pixels = Data();
    std::vector<uint8_t> hidden(pixels.size(), 0);
    bool anyHidden = false;
    if (picture.hasAlphaChannel()) {
        const QImage alpha = picture.convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < h; ++y) {
            const auto* row = reinterpret_cast<const QRgb*>(alpha.constScanLine(y));
            for (int x = 0; x < w; ++x)
                if (qAlpha(row[x]) < 128) {
                    hidden[size_t(y) * size_t(w) + size_t(x)] = 1;
                    anyHidden = true;
                }
        }
    }

    GifRowProgress progress(image_, "Converting...", h);
    if (source.format() == QImage::Format_Indexed8) {
        std::vector<GifRgb> palette;
        for (QRgb c : source.colorTable())
            palette.push_back(c | 0xFF000000u);
        ColorMap().ImportPalette(palette);
        for (int y = 0; y < h; ++y) {
            progress.Row(y);
            std::memcpy(pixels.data() + size_t(y) * size_t(w), source.constScanLine(y), size_t(w));
        }
    } else {
        // No reduction: collect the colours as they come ("Color table overflow" past 256).
        const QImage rgb = source.convertToFormat(QImage::Format_RGB32);
        for (int y = 0; y < h; ++y) {
            progress.Row(y);
            const auto* row = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
            for (int x = 0; x < w; ++x) {
                const size_t i = size_t(y) * size_t(w) + size_t(x);
                pixels[i] = hidden[i] ? 0 : uint8_t(ColorMap().AddUnique(row[x] | 0xFF000000u));
            }
        }
    }
    progress.Done();

    if (!anyHidden || ColorMap().Count() == 0)
        return;

    ColorMap().Optimize();
    // Choose the transparent entry: one no visible pixel uses, else a new one, else (a full
    // table) the least used entry, whose pixels move to their nearest other colour. Visible
    // pixels never become transparent.
    std::array<uint64_t, 256> visibleUse{};
    for (size_t i = 0; i < pixels.size(); ++i)
        if (!hidden[i])
            ++visibleUse[pixels[i]];
    const int count = ColorMap().Count();
    int slot = -1;
    for (int i = 0; i < count && slot < 0; ++i)
        if (visibleUse[size_t(i)] == 0)
            slot = i;
    if (slot < 0 && count < 256)
        slot = ColorMap().Add(0xFF000000u);
    if (slot < 0) {
        slot = int(std::min_element(visibleUse.begin(), visibleUse.begin() + count) - visibleUse.begin());
        const uint8_t target = uint8_t(NearestOther(ColorMap().Entries(), slot));
        for (size_t i = 0; i < pixels.size(); ++i)
            if (!hidden[i] && pixels[i] == slot)
                pixels[i] = target;
    }
    for (size_t i = 0; i < pixels.size(); ++i)
        if (hidden[i])
            pixels[i] = uint8_t(slot);
    auto gce = std::make_unique<TGIFGraphicControlExtension>(this);
    gce->SetTransparent(true);
    gce->TransparentIndex = uint8_t(slot);
    AddExtension(std::move(gce));
    DropRenderCache();
}
