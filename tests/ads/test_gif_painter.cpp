// The animation painter: frame timing, loop counts, disposal, stopping, many at once.

#include <QPainter>

#include <atomic>
#include <filesystem>
#include <fstream>

#include "anim_image_control.h"
#include "anim_test_util.h"
#include "gif_render.h"
#include "platform/clock.h"

namespace {

class GifPainterTest : public AnimAppTest {};

constexpr TGIFDrawOptions kDirect = doThreaded | doTransparent | doAnimate | doDirectDraw;

// Draws `gif` onto `target` and returns once the painter has ended.
void PlayToEnd(TAnimGif& gif, QImage& target)
{
    {
        QPainter canvas(&target);
        gif.Draw(canvas, target.rect());
    }
    ASSERT_TRUE(AnimAppTest::PumpUntil([&] { return gif.PainterCount() == 0; }));
}

TEST(GifPainterTiming, WaitFormula)
{
    EXPECT_EQ(GifFrameWaitMs(10, 100, 0, 0), 120);
    EXPECT_EQ(GifFrameWaitMs(10, 200, 0, 0), 60);
    EXPECT_EQ(GifFrameWaitMs(3, 50, 0, 0), 72);
    // Half of an overrun is taken off the next wait; the halving truncates toward zero.
    EXPECT_EQ(GifFrameWaitMs(10, 100, 160, 120), 100);
    EXPECT_EQ(GifFrameWaitMs(10, 100, 121, 120), 120);
    // Running far behind gives a wait at or below 0, which is not waited for.
    EXPECT_LE(GifFrameWaitMs(3, 100, 1000, 0), 0);
    // The final division rounds to the nearest.
    EXPECT_EQ(GifFrameWaitMs(1, 300, 0, 0), 4);
    EXPECT_EQ(GifFrameWaitMs(65535, 1, 0, 0), 65535 * 12 * 100);
}

TEST_F(GifPainterTest, DelaysAsPlayedThreadedAndNot)
{
    // 0 plays as 10 units, 1 and 2 as 3, no control extension as 10; 5000 in full when
    // threaded and as 1000 inside Draw.
    TestClock clock(0);
    ScopedClock scoped(clock);
    for (bool threaded : {true, false}) {
        SCOPED_TRACE(threaded ? "threaded" : "inside Draw");
        TAnimGif gif;
        MakeAnimation(gif, {{.delay = 0}, {.delay = 1}, {.delay = 2}, {.delay = 5000}, {}, {.delay = 7}});
        gif.SetDrawOptions(threaded ? kDirect : TGIFDrawOptions(kDirect & ~doThreaded));
        std::vector<int64_t> starts;
        gif.OnFrameStart = [&](TGIFPainter*) { starts.push_back(TickMs()); };
        QImage target = FilledImage(8, 8, kBlack);
        PlayToEnd(gif, target);
        ASSERT_EQ(starts.size(), 6u);
        std::vector<int64_t> gaps;
        for (size_t i = 1; i < starts.size(); ++i)
            gaps.push_back(starts[i] - starts[i - 1]);
        EXPECT_EQ(gaps, (std::vector<int64_t>{120, 36, 36, threaded ? 60000 : 12000, 120}));
    }
}

TEST_F(GifPainterTest, SpeedScalesDelaysAndZeroHoldsTheFirstFrame)
{
    TestClock clock(0);
    ScopedClock scoped(clock);
    {
        TAnimGif gif;
        MakeAnimation(gif, {{.delay = 10}, {.delay = 10}, {.delay = 10}});
        gif.SetDrawOptions(kDirect);
        gif.AnimationSpeed = 200;
        std::vector<int64_t> starts;
        gif.OnFrameStart = [&](TGIFPainter*) { starts.push_back(TickMs()); };
        QImage target = FilledImage(8, 8, kBlack);
        PlayToEnd(gif, target);
        ASSERT_EQ(starts.size(), 3u);
        EXPECT_EQ(starts[2] - starts[1], 60);
    }
    for (int speed : {0, -5}) {
        SCOPED_TRACE(speed);
        TAnimGif gif;
        MakeAnimation(gif, {{.delay = 10}, {.delay = 10}});
        gif.SetDrawOptions(kDirect);
        gif.AnimationSpeed = speed;
        int frames = 0;
        gif.OnFrameStart = [&](TGIFPainter*) { ++frames; };
        QImage target = FilledImage(8, 8, kBlack);
        {
            QPainter canvas(&target);
            gif.Draw(canvas, target.rect());
        }
        PumpFor(150);
        EXPECT_EQ(frames, 1);
        EXPECT_EQ(gif.PainterCount(), 1);
        gif.StopDraw();
        EXPECT_EQ(gif.PainterCount(), 0);
    }
}

TEST_F(GifPainterTest, LoopCounts)
{
    TestClock clock(0);
    ScopedClock scoped(clock);
    const TGIFDrawOptions looping = kDirect | doLoop;
    struct Case {
        int loops;  // -1: no loop extension
        TGIFDrawOptions options;
        int passes;  // -1: endless
    } cases[] = {
        {-1, looping, 1},
        {3, looping, 3},
        {3, kDirect, 1},  // without doLoop one pass
        {0, TGIFDrawOptions(looping & ~doThreaded), 1},
        {0, looping, -1},
        {2, TGIFDrawOptions((looping | doLoopForever) & ~doThreaded), -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "loops " << c.loops << " options " << c.options);
        TAnimGif gif;
        MakeAnimation(gif, {{.delay = 3}, {.delay = 3}}, c.loops);
        gif.SetDrawOptions(c.options);
        int passes = 1, ends = 0;
        gif.OnLoopRestart = [&](TGIFPainter*) {
            // An endless animation is stopped from inside its own event.
            if (++passes == 6)
                gif.StopDraw();
        };
        gif.OnAnimationEnd = [&](TGIFPainter*) { ++ends; };
        QImage target = FilledImage(8, 8, kBlack);
        PlayToEnd(gif, target);
        EXPECT_EQ(passes, c.passes < 0 ? 6 : c.passes);
        EXPECT_EQ(ends, c.passes < 0 ? 0 : 1);  // a stopped painter reports nothing more
    }
}

TEST_F(GifPainterTest, FrameDoneHandlerJumpsToAnotherFrame)
{
    TestClock clock(0);
    ScopedClock scoped(clock);
    TAnimGif gif;
    MakeAnimation(gif, {{.delay = 3}, {.delay = 3}, {.delay = 3}});
    gif.SetDrawOptions(kDirect);
    std::vector<int> shown;
    bool jumped = false;
    gif.OnFrameStart = [&](TGIFPainter* p) { shown.push_back(p->ActiveImage()); };
    gif.OnFrameDone = [&](TGIFPainter* p) {
        if (p->ActiveImage() == 2 && !jumped) {
            jumped = true;
            p->SetActiveImage(0);
        }
    };
    QImage target = FilledImage(8, 8, kBlack);
    PlayToEnd(gif, target);
    EXPECT_EQ(shown, (std::vector<int>{0, 1, 2, 0, 1, 2}));
}

TEST_F(GifPainterTest, RestoreToBackgroundBetweenFrames)
{
    // Frame 0 paints the left half red and is disposed to background; frame 1 only touches
    // the right half. With transparency the destination's own pixels come back, without it
    // the GIF's background colour (palette entry 0, black).
    TestClock clock(0);
    ScopedClock scoped(clock);
    for (bool transparent : {true, false}) {
        SCOPED_TRACE(transparent);
        TAnimGif gif;
        MakeAnimation(gif, {{.left = 0, .width = 4, .fill = 2, .delay = 3, .disposal = 2},
                            {.left = 4, .width = 4, .fill = 3, .delay = 3}});
        gif.SetDrawOptions(transparent ? kDirect : TGIFDrawOptions(kDirect & ~doTransparent));
        QImage target = FilledImage(8, 8, kWhite);
        std::vector<QRgb> leftAtFrame;
        gif.OnFrameDone = [&](TGIFPainter*) { leftAtFrame.push_back(target.pixel(1, 1)); };
        PlayToEnd(gif, target);
        EXPECT_EQ(leftAtFrame, (std::vector<QRgb>{kRed, transparent ? kWhite : kBlack}));
        EXPECT_EQ(target.pixel(6, 6), kGreen);
    }
}

TEST_F(GifPainterTest, StopEndsALongWaitAndPauseHolds)
{
    // Real clock: the second frame is due 13 minutes after the first, so a stop that did not
    // wake the wait would hang here rather than return.
    TAnimGif gif;
    MakeAnimation(gif, {{.delay = 65535}, {.delay = 10}});
    gif.SetDrawOptions(kDirect);
    int done = 0, frameStarts = 0;
    gif.OnFrameDone = [&](TGIFPainter*) { ++done; };
    gif.OnFrameStart = [&](TGIFPainter*) { ++frameStarts; };
    QImage target = FilledImage(8, 8, kBlack);
    {
        QPainter canvas(&target);
        gif.Draw(canvas, target.rect());
    }
    ASSERT_TRUE(PumpUntil([&] { return done == 1; }));
    gif.StopDraw();
    EXPECT_EQ(gif.PainterCount(), 0);
    PumpFor(100);
    EXPECT_EQ(frameStarts, 1);  // the second frame never started

    // A paused painter holds at its wait point and goes on when resumed.
    MakeAnimation(gif, {{.delay = 3}, {.delay = 3}, {.delay = 3}});
    int started = 0;
    gif.OnFrameStart = [&](TGIFPainter*) {
        if (++started == 1)
            gif.SuspendPainters();
    };
    {
        QPainter canvas(&target);
        gif.Draw(canvas, target.rect());
    }
    PumpFor(200);
    EXPECT_EQ(started, 1);
    gif.ResumePainters();
    EXPECT_TRUE(PumpUntil([&] { return started == 3; }));
    gif.StopPainters();
}

TEST_F(GifPainterTest, ImageFreedFromItsOwnPainterEvent)
{
    // Freeing the image from an event of its threaded painter returns, and the painter,
    // stopped, touches the freed image no more (the sanitizer build checks the latter).
    for (const char* event : {"frame start", "frame done", "change"}) {
        SCOPED_TRACE(event);
        auto gif = std::make_unique<TAnimGif>();
        MakeAnimation(*gif, {{.delay = 3}, {.delay = 3}, {.delay = 3}});
        gif->SetDrawOptions(kDirect);
        bool freed = false;
        auto freeIt = [&] {
            if (!freed) {
                freed = true;
                gif.reset();
            }
        };
        const std::string which = event;
        if (which == "frame start")
            gif->OnFrameStart = [&](TGIFPainter*) { freeIt(); };
        else if (which == "frame done")
            gif->OnFrameDone = [&](TGIFPainter*) { freeIt(); };
        else
            gif->OnChange = [&](TAnimGif*) { freeIt(); };
        QImage target = FilledImage(8, 8, kBlack);
        {
            QPainter canvas(&target);
            gif->Draw(canvas, target.rect());
        }
        EXPECT_TRUE(PumpUntil([&] { return freed; }));
        PumpFor(100);  // the retired painter is joined from a posted call
    }
}

TEST_F(GifPainterTest, SuspendingInsideDrawDoesNotHoldTheGuiThread)
{
    // Not threaded, the painter plays on the GUI thread inside Draw: nothing could resume it,
    // so a suspension from its own event must not hold it.
    TestClock clock(0);
    ScopedClock scoped(clock);
    TAnimGif gif;
    MakeAnimation(gif, {{.delay = 3}, {.delay = 3}, {.delay = 3}});
    gif.SetDrawOptions(TGIFDrawOptions(kDirect & ~doThreaded));
    int started = 0;
    gif.OnFrameStart = [&](TGIFPainter*) {
        if (++started == 1)
            gif.SuspendPainters();
    };
    QImage target = FilledImage(8, 8, kBlack);
    {
        QPainter canvas(&target);
        gif.Draw(canvas, target.rect());
    }
    EXPECT_EQ(started, 3);
    EXPECT_EQ(gif.PainterCount(), 0);
}

TEST_F(GifPainterTest, ManyImagesAnimateAtOnce)
{
    // Several images on their own threads, buffered and direct, sharing nothing but the GUI
    // thread; run under ThreadSanitizer in the sanitizer build.
    constexpr int kImages = 6;
    std::vector<std::unique_ptr<TAnimGif>> gifs;
    std::vector<QImage> targets(kImages, FilledImage(8, 8, kWhite));
    std::vector<int> frames(kImages, 0);
    for (int i = 0; i < kImages; ++i) {
        auto gif = std::make_unique<TAnimGif>();
        MakeAnimation(*gif, {{.left = 0, .width = 4, .fill = 2, .delay = 3, .disposal = 2, .transparent = 0},
                             {.left = 4, .width = 4, .fill = 3, .delay = 3, .disposal = 3},
                             {.fill = 1, .delay = 3, .transparent = 1, .holeIndex = 0}});
        gif->SetDrawOptions(TGIFDrawOptions(GifDefaultDrawOptions | doLoopForever |
                                            (i % 2 ? doDirectDraw : 0)));
        gif->AnimationSpeed = 400;
        gif->OnFrameDone = [&frames, i](TGIFPainter*) { ++frames[size_t(i)]; };
        gif->OnChange = [&, i](TAnimGif* g) {
            QPainter canvas(&targets[size_t(i)]);
            g->Draw(canvas, targets[size_t(i)].rect());
        };
        gifs.push_back(std::move(gif));
    }
    for (int i = 0; i < kImages; ++i) {
        QPainter canvas(&targets[size_t(i)]);
        gifs[size_t(i)]->Draw(canvas, targets[size_t(i)].rect());
    }
    EXPECT_TRUE(PumpUntil([&] {
        for (int n : frames)
            if (n < 12)
                return false;
        return true;
    }));
    // Half stop explicitly, the rest with their images.
    for (int i = 0; i < kImages; i += 2)
        gifs[size_t(i)]->StopPainters();
    gifs.clear();
}

// Plays `gif` once, threaded and drawn straight onto a transparent picture of its screen, and
// returns the picture after every frame.
std::vector<QImage> PlayedFrames(TAnimGif& gif, TGIFDrawOptions extra = 0)
{
    gif.SetDrawOptions(TGIFDrawOptions(kDirect | extra));
    QImage target = FilledImage(gif.Width(), gif.Height(), 0);
    std::vector<QImage> shown;
    gif.OnFrameDone = [&](TGIFPainter*) { shown.push_back(target.convertToFormat(QImage::Format_ARGB32)); };
    PlayToEnd(gif, target);
    gif.OnFrameDone = nullptr;
    return shown;
}

// The first pixel where two pictures differ (any two fully transparent pixels are equal).
std::string FirstDifference(const QImage& a, const QImage& b)
{
    if (a.size() != b.size())
        return "sizes differ";
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            if (p != q && (qAlpha(p) != 0 || qAlpha(q) != 0))
                return "(" + std::to_string(x) + "," + std::to_string(y) + ")";
        }
    return {};
}

