#include "anim_gif.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMimeData>
#include <QPainter>

#include <chrono>
#include <thread>

#include "core/gif_hooks.h"
#include "core/log.h"
#include "core/program_state.h"
#include "gif_render.h"
#include "palette.h"
#include "platform/messages.h"

// ---------------------------------------------------------------- unit start and end

namespace {

std::mutex unitMutex;
int unitUsers = 0;
bool startedByImage = false;  // the first image started the unit; its owner has not come yet

std::atomic<bool> paletteDevice{false};

void ApplyDithering(TAnimGif* image, bool dither)
{
    TGIFDrawOptions options = image->DrawOptions();
    options = dither ? TGIFDrawOptions(options | doDither) : TGIFDrawOptions(options & ~doDither);
    image->SetDrawOptions(TGIFDrawOptions(options & ~doAutoDither));
}

// Sets a flag for a scope.
struct FlagScope {
    bool& flag;
    bool before;
    explicit FlagScope(bool& f) : flag(f), before(f) { flag = true; }
    ~FlagScope() { flag = before; }
};

void StartUnit()
{
    if (LogOn.load())
        WriteLog("AGIF Init");
    paletteDevice = ScreenDepth() < 9;
    SetGifDitheringHook(ApplyDithering);
}

}  // namespace

void AnimGifInitialize()
{
    std::lock_guard lock(unitMutex);
    if (startedByImage) {
        // An image started the unit before its owner: the owner's start is that one, so its
        // finalize ends the unit.
        startedByImage = false;
        return;
    }
    if (unitUsers++ > 0)
        return;
    StartUnit();
}

namespace {

// An image needs the unit started; it holds no reference of its own, so the owner's finalize
// still ends it.
void EnsureAnimGifUnit()
{
    std::lock_guard lock(unitMutex);
    if (unitUsers > 0)
        return;
    unitUsers = 1;
    startedByImage = true;
    StartUnit();
}

}  // namespace

void AnimGifFinalize()
{
    std::lock_guard lock(unitMutex);
    if (unitUsers == 0 || --unitUsers > 0)
        return;
    if (LogOn.load())
        WriteLog("AGifFinal");
    SetGifDitheringHook(nullptr);
    if (LogOn.load())
        WriteLog("AGifFinalZ");
}

bool GifPaletteDevice() { return paletteDevice.load(); }

// ---------------------------------------------------------------- image

// What posted calls hold on to: cleared when the image goes, so late calls do nothing.
struct TAnimGif::Link {
    TAnimGif* image = nullptr;
    std::atomic<bool> changePending{false};
};

TAnimGif::TAnimGif() : link_(std::make_shared<Link>())
{
    static const bool unitStarted = (EnsureAnimGifUnit(), true);
    (void)unitStarted;
    link_->image = this;
    Clear();
}

TAnimGif::~TAnimGif()
{
    link_->image = nullptr;
    StopPainters();
    std::lock_guard lock(paintersMutex_);
    // A threaded painter still here is inside one of its events: the image is being freed
    // from that event. Joining it now would wait for ourselves, so it is stopped and freed
    // after the event has returned; once stopped it no longer touches the image.
    for (auto& painter : retiring_) {
        painter->Stop();
        if (painter->Threaded())
            PostToMainThread([retired = std::shared_ptr<TGIFPainter>(std::move(painter))] {});
    }
    retiring_.clear();
}

void TAnimGif::Progress(TProgressStage stage, int percent, const std::string& message) const
{
    if (!QCoreApplication::instance() || IsMainThread()) {
        if (OnProgress)
            OnProgress(const_cast<TAnimGif*>(this), stage, percent, message);
        return;
    }
    if (stage == psRunning)
        return;
    PostToMainThread([link = link_, stage, percent, message] {
        if (link->image && link->image->OnProgress)
            link->image->OnProgress(link->image, stage, percent, message);
    });
}

void TAnimGif::DoNotify(TGIFItem* sender, int severity, const std::string& message)
{
    if (OnGifWarning)
        OnGifWarning(sender, severity, message);
    else
        GifDocument::DoNotify(sender, severity, message);
}

void TAnimGif::Changed()
{
    if (OnChange)
        OnChange(this);
}

void TAnimGif::NotifyChanged()
{
    if (!QCoreApplication::instance() || IsMainThread()) {
        Changed();
        return;
    }
    // One notification in flight is enough: the control repaints from the latest buffer.
    if (link_->changePending.exchange(true))
        return;
    PostToMainThread([link = link_] {
        link->changePending = false;
        if (link->image)
            link->image->Changed();
    });
}

