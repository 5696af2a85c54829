// Damaged and hostile files: the reader keeps what it can, never loops, and bounds memory.

#include <gtest/gtest.h>

#include <QImage>

#include <array>
#include <filesystem>
#include <fstream>

#include "gif_render.h"
#include "gif_test_util.h"

namespace {

void Load(GifDocument& gif, const std::vector<uint8_t>& bytes) { gif.LoadFromMemory(bytes.data(), bytes.size()); }

TEST(GifHostile, InvalidCodeEndsTheFrameKeepingDecodedPixels)
{
    // 4x1 frame: pixels 1, 2, then code 7 while the next free code is 7... then 9 (above it).
    auto file = TestHeader(4, 1);
    Append(file, TestDescriptor(0, 0, 4, 1));
    Append(file, PackCodes(2, {{4, 3}, {1, 3}, {2, 3}, {3, 3}, {9, 4}, {5, 4}}));
    // A second frame after it must still be found.
    Append(file, TestDescriptor(0, 0, 1, 1));
    Append(file, PackCodes(2, {{4, 3}, {3, 3}, {5, 3}}));
    file.push_back(';');

    WarningCapture warnings;
    GifDocument gif;
    Load(gif, file);
    ASSERT_EQ(gif.Images.Count(), 2);
    EXPECT_EQ(gif.Images[0].Data(), Bytes({1, 2, 3, 0}));
    EXPECT_EQ(gif.Images[0].DecodedPixels(), 3u);
    EXPECT_TRUE(warnings.Has("Invalid LZW code"));
    EXPECT_EQ(gif.Images[1].Data(), Bytes({3}));
}

TEST(GifHostile, MinimumCodeSizeOutsideOneToEightIsAnError)
{
    for (int size : {0, 9, 12, 255}) {
        auto file = TestHeader(1, 1);
        Append(file, TestDescriptor(0, 0, 1, 1));
        Append(file, Bytes({size, 1, 0, 0, ';'}));
        GifDocument gif;
        EXPECT_THROW(Load(gif, file), GIFException) << size;
        EXPECT_EQ(gif.Width(), 1);  // what was read before the error stays
    }
}

TEST(GifHostile, DataAfterTheImageIsSkippedToTheNextFrame)
{
    auto file = TestHeader(2, 1);
    Append(file, TestDescriptor(0, 0, 2, 1));
    // Pixels complete after two codes; then end code, then junk sub-blocks before the terminator.
    Append(file, Bytes({2, 2, 0x4C, 0x01, 3, 0xFF, 0xFF, 0xFF, 1, 0x2C, 0}));
    Append(file, TestDescriptor(1, 0, 1, 1));
    Append(file, PackCodes(2, {{4, 3}, {2, 3}, {5, 3}}));
    file.push_back(';');
    GifDocument gif;
    Load(gif, file);
    ASSERT_EQ(gif.Images.Count(), 2);
    EXPECT_EQ(gif.Images[1].Left(), 1);
    EXPECT_EQ(gif.Images[1].Data(), Bytes({2}));
}

TEST(GifHostile, TruncatedDataKeepsTheFrameWithItsFill)
{
    auto file = TestHeader(3, 1);
    Append(file, Bytes({0x21, 0xF9, 4, 1, 0, 0, 2, 0}));  // transparent index 2
    Append(file, TestDescriptor(0, 0, 3, 1));
    auto data = PackCodes(2, {{4, 3}, {1, 3}, {1, 3}, {1, 3}, {5, 3}});
    data[1] = 200;  // sub-block length beyond the end of the file
    data.resize(3);
    Append(file, data);
    WarningCapture warnings;
    GifDocument gif;
    Load(gif, file);
    ASSERT_EQ(gif.Images.Count(), 1);
    EXPECT_TRUE(warnings.Has("Premature end of data"));
    EXPECT_EQ(gif.Images[0].Data()[0], 1);
    EXPECT_EQ(gif.Images[0].Data()[2], 2);  // undecoded pixels keep the transparent index
}

TEST(GifHostile, FileEndingAfterATableCodeLeavesOnlyFillBehindTheDecodedPixels)
{
    // 0 1 2 2 2, then code 6 ("0 1", copied from earlier output), then the file ends. Every
    // pixel after the seven decoded ones keeps the transparent index, in both row orders.
    std::vector<uint8_t> expected{0, 1, 2, 2, 2, 0, 1};
    expected.resize(32, 3);
    for (const bool interlaced : {false, true}) {
        SCOPED_TRACE(interlaced ? "interlaced" : "plain");
        const int width = interlaced ? 8 : 32, height = interlaced ? 4 : 1;
        auto file = TestHeader(width, height);
        Append(file, Bytes({0x21, 0xF9, 4, 1, 0, 0, 3, 0}));  // transparent index 3
        Append(file, TestDescriptor(0, 0, width, height, interlaced ? 0x40 : 0));
        auto data = PackCodes(2, {{4, 3}, {0, 3}, {1, 3}, {2, 3}, {2, 4}, {2, 4}, {6, 4}});
        data.pop_back();  // no block terminator, no trailer
        Append(file, data);
        WarningCapture warnings;
        GifDocument gif;
        Load(gif, file);
        ASSERT_EQ(gif.Images.Count(), 1);
        EXPECT_EQ(gif.Images[0].DecodedPixels(), 7u);
        EXPECT_EQ(gif.Images[0].Data(), expected);
    }
}

TEST(GifHostile, AreaCapsRaiseAClearError)
{
    // A screen is only a size until something is composed on it: a 65535 x 65535 screen with
    // a 4 x 4 frame loads, and composing it is refused with a clear error.
    GifDocument gif;
    auto screen = TestHeader(65535, 65535);
    Append(screen, TestDescriptor(0, 0, 4, 4));
    Append(screen, PackCodes(2, {{4, 3}, {1, 3}, {5, 3}}));
    Load(gif, screen);
    ASSERT_EQ(gif.Images.Count(), 1);
    try {
        RenderAnimationFrames(gif);
        FAIL() << "no error";
    } catch (const GIFException& e) {
        EXPECT_NE(std::string(e.what()).find("limit"), std::string::npos) << e.what();
    }

    // Real pictures past 16 Mpx load and compose: a 5000 x 4000 frame, and a 4097 x 4096
    // screen holding a 4 x 4 frame.
    for (auto [w, h, fw, fh] : {std::array{5000, 4000, 5000, 4000}, std::array{4097, 4096, 4, 4}}) {
        SCOPED_TRACE(testing::Message() << w << " x " << h);
        auto big = TestHeader(w, h);
        Append(big, TestDescriptor(0, 0, fw, fh));
        Append(big, PackCodes(2, {{4, 3}, {2, 3}, {5, 3}}));
        Load(gif, big);
        ASSERT_EQ(gif.Images.Count(), 1);
        const auto frames = RenderAnimationFrames(gif);
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0].pixel(0, 0), 0xFFFF0000u);
    }

    // One frame past the whole image's cap in a small screen.
    auto frame = TestHeader(10, 10);
    Append(frame, TestDescriptor(0, 0, 12000, 12000));
    Append(frame, PackCodes(2, {{4, 3}, {5, 3}}));
    EXPECT_THROW(Load(gif, frame), GIFException);

    // Many frames just under the cap each, past the total; the frames before stay.
    auto many = TestHeader(4096, 4096);
    for (int i = 0; i < 12; ++i) {
        Append(many, TestDescriptor(0, 0, 4096, 4096));
        Append(many, PackCodes(2, {{4, 3}, {1, 3}, {5, 3}}));
    }
    EXPECT_THROW(Load(gif, many), GIFException);
    EXPECT_GT(gif.Images.Count(), 0);
    EXPECT_LT(gif.Images.Count(), 12);
}