void ExpectPainterMatchesCompositor(TAnimGif& gif, const std::string& name)
{
    const std::vector<QImage> composed = RenderAnimationFrames(gif);
    const std::vector<QImage> played = PlayedFrames(gif);
    ASSERT_EQ(played.size(), composed.size()) << name;
    for (size_t i = 0; i < played.size(); ++i)
        EXPECT_EQ(FirstDifference(played[i], composed[i]), "") << name << " frame " << i;
}

TEST_F(GifPainterTest, PainterAndCompositorAgreeOnEveryAnimatedSuiteFile)
{
    const std::filesystem::path suite = std::filesystem::path(VN_SHARED_DIR) / "gif-suite";
    if (!std::filesystem::exists(suite))
        GTEST_SKIP() << "no GIF suite at " << suite;
    TestClock clock(0);
    ScopedClock scoped(clock);
    int animated = 0;
    for (const auto& entry : std::filesystem::directory_iterator(suite)) {
        if (entry.path().extension() != ".gif")
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        TAnimGif gif;
        try {
            gif.LoadFromMemory(bytes.data(), bytes.size());
        } catch (const GIFException&) {
            continue;  // refused files are the reader's tests
        }
        if (gif.FrameCount() < 2)
            continue;
        ++animated;
        ExpectPainterMatchesCompositor(gif, entry.path().filename().string());
    }
    EXPECT_GE(animated, 5);
}

