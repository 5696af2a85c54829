#include "gif_image.h"
#include "gif_render.h"

#include <algorithm>
#include <cstring>
#include <utility>

void TGIFItem::Warning(int severity, const std::string& message)
{
    if (image_)
        image_->DoNotify(this, severity, message);
    else
        GifWarning(message);
}

TGIFSubImage::TGIFSubImage(GifDocument* image) : TGIFItem(image), colorMap_(image, this) {}

TGIFSubImage::~TGIFSubImage() = default;

int TGIFSubImage::GetVersion() const
{
    return (colorMap_.Optimized() && colorMap_.Count() > 0) || !extensions_.empty() ? 2 : 1;
}

int TGIFSubImage::TransparentIndex() const
{
    return transparent_ && gce_ ? gce_->TransparentIndex : -1;
}

const TGIFColorMap& TGIFSubImage::ActiveColorMap() const
{
    if (colorMap_.Count() > 0)
        return colorMap_;
    if (image_ && image_->Header.ColorMap.Count() > 0)
        return image_->Header.ColorMap;
    return colorMap_;
}

TGIFColorMap& TGIFSubImage::ActiveColorMap()
{
    return const_cast<TGIFColorMap&>(std::as_const(*this).ActiveColorMap());
}

void TGIFSubImage::SetBounds(int left, int top, int width, int height)
{
    if (left < 0 || top < 0 || width < 0 || height < 0 || left > 65535 || top > 65535 ||
        width > 65535 || height > 65535)
        throw GIFException("Invalid image dimensions");
    if (static_cast<long long>(width) * height > kMaxGifTotalArea)
        throw GIFException("Image too large: " + std::to_string(width) + " x " + std::to_string(height) +
                           " pixels exceeds the limit of " + std::to_string(kMaxGifTotalArea) + " pixels");
    if (width != width_ || height != height_) {
        DropRenderCache();
        data_.assign(size_t(width) * size_t(height), 0);
        decoded_ = data_.size();
    }
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
    if (!image_)
        return;
    TGIFHeader& header = image_->Header;
    bool grew = false;
    if (header.Width < left + width) {
        if (header.Width > 0)
            Warning(1, "Image width too small for contained frames");
        header.Width = uint16_t(std::min(left + width, 65535));
        grew = true;
    }
    if (header.Height < top + height) {
        if (header.Height > 0)
            Warning(1, "Image height too small for contained frames");
        header.Height = uint16_t(std::min(top + height, 65535));
        grew = true;
    }
    if (grew)
        Warning(1, "Image exceeds Logical Screen size");
}

void TGIFSubImage::Clear()
{
    extensions_.clear();
    gce_ = nullptr;
    transparent_ = false;
    colorMap_.Clear();
    data_.clear();
    decoded_ = 0;
    width_ = height_ = 0;
    DropRenderCache();
}

uint8_t TGIFSubImage::Pixels(int x, int y) const
{
    if (data_.empty())
        throw GIFException("Image is empty");
    if (x < 0 || y < 0 || x >= width_ || y >= height_)
        throw GIFException("Invalid pixel coordinates");
    return data_[size_t(y) * size_t(width_) + size_t(x)];
}

void TGIFSubImage::SetPixel(int x, int y, uint8_t value)
{
    Pixels(x, y);  // the same checks
    data_[size_t(y) * size_t(width_) + size_t(x)] = value;
    DropRenderCache();
}

const uint8_t* TGIFSubImage::Scanline(int y) const
{
    if (data_.empty())
        throw GIFException("Image is empty");
    if (y < 0 || y >= height_)
        throw GIFException("Invalid pixel coordinates");
    return data_.data() + size_t(y) * size_t(width_);
}

uint8_t* TGIFSubImage::Scanline(int y)
{
    return const_cast<uint8_t*>(std::as_const(*this).Scanline(y));
}

