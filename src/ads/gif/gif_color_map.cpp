#include "gif_image.h"

#include <algorithm>
#include <numeric>

void TGIFColorMap::Warning(const std::string& message) const
{
    if (image_)
        image_->DoNotify(nullptr, 1, message);
    else
        GifWarning(message);
}

int TGIFColorMap::Add(GifRgb color)
{
    if (colors_.size() >= 256)
        throw GIFException("Color table overflow");
    colors_.push_back(TGIFColor::FromRgb(color));
    optimized_ = false;
    Changed();
    return int(colors_.size()) - 1;
}

int TGIFColorMap::IndexOf(GifRgb color) const
{
    const TGIFColor c = TGIFColor::FromRgb(color);
    if (optimized_) {
        for (size_t i = 0; i < colors_.size(); ++i)
            if (colors_[i] == c)
                return int(i);
    } else {
        for (size_t i = colors_.size(); i-- > 0;)
            if (colors_[i] == c)
                return int(i);
    }
    return -1;
}

int TGIFColorMap::AddUnique(GifRgb color)
{
    const int index = IndexOf(color);
    return index >= 0 ? index : Add(color);
}

void TGIFColorMap::Delete(int index)
{
    if (index < 0 || index >= Count())
        throw GIFException("Invalid color index");
    colors_.erase(colors_.begin() + index);
    optimized_ = false;
    Changed();
}

GifRgb TGIFColorMap::Colors(int index) const
{
    if (colors_.empty())
        throw GIFException("Color table is empty");
    if (index < 0 || index >= Count()) {
        Warning("Invalid color index");
        index = 0;
    }
    return colors_[size_t(index)].Rgb();
}

void TGIFColorMap::SetColor(int index, GifRgb color)
{
    if (index < 0 || index >= Count())
        throw GIFException("Invalid color index");
    colors_[size_t(index)] = TGIFColor::FromRgb(color);
    Changed();
}

void TGIFColorMap::Clear()
{
    colors_.clear();
    optimized_ = false;
    Changed();
}

int TGIFColorMap::BitsPerPixel() const
{
    const int n = Count();
    if (n == 0)
        return 0;
    int bits = 1;
    while ((1 << bits) < n)
        ++bits;
    return bits;
}

void TGIFColorMap::ImportPalette(const std::vector<GifRgb>& palette)
{
    colors_.clear();
    const size_t n = std::min<size_t>(palette.size(), 256);
    for (size_t i = 0; i < n; ++i)
        colors_.push_back(TGIFColor::FromRgb(palette[i]));
    optimized_ = false;
    Changed();
}

std::vector<GifRgb> TGIFColorMap::ExportPalette() const
{
    std::vector<GifRgb> palette;
    palette.reserve(colors_.size());
    for (const TGIFColor& c : colors_)
        palette.push_back(c.Rgb());
    return palette;
}

void TGIFColorMap::LoadFromStream(GifReader& reader, int count)
{
    colors_.assign(size_t(count), TGIFColor{});
    reader.Read(colors_.data(), size_t(count) * 3);
    optimized_ = false;
    Changed();
}

void TGIFColorMap::SaveToStream(std::vector<uint8_t>& out) const
{
    if (colors_.empty())
        return;
    PutBytes(out, colors_.data(), colors_.size() * 3);
    const size_t padded = size_t(1) << BitsPerPixel();
    out.insert(out.end(), (padded - colors_.size()) * 3, 0);
}

void TGIFColorMap::Optimize()
{
    if (Count() < 2)
        return;
    const std::vector<TGIFSubImage*> users = Users();
    optimized_ = true;

    std::array<uint64_t, 256> histogram{};
    for (TGIFSubImage* frame : users)
        for (uint8_t p : frame->Data())
            ++histogram[p];

    std::vector<int> order(colors_.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return histogram[size_t(a)] > histogram[size_t(b)]; });
    if (std::is_sorted(order.begin(), order.end()))
        return;

    std::array<uint8_t, 256> newIndex{};
    for (size_t i = 0; i < order.size(); ++i)
        newIndex[size_t(order[i])] = uint8_t(i);
    for (TGIFSubImage* frame : users) {
        for (uint8_t& p : frame->Data())
            if (p < order.size())
                p = newIndex[p];
        if (auto* gce = frame->GraphicControlExtension(); gce && gce->TransparentIndex < order.size())
            gce->TransparentIndex = newIndex[gce->TransparentIndex];
        frame->DropRenderCache();
    }
    size_t keep = 0;
    while (keep < order.size() && histogram[size_t(order[keep])] > 0)
        ++keep;
    // The screen's background colour stays in the global table, wherever it moves.
    if (image_ && &image_->Header.ColorMap == this && image_->Header.BackgroundColorIndex < order.size()) {
        uint8_t& background = image_->Header.BackgroundColorIndex;
        background = newIndex[background];
        keep = std::max(keep, size_t(background) + 1);
    }
    std::vector<TGIFColor> sorted;
    for (size_t i = 0; i < keep; ++i)
        sorted.push_back(colors_[size_t(order[i])]);
    colors_ = std::move(sorted);
    Changed();
}

std::vector<TGIFSubImage*> TGIFColorMap::Users() const
{
    std::vector<TGIFSubImage*> users;
    if (image_)
        for (const auto& frame : image_->Images)
            if (&frame->ActiveColorMap() == this)
                users.push_back(frame.get());
    return users;
}

std::vector<TGIFSubImage*> TGIFLocalColorMap::Users() const
{
    if (frame_)
        return {frame_};
    return {};
}

void TGIFGlobalColorMap::Changed()
{
    if (image_)
        image_->PaletteChanged();
}

void TGIFLocalColorMap::Changed()
{
    if (frame_)
        frame_->PaletteChanged();
}
