#include "gif_painter.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPainter>
#include <QPalette>

#include <algorithm>
#include <chrono>

#include "anim_gif.h"
#include "gif_render.h"
#include "platform/clock.h"
#include "platform/color.h"
#include "platform/messages.h"

int GifFrameWaitMs(int delayUnits, int speed, int64_t elapsedMs, int64_t carriedMs)
{
    // 64-bit arithmetic cannot overflow here: delays are 16-bit and speed is at least 1.
    const int64_t overrun = elapsedMs - carriedMs;
    const int64_t wanted = int64_t(delayUnits) * GifDelayUnitMs - overrun / 2;
    const int64_t scaled = wanted * 100;
    const int64_t half = speed / 2;
    const int64_t result = scaled >= 0 ? (scaled + half) / speed : (scaled - half) / speed;
    if (result > INT32_MAX)
        return int(int64_t(GifMaxDelay) * GifDelayUnitMs);
    return result < INT32_MIN ? INT32_MIN : int(result);
}

// ---------------------------------------------------------------- GUI handshake

struct GifPainterSync::Pending {
    std::function<void()> fn;
    std::exception_ptr error;
    bool running = false, done = false, abandoned = false;
};

bool GifPainterSync::Call(const std::function<void()>& fn, const std::atomic<bool>& stopped)
{
    if (!QCoreApplication::instance() || IsMainThread()) {
        // No event loop to hand over to: run here, one call at a time.
        static std::mutex inlineCalls;
        std::lock_guard lock(inlineCalls);
        if (stopped.load())
            return false;
        fn();
        return true;
    }
    auto call = std::make_shared<Pending>();
    call->fn = fn;
    {
        std::lock_guard lock(mutex_);
        if (stopped.load())
            return false;
        pending_ = call;
    }
    // The posted drain may run after the painter is gone; it holds only the queue alive.
    PostToMainThread([self = shared_from_this()] { self->Drain(); });
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [&] { return call->done || (stopped.load() && !call->running); });
    if (!call->done) {
        call->abandoned = true;
        pending_.reset();
        return false;
    }
    if (call->error)
        std::rethrow_exception(call->error);
    return true;
}

void GifPainterSync::Drain()
{
    std::shared_ptr<Pending> call;
    {
        std::lock_guard lock(mutex_);
        call = pending_;
        if (!call || call->running || call->done || call->abandoned)
            return;
        call->running = true;
    }
    inCall_ = true;
    try {
        call->fn();
    } catch (...) {
        call->error = std::current_exception();
    }
    inCall_ = false;
    {
        std::lock_guard lock(mutex_);
        call->done = true;
        if (pending_ == call)
            pending_.reset();
    }
    cv_.notify_all();
}

void GifPainterSync::Wake()
{
    { std::lock_guard lock(mutex_); }
    cv_.notify_all();
}

// ---------------------------------------------------------------- painter

namespace {

std::atomic<uint64_t> nextSerial{1};

QImage::Format SurfaceFormat() { return QImage::Format_ARGB32_Premultiplied; }

}  // namespace

