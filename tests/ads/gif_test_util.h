#pragma once
// Helpers shared by the GIF tests: building documents and capturing warnings.

#include <sys/wait.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "gif_image.h"

// Collects the module's warnings while alive.
class WarningCapture {
public:
    WarningCapture()
    {
        SetGifWarningHandler([this](const std::string& m) { messages.push_back(m); });
    }
    ~WarningCapture() { SetGifWarningHandler(nullptr); }
    bool Has(const std::string& text) const
    {
        for (const auto& m : messages)
            if (m.find(text) != std::string::npos)
                return true;
        return false;
    }
    std::vector<std::string> messages;
};

// A palette of 2^bits distinct colours.
inline std::vector<GifRgb> TestPalette(int bits)
{
    std::vector<GifRgb> palette;
    for (int i = 0; i < (1 << bits); ++i)
        palette.push_back(0xFF000000u | uint32_t(i * 0x010305 + 0x203040));
    return palette;
}

// Pixels of `colors` colours: random ones or long runs.
inline std::vector<uint8_t> TestPixels(int width, int height, int colors, bool runs, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> pixels(size_t(width) * size_t(height));
    uint8_t value = 0;
    for (size_t i = 0; i < pixels.size(); ++i) {
        if (!runs || rng() % 97 == 0)
            value = uint8_t(rng() % uint32_t(colors));
        pixels[i] = value;
    }
    return pixels;
}

// Adds one frame with the given pixels and an optional local table.
inline TGIFSubImage& AddTestFrame(GifDocument& gif, int left, int top, int width, int height,
                                  const std::vector<uint8_t>& pixels, bool interlaced = false,
                                  const std::vector<GifRgb>& localTable = {})
{
    auto frame = std::make_unique<TGIFSubImage>(&gif);
    frame->SetBounds(left, top, width, height);
    frame->Data() = pixels;
    frame->SetInterlaced(interlaced);
    if (!localTable.empty())
        frame->ColorMap().ImportPalette(localTable);
    TGIFSubImage& added = *frame;
    gif.Images.Add(std::move(frame));
    return added;
}

inline std::vector<uint8_t> Bytes(std::initializer_list<int> values)
{
    std::vector<uint8_t> out;
    for (int v : values)
        out.push_back(uint8_t(v));
    return out;
}

inline void Append(std::vector<uint8_t>& to, const std::vector<uint8_t>& more)
{
    to.insert(to.end(), more.begin(), more.end());
}

// "GIF89a", a w x h screen with a 4-colour global table (black, white, red, green).
inline std::vector<uint8_t> TestHeader(int w, int h)
{
    return Bytes({'G', 'I', 'F', '8', '9', 'a', w & 0xFF, w >> 8, h & 0xFF, h >> 8, 0xF1, 0, 0,
                  0, 0, 0, 255, 255, 255, 255, 0, 0, 0, 255, 0});
}

// An image descriptor without local table.
inline std::vector<uint8_t> TestDescriptor(int left, int top, int w, int h, int flags = 0)
{
    return Bytes({',', left & 0xFF, left >> 8, top & 0xFF, top >> 8, w & 0xFF, w >> 8, h & 0xFF, h >> 8, flags});
}

// Packs codes LSB first with a fixed width and frames them as one sub-block per `blockSize`.
inline std::vector<uint8_t> PackCodes(int minCodeSize, const std::vector<std::pair<int, int>>& codes,
                                      size_t blockSize = 255)
{
    std::vector<uint8_t> raw;
    uint32_t acc = 0;
    int bits = 0;
    for (auto [code, width] : codes) {
        acc |= uint32_t(code) << bits;
        bits += width;
        while (bits >= 8) {
            raw.push_back(uint8_t(acc));
            acc >>= 8;
            bits -= 8;
        }
    }
    if (bits > 0)
        raw.push_back(uint8_t(acc));
    std::vector<uint8_t> out{uint8_t(minCodeSize)};
    for (size_t at = 0; at < raw.size(); at += blockSize) {
        const size_t n = std::min(blockSize, raw.size() - at);
        out.push_back(uint8_t(n));
        out.insert(out.end(), raw.begin() + long(at), raw.begin() + long(at + n));
    }
    out.push_back(0);
    return out;
}

// Runs the gifframes tool as a user does, with fixed, quoted arguments; its exit status (-1 when
// it did not exit) and its output.
inline int RunGifFrames(const std::string& args, std::string& out)
{
    const std::string command = "'" + std::string(VN_BINARY_DIR) + "/gifframes' " + args + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return -1;
    std::array<char, 256> buf{};
    out.clear();
    while (size_t n = fread(buf.data(), 1, buf.size(), pipe))
        out.append(buf.data(), n);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
