// The file format as the model reads and writes it: signatures, blocks, extensions, versions,
// colour tables.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "giflib_memory.h"
#include "gif_render.h"
#include "gif_test_util.h"

namespace {

std::vector<uint8_t> OneFrameFile(const std::vector<uint8_t>& before = {}, const std::string& signature = "GIF89a")
{
    std::vector<uint8_t> file(signature.begin(), signature.end());
    const auto header = TestHeader(1, 1);
    file.insert(file.end(), header.begin() + 6, header.end());
    Append(file, before);
    Append(file, TestDescriptor(0, 0, 1, 1));
    Append(file, PackCodes(2, {{4, 3}, {1, 3}, {5, 3}}));
    return file;
}

std::vector<uint8_t> Load(GifDocument& gif, std::vector<uint8_t> bytes)
{
    gif.LoadFromMemory(bytes.data(), bytes.size());
    return bytes;
}

TEST(GifModel, SignaturesAndBlockFraming)
{
    GifDocument gif;
    // Lower-case signature, odd version, 4 bytes of other data in front.
    EXPECT_NO_THROW(Load(gif, OneFrameFile({}, "gif12x")));
    auto prefixed = Bytes({1, 2, 3, 4});
    Append(prefixed, OneFrameFile());
    EXPECT_NO_THROW(Load(gif, prefixed));
    EXPECT_EQ(gif.Images.Count(), 1);
    for (int junk : {3, 5}) {
        std::vector<uint8_t> bad(size_t(junk), 7);
        Append(bad, OneFrameFile());
        EXPECT_THROW(Load(gif, bad), GIFException) << junk;
    }

    // Zero bytes between blocks are skipped; a missing trailer is silent, a wrong one warns.
    {
        WarningCapture warnings;
        auto file = OneFrameFile(Bytes({0, 0}));
        Append(file, Bytes({0, 0}));
        Load(gif, file);
        EXPECT_EQ(gif.Images.Count(), 1);
        EXPECT_TRUE(warnings.messages.empty());
    }
    {
        WarningCapture warnings;
        auto file = OneFrameFile();
        file.push_back(0x99);
        Load(gif, file);
        EXPECT_EQ(gif.Images.Count(), 1);
        EXPECT_TRUE(warnings.Has("Unknown GIF block type"));
        EXPECT_TRUE(warnings.Has("Invalid Image trailer"));
    }

    // A frame of width 0 takes the screen's size, with a warning.
    WarningCapture warnings;
    auto zero = TestHeader(2, 2);
    Append(zero, TestDescriptor(0, 0, 0, 2));
    Append(zero, PackCodes(2, {{4, 3}, {1, 3}, {1, 3}, {1, 3}, {1, 3}, {5, 3}}));
    Load(gif, zero);
    EXPECT_EQ(gif.Images[0].Width(), 2);
    EXPECT_EQ(gif.Images[0].Height(), 2);
    EXPECT_TRUE(warnings.Has("Image exceeds Logical Screen size"));
}

TEST(GifModel, ApplicationExtensions)
{
    GifDocument gif;
    // Loop sub-block id 9 counts as 1 (low 3 bits); a buffer-size block follows.
    auto loop = Bytes({0x21, 0xFF, 11, 'A', 'N', 'I', 'M', 'E', 'X', 'T', 'S', '1', '.', '0',
                       3, 9, 4, 0, 5, 2, 0, 4, 0, 0, 0});
    Load(gif, OneFrameFile(loop));
    ASSERT_NE(gif.LoopExtension(), nullptr);
    EXPECT_EQ(gif.LoopExtension()->Loops, 4);
    EXPECT_EQ(gif.LoopExtension()->BufferSize, 1024u);

    // Sub-blocks too short for their field are skipped with a warning; the image loads and a
    // later valid sub-block still counts, its extra bytes skipped.
    {
        WarningCapture warnings;
        Load(gif, OneFrameFile(Bytes({0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0',
                                      2, 1, 4, 3, 2, 1, 2, 5, 1, 7, 0, 8, 8, 0})));
        EXPECT_TRUE(warnings.Has("Invalid GIF data"));
        ASSERT_EQ(gif.Images.Count(), 1);
        EXPECT_FALSE(gif.Images[0].Empty());
        ASSERT_NE(gif.LoopExtension(), nullptr);
        EXPECT_EQ(gif.LoopExtension()->Loops, 7);
        EXPECT_EQ(gif.LoopExtension()->BufferSize, 0u);
    }

    // Block size 10 reads as an unknown application extension, written back with size 11: the
    // identifier's last byte is the one that followed the block (the data's first length).
    Load(gif, OneFrameFile(Bytes({0x21, 0xFF, 10, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', '1', '2', 2, 7, 8, 0})));
    const auto& extensions = gif.Images[0].Extensions();
    ASSERT_EQ(extensions.size(), 1u);
    const auto* unknown = dynamic_cast<const TGIFUnknownAppExtension*>(extensions[0].get());
    ASSERT_NE(unknown, nullptr);
    ASSERT_EQ(unknown->Blocks.size(), 1u);
    EXPECT_EQ(unknown->Blocks[0], Bytes({7, 8}));
    const auto saved = gif.SaveToMemory();
    const auto expected = Bytes({0x21, 0xFF, 11, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', '1', '2', 2, 2, 7, 8, 0});
    EXPECT_NE(std::search(saved.begin(), saved.end(), expected.begin(), expected.end()), saved.end());
}

TEST(GifModel, WritingVersionsFlagsAndText)
{
    GifDocument gif;
    EXPECT_THROW(gif.SaveToMemory(), GIFException);  // no frames: "Unsupported GIF version"

    gif.Header.ColorMap.ImportPalette(TestPalette(1));
    AddTestFrame(gif, 0, 0, 2, 2, Bytes({0, 1, 1, 0}));
    auto bytes = gif.SaveToMemory();
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 6), "GIF87a");

    // A local table drops the interlace flag; any extension makes the file 89a.
    TGIFSubImage& second = AddTestFrame(gif, 0, 0, 2, 8, std::vector<uint8_t>(16, 2), true, TestPalette(2));
    auto comment = std::make_unique<TGIFCommentExtension>(&second);
    comment->Text = {std::string(300, 'x')};
    second.AddExtension(std::move(comment));
    bytes = gif.SaveToMemory();
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 6), "GIF89a");

    // The 300-byte comment line was written as 255 + 45 and reads back as two lines.
    const auto marker = Bytes({0x21, 0xFE, 255});
    const auto at = std::search(bytes.begin(), bytes.end(), marker.begin(), marker.end());
    ASSERT_NE(at, bytes.end());
    EXPECT_EQ(*(at + 3 + 255), 45);

    GifDocument back;
    back.LoadFromMemory(bytes.data(), bytes.size());
    ASSERT_EQ(back.Images.Count(), 2);
    EXPECT_FALSE(back.Images[1].Interlaced());
    EXPECT_EQ(back.Images[1].Data(), second.Data());
    const auto* text = dynamic_cast<const TGIFCommentExtension*>(back.Images[1].Extensions()[0].get());
    ASSERT_NE(text, nullptr);
    ASSERT_EQ(text->Text.size(), 2u);
    EXPECT_EQ(text->Text[0].size() + text->Text[1].size(), 300u);
}

TEST(GifModel, ColorTables)
{
    GifDocument gif;
    TGIFColorMap& map = gif.Header.ColorMap;
    EXPECT_EQ(map.BitsPerPixel(), 0);
    EXPECT_THROW(map.Colors(0), GIFException);
    for (int i = 0; i < 256; ++i)
        map.Add(0xFF000000u | uint32_t(i));
    EXPECT_THROW(map.Add(0xFFFFFFFF), GIFException);
    EXPECT_EQ(map.BitsPerPixel(), 8);
    EXPECT_THROW(map.Delete(256), GIFException);
    map.Delete(0);
    EXPECT_EQ(map.IndexOf(0xFF000001u), 0);
    EXPECT_EQ(map.IndexOf(0xFF000000u), -1);
    for (int i = map.Count(); i > 3; --i)
        map.Delete(i - 1);
    EXPECT_EQ(map.BitsPerPixel(), 2);

    // Optimize orders by use, drops unused entries and renumbers pixels and transparency.
    TGIFSubImage& frame = AddTestFrame(gif, 0, 0, 4, 1, Bytes({2, 2, 1, 2}));
    auto gce = std::make_unique<TGIFGraphicControlExtension>(&frame);
    gce->SetTransparent(true);
    gce->TransparentIndex = 1;
    frame.AddExtension(std::move(gce));
    const GifRgb two = map.Colors(2), one = map.Colors(1), zero = map.Colors(0);
    gif.Header.BackgroundColorIndex = 2;
    map.Optimize();
    EXPECT_EQ(map.Count(), 2);
    EXPECT_EQ(map.Colors(0), two);
    EXPECT_EQ(map.Colors(1), one);
    EXPECT_EQ(frame.Data(), Bytes({0, 0, 1, 0}));
    EXPECT_EQ(frame.TransparentIndex(), 1);
    EXPECT_EQ(gif.Header.BackgroundColor(), two);  // the background index follows its colour

    // An unused background colour is kept, after the used ones.
    GifDocument other;
    other.Header.ColorMap.ImportPalette({zero, one, two});
    other.Header.BackgroundColorIndex = 0;
    AddTestFrame(other, 0, 0, 3, 1, Bytes({2, 1, 2}));
    other.Header.ColorMap.Optimize();
    EXPECT_EQ(other.Header.ColorMap.Count(), 3);
    EXPECT_EQ(other.Header.BackgroundColorIndex, 2);
    EXPECT_EQ(other.Header.BackgroundColor(), zero);

    // A transparent index beyond the table warns and becomes 0.
    WarningCapture warnings;
    frame.GraphicControlExtension()->SetTransparentColorIndex(5);
    EXPECT_EQ(frame.TransparentIndex(), 0);
    EXPECT_TRUE(warnings.Has("Invalid color index"));
}

TEST(GifModel, EffectiveDelay)
{
    EXPECT_EQ(EffectiveDelay(0), 10);
    EXPECT_EQ(EffectiveDelay(1), 3);
    EXPECT_EQ(EffectiveDelay(2), 3);
    EXPECT_EQ(EffectiveDelay(3), 3);
    EXPECT_EQ(EffectiveDelay(5000), 5000);
}

// The control block giflib applies to image 0 of `bytes`: disposal, delay, transparent index.
std::array<int, 3> GiflibControl(const std::vector<uint8_t>& bytes)
{
    MemoryIn in{&bytes};
    int error = 0;
    GifFileType* file = DGifOpen(&in, ReadMemory, &error);
    EXPECT_NE(file, nullptr);
    EXPECT_EQ(DGifSlurp(file), GIF_OK);
    GraphicsControlBlock gcb{};
    DGifSavedExtensionToGCB(file, 0, &gcb);
    DGifCloseFile(file, &error);
    return {gcb.DisposalMode, gcb.DelayTime, gcb.TransparentColor};
}

TEST(GifModel, OnlyTheFirstControlBlockOfAFrameApplies)
{
    // Two control blocks before one image: the first applies wholly (as giflib has it), to
    // the frame's transparency, to drawing and to composing alike; both are saved back.
    const auto opaque = Bytes({0x21, 0xF9, 4, 1 << 2, 10, 0, 1, 0});
    const auto transparent = Bytes({0x21, 0xF9, 4, 1 | (2 << 2), 50, 0, 1, 0});
    for (bool transparentFirst : {false, true}) {
        SCOPED_TRACE(transparentFirst ? "transparent first" : "opaque first");
        auto blocks = transparentFirst ? transparent : opaque;
        Append(blocks, transparentFirst ? opaque : transparent);
        auto file = OneFrameFile(blocks);
        file.push_back(';');
        GifDocument gif;
        Load(gif, file);
        const TGIFSubImage& frame = gif.Images[0];
        ASSERT_EQ(frame.Extensions().size(), 2u);
        const auto* gce = frame.GraphicControlExtension();
        ASSERT_EQ(gce, frame.Extensions()[0].get());
        const std::array<int, 3> ours{gce->Disposal(), gce->Delay(), frame.TransparentIndex()};
        EXPECT_EQ(ours, GiflibControl(file));
        EXPECT_EQ(frame.Transparent(), transparentFirst);
        EXPECT_EQ(frame.TransparentIndex(), transparentFirst ? 1 : -1);
        // Pixel 0 has index 1 (white): hidden only when the first block says so.
        const auto composed = RenderAnimationFrames(gif);
        ASSERT_EQ(composed.size(), 1u);
        EXPECT_EQ(composed[0].pixel(0, 0), transparentFirst ? 0u : 0xFFFFFFFFu);
        const auto saved = gif.SaveToMemory();
        EXPECT_NE(std::search(saved.begin(), saved.end(), blocks.begin(), blocks.end()), saved.end());
    }
}

TEST(GifModel, ExtensionsAfterTheLastImageAreKeptButAreNoFrame)
{
    auto file = OneFrameFile();
    const auto comment = Bytes({0x21, 0xFE, 3, 'e', 'n', 'd', 0});
    Append(file, comment);
    file.push_back(';');
    GifDocument gif;
    Load(gif, file);
    EXPECT_EQ(gif.Images.Count(), 2);  // the comment's item, without an image
    EXPECT_EQ(gif.FrameCount(), 1);
    EXPECT_EQ(gif.NextFrame(0), 0);
    EXPECT_EQ(gif.NextFrame(1), 2);
    EXPECT_EQ(RenderAnimationFrames(gif).size(), 1u);
    const auto saved = gif.SaveToMemory();
    auto tail = comment;
    tail.push_back(';');
    ASSERT_GE(saved.size(), tail.size());
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), saved.end() - long(tail.size())));
}

}  // namespace