TGIFExtension* TGIFSubImage::AddExtension(std::unique_ptr<TGIFExtension> extension)
{
    TGIFExtension* added = extension.get();
    extensions_.push_back(std::move(extension));
    if (!gce_)
        if (auto* gce = dynamic_cast<TGIFGraphicControlExtension*>(added)) {
            gce_ = gce;
            transparent_ = gce->Transparent();
        }
    return added;
}

void TGIFSubImage::DeleteExtension(TGIFExtension* extension)
{
    auto it = std::find_if(extensions_.begin(), extensions_.end(),
                           [&](const auto& e) { return e.get() == extension; });
    if (it == extensions_.end())
        return;
    if (extension == gce_) {
        gce_ = nullptr;
        transparent_ = false;
    }
    extensions_.erase(it);
}

void TGIFSubImage::ReadExtensions(GifReader& reader)
{
    for (;;) {
        const int next = reader.Peek();
        if (next != '!') {
            if (next != ',' && next != ';' && next >= 0)
                Warning(1, "Invalid extension introducer");
            return;
        }
        if (std::unique_ptr<TGIFExtension> extension = ReadGifExtension(reader, this))
            AddExtension(std::move(extension));
    }
}

void TGIFSubImage::LoadFromStream(GifReader& reader)
{
    ReadExtensions(reader);
    // Only a real descriptor follows; anything else leaves an empty frame of extensions.
    if (reader.Peek() != ',')
        return;

    Separator = reader.ReadByte();
    left_ = reader.ReadWord();
    top_ = reader.ReadWord();
    width_ = reader.ReadWord();
    height_ = reader.ReadWord();
    PackedFields = reader.ReadByte();
    if ((width_ == 0 || height_ == 0) && image_) {
        width_ = image_->Header.Width;
        height_ = image_->Header.Height;
        Warning(1, "Image exceeds Logical Screen size");
    }
    // Frames count against the whole image's limit (AddLoadedArea); a lone frame too.
    const long long area = static_cast<long long>(width_) * height_;
    if (area > kMaxGifTotalArea)
        throw GIFException("Image too large: frame of " + std::to_string(width_) + " x " +
                           std::to_string(height_) + " pixels exceeds the limit of " +
                           std::to_string(kMaxGifTotalArea) + " pixels");
    if (image_) {
        image_->AddLoadedArea(area);
        const TGIFHeader& header = image_->Header;
        if (header.Width > 0 && header.Height > 0 &&
            (left_ + width_ > header.Width || top_ + height_ > header.Height))
            Warning(1, "Image exceeds Logical Screen size");
    }

    if (PackedFields & 0x80) {
        colorMap_.LoadFromStream(reader, 2 << (PackedFields & 7));
        colorMap_.SetOptimized(PackedFields & 0x20);
    }

    const size_t count = size_t(area);
    const int fill = TransparentIndex() >= 0 ? TransparentIndex() : 0;
    const GifWarnFn warn = [this](const std::string& message) { Warning(1, message); };
    data_.assign(count, uint8_t(fill));
    if (Interlaced() && height_ > 1 && count > 0) {
        std::vector<uint8_t> stream(count, uint8_t(fill));
        decoded_ = LzwDecode(reader.Data(), reader.Size(), reader.PositionRef(), stream.data(), count, warn);
        RestoreLzwTail(stream.data(), count, decoded_, uint8_t(fill));
        for (int row = 0; row < height_; ++row)
            std::memcpy(data_.data() + size_t(InterlacedRow(row, height_)) * size_t(width_),
                        stream.data() + size_t(row) * size_t(width_), size_t(width_));
    } else {
        decoded_ = LzwDecode(reader.Data(), reader.Size(), reader.PositionRef(), data_.data(), count, warn);
        RestoreLzwTail(data_.data(), count, decoded_, uint8_t(fill));
    }
    DropRenderCache();
}