TGIFPainter::TGIFPainter(TAnimGif* image, uint16_t options, const QRect& rect, QImage* target, QPainter* canvas)
    : image_(image),
      options_(options),
      rect_(rect),
      target_(target),
      canvas_(canvas),
      threaded_(options & doThreaded),
      speed_(image->AnimationSpeed),
      serial_(nextSerial++),
      surfaceBytes_(image->SurfaceBytes()),
      sync_(std::make_shared<GifPainterSync>())
{
    bool usesBackground = options_ & doClearOnLoop;
    {
        std::lock_guard frames(image_->FrameLock());
        if (image_->BackgroundColor != GifNoBackground)
            background_ = ToQColor(image_->BackgroundColor & 0xFFFFFF).rgba();
        else if (image_->Header.ColorMap.Count() == 0)
            background_ = QGuiApplication::instance() ? QGuiApplication::palette().color(QPalette::Window).rgba()
                                                      : 0xFFFFFFFFu;
        else
            background_ = image_->Header.BackgroundColor() | 0xFF000000u;
        for (const auto& frame : image_->Images)
            if (const auto* gce = frame->GraphicControlExtension())
                usesBackground |= DisposalAsPlayed(gce->Disposal()) == dmBackground;
    }

    // What the destination shows now: the frames are drawn over it.
    backup_ = GifPicture(rect_.width(), rect_.height(), SurfaceFormat());
    backup_.fill(QColor::fromRgba(background_));
    {
        QPainter painter(&backup_);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        if (target_) {
            targetSize_ = target_->size();
            painter.drawImage(QPoint(0, 0), *target_, rect_);
        } else {
            std::lock_guard lock(image_->BufferLock());
            if (!image_->PaintBuffer().isNull())
                painter.drawImage(QPoint(0, 0), image_->PaintBuffer(), rect_);
        }
    }
    if (usesBackground && (options_ & doTransparent)) {
        // Restoring to background brings back what was there; a plain area needs no copy.
        const QRgb first = backup_.isNull() ? 0 : reinterpret_cast<const QRgb*>(backup_.constScanLine(0))[0];
        bool plain = true;
        for (int y = 0; plain && y < backup_.height(); ++y) {
            const auto* row = reinterpret_cast<const QRgb*>(backup_.constScanLine(y));
            plain = std::all_of(row, row + backup_.width(), [first](QRgb c) { return c == first; });
        }
        if (plain)
            plainBackground_ = first;
        else
            backgroundBuffer_ = backup_.copy();
    }
    ownBytes_ = int64_t(backup_.sizeInBytes()) + int64_t(backgroundBuffer_.sizeInBytes());
    *surfaceBytes_ += ownBytes_;
}

TGIFPainter::~TGIFPainter()
{
    Stop();
    Join();
    *surfaceBytes_ -= ownBytes_;
}

void TGIFPainter::Start()
{
    if (threaded_ && !thread_.joinable())
        thread_ = std::thread([this] { Execute(); });
}

void TGIFPainter::Stop()
{
    {
        std::lock_guard lock(waitMutex_);
        stopped_ = true;
    }
    waitCv_.notify_all();
    sync_->Wake();
}

void TGIFPainter::Pause()
{
    std::lock_guard lock(waitMutex_);
    paused_ = true;
}

void TGIFPainter::Resume()
{
    {
        std::lock_guard lock(waitMutex_);
        paused_ = false;
    }
    waitCv_.notify_all();
}

void TGIFPainter::Join()
{
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
}

bool TGIFPainter::RunOnGui(const std::function<void()>& fn)
{
    if (!threaded_) {
        if (stopped_.load())
            return false;
        fn();
        return true;
    }
    return sync_->Call(fn, stopped_);
}

void TGIFPainter::Fire(const TGIFPainterEvent& event)
{
    if (event && !stopped_.load())
        RunOnGui([&] { event(this); });
}

bool TGIFPainter::WaitMs(int64_t ms)
{
    if (!CurrentClock().IsReal()) {
        // A test clock: the whole wait passes at once.
        SleepMs(int(ms));
        return !stopped_.load();
    }
    std::unique_lock lock(waitMutex_);
    return !waitCv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopped_.load(); });
}

void TGIFPainter::WaitWhilePaused()
{
    // Not threaded, the loop runs on the GUI thread, which is the only one that could resume it.
    if (!threaded_)
        return;
    std::unique_lock lock(waitMutex_);
    waitCv_.wait(lock, [this] { return !paused_ || stopped_.load(); });
}