TEST_F(GifPainterTest, ReservedDisposalsAndDoubledControlBlocksPlayAsComposed)
{
    // Disposals 4 to 7 act as "do not dispose" in both; a frame with two control blocks
    // follows its first one in both (here: keep, not restore to background).
    TestClock clock(0);
    ScopedClock scoped(clock);
    TAnimGif gif;
    std::vector<TestFrame> frames;
    for (int disposal = 4; disposal <= 7; ++disposal)
        frames.push_back({.left = 2 * (disposal - 4), .width = 2, .fill = 1 + disposal % 3, .delay = 3,
                          .disposal = disposal});
    frames.push_back({.left = 0, .top = 4, .width = 8, .height = 4, .fill = 3, .delay = 3});
    MakeAnimation(gif, frames);
    auto second = std::make_unique<TGIFGraphicControlExtension>(&gif.Images[0]);
    second->SetDisposal(dmBackground);
    gif.Images[0].AddExtension(std::move(second));
    const std::vector<QImage> played = PlayedFrames(gif, doLoop);
    ASSERT_EQ(played.size(), 5u);
    // Every frame stays: the last picture shows all four strips and the lower half.
    EXPECT_EQ(played[4].pixel(0, 0), kRed);
    EXPECT_EQ(played[4].pixel(2, 0), kGreen);
    EXPECT_EQ(played[4].pixel(4, 0), kWhite);
    EXPECT_EQ(played[4].pixel(6, 0), kRed);
    EXPECT_EQ(played[4].pixel(0, 6), kGreen);
    ExpectPainterMatchesCompositor(gif, "reserved disposals");
}

