// Frame bitmaps, masks, placement and picture import.

#include <gtest/gtest.h>

#include <QPainter>
#include <set>

#include "colour_reduction.h"
#include "gif_render.h"
#include "gif_test_util.h"

namespace {

class DitheringDocument : public GifDocument {
public:
    bool RenderDithered() const override { return true; }
};

void MakeTransparent(TGIFSubImage& frame, int index)
{
    auto gce = std::make_unique<TGIFGraphicControlExtension>(&frame);
    gce->SetTransparent(true);
    gce->TransparentIndex = uint8_t(index);
    frame.AddExtension(std::move(gce));
}

TEST(GifRender, MasksAndTransparentDrawing)
{
    GifDocument gif;
    gif.Header.ColorMap.ImportPalette({0xFF000000u, 0xFFFFFFFFu, 0xFFFF0000u, 0xFF00FF00u});
    // Transparent flag set but no pixel uses the index: no mask, drawn opaque.
    TGIFSubImage& opaque = AddTestFrame(gif, 0, 0, 2, 1, Bytes({1, 2}));
    MakeTransparent(opaque, 3);
    EXPECT_FALSE(opaque.HasMask());

    TGIFSubImage& holed = AddTestFrame(gif, 0, 0, 2, 1, Bytes({3, 2}));
    MakeTransparent(holed, 3);
    ASSERT_TRUE(holed.HasMask());
    EXPECT_EQ(holed.Mask().pixelIndex(0, 0), 1);
    EXPECT_EQ(holed.Mask().pixelIndex(1, 0), 0);

    QImage target(2, 1, QImage::Format_ARGB32);
    target.fill(0xFF0000FFu);
    {
        QPainter painter(&target);
        holed.Draw(painter, QRect(0, 0, 2, 1), false, true);
    }
    EXPECT_EQ(target.pixel(0, 0), 0xFF0000FFu);  // the destination shows through
    EXPECT_EQ(target.pixel(1, 0), 0xFFFF0000u);
    {
        QPainter painter(&target);
        holed.Draw(painter, QRect(0, 0, 2, 1), false, false);
    }
    EXPECT_EQ(target.pixel(0, 0), 0xFF00FF00u);  // without transparency the colour is drawn
}

TEST(GifRender, PlacementScalingAndTiling)
{
    GifDocument gif;
    gif.Header.ColorMap.ImportPalette({0xFF000000u, 0xFFFFFFFFu});
    gif.Header.Width = 100;
    gif.Header.Height = 100;
    TGIFSubImage& frame = AddTestFrame(gif, 10, 10, 20, 30, std::vector<uint8_t>(600, 1));
    EXPECT_EQ(frame.ScaleRect(QRect(0, 0, 200, 200)), QRect(20, 20, 40, 60));

    // A 50x50 image tiled over 120x60: copies at x 0, 50, 100 and y 0, 50, cut by the rectangle.
    GifDocument tiled;
    tiled.Header.ColorMap.ImportPalette({0xFF000000u, 0xFFFFFFFFu});
    std::vector<uint8_t> pixels(2500, 0);
    pixels[0] = 1;  // a marker at each tile's top-left corner
    AddTestFrame(tiled, 0, 0, 50, 50, pixels);
    QImage target(120, 60, QImage::Format_RGB32);
    target.fill(0xFF808080u);
    {
        QPainter painter(&target);
        tiled.Images[0].Draw(painter, target.rect(), true, false);
    }
    std::set<std::pair<int, int>> markers;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 120; ++x)
            if (target.pixel(x, y) == 0xFFFFFFFFu)
                markers.insert({x, y});
    EXPECT_EQ(markers, (std::set<std::pair<int, int>>{{0, 0}, {50, 0}, {100, 0}, {0, 50}, {50, 50}, {100, 50}}));
    EXPECT_EQ(target.pixel(119, 59), 0xFF000000u);
}

