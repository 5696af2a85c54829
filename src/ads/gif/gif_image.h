#pragma once
// The GIF object model: header, colour tables, frames, extensions and the document that owns
// them. Each item reads and writes its own part of a GIF file. Pixel data is coded by lzw.h;
// frames become bitmaps in gif_render.h.

#include <array>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "gif_error.h"
#include "gif_stream.h"
#include "lzw.h"

class GifDocument;
class TGIFSubImage;
struct GifRenderCache;
class QImage;
class QPainter;
class QRect;

using GifRgb = uint32_t;  // 0xAARRGGBB, the layout of QRgb

enum TProgressStage { psStarting, psRunning, psEnding };

struct TGIFColor {
    uint8_t Red = 0, Green = 0, Blue = 0;
    bool operator==(const TGIFColor&) const = default;
    GifRgb Rgb() const { return 0xFF000000u | (uint32_t(Red) << 16) | (uint32_t(Green) << 8) | Blue; }
    static TGIFColor FromRgb(GifRgb c) { return {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)}; }
};
// Tables are read and written as packed RGB triples.
static_assert(sizeof(TGIFColor) == 3);

// Base of every part of the file: knows its document and reports warnings through it.
class TGIFItem {
public:
    explicit TGIFItem(GifDocument* image) : image_(image) {}
    virtual ~TGIFItem() = default;
    TGIFItem(const TGIFItem&) = delete;
    TGIFItem& operator=(const TGIFItem&) = delete;

    virtual int GetVersion() const { return 1; }  // 1 = 87a, 2 = 89a
    void Warning(int severity, const std::string& message);
    GifDocument* Image() const { return image_; }

protected:
    GifDocument* image_;
};

// ---------------------------------------------------------------- colour tables

class TGIFColorMap {
public:
    explicit TGIFColorMap(GifDocument* image) : image_(image) {}
    virtual ~TGIFColorMap() = default;

    int Count() const { return int(colors_.size()); }
    bool Optimized() const { return optimized_; }
    void SetOptimized(bool value) { optimized_ = value; }
    const std::vector<TGIFColor>& Entries() const { return colors_; }

    int Add(GifRgb color);              // "Color table overflow" past 256
    int IndexOf(GifRgb color) const;    // -1 when absent
    int AddUnique(GifRgb color);
    void Delete(int index);             // "Invalid color index"
    GifRgb Colors(int index) const;     // warns and uses 0 outside; "Color table is empty"
    void SetColor(int index, GifRgb color);
    void Clear();
    int BitsPerPixel() const;

    // Palette exchange (the platform palette of the original): up to 256 entries.
    void ImportPalette(const std::vector<GifRgb>& palette);
    std::vector<GifRgb> ExportPalette() const;

    void LoadFromStream(GifReader& reader, int count);
    void SaveToStream(std::vector<uint8_t>& out) const;

    // Sorts the entries by use in the frames that take this table, most used first, and drops
    // unused entries; pixels, transparent indices and the screen's background index follow.
    virtual void Optimize();
    virtual void Changed() {}

protected:
    // The frames whose pixels index this table.
    virtual std::vector<TGIFSubImage*> Users() const;
    void Warning(const std::string& message) const;
    GifDocument* image_;
    std::vector<TGIFColor> colors_;
    bool optimized_ = false;
};

class TGIFGlobalColorMap : public TGIFColorMap {
public:
    using TGIFColorMap::TGIFColorMap;
    void Changed() override;
};

class TGIFLocalColorMap : public TGIFColorMap {
public:
    TGIFLocalColorMap(GifDocument* image, TGIFSubImage* frame) : TGIFColorMap(image), frame_(frame) {}
    void Changed() override;

protected:
    std::vector<TGIFSubImage*> Users() const override;

private:
    TGIFSubImage* frame_;
};

// ---------------------------------------------------------------- extensions

class TGIFExtension : public TGIFItem {
public:
    explicit TGIFExtension(TGIFSubImage* frame);
    int GetVersion() const override { return 2; }
    virtual uint8_t GetExtensionType() const = 0;
    TGIFSubImage* SubImage() const { return frame_; }

    // Reads '!', the label and the body; writes them back.
    void LoadFromStream(GifReader& reader);
    void SaveToStream(std::vector<uint8_t>& out) const;

    // The body after the label, up to and including the block terminator.
    virtual void LoadBody(GifReader& reader) = 0;
    virtual void SaveBody(std::vector<uint8_t>& out) const = 0;

protected:
    TGIFSubImage* frame_;
};

enum TDisposalMethod : uint8_t {
    dmNone = 0, dmNoDisposal = 1, dmBackground = 2, dmPrevious = 3
};

