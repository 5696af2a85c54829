// The animated GIF image: drawing (buffered and direct), options, copying, the clipboard and
// the dithering choice.

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QPainter>

#include <filesystem>
#include <sstream>

#include <unistd.h>

#include "anim_image_control.h"
#include "anim_test_util.h"
#include "core/gif_hooks.h"
#include "gif_render.h"
#include "platform/clock.h"
#include "platform/messages.h"

namespace {

class AnimGifTest : public AnimAppTest {};

std::string ErrorOf(const std::function<void()>& fn)
{
    try {
        fn();
    } catch (const GIFException& e) {
        return e.what();
    }
    return {};
}

// Three frames using every disposal kind and transparency.
void MakeMixedAnimation(TAnimGif& gif)
{
    MakeAnimation(gif, {{.left = 0, .width = 4, .fill = 2, .delay = 3, .disposal = 2, .transparent = 0},
                        {.left = 2, .top = 2, .width = 6, .height = 6, .fill = 3, .delay = 3, .disposal = 3},
                        {.fill = 1, .delay = 3, .transparent = 0, .holeIndex = 0}});
}

TEST_F(AnimGifTest, EmptyAndSingleFrameImages)
{
    TAnimGif gif;
    QImage target = FilledImage(8, 8, kGreen);
    {
        QPainter canvas(&target);
        gif.Draw(canvas, target.rect());
    }
    EXPECT_EQ(target, FilledImage(8, 8, kGreen));
    EXPECT_EQ(ErrorOf([&] { gif.SaveToMemory(); }), "Unsupported GIF version");
    EXPECT_TRUE(gif.GetBitmap().isNull());

    // One frame is drawn at once and never starts a painter, whatever the options.
    MakeAnimation(gif, {{.fill = 2, .delay = 10}}, 0);
    for (TGIFDrawOptions options : {GifDefaultDrawOptions, TGIFDrawOptions(GifDefaultDrawOptions | doDirectDraw)}) {
        gif.SetDrawOptions(options);
        QPainter canvas(&target);
        gif.Draw(canvas, target.rect());
        EXPECT_EQ(gif.PainterCount(), 0);
    }
    EXPECT_EQ(target.pixel(3, 3), kRed);
}

TEST_F(AnimGifTest, BufferedAndDirectDrawingGiveTheSamePixels)
{
    // Each way of playing the mixed animation over the same destination ends on the same
    // picture, which is the composed last frame laid over that destination.
    TestClock clock(0);
    ScopedClock scoped(clock);
    const TGIFDrawOptions base = doTransparent | doAnimate;
    std::vector<QImage> results;
    for (TGIFDrawOptions options : {TGIFDrawOptions(base | doThreaded), TGIFDrawOptions(base | doThreaded | doDirectDraw),
                                    base, TGIFDrawOptions(base | doDirectDraw)}) {
        SCOPED_TRACE(options);
        TAnimGif gif;
        MakeMixedAnimation(gif);
        gif.SetDrawOptions(options);
        QImage target = FilledImage(8, 8, kWhite);
        {
            QPainter canvas(&target);
            gif.Draw(canvas, target.rect());
        }
        ASSERT_TRUE(PumpUntil([&] { return gif.PainterCount() == 0; }));
        if (!(options & doDirectDraw)) {
            // The painter left its last frame in the buffer: the next paint shows it.
            QPainter canvas(&target);
            gif.Draw(canvas, target.rect());
            EXPECT_EQ(gif.PainterCount(), 0);
        }
        results.push_back(target);
    }
    TAnimGif gif;
    MakeMixedAnimation(gif);
    QImage expected = FilledImage(8, 8, kWhite);
    {
        QPainter painter(&expected);
        painter.drawImage(0, 0, RenderAnimationFrames(gif).back());
    }
    for (const QImage& result : results)
        EXPECT_EQ(result.convertToFormat(QImage::Format_ARGB32), expected.convertToFormat(QImage::Format_ARGB32));
}

TEST_F(AnimGifTest, PlacementsKeepOrRestartThePainter)
{
    TestClock clock(0);
    ScopedClock scoped(clock);
    TAnimGif gif;
    MakeAnimation(gif, {{.delay = 100}, {.delay = 100}});
    gif.AnimationSpeed = 0;  // holds the first frame until stopped
    gif.SetDrawOptions(GifDefaultDrawOptions | doDirectDraw);
    QImage target = FilledImage(16, 16, kBlack);
    auto draw = [&](QImage& on, const QRect& rect) {
        QPainter canvas(&on);
        gif.Draw(canvas, rect);
    };
    draw(target, QRect(0, 0, 8, 8));
    TGIFPainter* first = gif.DrawPainter();
    ASSERT_NE(first, nullptr);
    draw(target, QRect(0, 0, 8, 8));
    EXPECT_EQ(gif.DrawPainter(), first);
    EXPECT_EQ(gif.PainterCount(), 1);
    draw(target, QRect(8, 8, 8, 8));
    EXPECT_EQ(gif.PainterCount(), 1);
    EXPECT_NE(gif.DrawPainter(), nullptr);
    EXPECT_EQ(gif.DrawPainter()->Rect(), QRect(8, 8, 8, 8));

    // Buffered: once the buffer exists every Draw only shows it.
    gif.SetDrawOptions(GifDefaultDrawOptions);
    EXPECT_EQ(gif.PainterCount(), 0);
    draw(target, target.rect());
    TGIFPainter* buffered = gif.DrawPainter();
    draw(target, QRect(0, 0, 4, 4));
    EXPECT_EQ(gif.DrawPainter(), buffered);
    EXPECT_EQ(gif.PainterCount(), 1);

    // Switching animation off and on again starts over from frame 0.
    std::vector<int> shown;
    gif.OnFrameStart = [&](TGIFPainter* p) { shown.push_back(p->ActiveImage()); };
    gif.SetDrawOptions(GifDefaultDrawOptions & ~doAnimate);
    EXPECT_EQ(gif.PainterCount(), 0);
    draw(target, target.rect());
    EXPECT_EQ(gif.PainterCount(), 0);
    gif.SetDrawOptions(GifDefaultDrawOptions);
    draw(target, target.rect());
    EXPECT_EQ(shown, std::vector<int>{0});
    gif.StopPainters();
}

TEST_F(AnimGifTest, SizeChecksAndAddingPictures)
{
    TAnimGif gif;
    MakeAnimation(gif, {{.left = 2, .width = 6}});
    EXPECT_EQ(ErrorOf([&] { gif.SetWidth(7); }), "Image width too small for contained frames");
    EXPECT_EQ(ErrorOf([&] { gif.SetHeight(7); }), "Image height too small for contained frames");
    EXPECT_EQ(gif.Width(), 8);
    EXPECT_EQ(gif.Height(), 8);
    gif.SetWidth(20);
    EXPECT_EQ(gif.Width(), 20);

    EXPECT_EQ(ErrorOf([&] { gif.Add(QImage()); }), "Object type not supported for operation");
    QImage picture = FilledImage(24, 3, 0xFF336699u);
    const QImage untouched = picture.copy();
    EXPECT_EQ(gif.Add(picture), 1);
    EXPECT_EQ(picture, untouched);  // reduced from a copy
    EXPECT_EQ(gif.Width(), 24);     // the screen grows to hold the frame
    gif.Assign(picture);
    EXPECT_EQ(gif.Images.Count(), 1);
    EXPECT_EQ(gif.GetBitmap().size(), QSize(24, 3));
}

TEST_F(AnimGifTest, AssignCopiesContentAndKeepsOwnHandlers)
{
    TAnimGif source;
    MakeMixedAnimation(source);
    source.SetDrawOptions(GifDefaultDrawOptions | doTile);
    source.AnimationSpeed = 50;
    source.BackgroundColor = 0x00123456;
    std::vector<std::string> sourceProgress;
    source.OnProgress = [&](TAnimGif*, TProgressStage stage, int percent, const std::string& message) {
        sourceProgress.push_back(message + std::to_string(stage) + ":" + std::to_string(percent));
    };

    TAnimGif target;
    int ownProgress = 0, ownWarnings = 0, changes = 0;
    target.OnProgress = [&](TAnimGif*, TProgressStage, int, const std::string&) { ++ownProgress; };
    target.OnGifWarning = [&](TGIFItem*, int, const std::string&) { ++ownWarnings; };
    target.OnChange = [&](TAnimGif*) { ++changes; };
    target.Assign(&source);

    EXPECT_EQ(sourceProgress, (std::vector<std::string>{"Copying...0:0", "Copying...1:33", "Copying...1:66",
                                                          "Copying...1:100", "Copying...2:100"}));
    EXPECT_EQ(ownProgress, 0);
    EXPECT_EQ(target.SaveToMemory(), source.SaveToMemory());
    EXPECT_EQ(target.DrawOptions(), source.DrawOptions());
    EXPECT_EQ(target.BackgroundColor, 0x00123456u);
    EXPECT_EQ(target.AnimationSpeed, 100);
    ASSERT_TRUE(target.OnProgress && target.OnGifWarning && target.OnChange);
    EXPECT_GT(changes, 0);
    target.DoNotify(nullptr, 1, "x");
    EXPECT_EQ(ownWarnings, 1);
}

TEST_F(AnimGifTest, FilesGoThroughTheImagesOwnLoadingAndSaving)
{
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("vn_anim_gif_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "picture.gif").string();

    TAnimGif gif;
    MakeMixedAnimation(gif);
    std::vector<std::string> progress;
    gif.OnProgress = [&](TAnimGif*, TProgressStage stage, int, const std::string& message) {
        if (stage == psEnding)
            progress.push_back(message);
    };
    gif.SaveToFile(path);
    // Files go through the image's own loading: painters stop, progress is reported.
    gif.LoadFromFile(path);
    EXPECT_EQ(progress, (std::vector<std::string>{"Saving...", "Loading..."}));
    EXPECT_EQ(gif.Images.Count(), 3);

    // A save that cannot be written throws.
    TAnimGif other;
    MakeAnimation(other, {{.fill = 2, .delay = 10}}, 0);
    EXPECT_EQ(ErrorOf([&] { other.SaveToFile((dir / "missing" / "x.gif").string()); }),
              "Cannot write " + (dir / "missing" / "x.gif").string());
    std::filesystem::remove_all(dir);
}

TEST_F(AnimGifTest, ClipboardRoundTrip)
{
    TAnimGif gif;
    MakeMixedAnimation(gif);
    gif.CopyToClipboard();
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(data, nullptr);
    ASSERT_TRUE(data->hasFormat(GifClipboardFormat));
    EXPECT_TRUE(data->hasImage());

    TAnimGif pasted;
    pasted.LoadFromClipboardFormat(GifClipboardFormat);
    EXPECT_EQ(pasted.SaveToMemory(), gif.SaveToMemory());

    TAnimGif picture;
    picture.LoadFromClipboardFormat(GifBitmapClipboardFormat);
    EXPECT_EQ(picture.Images.Count(), 1);
    EXPECT_EQ(QSize(picture.Width(), picture.Height()), QSize(8, 8));

    QMimeData text;
    text.setText("hello");
    EXPECT_EQ(ErrorOf([&] { pasted.LoadFromClipboardFormat("text/plain", &text); }), "Unsupported clipboard format");
    EXPECT_EQ(ErrorOf([&] { pasted.LoadFromClipboardFormat(GifClipboardFormat, &text); }),
              "Unsupported clipboard format");
    EXPECT_EQ(pasted.SaveToMemory(), gif.SaveToMemory());  // a refused paste changes nothing
}

TEST_F(AnimGifTest, DitheringChoice)
{
    TAnimGif gif;
    MakeAnimation(gif, {{.fill = 2}, {.fill = 3}});
    // By default dithering follows the display: the offscreen screen is deep.
    EXPECT_EQ(gif.DrawOptions() & (doDither | doAutoDither), doDither | doAutoDither);
    EXPECT_FALSE(gif.RenderDithered());
    EXPECT_EQ(gif.GetPalette().size(), 4u);

    SetGifDithering(&gif);
    EXPECT_EQ(gif.DrawOptions() & (doDither | doAutoDither), DitherForScreenDepth(ScreenDepth()) ? doDither : 0);

    // Dithering without the automatic rule renders on the web-safe palette.
    gif.SetDrawOptions(TGIFDrawOptions((gif.DrawOptions() | doDither) & ~doAutoDither));
    EXPECT_TRUE(gif.RenderDithered());
    EXPECT_EQ(gif.GetPalette().size(), 216u);
    EXPECT_EQ(gif.Images[0].GetBitmap().colorCount(), 256);
    EXPECT_EQ(qRed(gif.GetBitmap().pixel(0, 0)), 255);
}

TEST_F(AnimGifTest, ImageControlShowsTheAnimationBothWays)
{
    TestClock clock(0);
    ScopedClock scoped(clock);
    std::vector<QImage> shots;
    for (bool direct : {false, true}) {
        SCOPED_TRACE(direct);
        TAnimGif gif;
        MakeMixedAnimation(gif);
        gif.SetDrawOptions(TGIFDrawOptions((GifDefaultDrawOptions & ~doLoop) | (direct ? doDirectDraw : 0)));
        int ends = 0;
        gif.OnAnimationEnd = [&](TGIFPainter*) { ++ends; };
        {
            TGifImageControl control;
            control.resize(8, 8);
            control.SetPicture(&gif);
            control.grab();  // the first paint starts the animation
            ASSERT_TRUE(PumpUntil([&] { return ends == 1 && gif.PainterCount() == 0; }));
            shots.push_back(control.grab().toImage().convertToFormat(QImage::Format_RGB32));
        }
        EXPECT_FALSE(gif.OnChange);  // the control let go of the image
    }
    EXPECT_EQ(shots[0], shots[1]);
}

TEST_F(AnimGifTest, ProgressOfLoadingRenderingAndConverting)
{
    std::vector<std::string> events;
    TAnimGif gif;
    gif.OnProgress = [&](TAnimGif*, TProgressStage stage, int percent, const std::string& message) {
        EXPECT_TRUE(IsMainThread());
        events.push_back(message + std::to_string(stage) + ":" + std::to_string(percent));
    };
    auto dropUntil = [&](const std::string& last) {
        const auto it = std::find(events.begin(), events.end(), last);
        std::vector<std::string> taken(events.begin(), it == events.end() ? it : it + 1);
        events.erase(events.begin(), it == events.end() ? it : it + 1);
        return taken;
    };

    // Loading: one running stage per frame read, by the share of the file read.
    TAnimGif source;
    MakeMixedAnimation(source);
    const std::vector<uint8_t> bytes = source.SaveToMemory();
    gif.LoadFromMemory(bytes.data(), bytes.size());
    const auto loading = dropUntil("Loading...2:100");
    ASSERT_EQ(loading.size(), 5u);
    EXPECT_EQ(loading.front(), "Loading...0:0");
    for (size_t i = 1; i < 4; ++i)
        EXPECT_EQ(loading[i].rfind("Loading...1:", 0), 0u) << loading[i];
    EXPECT_EQ(loading[3], "Loading...1:99");  // the trailer byte is still to come

    // Rendering a frame: every 32 rows.
    TAnimGif tall;
    MakeAnimation(tall, {{.width = 4, .height = 70, .delay = 3}});
    tall.OnProgress = gif.OnProgress;
    tall.Images[0].GetBitmap();
    EXPECT_EQ(events, (std::vector<std::string>{"Rendering...0:0", "Rendering...1:0", "Rendering...1:45",
                                                 "Rendering...1:91", "Rendering...2:100"}));
    events.clear();

    // A painter renders on its own thread: the start and the end of each frame's rendering
    // reach the GUI thread.
    TestClock clock(0);
    ScopedClock scoped(clock);
    gif.SetDrawOptions(TGIFDrawOptions(GifDefaultDrawOptions & ~doLoop));
    QImage target = FilledImage(8, 8, kWhite);
    {
        QPainter canvas(&target);
        gif.Draw(canvas, target.rect());
    }
    // The painter's end is posted after its progress, so all of it has arrived by now.
    ASSERT_TRUE(PumpUntil([&] { return gif.PainterCount() == 0; }));
    EXPECT_EQ(std::count(events.begin(), events.end(), "Rendering...0:0"), 3);
    EXPECT_EQ(std::count(events.begin(), events.end(), "Rendering...2:100"), 3);
    events.clear();

    // Converting a picture into a frame.
    QImage picture(3, 40, QImage::Format_RGB32);
    picture.fill(Qt::blue);
    gif.Assign(picture);
    const auto converting = dropUntil("Converting...2:100");
    EXPECT_EQ(converting, (std::vector<std::string>{"Converting...0:0", "Converting...1:0", "Converting...1:80",
                                                     "Converting...2:100"}));
}

TEST_F(AnimGifTest, AFramesOwnPalette)
{
    TAnimGif gif;
    MakeAnimation(gif, {{.fill = 2, .delay = 3}, {.fill = 1, .delay = 3}});
    gif.SetDrawOptions(TGIFDrawOptions(GifDefaultDrawOptions & ~doAnimate));
    int changes = 0;
    gif.OnChange = [&](TAnimGif*) { ++changes; };
    TGIFSubImage& frame = gif.Images[0];
    auto drawn = [&] {
        QImage target = FilledImage(8, 8, kBlack);
        QPainter canvas(&target);
        gif.Draw(canvas, target.rect());
        canvas.end();
        return target.pixel(3, 3);
    };
    EXPECT_EQ(drawn(), kRed);

    // A palette of its own replaces the table's colours in drawing, and tells the control.
    frame.SetPalette({kBlack, kWhite, kGreen, kRed});
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(frame.GetPalette(), (std::vector<GifRgb>{kBlack, kWhite, kGreen, kRed}));
    EXPECT_EQ(drawn(), kGreen);
    frame.SetPalette({kBlack, kWhite, kGreen, kRed});
    EXPECT_EQ(changes, 1);  // the same one changes nothing

    // It outlives the render cache (which the budget may drop) but not a change of the
    // frame's own table; an empty one goes back to the table.
    frame.DropRenderCache();
    EXPECT_EQ(drawn(), kGreen);
    frame.SetPalette({});
    EXPECT_EQ(drawn(), kRed);
    frame.SetPalette({kBlack, kWhite, kGreen, kRed});
    frame.ColorMap().ImportPalette({kBlack, kWhite, kWhite, kWhite});
    frame.ColorMap().Changed();
    EXPECT_FALSE(frame.HasOwnPalette());
    EXPECT_EQ(drawn(), kWhite);
}

}  // namespace