TEST_F(GifPainterTest, OnlyImagesAreFrames)
{
    // One image and a trailing comment, looping for ever: a still picture, no painter, in
    // both ways of playing (inside Draw it would otherwise never return).
    TestClock clock(0);
    ScopedClock scoped(clock);
    for (bool threaded : {true, false}) {
        SCOPED_TRACE(threaded ? "threaded" : "inside Draw");
        TAnimGif gif;
        MakeAnimation(gif, {{.fill = 2, .delay = 10}}, 0);
        auto trailing = std::make_unique<TGIFSubImage>(&gif);
        auto comment = std::make_unique<TGIFCommentExtension>(trailing.get());
        comment->Text = {"made by hand"};
        trailing->AddExtension(std::move(comment));
        gif.Images.Add(std::move(trailing));
        gif.SetDrawOptions(TGIFDrawOptions((GifDefaultDrawOptions | doLoopForever) & ~(threaded ? 0 : doThreaded)));
        int starts = 0;
        gif.OnFrameStart = [&](TGIFPainter*) {
            if (++starts == 5)
                gif.StopDraw();
        };
        QImage target = FilledImage(8, 8, kBlack);
        {
            QPainter canvas(&target);
            gif.Draw(canvas, target.rect());
        }
        EXPECT_EQ(gif.PainterCount(), 0);
        EXPECT_EQ(starts, 0);
        EXPECT_EQ(target.pixel(3, 3), kRed);
    }

    // An item without an image at the loop point is skipped; the frames after it play.
    TAnimGif gif;
    MakeAnimation(gif, {{.fill = 2, .delay = 3}, {.fill = 3, .delay = 3}});
    auto empty = std::make_unique<TGIFSubImage>(&gif);
    auto loop = std::make_unique<TGIFAppExtNSLoop>(empty.get());
    empty->AddExtension(std::move(loop));
    auto& list = const_cast<TGIFImageList&>(gif.Images);
    std::vector<std::unique_ptr<TGIFSubImage>> items;
    items.push_back(std::move(empty));
    for (int i = 0; i < 2; ++i) {
        auto frame = std::make_unique<TGIFSubImage>(&gif);
        frame->Assign(list[i]);
        items.push_back(std::move(frame));
    }
    list.Clear();
    for (auto& item : items)
        list.Add(std::move(item));
    gif.SetDrawOptions(TGIFDrawOptions(kDirect | doLoop | doLoopForever));
    std::vector<int> shown;
    gif.OnFrameStart = [&](TGIFPainter* p) { shown.push_back(p->ActiveImage()); };
    QImage target = FilledImage(8, 8, kBlack);
    {
        QPainter canvas(&target);
        gif.Draw(canvas, target.rect());
    }
    EXPECT_TRUE(PumpUntil([&] { return shown.size() >= 4; }));
    gif.StopDraw();
    ASSERT_GE(shown.size(), 4u);
    EXPECT_EQ(std::vector<int>(shown.begin(), shown.begin() + 4), (std::vector<int>{1, 2, 1, 2}));
}