void TGIFPainter::WaitForNextFrame(int64_t& delayUnits, int64_t& lastTime, int64_t& carried)
{
    const int64_t now = TickMs();
    int64_t waitMs = 0;
    bool untilStopped = false;
    if (speed_ > 0) {
        waitMs = GifFrameWaitMs(int(delayUnits), speed_, now - lastTime, carried);
        carried = waitMs;
    } else if (threaded_) {
        untilStopped = true;
    } else {
        waitMs = int64_t(GifMaxDelay) * GifDelayUnitMs;
    }
    lastTime = now;

    if (threaded_) {
        if (untilStopped) {
            // Speed 0 or below: the first frame stays until the painter is stopped.
            std::unique_lock lock(waitMutex_);
            waitCv_.wait(lock, [this] { return stopped_.load(); });
        } else if (waitMs > 0 && !WaitMs(waitMs)) {
            carried = 0;
            lastTime = TickMs();
        }
        return;
    }
    // Inside Draw on the GUI thread: sleep in slices and keep the GUI alive.
    if (waitMs < 1)
        waitMs = 1;
    while (waitMs > 0 && !stopped_.load()) {
        const int64_t before = TickMs();
        SleepMs(int(std::min<int64_t>(waitMs, 100)));
        if (IsMainThread())
            QCoreApplication::processEvents();
        if (ShuttingDown.load())
            Stop();
        waitMs -= std::max<int64_t>(TickMs() - before, 1);
    }
}

void TGIFPainter::Execute()
{
    try {
        activeImage_ = 0;
        Fire(OnAnimationStart);
        firstFrame_ = false;
        int64_t loopCount = 1;  // -1: for ever
        int loopPoint = 0;
        bool loopSeen = false;
        int64_t delay = threaded_ ? 0 : 1;
        int64_t lastTime = TickMs();
        int64_t carried = 0;

        for (;;) {
            if ((loopCount == 0 && !(options_ & doLoopForever)) || stopped_.load())
                break;
            activeImage_ = loopPoint;
            if (firstFrame_.load())
                Fire(OnLoopRestart);

            bool shown = false;
            while (!stopped_.load()) {
                {
                    // Items without an image are not frames: skipped, as the compositor does.
                    // The next frame's picture is made before the wait, not after it.
                    std::lock_guard frames(image_->FrameLock());
                    const int index = image_->NextFrame(activeImage_.load());
                    if (stopped_.load() || index >= image_->Images.Count())
                        break;
                    activeImage_ = index;
                    image_->Images[index].PrepareDrawing(options_ & doTransparent);
                }
                if (delay > 0)
                    WaitForNextFrame(delay, lastTime, carried);
                else
                    std::this_thread::yield();
                WaitWhilePaused();
                if (stopped_.load())
                    break;
                Fire(OnFrameStart);
                // An event may have freed the image: once stopped, it is not touched again.
                if (stopped_.load())
                    break;

                const int index = activeImage_.load();
                int disposal = dmNoDisposal;
                int storedDelay = 0;
                {
                    std::lock_guard frames(image_->FrameLock());
                    if (stopped_.load() || index < 0 || index >= image_->Images.Count())
                        break;
                    const TGIFSubImage& frame = image_->Images[index];
                    if (frame.Empty())
                        continue;  // a handler jumped to an item without an image
                    for (const auto& extension : frame.Extensions())
                        if (const auto* loop = dynamic_cast<const TGIFAppExtNSLoop*>(extension.get());
                            loop && !loopSeen) {
                            loopSeen = true;
                            loopCount = loop->Loops;
                            if ((loopCount == 0 || (options_ & doLoopForever)) && threaded_)
                                loopCount = -1;
                            loopPoint = index;
                        }
                    // One control block applies, the frame's first, as in the compositor.
                    if (const auto* gce = frame.GraphicControlExtension()) {
                        disposal = DisposalAsPlayed(gce->Disposal());
                        storedDelay = gce->Delay();
                    }
                }
                PaintFrame(disposal);
                shown = true;
                delay = EffectiveDelay(storedDelay);
                if (!threaded_ && delay > GifMaxDelay)
                    delay = GifMaxDelay;

                Fire(OnFrameDone);
                if (activeImage_.load() == index)
                    activeImage_ = index + 1;
                if (!(options_ & doAnimate))
                    break;
            }
            if (!shown && !stopped_.load()) {
                // Nothing to show from the loop point on: another pass would only spin. A
                // threaded painter keeps its picture until stopped; inside Draw it ends.
                if (threaded_) {
                    std::unique_lock lock(waitMutex_);
                    waitCv_.wait(lock, [this] { return stopped_.load(); });
                }
                break;
            }
            if (loopCount > 0)
                --loopCount;
            if (!((options_ & doAnimate) && (options_ & doLoop)))
                break;
        }
    } catch (...) {
        error_ = std::current_exception();
        Stop();
    }
    activeImage_ = -1;
    try {
        Fire(OnAnimationEnd);
    } catch (...) {
        if (!error_)
            error_ = std::current_exception();
    }
    ended_ = true;
    if (OnTerminate)
        OnTerminate(this);
}

