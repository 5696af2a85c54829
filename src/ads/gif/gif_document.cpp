#include "gif_image.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <sstream>

#include "gif_render.h"
#include "platform/string_list.h"

// ---------------------------------------------------------------- header

void TGIFHeader::Clear()
{
    Width = Height = 0;
    PackedFields = 0;
    BackgroundColorIndex = 0;
    AspectRatio = 0;
    ColorMap.Clear();
}

void TGIFHeader::LoadFromStream(GifReader& reader)
{
    auto isSignature = [&](size_t at) {
        if (reader.Size() < at + 6)
            return false;
        const uint8_t* p = reader.Data() + at;
        return std::toupper(p[0]) == 'G' && std::toupper(p[1]) == 'I' && std::toupper(p[2]) == 'F';
    };
    // A GIF behind exactly 4 other bytes is accepted as well.
    const size_t start = reader.Position();
    if (isSignature(start))
        reader.SetPosition(start + 6);
    else if (isSignature(start + 4))
        reader.SetPosition(start + 10);
    else
        throw GIFException("Invalid GIF signature");

    Width = reader.ReadWord();
    Height = reader.ReadWord();
    PackedFields = reader.ReadByte();
    BackgroundColorIndex = reader.ReadByte();
    AspectRatio = reader.ReadByte();
    // The screen is only a size here: it is allocated (and capped) when something is composed.
    if (PackedFields & 0x80) {
        ColorMap.LoadFromStream(reader, 2 << (PackedFields & 7));
        ColorMap.SetOptimized(PackedFields & 0x08);
    } else {
        ColorMap.Clear();
    }
}

void TGIFHeader::SaveToStream(std::vector<uint8_t>& out) const
{
    const int version = image_ ? image_->GetVersion() : 1;
    if (version == 0)
        throw GIFException("Unsupported GIF version");
    PutBytes(out, version >= 2 ? "GIF89a" : "GIF87a", 6);

    const int resolution = std::max(1, image_ ? image_->MaxBitsPerPixel() : ColorMap.BitsPerPixel());
    uint8_t flags = uint8_t((resolution - 1) << 4);
    if (ColorMap.Count() > 0) {
        flags |= 0x80;
        if (ColorMap.Optimized())
            flags |= 0x08;
        flags |= uint8_t(ColorMap.BitsPerPixel() - 1);
    }
    PutWord(out, Width);
    PutWord(out, Height);
    PutByte(out, flags);
    PutByte(out, BackgroundColorIndex);
    PutByte(out, AspectRatio);
    ColorMap.SaveToStream(out);
}

GifRgb TGIFHeader::BackgroundColor() const { return ColorMap.Colors(BackgroundColorIndex); }

// ---------------------------------------------------------------- document

GifDocument::GifDocument() : Header(this), Images(this) {}

GifDocument::~GifDocument() = default;

void GifDocument::DoNotify(TGIFItem*, int, const std::string& message) { GifWarning(message); }

int GifDocument::GetVersion() const
{
    int version = 0;
    for (const auto& frame : Images)
        version = std::max(version, frame->GetVersion());
    return version;
}

int GifDocument::MaxBitsPerPixel() const
{
    int bits = Header.ColorMap.BitsPerPixel();
    for (const auto& frame : Images)
        bits = std::max(bits, frame->ColorMap().BitsPerPixel());
    return bits;
}

int GifDocument::FrameCount() const
{
    int count = 0;
    for (const auto& frame : Images)
        count += frame->Empty() ? 0 : 1;
    return count;
}

int GifDocument::NextFrame(int from) const
{
    const int count = Images.Count();
    for (int i = std::max(0, from); i < count; ++i)
        if (!Images[i].Empty())
            return i;
    return count;
}

size_t GifDocument::RenderCacheBudget() const
{
    const size_t screens = 4 * size_t(Width()) * size_t(Height()) * 4;
    return std::max<size_t>(kGifRenderCacheFloor, screens);
}