TEST_F(GifPainterTest, APassWithNothingToShowWaitsOrEnds)
{
    // A handler that sends every pass past the last frame leaves nothing to show: a threaded
    // painter then waits for its stop instead of spinning, and Draw returns.
    TestClock clock(0);
    ScopedClock scoped(clock);
    for (bool threaded : {true, false}) {
        SCOPED_TRACE(threaded ? "threaded" : "inside Draw");
        TAnimGif gif;
        MakeAnimation(gif, {{.delay = 3}, {.delay = 3}});
        TGIFDrawOptions options = kDirect | doLoop | doLoopForever;
        gif.SetDrawOptions(threaded ? options : TGIFDrawOptions(options & ~doThreaded));
        std::atomic<int> restarts = 0;
        gif.OnLoopRestart = [&](TGIFPainter* p) {
            p->SetActiveImage(99);
            if (++restarts == 1000)
                gif.StopDraw();  // the spin this test is about, ended
        };
        QImage target = FilledImage(8, 8, kBlack);
        {
            QPainter canvas(&target);
            gif.Draw(canvas, target.rect());
        }
        if (threaded) {
            ASSERT_TRUE(PumpUntil([&] { return restarts.load() >= 1; }));
            PumpFor(100);  // a spinning painter would restart again meanwhile
            EXPECT_EQ(gif.PainterCount(), 1);
            gif.StopDraw();
        }
        EXPECT_EQ(restarts.load(), 1);
        EXPECT_EQ(gif.PainterCount(), 0);
    }
}