TEST(GifHostile, ZeroScreenGrowsAndOutsideFramesAreClipped)
{
    auto file = TestHeader(0, 0);
    Append(file, TestDescriptor(2, 1, 2, 2));
    Append(file, PackCodes(2, {{4, 3}, {1, 3}, {1, 3}, {1, 3}, {1, 3}, {5, 3}}));
    file.push_back(';');
    GifDocument gif;
    Load(gif, file);
    EXPECT_EQ(gif.Width(), 4);
    EXPECT_EQ(gif.Height(), 3);

    // A 2x2 screen with a frame hanging out of it at (1, 1): only its top-left pixel shows.
    auto clipped = TestHeader(2, 2);
    Append(clipped, TestDescriptor(1, 1, 2, 2));
    Append(clipped, PackCodes(2, {{4, 3}, {1, 3}, {1, 3}, {1, 3}, {1, 3}, {5, 3}}));
    clipped.push_back(';');
    Load(gif, clipped);
    EXPECT_EQ(gif.Width(), 2);
    const auto frames = RenderAnimationFrames(gif);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].pixel(1, 1), 0xFFFFFFFFu);
    EXPECT_EQ(qAlpha(frames[0].pixel(0, 0)), 0);

    // An interlaced frame of width 0 in a screen of width 0 is empty and harmless.
    auto empty = TestHeader(0, 4);
    Append(empty, TestDescriptor(0, 0, 0, 4, 0x40));
    Append(empty, PackCodes(2, {{4, 3}, {5, 3}}));
    empty.push_back(';');
    Load(gif, empty);
    EXPECT_TRUE(gif.Images[0].Empty());
    EXPECT_TRUE(RenderAnimationFrames(gif).empty());
}