void TAnimGif::PaletteChanged() { hasPalette_ = false; }

size_t TAnimGif::RenderCacheBudget() const
{
    const size_t budget = GifDocument::RenderCacheBudget();
    const int64_t surfaces = surfaceBytes_->load() + bufferBytes_.load();
    return surfaces <= 0 ? budget : budget - std::min(budget, size_t(surfaces));
}

bool TAnimGif::RenderDithered() const
{
    const TGIFDrawOptions options = drawOptions_.load();
    return (options & doDither) && (!(options & doAutoDither) || GifPaletteDevice());
}

void TAnimGif::FreeBuffer()
{
    std::lock_guard lock(bufferMutex_);
    buffer_ = QImage();
    bufferBytes_ = 0;
}

// ---------------------------------------------------------------- content

void TAnimGif::Clear()
{
    StopPainters();
    FreeBuffer();
    {
        std::lock_guard frames(frameMutex_);
        GifDocument::Clear();
    }
    SetPalette({});
}

void TAnimGif::LoadFromMemory(const uint8_t* data, size_t size)
{
    Progress(psStarting, 0, "Loading...");
    try {
        FlagScope busy(drawing_);  // no painter may start while the frames change
        Clear();
        GifDocument::LoadFromMemory(data, size);
    } catch (...) {
        Progress(psEnding, 0, "Loading...");
        throw;
    }
    Progress(psEnding, 100, "Loading...");
}

std::vector<uint8_t> TAnimGif::SaveToMemory() const
{
    Progress(psStarting, 0, "Saving...");
    std::vector<uint8_t> bytes;
    try {
        std::lock_guard frames(frameMutex_);
        bytes = GifDocument::SaveToMemory();
    } catch (...) {
        Progress(psEnding, 0, "Saving...");
        throw;
    }
    Progress(psEnding, 100, "Saving...");
    return bytes;
}

int TAnimGif::Add(std::unique_ptr<TGIFSubImage> frame)
{
    if (!frame)
        throw GIFException("Object type not supported for operation");
    if (frame->Image() != this) {
        auto copy = std::make_unique<TGIFSubImage>(this);
        copy->Assign(*frame);
        frame = std::move(copy);
    }
    int index;
    {
        std::lock_guard frames(frameMutex_);
        // The logical screen grows to hold the new frame.
        Header.Width = uint16_t(std::max<int>(Header.Width, std::min(65535, frame->Left() + frame->Width())));
        Header.Height = uint16_t(std::max<int>(Header.Height, std::min(65535, frame->Top() + frame->Height())));
        index = Images.Add(std::move(frame));
    }
    FreeBuffer();
    Changed();
    return index;
}

int TAnimGif::Add(const QImage& picture)
{
    if (picture.isNull())
        throw GIFException("Object type not supported for operation");
    auto frame = std::make_unique<TGIFSubImage>(this);
    frame->Assign(picture);  // reduces a copy; the caller's picture is left alone
    return Add(std::move(frame));
}

void TAnimGif::Assign(const QImage& picture)
{
    Clear();
    if (!picture.isNull())
        Add(picture);
}

void TAnimGif::Assign(const TAnimGif* source)
{
    if (source == this)
        return;
    if (!source) {
        Clear();
        return;
    }
    Clear();
    // The copy reports through the source's handlers; ours are put back afterwards.
    TGIFProgressEvent ownProgress = std::move(OnProgress);
    TGIFWarningEvent ownWarning = std::move(OnGifWarning);
    OnProgress = source->OnProgress;
    OnGifWarning = source->OnGifWarning;
    struct Restore {
        TAnimGif& image;
        TGIFProgressEvent& progress;
        TGIFWarningEvent& warning;
        ~Restore()
        {
            image.OnProgress = std::move(progress);
            image.OnGifWarning = std::move(warning);
        }
    } restore{*this, ownProgress, ownWarning};

    Progress(psStarting, 0, "Copying...");
    try {
        FlagScope busy(drawing_);
        std::scoped_lock frames(frameMutex_, source->frameMutex_);
        Header.Width = source->Header.Width;
        Header.Height = source->Header.Height;
        Header.PackedFields = source->Header.PackedFields;
        Header.BackgroundColorIndex = source->Header.BackgroundColorIndex;
        Header.AspectRatio = source->Header.AspectRatio;
        Header.ColorMap.ImportPalette(source->Header.ColorMap.ExportPalette());
        Header.ColorMap.SetOptimized(source->Header.ColorMap.Optimized());
        ThreadPriority = source->ThreadPriority;
        BackgroundColor = source->BackgroundColor;
        drawOptions_ = source->DrawOptions();
        ColorReduction = source->ColorReduction;
        DitherMode = source->DitherMode;
        const int count = source->Images.Count();
        for (int i = 0; i < count; ++i) {
            auto frame = std::make_unique<TGIFSubImage>(this);
            frame->Assign(source->Images[i]);
            Images.Add(std::move(frame));
            Progress(psRunning, (i + 1) * 100 / count, "Copying...");
        }
    } catch (...) {
        Progress(psEnding, 0, "Copying...");
        throw;
    }
    Progress(psEnding, 100, "Copying...");
    Changed();
}

