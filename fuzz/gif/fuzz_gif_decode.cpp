// Feeds arbitrary bytes to the GIF reader, then composes, draws and re-writes whatever loaded.

#include <QImage>
#include <QPainter>
#include <cstddef>
#include <cstdint>

#include "gif_image.h"
#include "gif_render.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    GifDocument gif;
    try {
        gif.LoadFromMemory(data, size);
    } catch (const GIFException&) {
    }
    try {
        // Composition is linear in screen size times frames; keep each run quick.
        if (static_cast<long long>(gif.Width()) * gif.Height() <= 1 << 20) {
            GifCompositor compositor(gif);
            for (int i = 0; i < 64 && !compositor.Next().isNull(); ++i) {
            }
        }
        // Each small frame drawn as the painter draws it (cached within the render budget),
        // plain, transparent and tiled, and as a bitmap with its mask.
        QImage surface(32, 32, QImage::Format_ARGB32_Premultiplied);
        surface.fill(0);
        QPainter painter(&surface);
        for (int i = 0; i < gif.Images.Count() && i < 16; ++i) {
            TGIFSubImage& frame = gif.Images[i];
            if (static_cast<long long>(frame.Width()) * frame.Height() > 1 << 16)
                continue;
            frame.Draw(painter, surface.rect(), false, true);
            frame.Draw(painter, surface.rect(), true, false);
            frame.GetBitmap();
            frame.HasMask();
        }
        painter.end();
        if (!gif.Empty()) {
            const std::vector<uint8_t> bytes = gif.SaveToMemory();
            GifDocument again;
            again.LoadFromMemory(bytes.data(), bytes.size());
        }
    } catch (const GIFException&) {
    }
    return 0;
}