TEST(GifHostile, ExtensionsAreSkippedOrReadByTheirStoredSize)
{
    auto file = TestHeader(1, 1);
    Append(file, Bytes({0x21, 0x99, 3, 'a', 'b', 'c', 0}));               // unknown label
    Append(file, Bytes({0x21, 0xF9, 6, 0x09, 7, 0, 1, 0xAA, 0xBB, 0}));   // graphic control, size 6
    Append(file, Bytes({0x21, 0xFF, 9, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0}));   // application, size 9
    Append(file, Bytes({0x21, 0xFF, 12, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', '!',
                        3, 1, 5, 0, 0}));                                    // application, size 12
    Append(file, TestDescriptor(0, 0, 1, 1));
    Append(file, PackCodes(2, {{4, 3}, {1, 3}, {5, 3}}));
    file.push_back(';');
    WarningCapture warnings;
    GifDocument gif;
    Load(gif, file);
    ASSERT_EQ(gif.Images.Count(), 1);
    EXPECT_TRUE(warnings.Has("Unknown extension type"));
    EXPECT_TRUE(warnings.Has("Unsupported Application Extension block size"));
    const auto* gce = gif.Images[0].GraphicControlExtension();
    ASSERT_NE(gce, nullptr);
    EXPECT_EQ(gce->Delay(), 7);
    EXPECT_EQ(gce->Disposal(), 2);
    EXPECT_EQ(gif.Images[0].TransparentIndex(), 1);
    ASSERT_NE(gif.LoopExtension(), nullptr);
    EXPECT_EQ(gif.LoopExtension()->Loops, 5);
    EXPECT_EQ(gif.Images[0].Data(), Bytes({1}));
}

TEST(GifHostile, ACutGraphicControlBlockKeepsTheFramesBefore)
{
    // Two 2x1 frames, then the next frame's control block, cut at every byte from its label on.
    auto whole = TestHeader(2, 1);
    for (int pixel : {1, 2}) {
        Append(whole, Bytes({0x21, 0xF9, 4, 0, 10, 0, 0, 0}));
        Append(whole, TestDescriptor(0, 0, 2, 1));
        Append(whole, PackCodes(2, {{4, 3}, {pixel, 3}, {pixel, 3}, {5, 3}}));
    }
    const size_t label = whole.size() + 1;
    Append(whole, Bytes({0x21, 0xF9, 4, 1, 10, 0, 3, 0}));
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("vn_cutgce_" + std::to_string(::getpid()));
    for (size_t end = label + 1; end < whole.size(); ++end) {
        SCOPED_TRACE(end);
        const std::vector<uint8_t> file(whole.begin(), whole.begin() + long(end));
        WarningCapture warnings;
        GifDocument gif;
        ASSERT_NO_THROW(Load(gif, file));
        EXPECT_TRUE(warnings.Has("Premature end of data"));
        int frames = 0;
        for (const auto& frame : gif.Images)
            frames += frame->Empty() ? 0 : 1;
        ASSERT_EQ(frames, 2);
        EXPECT_EQ(gif.Images[0].Data(), Bytes({1, 1}));
        EXPECT_EQ(gif.Images[1].Data(), Bytes({2, 2}));

        // The frames tool writes both.
        const fs::path in = dir / "cut.gif";
        fs::remove_all(dir);
        fs::create_directories(dir / "out");
        std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), long(file.size()));
        std::string out;
        ASSERT_EQ(RunGifFrames("'" + in.string() + "' '" + (dir / "out").string() + "'", out), 0) << out;
        EXPECT_NE(out.find("warning: Premature end of data"), std::string::npos) << out;
        EXPECT_EQ(std::distance(fs::directory_iterator(dir / "out"), fs::directory_iterator()), 2) << out;
        const QImage second(QString::fromStdString((dir / "out" / "frame0001.png").string()));
        ASSERT_EQ(second.size(), QSize(2, 1));
        EXPECT_EQ(second.pixel(1, 0) & 0xFFFFFF, 0xFF0000u);  // colour 2: red
    }
    fs::remove_all(dir);
}

}  // namespace
