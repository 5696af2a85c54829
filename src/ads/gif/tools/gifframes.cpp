// gifframes: writes each composed animation frame of a GIF as PNG, or prints its facts.
//   gifframes in.gif outdir/
//   gifframes --info in.gif

#include <QImage>
#include <cstdio>
#include <filesystem>
#include <string>

#include "gif_image.h"
#include "gif_render.h"

namespace {

int Usage()
{
    std::fprintf(stderr, "usage: gifframes in.gif outdir/\n       gifframes --info in.gif\n");
    return 2;
}

int PrintInfo(const GifDocument& gif)
{
    int frames = 0;
    std::string delays;
    for (const auto& frame : gif.Images) {
        if (frame->Empty())
            continue;
        ++frames;
        const auto* gce = frame->GraphicControlExtension();
        if (!delays.empty())
            delays += ",";
        delays += std::to_string(gce ? gce->Delay() : 0);
    }
    std::printf("size: %d x %d\n", gif.Width(), gif.Height());
    std::printf("frames: %d\n", frames);
    std::printf("delays: %s\n", delays.c_str());
    const TGIFAppExtNSLoop* loop = gif.LoopExtension();
    if (!loop)
        std::printf("loop count: none\n");
    else if (loop->Loops == 0)
        std::printf("loop count: forever\n");
    else
        std::printf("loop count: %u\n", unsigned(loop->Loops));
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    SetGifWarningHandler([](const std::string& message) { std::fprintf(stderr, "warning: %s\n", message.c_str()); });
    const bool info = argc == 3 && std::string(argv[1]) == "--info";
    if (argc != 3)
        return Usage();
    GifDocument gif;
    try {
        gif.LoadFromFile(info ? argv[2] : argv[1]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return 1;
    }
    if (info)
        return PrintInfo(gif);

    const std::filesystem::path outDir = argv[2];
    std::error_code ec;
    std::filesystem::create_directories(outDir, ec);
    int written = 0;
    // A file that loads may still be too large to compose (its screen is allocated here).
    try {
        GifCompositor compositor(gif);
        for (QImage frame = compositor.Next(); !frame.isNull(); frame = compositor.Next()) {
            char name[32];
            std::snprintf(name, sizeof name, "frame%04d.png", written);
            const std::string path = (outDir / name).string();
            if (!frame.save(QString::fromStdString(path), "PNG")) {
                std::fprintf(stderr, "error: cannot write %s\n", path.c_str());
                return 1;
            }
            ++written;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return 1;
    }
    std::printf("%d frames written to %s\n", written, outDir.string().c_str());
    return 0;
}
