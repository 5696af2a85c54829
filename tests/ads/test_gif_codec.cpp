// LZW coding: round trips through our encoder, our decoder and giflib, and the code-stream
// cases every decoder must get right.

#include <gtest/gtest.h>
#include <gif_lib.h>

#include <cstring>

#include "gif_test_util.h"
#include "giflib_memory.h"

namespace {

// Frame pixels as giflib decodes them (rows in display order).
std::vector<std::vector<uint8_t>> DecodeWithGiflib(const std::vector<uint8_t>& bytes)
{
    MemoryIn in{&bytes};
    int error = 0;
    GifFileType* file = DGifOpen(&in, ReadMemory, &error);
    EXPECT_NE(file, nullptr) << GifErrorString(error);
    std::vector<std::vector<uint8_t>> frames;
    if (!file)
        return frames;
    EXPECT_EQ(DGifSlurp(file), GIF_OK) << GifErrorString(file->Error);
    for (int i = 0; i < file->ImageCount; ++i) {
        const SavedImage& image = file->SavedImages[i];
        const size_t n = size_t(image.ImageDesc.Width) * size_t(image.ImageDesc.Height);
        std::vector<uint8_t> pixels(image.RasterBits, image.RasterBits + n);
        // DGifSlurp returns interlaced frames in display order already.
        frames.push_back(pixels);
    }
    DGifCloseFile(file, &error);
    return frames;
}

std::vector<uint8_t> EncodeWithGiflib(int width, int height, int bits, const std::vector<uint8_t>& pixels,
                                      bool interlaced)
{
    std::vector<uint8_t> out;
    int error = 0;
    GifFileType* file = EGifOpen(&out, WriteMemory, &error);
    std::vector<GifColorType> colors(size_t(1) << bits);
    for (size_t i = 0; i < colors.size(); ++i)
        colors[i] = {GifByteType(i), GifByteType(i * 3), GifByteType(255 - i)};
    ColorMapObject* map = GifMakeMapObject(int(colors.size()), colors.data());
    EGifPutScreenDesc(file, width, height, bits, 0, map);
    EGifPutImageDesc(file, 0, 0, width, height, interlaced, nullptr);
    if (interlaced) {
        for (int row = 0; row < height; ++row)
            EGifPutLine(file, const_cast<GifPixelType*>(&pixels[size_t(InterlacedRow(row, height)) * size_t(width)]), width);
    } else {
        for (int row = 0; row < height; ++row)
            EGifPutLine(file, const_cast<GifPixelType*>(&pixels[size_t(row) * size_t(width)]), width);
    }
    EGifCloseFile(file, &error);
    GifFreeMapObject(map);
    return out;
}

struct RoundTrip {
    int bits, width, height;
    bool interlaced, runs;
    TGIFCompression compression;
};

TEST(GifCodec, OurEncodingDecodesIdenticallyWithGiflibAndOurs)
{
    std::vector<RoundTrip> cases;
    for (int bits = 1; bits <= 8; ++bits)
        for (int compression = 0; compression < 2; ++compression) {
            const auto c = TGIFCompression(compression);
            cases.push_back({bits, 97, 61, false, false, c});
            cases.push_back({bits, 97, 61, false, true, c});
            cases.push_back({bits, 64, 45, true, bits % 2 == 0, c});
            cases.push_back({bits, 1, 300, bits % 3 == 0, false, c});
        }
    cases.push_back({8, 640, 480, false, false, compressLZW});  // many table resets
    cases.push_back({8, 640, 480, false, true, compressRLE});
    cases.push_back({2, 1000, 1000, false, true, compressLZW});

    uint32_t seed = 1;
    for (const RoundTrip& c : cases) {
        SCOPED_TRACE("bits " + std::to_string(c.bits) + " " + std::to_string(c.width) + "x" +
                     std::to_string(c.height) + (c.interlaced ? " interlaced" : "") + (c.runs ? " runs" : " random") +
                     (c.compression == compressRLE ? " RLE" : " LZW"));
        GifDocument gif;
        gif.Compression = c.compression;
        gif.Header.ColorMap.ImportPalette(TestPalette(c.bits));
        const auto pixels = TestPixels(c.width, c.height, 1 << c.bits, c.runs, seed++);
        AddTestFrame(gif, 0, 0, c.width, c.height, pixels, c.interlaced);
        const std::vector<uint8_t> bytes = gif.SaveToMemory();

        const auto giflibFrames = DecodeWithGiflib(bytes);
        ASSERT_EQ(giflibFrames.size(), 1u);
        EXPECT_TRUE(giflibFrames[0] == pixels);

        WarningCapture warnings;
        GifDocument back;
        back.LoadFromMemory(bytes.data(), bytes.size());
        ASSERT_EQ(back.Images.Count(), 1);
        EXPECT_TRUE(back.Images[0].Data() == pixels);
        EXPECT_EQ(back.Images[0].DecodedPixels(), pixels.size());
        EXPECT_TRUE(warnings.messages.empty()) << warnings.messages.front();
    }
}

TEST(GifCodec, GiflibEncodingDecodesIdenticallyWithOurs)
{
    uint32_t seed = 100;
    for (int bits = 1; bits <= 8; ++bits)
        for (bool interlaced : {false, true})
            for (bool runs : {false, true}) {
                const int width = bits == 5 ? 1 : 123, height = 77;
                SCOPED_TRACE("bits " + std::to_string(bits) + (interlaced ? " interlaced" : "") + (runs ? " runs" : ""));
                const auto pixels = TestPixels(width, height, 1 << bits, runs, seed++);
                const auto bytes = EncodeWithGiflib(width, height, bits, pixels, interlaced);
                GifDocument gif;
                gif.LoadFromMemory(bytes.data(), bytes.size());
                ASSERT_EQ(gif.Images.Count(), 1);
                EXPECT_TRUE(gif.Images[0].Data() == pixels);
            }
}

// Raw decoding of hand-made code streams (2-bit pixels: clear 4, end 5, first free 6).
std::vector<uint8_t> Decode(const std::vector<uint8_t>& stream, size_t count, size_t* decoded = nullptr,
                            std::vector<std::string>* warnings = nullptr)
{
    std::vector<uint8_t> out(count, 0xEE);
    size_t pos = 0;
    const size_t n = LzwDecode(stream.data(), stream.size(), pos, out.data(), count,
                               [&](const std::string& m) { if (warnings) warnings->push_back(m); });
    if (decoded)
        *decoded = n;
    EXPECT_EQ(pos, stream.size());
    return out;
}

TEST(GifCodec, CodeStreamVariants)
{
    // No leading clear code: decoding starts anyway.
    EXPECT_EQ(Decode(PackCodes(2, {{1, 3}, {2, 3}, {5, 3}}), 2), Bytes({1, 2}));
    // Several clears in a row, and a clear in the middle restarting the table and code size.
    EXPECT_EQ(Decode(PackCodes(2, {{4, 3}, {4, 3}, {4, 3}, {3, 3}, {4, 3}, {0, 3}, {5, 3}}), 2), Bytes({3, 0}));
    // KwKwK: code 6 is being defined when it is used (1, then 1 1, then 1 1 1).
    EXPECT_EQ(Decode(PackCodes(2, {{4, 3}, {1, 3}, {6, 3}, {7, 3}, {5, 4}}), 6), Bytes({1, 1, 1, 1, 1, 1}));
    // Code width grows to 4 bits once the table reaches 8 entries (after the third code).
    EXPECT_EQ(Decode(PackCodes(2, {{4, 3}, {0, 3}, {1, 3}, {2, 3}, {3, 4}, {6, 4}, {5, 4}}), 6),
              Bytes({0, 1, 2, 3, 0, 1}));
}

TEST(GifCodec, CodesSpanningSubBlocksOfAnyLength)
{
    GifDocument gif;
    gif.Header.ColorMap.ImportPalette(TestPalette(8));
    const auto pixels = TestPixels(50, 40, 256, false, 7);
    AddTestFrame(gif, 0, 0, 50, 40, pixels);
    std::vector<uint8_t> encoded;
    GifCompress(encoded, compressLZW, 8, 256, pixels.data(), false, 40, 50);
    // Unpack the code bytes, then re-block them with lengths 1, 2, 3 and mixed.
    std::vector<uint8_t> raw;
    for (size_t at = 1; encoded[at] != 0; at += encoded[at] + 1)
        raw.insert(raw.end(), encoded.begin() + long(at) + 1, encoded.begin() + long(at) + 1 + encoded[at]);
    for (size_t pattern : {1, 2, 3, 0}) {
        std::vector<uint8_t> stream{8};
        size_t at = 0, k = 0;
        while (at < raw.size()) {
            const size_t n = std::min(pattern ? pattern : size_t(1 + (k++ * 7) % 5), raw.size() - at);
            stream.push_back(uint8_t(n));
            stream.insert(stream.end(), raw.begin() + long(at), raw.begin() + long(at + n));
            at += n;
        }
        stream.push_back(0);
        EXPECT_EQ(Decode(stream, pixels.size()), pixels) << "sub-block length pattern " << pattern;
    }
}

TEST(GifCodec, EncoderChoicesVisibleInTheStream)
{
    // A 2-colour frame is written with minimum code size 2.
    std::vector<uint8_t> out;
    const auto two = Bytes({0, 1, 1, 0});
    GifCompress(out, compressLZW, 1, 2, two.data(), false, 2, 2);
    EXPECT_EQ(out[0], 2);

    // A pixel outside the table is refused.
    out.clear();
    EXPECT_THROW(GifCompress(out, compressLZW, 1, 2, Bytes({0, 2}).data(), false, 1, 2), GIFException);

    // One colour with run-length coding: a large frame stays small and decodes exactly, so
    // runs grew and the table was cleared in time.
    const std::vector<uint8_t> flat(300 * 300, 3);
    out.clear();
    GifCompress(out, compressRLE, 2, 4, flat.data(), false, 300, 300);
    EXPECT_LT(out.size(), 2000u);
    EXPECT_EQ(Decode(out, flat.size()), flat);
}

}  // namespace