void TGIFSubImage::SaveToStream(std::vector<uint8_t>& out) const
{
    for (const auto& extension : extensions_)
        extension->SaveToStream(out);
    if (Empty())
        return;

    uint8_t flags;
    if (colorMap_.Count() > 0)
        flags = uint8_t(0x80 | (colorMap_.Optimized() ? 0x20 : 0) | (colorMap_.BitsPerPixel() - 1));
    else
        flags = PackedFields & (0x40 | 0x10 | 0x08);
    PutByte(out, ',');
    PutWord(out, uint16_t(left_));
    PutWord(out, uint16_t(top_));
    PutWord(out, uint16_t(width_));
    PutWord(out, uint16_t(height_));
    PutByte(out, flags);
    colorMap_.SaveToStream(out);

    int bits;
    int colors;
    if (colorMap_.Count() > 0) {
        bits = colorMap_.BitsPerPixel();
        colors = colorMap_.Count();
    } else {
        bits = image_ ? image_->MaxBitsPerPixel() : 0;
        if (bits == 0) {
            // No table anywhere: keep every index the frame holds.
            const uint8_t highest = *std::max_element(data_.begin(), data_.end());
            bits = 1;
            while ((1 << bits) <= highest)
                ++bits;
        }
        colors = 1 << bits;
    }
    GifCompress(out, image_ ? TGIFCompression(image_->Compression) : compressLZW, bits, colors,
                data_.data(), (flags & 0x40) != 0, height_, width_);
}

void TGIFSubImage::Assign(const TGIFSubImage& source)
{
    if (&source == this)
        return;
    Clear();
    if (source.Empty())
        return;
    Separator = source.Separator;
    left_ = source.left_;
    top_ = source.top_;
    width_ = source.width_;
    height_ = source.height_;
    PackedFields = source.PackedFields;
    data_ = source.data_;
    decoded_ = source.decoded_;
    colorMap_.ImportPalette(source.colorMap_.ExportPalette());
    colorMap_.SetOptimized(source.colorMap_.Optimized());
    std::vector<uint8_t> bytes;
    for (const auto& extension : source.extensions_)
        extension->SaveToStream(bytes);
    GifReader reader(bytes.data(), bytes.size());
    ReadExtensions(reader);
    transparent_ = source.transparent_;
}

GifRenderCache& TGIFSubImage::RenderCache()
{
    if (!render_)
        render_ = std::make_unique<GifRenderCache>();
    return *render_;
}

void TGIFSubImage::DropRenderCache() { render_.reset(); }

void TGIFSubImage::PaletteChanged()
{
    const bool hadPalette = std::exchange(hasPalette_, false);
    palette_.clear();
    if (render_ || hadPalette) {
        render_.reset();
        if (image_)
            image_->Changed();
    }
}

void TGIFSubImage::SetPalette(const std::vector<GifRgb>& palette)
{
    if (palette == palette_ && hasPalette_ == !palette.empty())
        return;
    palette_ = palette;
    hasPalette_ = !palette.empty();
    DropRenderCache();
    if (image_)
        image_->Changed();
}

// ---------------------------------------------------------------- list

int TGIFImageList::Add(std::unique_ptr<TGIFSubImage> frame)
{
    items_.push_back(std::move(frame));
    return int(items_.size()) - 1;
}

void TGIFImageList::Delete(int index)
{
    if (index < 0 || index >= Count())
        return;
    items_.erase(items_.begin() + index);
}

void TGIFImageList::LoadFromStream(GifReader& reader)
{
    for (;;) {
        while (reader.Peek() == 0)
            reader.ReadByte();
        const int next = reader.Peek();
        if (next < 0 || next == ';')
            return;
        if (next != '!' && next != ',') {
            image_->DoNotify(nullptr, 1, "Unknown GIF block type");
            return;
        }
        auto frame = std::make_unique<TGIFSubImage>(image_);
        frame->LoadFromStream(reader);
        Add(std::move(frame));
        image_->Progress(psRunning, int(reader.Position() * 100 / std::max<size_t>(1, reader.Size())), "Loading...");
    }
}

void TGIFImageList::SaveToStream(std::vector<uint8_t>& out) const
{
    for (const auto& frame : items_)
        frame->SaveToStream(out);
}