void TAnimGif::SetWidth(int value)
{
    {
        std::lock_guard frames(frameMutex_);
        for (const auto& frame : Images)
            if (frame->Left() + frame->Width() > value)
                throw GIFException("Image width too small for contained frames");
        if (value == Header.Width)
            return;
        Header.Width = uint16_t(value);
    }
    FreeBuffer();
    Changed();
}

void TAnimGif::SetHeight(int value)
{
    {
        std::lock_guard frames(frameMutex_);
        for (const auto& frame : Images)
            if (frame->Top() + frame->Height() > value)
                throw GIFException("Image height too small for contained frames");
        if (value == Header.Height)
            return;
        Header.Height = uint16_t(value);
    }
    FreeBuffer();
    Changed();
}

// ---------------------------------------------------------------- palette and options

std::vector<GifRgb> TAnimGif::GetPalette()
{
    if (buildingPalette_)
        throw GIFException("No global or local color table defined");
    FlagScope building(buildingPalette_);
    if (hasPalette_)
        return palette_;
    if (RenderDithered()) {
        const Palette webSafe = NetscapePalette();
        palette_.assign(webSafe.begin(), webSafe.end());
        hasPalette_ = true;
        return palette_;
    }
    std::lock_guard frames(frameMutex_);
    if (Header.ColorMap.Count() > 0) {
        palette_ = Header.ColorMap.ExportPalette();
        hasPalette_ = true;
        return palette_;
    }
    const int first = NextFrame(0);
    if (first >= Images.Count())
        return {};
    return Images[first].GetPalette();
}

void TAnimGif::SetPalette(const std::vector<GifRgb>& palette)
{
    if (palette == palette_ && hasPalette_ == !palette.empty())
        return;
    palette_ = palette;
    hasPalette_ = !palette.empty();
    FreeBuffer();
    Changed();
}

void TAnimGif::SetDrawOptions(TGIFDrawOptions options)
{
    if (options == drawOptions_.load())
        return;
    StopDraw();
    {
        std::lock_guard frames(frameMutex_);
        drawOptions_ = options;
        if (Header.ColorMap.Count() == 0 && FrameCount() == 1) {
            TGIFLocalColorMap& local = Images[NextFrame(0)].ColorMap();
            if (local.Count() > 0) {
                Header.ColorMap.ImportPalette(local.ExportPalette());
                local.Clear();
            }
        }
        for (const auto& frame : Images)
            frame->DropRenderCache();
    }
    FreeBuffer();
    hasPalette_ = false;
    palette_.clear();
    Changed();
}

// ---------------------------------------------------------------- drawing

QImage TAnimGif::GetBitmap()
{
    if (Empty())
        return QImage();
    {
        std::lock_guard lock(bufferMutex_);
        if (!buffer_.isNull())
            return buffer_.convertToFormat(QImage::Format_ARGB32);
    }
    std::lock_guard frames(frameMutex_);
    const int first = NextFrame(0);
    if (first >= Images.Count())
        return QImage();
    QImage bitmap = GifPicture(Width(), Height(), QImage::Format_ARGB32);
    if (bitmap.isNull())
        return bitmap;
    bitmap.fill(0);
    QPainter painter(&bitmap);
    Images[first].Draw(painter, bitmap.rect(), false, false);
    return bitmap;
}

void TAnimGif::DrawBuffer(QPainter& canvas, const QRect& rect)
{
    std::lock_guard lock(bufferMutex_);
    if (buffer_.isNull())
        return;
    if (!(DrawOptions() & doTile)) {
        canvas.drawImage(rect, buffer_);
        return;
    }
    canvas.save();
    canvas.setClipRect(rect, Qt::IntersectClip);
    for (int top = rect.top(); top <= rect.bottom(); top += buffer_.height())
        for (int left = rect.left(); left <= rect.right(); left += buffer_.width())
            canvas.drawImage(left, top, buffer_);
    canvas.restore();
}