TEST_F(GifPainterTest, FrameCacheAndSurfacesStayWithinTheBudget)
{
    // 40 frames of 1 Mpx, each 4 MB when drawn: far past the 64 MB budget of this screen
    // size. Playing them keeps the cache, the painter's surfaces and the paint buffer within
    // it, and the frames kept are the early ones, which the next pass needs first.
    TestClock clock(0);
    ScopedClock scoped(clock);
    TAnimGif gif;
    gif.Header.Width = 1024;
    gif.Header.Height = 1024;
    gif.Header.ColorMap.ImportPalette({kBlack, kWhite, kRed, kGreen});
    for (int i = 0; i < 40; ++i) {
        auto frame = std::make_unique<TGIFSubImage>(&gif);
        frame->SetBounds(0, 0, 1024, 1024);
        frame->Data().assign(1024 * 1024, uint8_t(i % 4));
        auto gce = std::make_unique<TGIFGraphicControlExtension>(frame.get());
        gce->SetDelay(3);
        frame->AddExtension(std::move(gce));
        gif.Images.Add(std::move(frame));
    }
    gif.SetDrawOptions(TGIFDrawOptions(GifDefaultDrawOptions & ~doLoop));
    const size_t budget = gif.GifDocument::RenderCacheBudget();
    EXPECT_EQ(budget, kGifRenderCacheFloor);
    size_t most = 0;
    int frames = 0;
    gif.OnFrameDone = [&](TGIFPainter*) {
        ++frames;
        std::lock_guard lock(gif.FrameLock());
        std::lock_guard buffer(gif.BufferLock());
        most = std::max(most, gif.RenderCacheBytes() + size_t(gif.SurfaceBytes()->load()) +
                                  size_t(gif.PaintBuffer().sizeInBytes()));
    };
    QImage target = FilledImage(1024, 1024, kBlack);
    {
        QPainter canvas(&target);
        gif.Draw(canvas, target.rect());
    }
    ASSERT_TRUE(PumpUntil([&] { return gif.PainterCount() == 0; }));
    EXPECT_EQ(frames, 40);
    EXPECT_LE(most, budget);
    EXPECT_GT(most, budget / 2);  // and it does cache
    EXPECT_EQ(gif.SurfaceBytes()->load(), 0);
    EXPECT_NE(gif.Images[0].CachedRender(), nullptr);

    // A small banner stays cached whole: every frame is drawn from memory on the next pass.
    TAnimGif banner;
    MakeAnimation(banner, std::vector<TestFrame>(50, {.delay = 3}));
    banner.SetDrawOptions(TGIFDrawOptions(GifDefaultDrawOptions & ~doLoop));
    QImage small = FilledImage(8, 8, kBlack);
    {
        QPainter canvas(&small);
        banner.Draw(canvas, small.rect());
    }
    ASSERT_TRUE(PumpUntil([&] { return banner.PainterCount() == 0; }));
    int cached = 0;
    for (const auto& frame : banner.Images)
        cached += frame->CachedRender() && !frame->CachedRender()->drawable.isNull();
    EXPECT_EQ(cached, 50);
}