bool TGIFPainter::PaintFrame(int disposal)
{
    if (stopped_.load())
        return false;
    const int index = activeImage_.load();
    const bool clearFirst = (options_ & doClearOnLoop) && index == 0;
    // A "restore to previous" frame keeps only its own area of what was there, to put back
    // after it has been shown.
    QImage saved;
    QRect savedArea;
    {
        std::lock_guard frames(image_->FrameLock());
        if (stopped_.load() || index < 0 || index >= image_->Images.Count())
            return false;
        TGIFSubImage& frame = image_->Images[index];
        if (clearFirst)
            RestoreBackground(backup_, index);
        const QRect whole(QPoint(0, 0), rect_.size());
        if (disposal == dmPrevious) {
            savedArea = (options_ & doTile) ? whole : frame.ScaleRect(whole) & whole;
            saved = backup_.copy(savedArea);
        }
        QPainter painter(&backup_);
        frame.Draw(painter, whole, options_ & doTile, options_ & doTransparent);
    }
    Show(backup_);
    if (!saved.isNull()) {
        QPainter painter(&backup_);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(savedArea.topLeft(), saved);
    }
    if (stopped_.load())
        return false;  // the image may be gone: Show ran code on the GUI thread
    if (disposal == dmBackground) {
        std::lock_guard frames(image_->FrameLock());
        if (index < image_->Images.Count())
            RestoreBackground(backup_, index);
    }
    firstFrame_ = true;
    return true;
}

void TGIFPainter::RestoreBackground(QImage& surface, int frameIndex)
{
    const TGIFSubImage& frame = image_->Images[frameIndex];
    const QRect whole(QPoint(0, 0), rect_.size());
    std::vector<QRect> areas;
    const int imageWidth = image_->Width(), imageHeight = image_->Height();
    if ((options_ & doTile) && frame.Width() < imageWidth && frame.Height() < imageHeight) {
        for (int top = frame.Top(); top <= whole.bottom(); top += imageHeight)
            for (int left = frame.Left(); left <= whole.right(); left += imageWidth)
                areas.emplace_back(left, top, frame.Width(), frame.Height());
    } else {
        areas.push_back(frame.ScaleRect(whole));
    }
    QPainter painter(&surface);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    const bool fromBackground = (options_ & doTransparent) && !backgroundBuffer_.isNull();
    const QRgb fill = (options_ & doTransparent) && plainBackground_ ? *plainBackground_ : background_;
    for (const QRect& area : areas) {
        if (fromBackground)
            painter.drawImage(area, backgroundBuffer_, area);
        else
            painter.fillRect(area, QColor::fromRgba(fill));
    }
}

void TGIFPainter::Show(const QImage& surface)
{
    if (!target_) {
        {
            std::lock_guard lock(image_->BufferLock());
            QImage& buffer = image_->PaintBuffer();
            if (buffer.isNull() || stopped_.load())
                return;
            QPainter painter(&buffer);
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            painter.drawImage(rect_.topLeft(), surface);
        }
        image_->NotifyChanged();
        return;
    }
    RunOnGui([&] {
        if ((options_ & doCheckCanvas) && (target_->isNull() || target_->size() != targetSize_)) {
            Stop();
            return;
        }
        if (!canvas_ && target_->paintingActive())
            return;  // somebody is painting on it right now; the next frame shows instead
        if (canvas_ && canvas_->isActive()) {
            canvas_->save();
            canvas_->setCompositionMode(QPainter::CompositionMode_Source);
            canvas_->drawImage(rect_.topLeft(), surface);
            canvas_->restore();
        } else {
            QPainter painter(target_);
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            painter.drawImage(rect_.topLeft(), surface);
        }
        image_->Changed();
    });
}
