#pragma once
// The program's GIF picture: a GIF document that draws itself on any QPainter and animates
// with one TGIFPainter per placement. By default frames go through a paint buffer owned by the
// image and every new frame raises OnChange on the GUI thread, so the control showing the
// image repaints from the buffer. With doDirectDraw on a QImage destination the painter draws
// onto that image instead.

#include <QImage>
#include <QRect>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "gif_image.h"
#include "gif_painter.h"

class QMimeData;
class QPainter;

enum TGIFDrawOption : uint16_t {
    doThreaded = 1 << 0,
    doTransparent = 1 << 1,
    doAnimate = 1 << 2,
    doLoop = 1 << 3,
    doLoopForever = 1 << 4,
    doCheckCanvas = 1 << 5,
    doDirectDraw = 1 << 6,
    doClearOnLoop = 1 << 7,
    doTile = 1 << 8,
    doDither = 1 << 9,
    doAutoDither = 1 << 10,
};
using TGIFDrawOptions = uint16_t;

inline constexpr TGIFDrawOptions GifDefaultDrawOptions =
    doThreaded | doTransparent | doAnimate | doLoop | doDither | doAutoDither;
// BackgroundColor value meaning "the GIF's own background".
inline constexpr uint32_t GifNoBackground = 0x1FFFFFFF;

// The clipboard format of whole GIF files, and the one of plain pictures.
inline constexpr const char* GifClipboardFormat = "GIF Image";
inline constexpr const char* GifBitmapClipboardFormat = "application/x-qt-image";

class TAnimGif;
using TGIFProgressEvent =
    std::function<void(TAnimGif* sender, TProgressStage stage, int percent, const std::string& message)>;
using TGIFWarningEvent = std::function<void(TGIFItem* sender, int severity, const std::string& message)>;

// Unit start and end: logging, the dithering hook, the screen depth. Counted, so that nested
// calls run the work once. The first image created starts the unit by itself when nobody has;
// that start counts as the owner's first AnimGifInitialize, so the owner's finalize ends it.
void AnimGifInitialize();
void AnimGifFinalize();
// True when the screen had 8 bits per pixel or less at unit start.
bool GifPaletteDevice();

class TAnimGif : public GifDocument {
public:
    TAnimGif();
    // May run inside an event of a threaded painter of this image. A non-threaded painter
    // plays inside Draw, which still uses the image when its events return: never free the
    // image from one of those.
    ~TAnimGif() override;

    // ---- content
    void Clear();
    // Streams and files of the base come here too: progress events, painters stopped.
    void LoadFromMemory(const uint8_t* data, size_t size) override;
    std::vector<uint8_t> SaveToMemory() const override;

    // Appends a frame made from a picture; returns its index. A null picture raises
    // "Object type not supported for operation".
    int Add(const QImage& picture);
    // Appends a frame of this image as it is, or a copy of a frame of another image.
    int Add(std::unique_ptr<TGIFSubImage> frame);

    // Copies another image (its own handlers stay), or makes one frame from a picture.
    void Assign(const TAnimGif* source);
    void Assign(const QImage& picture);
    // The image as one picture (see GetBitmap).
    void AssignTo(QImage& target) { target = GetBitmap(); }
    bool Equals(const TAnimGif* other) const { return other == this; }

    void SetWidth(int value);
    void SetHeight(int value);

    // ---- drawing
    void Draw(QPainter& canvas, const QRect& rect);
    QImage GetBitmap();
    std::vector<GifRgb> GetPalette();
    void SetPalette(const std::vector<GifRgb>& palette);

    TGIFDrawOptions DrawOptions() const { return drawOptions_.load(); }
    void SetDrawOptions(TGIFDrawOptions options);

    // ---- painters (GUI thread)
    void StopDraw();
    void StopPainters();
    void SuspendPainters();
    void ResumePainters();
    int PainterCount();
    // The painter started by Draw, or null.
    TGIFPainter* DrawPainter();
    bool IsDrawingOn(const QImage* target);

    // ---- clipboard
    // Puts a picture of the image and the whole GIF into `data`; nothing when empty.
    void SaveToClipboardFormat(QMimeData& data);
    // Loads from `data` (the clipboard's when null) in the given format.
    void LoadFromClipboardFormat(const std::string& format, const QMimeData* data = nullptr);
    void CopyToClipboard();

    // ---- settings
    int ThreadPriority = 0;  // kept and copied; the painters run at the normal priority
    int AnimationSpeed = 100;
    uint32_t BackgroundColor = GifNoBackground;  // TColor 0x00BBGGRR

    TGIFPainterEvent OnAnimationStart, OnFrameStart, OnFrameDone, OnLoopRestart, OnAnimationEnd;
    TGIFWarningEvent OnGifWarning;
    TGIFProgressEvent OnProgress;
    // The change notification: a new frame in the buffer, new content, new options.
    std::function<void(TAnimGif*)> OnChange;

    // ---- used by the painters
    // Guards the frames and their render caches between the GUI thread and painters.
    std::recursive_mutex& FrameLock() { return frameMutex_; }
    // Guards the paint buffer.
    std::mutex& BufferLock() { return bufferMutex_; }
    QImage& PaintBuffer() { return buffer_; }
    // Raises OnChange on the GUI thread; callable from any thread.
    void NotifyChanged();
    // Bytes of the painters' work surfaces; they count against the render budget.
    std::shared_ptr<std::atomic<int64_t>> SurfaceBytes() const { return surfaceBytes_; }
    // The frame cache, the painters' surfaces and the paint buffer together stay within the
    // document's budget.
    size_t RenderCacheBudget() const override;

    void DoNotify(TGIFItem* sender, int severity, const std::string& message) override;
    void Changed() override;
    void PaletteChanged() override;
    bool RenderDithered() const override;

private:
    struct Link;
    // Runs OnProgress on the GUI thread. From another thread (a painter rendering a frame) only
    // the starting and ending stages are posted there: running stages would arrive stale.
    void Progress(TProgressStage stage, int percent, const std::string& message) const override;
    void FreeBuffer();
    void DrawBuffer(QPainter& canvas, const QRect& rect);
    // Ends `painter`'s life: off the lists, joined, freed. GUI thread.
    void RetirePainter(TGIFPainter* painter);
    void PainterEnded(uint64_t serial);
    void WaitForFirstFrame(TGIFPainter* painter);

    std::atomic<TGIFDrawOptions> drawOptions_{GifDefaultDrawOptions};
    std::vector<GifRgb> palette_;
    bool hasPalette_ = false;

    mutable std::recursive_mutex frameMutex_;
    std::mutex bufferMutex_;
    QImage buffer_;

    std::recursive_mutex paintersMutex_;
    std::vector<std::unique_ptr<TGIFPainter>> painters_;
    // Painters asked to stop from inside one of their own events: joined later.
    std::vector<std::unique_ptr<TGIFPainter>> retiring_;
    TGIFPainter* drawPainter_ = nullptr;

    std::shared_ptr<Link> link_;
    std::shared_ptr<std::atomic<int64_t>> surfaceBytes_ = std::make_shared<std::atomic<int64_t>>(0);
    std::atomic<int64_t> bufferBytes_{0};
    bool drawing_ = false;
    bool buildingPalette_ = false;
};