class TGIFGraphicControlExtension : public TGIFExtension {
public:
    static constexpr uint8_t Label = 0xF9;
    using TGIFExtension::TGIFExtension;
    uint8_t GetExtensionType() const override { return Label; }
    void LoadBody(GifReader& reader) override;
    void SaveBody(std::vector<uint8_t>& out) const override;

    bool Transparent() const { return PackedFields & 0x01; }
    void SetTransparent(bool value);
    uint8_t TransparentColorIndex() const { return TransparentIndex; }
    void SetTransparentColorIndex(int index);  // warns "Invalid color index" and stores 0
    uint16_t Delay() const { return DelayTime; }
    void SetDelay(uint16_t value) { DelayTime = value; }
    bool UserInput() const { return PackedFields & 0x02; }
    void SetUserInput(bool value) { PackedFields = uint8_t((PackedFields & ~0x02) | (value ? 0x02 : 0)); }
    uint8_t Disposal() const { return (PackedFields >> 2) & 0x07; }
    void SetDisposal(uint8_t value) { PackedFields = uint8_t((PackedFields & ~0x1C) | ((value & 7) << 2)); }

    uint8_t BlockSize = 4;
    uint8_t PackedFields = 0;
    uint16_t DelayTime = 0;
    uint8_t TransparentIndex = 0;
};

// Text as sub-blocks: one line per sub-block; a longer line is split when written.
using GifTextLines = std::vector<std::string>;

class TGIFTextExtension : public TGIFExtension {
public:
    static constexpr uint8_t Label = 0x01;
    using TGIFExtension::TGIFExtension;
    uint8_t GetExtensionType() const override { return Label; }
    void LoadBody(GifReader& reader) override;
    void SaveBody(std::vector<uint8_t>& out) const override;

    uint8_t BlockSize = 12;
    uint16_t Left = 0, Top = 0, GridWidth = 0, GridHeight = 0;
    uint8_t CharWidth = 0, CharHeight = 0, ForegroundColorIndex = 0, BackgroundColorIndex = 0;
    GifTextLines Text;
};

class TGIFCommentExtension : public TGIFExtension {
public:
    static constexpr uint8_t Label = 0xFE;
    using TGIFExtension::TGIFExtension;
    uint8_t GetExtensionType() const override { return Label; }
    void LoadBody(GifReader& reader) override;
    void SaveBody(std::vector<uint8_t>& out) const override;

    GifTextLines Text;
};

using GifAppIdentifier = std::array<uint8_t, 11>;
GifAppIdentifier MakeAppIdentifier(const char* text);  // 8 + 3 characters

class TGIFApplicationExtension : public TGIFExtension {
public:
    static constexpr uint8_t Label = 0xFF;
    using TGIFExtension::TGIFExtension;
    uint8_t GetExtensionType() const override { return Label; }
    void LoadBody(GifReader& reader) override;
    void SaveBody(std::vector<uint8_t>& out) const override;
    virtual void LoadData(GifReader& reader) = 0;
    virtual void SaveData(std::vector<uint8_t>& out) const = 0;

    GifAppIdentifier Identifier{};
};

// The loop extension ("NETSCAPE2.0", also "ANIMEXTS1.0").
class TGIFAppExtNSLoop : public TGIFApplicationExtension {
public:
    explicit TGIFAppExtNSLoop(TGIFSubImage* frame);
    void LoadData(GifReader& reader) override;
    void SaveData(std::vector<uint8_t>& out) const override;

    uint16_t Loops = 0;       // 0 = forever
    uint32_t BufferSize = 0;
};

class TGIFUnknownAppExtension : public TGIFApplicationExtension {
public:
    using TGIFApplicationExtension::TGIFApplicationExtension;
    void LoadData(GifReader& reader) override;
    void SaveData(std::vector<uint8_t>& out) const override;

    std::vector<std::vector<uint8_t>> Blocks;  // raw data sub-blocks
};

using TGIFExtensionFactory = std::function<std::unique_ptr<TGIFExtension>(TGIFSubImage*)>;
// Extension classes by label and application classes by identifier; the last registered wins.
void RegisterExtensionClass(uint8_t label, TGIFExtensionFactory factory);
void RegisterAppExtensionClass(const GifAppIdentifier& identifier, TGIFExtensionFactory factory);

using TGIFExtensionList = std::vector<std::unique_ptr<TGIFExtension>>;

// Reads one extension ('!' next) for `frame`. Unknown labels and application blocks too short
// for an identifier are skipped with a warning and give nullptr.
std::unique_ptr<TGIFExtension> ReadGifExtension(GifReader& reader, TGIFSubImage* frame);

// ---------------------------------------------------------------- frames

class TGIFSubImage : public TGIFItem {
public:
    explicit TGIFSubImage(GifDocument* image);
    ~TGIFSubImage() override;

    int GetVersion() const override;

