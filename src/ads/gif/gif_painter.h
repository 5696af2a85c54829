#pragma once
// Plays the frames of one TAnimGif in one rectangle: on a thread of its own, or inside the
// Draw call that created it. Frames are composed off the GUI thread on private surfaces; a
// buffered painter copies each frame into the image's paint buffer, a direct one hands it to
// the GUI thread, which draws it onto the destination image. Events run on the GUI thread.
//
// A painter is never killed or suspended from outside: Stop sets a flag and wakes the wait,
// Pause holds it at its wait point, and the owning image joins it.

#include <QImage>
#include <QRect>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

class QPainter;
class TAnimGif;
class TGIFPainter;

using TGIFPainterEvent = std::function<void(TGIFPainter* sender)>;

// Milliseconds to wait before the next frame. `delayUnits` is the frame delay as played;
// `elapsedMs` the time since the previous computation and `carriedMs` what was asked for then,
// so that half of any overrun is taken off this wait. Speed is a percentage above 0.
int GifFrameWaitMs(int delayUnits, int speed, int64_t elapsedMs, int64_t carriedMs);

// The handshake between a painter thread and the GUI thread: calls queued here run on the GUI
// thread, either from a posted event or from a GUI thread that waits for the painter.
class GifPainterSync : public std::enable_shared_from_this<GifPainterSync> {
public:
    // Runs fn on the GUI thread and waits for it. False when `stopped` was set before fn began.
    bool Call(const std::function<void()>& fn, const std::atomic<bool>& stopped);
    // Runs the queued calls; GUI thread only.
    void Drain();
    // Wakes a painter waiting in Call after its stop flag was set.
    void Wake();
    // True while a call of this painter runs on the GUI thread.
    bool InCall() const { return inCall_.load(); }

private:
    struct Pending;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::shared_ptr<Pending> pending_;
    std::atomic<bool> inCall_{false};
};

class TGIFPainter {
public:
    // `target`: the image drawn on directly, or null to paint into `image`'s paint buffer.
    // `canvas`: with a non-threaded direct painter, the caller's active painter on `target`.
    // Construction runs on the GUI thread: it reads the destination's current contents.
    TGIFPainter(TAnimGif* image, uint16_t options, const QRect& rect, QImage* target, QPainter* canvas);
    ~TGIFPainter();  // stops and joins
    TGIFPainter(const TGIFPainter&) = delete;
    TGIFPainter& operator=(const TGIFPainter&) = delete;

    // Threaded: starts the thread. Not threaded: nothing (the owner calls Execute).
    void Start();
    // Ends the animation at the next step, waking any wait.
    void Stop();
    // Holds a threaded painter at its next wait point until Resume; a non-threaded one plays
    // on regardless, as holding it would hold the GUI thread.
    void Pause();
    void Resume();
    // Waits for the thread to end; Stop first.
    void Join();

    // The animation loop; runs on the painter's thread or, not threaded, on the caller's.
    void Execute();

    bool Threaded() const { return threaded_; }
    bool Stopped() const { return stopped_.load(); }
    bool Ended() const { return ended_.load(); }
    bool FirstFramePainted() const { return firstFrame_.load(); }
    TAnimGif* Image() const { return image_; }
    const QRect& Rect() const { return rect_; }
    const QImage* Target() const { return target_; }
    uint16_t Options() const { return options_; }
    uint64_t Serial() const { return serial_; }
    // The frame shown; an OnFrameDone handler may set another to jump there.
    int ActiveImage() const { return activeImage_.load(); }
    void SetActiveImage(int index) { activeImage_.store(index); }
    // The failure that ended the loop, if one did.
    std::exception_ptr Error() const { return error_; }

    GifPainterSync& Sync() { return *sync_; }
    std::shared_ptr<GifPainterSync> SyncHandle() const { return sync_; }

    // Called when the loop has ended (on the painter's thread when threaded).
    std::function<void(TGIFPainter*)> OnTerminate;

    TGIFPainterEvent OnAnimationStart, OnFrameStart, OnFrameDone, OnLoopRestart, OnAnimationEnd;

private:
    void Fire(const TGIFPainterEvent& event);
    bool RunOnGui(const std::function<void()>& fn);
    void WaitForNextFrame(int64_t& delayUnits, int64_t& lastTime, int64_t& carried);
    bool WaitMs(int64_t ms);  // false when woken by Stop
    void WaitWhilePaused();
    // Composes the active frame and shows it. False when the frame is gone.
    bool PaintFrame(int disposal);
    void RestoreBackground(QImage& surface, int frameIndex);
    void Show(const QImage& surface);

    TAnimGif* image_;
    const uint16_t options_;
    const QRect rect_;
    QImage* target_;
    QPainter* canvas_;
    const bool threaded_;
    const int speed_;
    const uint64_t serial_;
    QRgb background_ = 0;
    QSize targetSize_;

    // The composed picture, and what to restore "restore to background" areas from: a copy of
    // the destination as found, or one colour when it was plain.
    QImage backup_, backgroundBuffer_;
    std::optional<QRgb> plainBackground_;
    // Bytes of these surfaces, counted in the image's budget while the painter lives.
    std::shared_ptr<std::atomic<int64_t>> surfaceBytes_;
    int64_t ownBytes_ = 0;

    std::atomic<int> activeImage_{-1};
    std::atomic<bool> firstFrame_{false};
    std::atomic<bool> stopped_{false};
    std::atomic<bool> ended_{false};
    std::exception_ptr error_;

    std::mutex waitMutex_;
    std::condition_variable waitCv_;
    bool paused_ = false;

    std::shared_ptr<GifPainterSync> sync_;
    std::thread thread_;
};