TEST(GifRender, DitheredFramesUseTheWebSafePalette)
{
    DitheringDocument gif;
    gif.Header.ColorMap.ImportPalette({0xFF336699u, 0xFF123456u});
    TGIFSubImage& frame = AddTestFrame(gif, 0, 0, 4, 2, Bytes({0, 0, 1, 0, 0, 1, 0, 0}));
    MakeTransparent(frame, 1);
    const QImage bitmap = frame.GetBitmap();
    ASSERT_EQ(bitmap.format(), QImage::Format_Indexed8);
    // 0x336699 lies exactly on the web-safe grid: index r*36 + g*6 + b = 1*36 + 2*6 + 3.
    EXPECT_EQ(bitmap.pixelIndex(0, 0), 51);
    EXPECT_EQ(bitmap.color(51), 0xFF336699u);
    ASSERT_TRUE(frame.HasMask());
    EXPECT_EQ(frame.Mask().pixelIndex(2, 0), 1);
    EXPECT_EQ(frame.GetPalette().size(), 216u);
}

TEST(GifRender, PictureImport)
{
    // A 24-bit picture with the default settings gets the 216-colour web-safe table.
    GifDocument gif;
    QImage photo(16, 16, QImage::Format_RGB32);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            photo.setPixel(x, y, qRgb(x * 16, y * 16, 128));
    TGIFSubImage frame(&gif);
    frame.Assign(photo);
    EXPECT_EQ(frame.Width(), 16);
    EXPECT_EQ(frame.ColorMap().Count(), 216);

    // More than 256 colours without reduction overflow the table.
    gif.ColorReduction = reduceNone;
    QImage many(32, 32, QImage::Format_RGB32);
    for (int i = 0; i < 1024; ++i)
        many.setPixel(i % 32, i / 32, qRgb(i & 0xFF, i >> 8, 7));
    TGIFSubImage overflow(&gif);
    EXPECT_THROW(overflow.Assign(many), GIFException);

    // A picture with transparent pixels gets an entry of its own for them.
    QImage icon(4, 1, QImage::Format_ARGB32);
    icon.setPixel(0, 0, qRgba(255, 0, 0, 255));
    icon.setPixel(1, 0, qRgba(0, 0, 0, 0));
    icon.setPixel(2, 0, qRgba(0, 255, 0, 255));
    icon.setPixel(3, 0, qRgba(255, 0, 0, 255));
    TGIFSubImage withHole(&gif);
    withHole.Assign(icon);
    ASSERT_NE(withHole.GraphicControlExtension(), nullptr);
    const int hole = withHole.TransparentIndex();
    EXPECT_EQ(withHole.Pixels(1, 0), hole);
    EXPECT_NE(withHole.Pixels(0, 0), hole);
    EXPECT_NE(withHole.Pixels(2, 0), hole);
    EXPECT_EQ(withHole.ColorMap().Colors(withHole.Pixels(0, 0)), 0xFFFF0000u);
}

TEST(GifRender, ImportIntoAFullTableKeepsVisiblePixelsVisible)
{
    // 256 visible colours plus transparent pixels: one colour must give up its slot, and no
    // visible pixel may end up transparent.
    GifDocument gif;
    gif.ColorReduction = reduceNone;
    QImage picture(257, 2, QImage::Format_ARGB32);
    for (int x = 0; x < 257; ++x) {
        picture.setPixel(x, 0, qRgba(x == 256 ? 0 : x, 10, 20, 255));
        picture.setPixel(x, 1, x % 2 ? qRgba(0, 0, 0, 0) : qRgba(x & 0xFF, 10, 20, 255));
    }
    TGIFSubImage frame(&gif);
    frame.Assign(picture);
    const int hole = frame.TransparentIndex();
    ASSERT_GE(hole, 0);
    EXPECT_LE(frame.ColorMap().Count(), 256);
    for (int x = 0; x < 257; ++x) {
        EXPECT_NE(frame.Pixels(x, 0), hole) << x;
        EXPECT_EQ(frame.Pixels(x, 1) == hole, x % 2 == 1) << x;
    }
}

}  // namespace