    int Left() const { return left_; }
    int Top() const { return top_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    void SetBounds(int left, int top, int width, int height);
    void SetLeft(int value) { SetBounds(value, top_, width_, height_); }
    void SetTop(int value) { SetBounds(left_, value, width_, height_); }
    void SetWidth(int value) { SetBounds(left_, top_, value, height_); }
    void SetHeight(int value) { SetBounds(left_, top_, width_, value); }

    uint8_t Separator = ',';
    uint8_t PackedFields = 0;
    bool Interlaced() const { return PackedFields & 0x40; }
    void SetInterlaced(bool value) { PackedFields = uint8_t((PackedFields & ~0x40) | (value ? 0x40 : 0)); }

    bool Transparent() const { return transparent_; }
    void SetTransparentState(bool value) { transparent_ = value; }
    int TransparentIndex() const;  // -1 when the frame is not transparent

    TGIFLocalColorMap& ColorMap() { return colorMap_; }
    const TGIFLocalColorMap& ColorMap() const { return colorMap_; }
    const TGIFColorMap& ActiveColorMap() const;
    TGIFColorMap& ActiveColorMap();

    bool Empty() const { return data_.empty() || width_ == 0 || height_ == 0; }
    void Clear();

    // Pixel access: "Invalid pixel coordinates", "Image is empty".
    uint8_t Pixels(int x, int y) const;
    void SetPixel(int x, int y, uint8_t value);
    uint8_t* Scanline(int y);
    const uint8_t* Scanline(int y) const;
    std::vector<uint8_t>& Data() { return data_; }
    const std::vector<uint8_t>& Data() const { return data_; }
    size_t DecodedPixels() const { return decoded_; }

    TGIFExtensionList& Extensions() { return extensions_; }
    const TGIFExtensionList& Extensions() const { return extensions_; }
    TGIFExtension* AddExtension(std::unique_ptr<TGIFExtension> extension);
    void DeleteExtension(TGIFExtension* extension);
    TGIFGraphicControlExtension* GraphicControlExtension() const { return gce_; }

    void LoadFromStream(GifReader& reader);
    void SaveToStream(std::vector<uint8_t>& out) const;

    // Copies descriptor, pixels, table and extensions of another frame (of any document).
    void Assign(const TGIFSubImage& source);

    // Rendering (gif_render.cpp). The bitmap is an 8-bit image with the frame's colours (or
    // the web-safe palette when the document renders dithered); the mask is a 1-bit image, 1
    // where the pixel is transparent, present only when some pixel is. Both, and the picture
    // drawn, are cached within the document's render budget.
    QImage GetBitmap();
    void SetBitmap(const QImage& bitmap);
    bool HasMask();
    QImage Mask();
    // The palette drawn with: the web-safe one when dithered, else one set by SetPalette, else
    // the active colour table. Setting one that differs drops what was rendered and runs the
    // image's change notification; an empty one goes back to the table. A change of the
    // local table drops a set palette.
    std::vector<GifRgb> GetPalette();
    void SetPalette(const std::vector<GifRgb>& palette);
    bool HasOwnPalette() const { return hasPalette_; }
    const std::vector<GifRgb>& OwnPalette() const { return palette_; }
    // Makes the picture Draw needs now, so that the drawing itself is quick.
    void PrepareDrawing(bool transparent);
    // The frame's own rectangle mapped into `rect` by the document's logical size.
    QRect ScaleRect(const QRect& rect) const;
    void Draw(QPainter& painter, const QRect& rect, bool tile, bool transparent);
    void StretchDraw(QPainter& painter, const QRect& rect, bool tile, bool transparent);

    // Makes this frame from a picture: indexed pictures keep their colours, deeper ones are
    // reduced with the document's ColorReduction, DitherMode and ReductionBits; transparent
    // pixels (alpha below 128) get one table entry of their own and a graphic control extension.
    void Assign(const QImage& picture);

    // Render state, kept by gif_render.cpp.
    GifRenderCache& RenderCache();
    const GifRenderCache* CachedRender() const { return render_.get(); }
    void DropRenderCache();
    void PaletteChanged();

private:
    void ReadExtensions(GifReader& reader);

    int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    std::vector<uint8_t> data_;
    size_t decoded_ = 0;
    TGIFLocalColorMap colorMap_;
    TGIFExtensionList extensions_;
    TGIFGraphicControlExtension* gce_ = nullptr;
    bool transparent_ = false;
    std::unique_ptr<GifRenderCache> render_;
    // Kept apart from the render cache, which the budget may drop at any time.
    std::vector<GifRgb> palette_;
    bool hasPalette_ = false;
};

class TGIFImageList {
public:
    explicit TGIFImageList(GifDocument* image) : image_(image) {}
    int Count() const { return int(items_.size()); }
    TGIFSubImage& operator[](int i) { return *items_.at(size_t(i)); }
    const TGIFSubImage& operator[](int i) const { return *items_.at(size_t(i)); }
    int Add(std::unique_ptr<TGIFSubImage> frame);
    void Delete(int index);
    void Clear() { items_.clear(); }
    void LoadFromStream(GifReader& reader);
    void SaveToStream(std::vector<uint8_t>& out) const;
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

private:
    GifDocument* image_;
    std::vector<std::unique_ptr<TGIFSubImage>> items_;
};

class TGIFHeader : public TGIFItem {
public:
    explicit TGIFHeader(GifDocument* image) : TGIFItem(image), ColorMap(image) {}
    void LoadFromStream(GifReader& reader);
    void SaveToStream(std::vector<uint8_t>& out) const;
    void Clear();
    GifRgb BackgroundColor() const;  // the global table's colour at the background index