void TAnimGif::Draw(QPainter& canvas, const QRect& rect)
{
    if (drawing_ || Empty())
        return;
    FlagScope guard(drawing_);
    const TGIFDrawOptions options = DrawOptions();

    {
        // Only items holding an image are frames: a trailing comment does not animate.
        std::lock_guard frames(frameMutex_);
        const int count = FrameCount();
        if (count == 0)
            return;
        if (count == 1 || !(options & doAnimate)) {
            Images[NextFrame(0)].Draw(canvas, rect, options & doTile, options & doTransparent);
            return;
        }
    }

    // Drawing straight onto the destination needs a surface we may paint on between paint
    // events: an image. Anything else (a widget) goes through the paint buffer.
    QPaintDevice* device = canvas.device();
    QImage* target = (options & doDirectDraw) && device && device->devType() == QInternal::Image
                         ? static_cast<QImage*>(device)
                         : nullptr;
    if (!target) {
        bool buffered;
        {
            std::lock_guard lock(bufferMutex_);
            buffered = !buffer_.isNull();
        }
        if (buffered) {
            DrawBuffer(canvas, rect);
            return;
        }
    }

    std::lock_guard lock(paintersMutex_);
    if (drawPainter_ && target && drawPainter_->Target() == target && drawPainter_->Rect() == rect)
        return;  // already animating there
    StopDraw();

    if (!target) {
        QImage buffer = GifPicture(Width(), Height());
        buffer.fill(0);
        if (device && device->devType() == QInternal::Image) {
            const QImage below = static_cast<QImage*>(device)->copy(rect);
            QPainter painter(&buffer);
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            painter.drawImage(buffer.rect(), below);
        }
        std::lock_guard bufferLock(bufferMutex_);
        buffer_ = buffer;
        bufferBytes_ = int64_t(buffer_.sizeInBytes());
    }

    const bool threaded = (options & doThreaded) && QCoreApplication::instance();
    const TGIFDrawOptions painterOptions =
        threaded ? options : TGIFDrawOptions(options & ~doThreaded);
    std::unique_ptr<TGIFPainter> owned;
    try {
        owned = std::make_unique<TGIFPainter>(this, painterOptions, target ? rect : QRect(0, 0, Width(), Height()),
                                              target, threaded ? nullptr : &canvas);
    } catch (...) {
        FreeBuffer();  // no half-made placement is left to draw from
        throw;
    }
    TGIFPainter* painter = owned.get();
    painter->OnAnimationStart = OnAnimationStart;
    painter->OnFrameStart = OnFrameStart;
    painter->OnFrameDone = OnFrameDone;
    painter->OnLoopRestart = OnLoopRestart;
    painter->OnAnimationEnd = OnAnimationEnd;
    painters_.push_back(std::move(owned));
    drawPainter_ = painter;

    if (threaded) {
        const uint64_t serial = painter->Serial();
        painter->OnTerminate = [link = link_, serial](TGIFPainter*) {
            PostToMainThread([link, serial] {
                if (link->image)
                    link->image->PainterEnded(serial);
            });
        };
        painter->Start();
        if (!target) {
            WaitForFirstFrame(painter);
            DrawBuffer(canvas, rect);
        }
        return;
    }

    // Not threaded: the whole animation plays now.
    painter->Execute();
    std::unique_ptr<TGIFPainter> done;
    for (auto* list : {&painters_, &retiring_})
        for (auto it = list->begin(); it != list->end(); ++it)
            if (it->get() == painter) {
                done = std::move(*it);
                list->erase(it);
                break;
            }
    if (drawPainter_ == painter)
        drawPainter_ = nullptr;
    const std::exception_ptr error = painter->Error();
    done.reset();
    if (error)
        std::rethrow_exception(error);
    if (!target)
        DrawBuffer(canvas, rect);
}