TEST_F(GifPainterTest, AScreenTooLargeToComposeIsAClearError)
{
    // Two 4 x 4 frames on a 65535 x 65535 screen load; animating them would need the whole
    // screen in full colour, which Draw refuses with a clear error and no painter left.
    TAnimGif gif;
    MakeAnimation(gif, {{.width = 4, .height = 4, .delay = 3}, {.width = 4, .height = 4, .fill = 2, .delay = 3}});
    gif.Header.Width = 65535;
    gif.Header.Height = 65535;
    QImage target = FilledImage(8, 8, kBlack);
    QPainter canvas(&target);
    try {
        gif.Draw(canvas, target.rect());
        ADD_FAILURE() << "no error";
    } catch (const GIFException& e) {
        EXPECT_NE(std::string(e.what()).find("limit"), std::string::npos) << e.what();
    }
    EXPECT_EQ(gif.PainterCount(), 0);
    EXPECT_TRUE(gif.PaintBuffer().isNull());

    // An image control showing it stays blank and reports the error once, however often it
    // repaints (an exception must not leave a paint event).
    std::vector<std::string> warnings;
    gif.OnGifWarning = [&](TGIFItem*, int, const std::string& message) { warnings.push_back(message); };
    TGifImageControl control;
    control.resize(8, 8);
    control.SetPicture(&gif);
    control.grab();
    control.grab();
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("limit"), std::string::npos);
    EXPECT_EQ(gif.PainterCount(), 0);
}

}  // namespace
