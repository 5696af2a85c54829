// Feeds arbitrary bytes to the GIF reader, then composes and re-writes whatever loaded.

#include <QImage>
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
        if (!gif.Empty()) {
            const std::vector<uint8_t> bytes = gif.SaveToMemory();
            GifDocument again;
            again.LoadFromMemory(bytes.data(), bytes.size());
        }
    } catch (const GIFException&) {
    }
    return 0;
}