void TAnimGif::WaitForFirstFrame(TGIFPainter* painter)
{
    // Only this painter's GUI calls run here: a full event loop would repaint the control
    // into this very Draw. The deadline is a safety net; the first frame is not delayed.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!painter->FirstFramePainted() && !painter->Ended() && !painter->Stopped() &&
           !ShuttingDown.load() && std::chrono::steady_clock::now() < deadline) {
        painter->Sync().Drain();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

// ---------------------------------------------------------------- painters

void TAnimGif::RetirePainter(TGIFPainter* painter)
{
    std::lock_guard lock(paintersMutex_);
    if (drawPainter_ == painter)
        drawPainter_ = nullptr;
    std::unique_ptr<TGIFPainter> owned;
    for (auto it = painters_.begin(); it != painters_.end(); ++it)
        if (it->get() == painter) {
            owned = std::move(*it);
            painters_.erase(it);
            break;
        }
    if (!owned)
        return;
    owned->Stop();
    // Its event (or, not threaded, its whole loop) is further up this stack: it ends when
    // we return to it, and is joined later.
    if (owned->Sync().InCall() || (!owned->Threaded() && !owned->Ended())) {
        retiring_.push_back(std::move(owned));
        return;
    }
    owned->Join();
    if (owned->Threaded() && owned->Error()) {
        try {
            std::rethrow_exception(owned->Error());
        } catch (const std::exception& e) {
            DoNotify(nullptr, 1, e.what());
        } catch (...) {
            DoNotify(nullptr, 1, "Animation failed");
        }
    }
}

void TAnimGif::PainterEnded(uint64_t serial)
{
    std::lock_guard lock(paintersMutex_);
    for (const auto& painter : painters_)
        if (painter->Serial() == serial) {
            RetirePainter(painter.get());
            break;
        }
    std::erase_if(retiring_, [](const std::unique_ptr<TGIFPainter>& p) {
        return p->Threaded() && p->Ended() && !p->Sync().InCall();
    });
}

void TAnimGif::StopDraw()
{
    {
        std::lock_guard lock(paintersMutex_);
        if (drawPainter_)
            RetirePainter(drawPainter_);
    }
    FreeBuffer();
}

void TAnimGif::StopPainters()
{
    {
        std::lock_guard lock(paintersMutex_);
        // Ask them all first so that they wind down together, then join them one by one.
        for (auto it = painters_.rbegin(); it != painters_.rend(); ++it)
            (*it)->Stop();
        while (!painters_.empty())
            RetirePainter(painters_.back().get());
        std::erase_if(retiring_, [](const std::unique_ptr<TGIFPainter>& p) {
            return p->Threaded() && !p->Sync().InCall();
        });
    }
    FreeBuffer();
}

void TAnimGif::SuspendPainters()
{
    std::lock_guard lock(paintersMutex_);
    for (const auto& painter : painters_)
        painter->Pause();
}

void TAnimGif::ResumePainters()
{
    std::lock_guard lock(paintersMutex_);
    for (const auto& painter : painters_)
        painter->Resume();
}

int TAnimGif::PainterCount()
{
    std::lock_guard lock(paintersMutex_);
    return int(painters_.size());
}

TGIFPainter* TAnimGif::DrawPainter()
{
    std::lock_guard lock(paintersMutex_);
    return drawPainter_;
}

bool TAnimGif::IsDrawingOn(const QImage* target)
{
    std::lock_guard lock(paintersMutex_);
    return drawPainter_ && target && drawPainter_->Target() == target;
}

// ---------------------------------------------------------------- clipboard

void TAnimGif::SaveToClipboardFormat(QMimeData& data)
{
    if (Empty())
        return;
    data.setImageData(GetBitmap());
    std::vector<uint8_t> bytes;
    try {
        bytes = SaveToMemory();
    } catch (const GIFException&) {
        throw GIFException("Failed to store GIF on clipboard");
    }
    data.setData(GifClipboardFormat, QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())));
}

void TAnimGif::LoadFromClipboardFormat(const std::string& format, const QMimeData* data)
{
    if (!data && qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        data = QGuiApplication::clipboard()->mimeData();
    if (data && format == GifClipboardFormat && data->hasFormat(GifClipboardFormat)) {
        const QByteArray bytes = data->data(GifClipboardFormat);
        LoadFromMemory(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size()));
        return;
    }
    if (data && format == GifBitmapClipboardFormat && data->hasImage()) {
        Assign(qvariant_cast<QImage>(data->imageData()));
        return;
    }
    throw GIFException("Unsupported clipboard format");
}

void TAnimGif::CopyToClipboard()
{
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        throw GIFException("Failed to store GIF on clipboard");
    auto data = std::make_unique<QMimeData>();
    SaveToClipboardFormat(*data);
    QGuiApplication::clipboard()->setMimeData(data.release());
}