    uint16_t Width = 0, Height = 0;
    uint8_t PackedFields = 0;
    uint8_t BackgroundColorIndex = 0;
    uint8_t AspectRatio = 0;
    TGIFGlobalColorMap ColorMap;
};

// The document: one GIF file in memory. The animated image class builds on it.
class GifDocument {
public:
    GifDocument();
    virtual ~GifDocument();
    GifDocument(const GifDocument&) = delete;
    GifDocument& operator=(const GifDocument&) = delete;

    TGIFHeader Header;
    TGIFImageList Images;

    // Settings used when frames are written or pictures imported.
    uint8_t Compression = compressLZW;
    uint8_t ColorReduction = 6;  // reduceNetscape
    int ReductionBits = 8;
    uint8_t DitherMode = 0;      // ditherNone

    int Width() const { return Header.Width; }
    int Height() const { return Header.Height; }
    bool Empty() const { return Images.Count() == 0; }
    int GetVersion() const;  // 0 without frames, else the highest any frame needs

    void Clear();
    // Loading replaces the content; on an error the frames completed before it stay.
    // Streams and files go through these two.
    virtual void LoadFromMemory(const uint8_t* data, size_t size);
    void LoadFromStream(std::istream& in);
    void LoadFromFile(const std::string& path);
    virtual std::vector<uint8_t> SaveToMemory() const;  // "Unsupported GIF version" without frames
    void SaveToStream(std::ostream& out) const;
    void SaveToFile(const std::string& path) const;  // written to a temporary file and renamed

    // The first loop extension in frame order, or none.
    const TGIFAppExtNSLoop* LoopExtension() const;

    // Progress of loading, saving, copying, rendering and converting; the default reports nothing.
    virtual void Progress(TProgressStage, int /*percent*/, const std::string& /*message*/) const {}

    // Non-fatal problems; the default passes them to the module's warning handler.
    virtual void DoNotify(TGIFItem* sender, int severity, const std::string& message);
    // Change notifications for the image class above.
    virtual void Changed() {}
    virtual void PaletteChanged() {}
    // Whether frames are rendered dithered to the web-safe palette.
    virtual bool RenderDithered() const { return false; }

    // Frames are the items that hold an image: extensions after the last image are kept (and
    // saved back) as an item without pixels, which is never shown or counted.
    int FrameCount() const;
    // The first frame at or after `from`; Images.Count() when there is none.
    int NextFrame(int from) const;

    // Rendered frames are cached up to RenderCacheBudget() bytes for the whole image:
    // kGifRenderCacheFloor or four full-colour screens, whichever is larger.
    virtual size_t RenderCacheBudget() const;
    // Drops caches of frames other than `keep`, the most recently used first, until `bytes`
    // more fit.
    void ReserveRenderCache(const TGIFSubImage* keep, size_t bytes);
    size_t RenderCacheBytes() const;
    uint64_t NextRenderUse() { return ++renderUse_; }

    // Bits per pixel of the widest table (global and every local one).
    int MaxBitsPerPixel() const;

    // Counts a frame read from a file against the total area cap.
    void AddLoadedArea(long long area);

private:
    long long loadedArea_ = 0;
    uint64_t renderUse_ = 0;
};

inline constexpr size_t kGifRenderCacheFloor = 64u * 1024 * 1024;

// The disposal method as played: the reserved values 4 to 7 act as "do not dispose".
inline int DisposalAsPlayed(int stored)
{
    return stored > dmPrevious ? int(dmNoDisposal) : stored;
}

// A frame delay as played: 0 means the default of 10 units, 1 and 2 are raised to 3.
inline constexpr int GifDelayUnitMs = 12;
inline constexpr int GifDefaultDelay = 10;
inline constexpr int GifMinDelay = 3;
inline constexpr int GifMaxDelay = 1000;
inline int EffectiveDelay(int storedDelay)
{
    if (storedDelay <= 0)
        return GifDefaultDelay;
    return storedDelay < GifMinDelay ? GifMinDelay : storedDelay;
}