void GifDocument::ReserveRenderCache(const TGIFSubImage* keep, size_t bytes)
{
    struct Entry {
        TGIFSubImage* frame;
        uint64_t lastUse;
        size_t bytes;
    };
    std::vector<Entry> cached;
    size_t total = bytes;
    for (const auto& frame : Images)
        if (const GifRenderCache* cache = frame->CachedRender()) {
            const size_t own = GifRenderCacheBytes(*cache);
            total += own;
            if (frame.get() != keep)
                cached.push_back({frame.get(), cache->lastUse, own});
        }
    const size_t budget = RenderCacheBudget();
    if (total <= budget)
        return;
    // Most recently used first: frames are played in a cycle, so the one shown last is the one
    // needed again latest, while the ones kept stay hits on every pass.
    std::sort(cached.begin(), cached.end(), [](const Entry& a, const Entry& b) { return a.lastUse > b.lastUse; });
    for (const Entry& entry : cached) {
        if (total <= budget)
            break;
        entry.frame->DropRenderCache();
        total -= entry.bytes;
    }
}

size_t GifDocument::RenderCacheBytes() const
{
    size_t total = 0;
    for (const auto& frame : Images)
        if (const GifRenderCache* cache = frame->CachedRender())
            total += GifRenderCacheBytes(*cache);
    return total;
}

void GifDocument::AddLoadedArea(long long area)
{
    loadedArea_ += area;
    if (loadedArea_ > kMaxGifTotalArea)
        throw GIFException("Image too large: its frames exceed the limit of " +
                           std::to_string(kMaxGifTotalArea) + " pixels in all");
}

void GifDocument::Clear()
{
    Images.Clear();
    Header.Clear();
    loadedArea_ = 0;
    Changed();
}

void GifDocument::LoadFromMemory(const uint8_t* data, size_t size)
{
    Clear();
    GifReader reader(data, size);
    const bool growWidth = [&] {
        Header.LoadFromStream(reader);
        return Header.Width == 0;
    }();
    const bool growHeight = Header.Height == 0;
    try {
        Images.LoadFromStream(reader);
        if (!reader.AtEnd() && reader.ReadByte() != ';')
            DoNotify(nullptr, 1, "Invalid Image trailer");
    } catch (...) {
        Changed();
        throw;
    }

    // A screen of size 0 grows to cover its frames; otherwise frames are clipped when drawn.
    if (growWidth || growHeight) {
        int width = Header.Width, height = Header.Height;
        for (const auto& frame : Images) {
            if (frame->Empty())
                continue;
            if (growWidth)
                width = std::max(width, frame->Left() + frame->Width());
            if (growHeight)
                height = std::max(height, frame->Top() + frame->Height());
        }
        width = std::min(width, 65535);
        height = std::min(height, 65535);
        Header.Width = uint16_t(width);
        Header.Height = uint16_t(height);
    }
    Changed();
}

void GifDocument::LoadFromStream(std::istream& in)
{
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LoadFromMemory(bytes.data(), bytes.size());
}

void GifDocument::LoadFromFile(const std::string& path)
{
    std::string bytes;
    if (!ReadWholeFile(path, bytes))
        throw GIFException("Cannot open " + path);
    LoadFromMemory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::vector<uint8_t> GifDocument::SaveToMemory() const
{
    std::vector<uint8_t> out;
    Header.SaveToStream(out);
    Images.SaveToStream(out);
    PutByte(out, ';');
    return out;
}

void GifDocument::SaveToStream(std::ostream& out) const
{
    const std::vector<uint8_t> bytes = SaveToMemory();
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out)
        throw GIFException("Failed to write GIF data");
}

void GifDocument::SaveToFile(const std::string& path) const
{
    const std::vector<uint8_t> bytes = SaveToMemory();
    // A failed write leaves the old file as it was.
    if (!WriteFileAtomic(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())))
        throw GIFException("Cannot write " + path);
}

const TGIFAppExtNSLoop* GifDocument::LoopExtension() const
{
    for (const auto& frame : Images)
        for (const auto& extension : frame->Extensions())
            if (auto* loop = dynamic_cast<const TGIFAppExtNSLoop*>(extension.get()))
                return loop;
    return nullptr;
}
