// GIF decoding and encoding speed beside giflib in the same run.
//   decode: megapixels per second, ours (GifDocument::LoadFromMemory) vs DGifSlurp
//   encode: megapixels per second and bytes, ours (GifCompress) vs EGifPutLine

#include <gif_lib.h>
#include "giflib_memory.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "gif_image.h"
#include "lzw.h"

#include "best_time.h"

namespace {

struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> pixels;
};

struct Workload {
    std::string name;
    std::vector<Picture> frames;
    bool interlaced = false;
    std::vector<uint8_t> file;  // written by giflib, decoded by both
};

Picture Natural(int w, int h, uint32_t seed)
{
    // Smooth shapes with a little noise: a photo-like 8-bit picture.
    std::mt19937 rng(seed);
    Picture p{w, h, std::vector<uint8_t>(size_t(w) * size_t(h))};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double v = 96 + 60 * std::sin(x * 0.013 + seed) * std::cos(y * 0.017) + 40 * std::sin((x + y) * 0.003);
            p.pixels[size_t(y) * size_t(w) + size_t(x)] = uint8_t(std::clamp(int(v) + int(rng() % 5), 0, 255));
        }
    return p;
}

Picture Random(int w, int h, uint32_t seed)
{
    std::mt19937 rng(seed);
    Picture p{w, h, std::vector<uint8_t>(size_t(w) * size_t(h))};
    for (auto& v : p.pixels)
        v = uint8_t(rng());
    return p;
}

Picture Banner(int frame)
{
    // Flat areas, a moving bar and text-like strokes, as in an advertising banner.
    Picture p{468, 60, std::vector<uint8_t>(468 * 60)};
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 468; ++x) {
            uint8_t v = uint8_t(16 + (y / 6) * 3);
            if (std::abs(x - (frame * 7) % 468) < 20)
                v = 200;
            if ((x / 3 + y / 4 + frame) % 11 == 0 && y > 20 && y < 40)
                v = uint8_t(250 - (x % 7));
            p.pixels[size_t(y) * 468 + size_t(x)] = v;
        }
    return p;
}

std::vector<GifColorType> GreyTable()
{
    std::vector<GifColorType> colors(256);
    for (int i = 0; i < 256; ++i)
        colors[size_t(i)] = {GifByteType(i), GifByteType(i), GifByteType(i)};
    return colors;
}

std::vector<uint8_t> GiflibEncode(const Workload& w)
{
    std::vector<uint8_t> out;
    int error = 0;
    GifFileType* file = EGifOpen(&out, WriteMemory, &error);
    auto colors = GreyTable();
    ColorMapObject* map = GifMakeMapObject(256, colors.data());
    EGifSetGifVersion(file, true);
    EGifPutScreenDesc(file, w.frames[0].width, w.frames[0].height, 8, 0, map);
    for (const Picture& p : w.frames) {
        EGifPutImageDesc(file, 0, 0, p.width, p.height, w.interlaced, nullptr);
        for (int row = 0; row < p.height; ++row) {
            const int source = w.interlaced ? InterlacedRow(row, p.height) : row;
            EGifPutLine(file, const_cast<GifPixelType*>(&p.pixels[size_t(source) * size_t(p.width)]), p.width);
        }
    }
    EGifCloseFile(file, &error);
    GifFreeMapObject(map);
    return out;
}

size_t OurEncode(const Workload& w)
{
    size_t bytes = 0;
    std::vector<uint8_t> out;
    for (const Picture& p : w.frames) {
        out.clear();
        GifCompress(out, compressLZW, 8, 256, p.pixels.data(), w.interlaced, p.height, p.width);
        bytes += out.size() + 10;  // plus the image descriptor
    }
    return bytes;
}

void GiflibDecode(const std::vector<uint8_t>& file)
{
    MemoryIn in{&file};
    int error = 0;
    GifFileType* gif = DGifOpen(&in, ReadMemory, &error);
    if (!gif || DGifSlurp(gif) != GIF_OK) {
        std::fprintf(stderr, "giflib failed to decode\n");
        std::exit(1);
    }
    DGifCloseFile(gif, &error);
}

void OurDecode(const std::vector<uint8_t>& file)
{
    GifDocument gif;
    gif.LoadFromMemory(file.data(), file.size());
    if (gif.Images.Count() == 0) {
        std::fprintf(stderr, "our decoder failed\n");
        std::exit(1);
    }
}

double Time(const std::function<void()>& run, double minimum = 0.3)
{
    return BestSeconds(run, minimum);
}

double Megapixels(const Workload& w)
{
    double n = 0;
    for (const Picture& p : w.frames)
        n += double(p.width) * p.height;
    return n / 1e6;
}

}  // namespace

int main()
{
    std::vector<Workload> workloads;
    workloads.push_back({"large frame 2000x2000", {Natural(2000, 2000, 1)}, false, {}});
    workloads.push_back({"interlaced 2000x2000", {Natural(2000, 2000, 2)}, true, {}});
    {
        Workload banner{"banner 200 x 468x60", {}, false, {}};
        for (int i = 0; i < 200; ++i)
            banner.frames.push_back(Banner(i));
        workloads.push_back(std::move(banner));
    }
    workloads.push_back({"random 1000x1000", {Random(1000, 1000, 3)}, false, {}});
    for (Workload& w : workloads)
        w.file = GiflibEncode(w);

    std::printf("%-24s %12s %12s %8s\n", "decode (Mpx/s)", "ours", "giflib", "ratio");
    for (const Workload& w : workloads) {
        const double ours = Megapixels(w) / Time([&] { OurDecode(w.file); });
        const double ref = Megapixels(w) / Time([&] { GiflibDecode(w.file); });
        std::printf("%-24s %12.1f %12.1f %8.2f\n", w.name.c_str(), ours, ref, ours / ref);
    }
    std::printf("\n%-24s %12s %12s %8s %12s %12s %8s\n", "encode", "ours Mpx/s", "giflib Mpx/s", "ratio",
                "ours bytes", "giflib bytes", "size");
    for (const Workload& w : workloads) {
        size_t ourBytes = 0;
        const double ours = Megapixels(w) / Time([&] { ourBytes = OurEncode(w); });
        std::vector<uint8_t> ref;
        const double refSpeed = Megapixels(w) / Time([&] { ref = GiflibEncode(w); });
        // Compare the image data alone: take giflib's file less its header and table.
        const size_t refBytes = ref.size() - 13 - 768 - 1;
        std::printf("%-24s %12.1f %12.1f %8.2f %12zu %12zu %8.3f\n", w.name.c_str(), ours, refSpeed,
                    ours / refSpeed, ourBytes, refBytes, double(ourBytes) / double(refBytes));
    }
    return 0;
}
