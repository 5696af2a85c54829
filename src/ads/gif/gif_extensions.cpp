#include "gif_image.h"

#include <algorithm>
#include <mutex>

namespace {

// Reads one data sub-block (length byte and bytes); false at the terminator.
bool ReadSubBlock(GifReader& reader, std::string& into)
{
    const uint8_t length = reader.ReadByte();
    if (length == 0)
        return false;
    into.resize(length);
    reader.Read(into.data(), length);
    return true;
}

void SkipSubBlocks(GifReader& reader)
{
    std::string ignored;
    while (ReadSubBlock(reader, ignored)) {
    }
}

GifTextLines ReadText(GifReader& reader)
{
    GifTextLines lines;
    std::string line;
    while (ReadSubBlock(reader, line))
        lines.push_back(line);
    return lines;
}

void WriteText(std::vector<uint8_t>& out, const GifTextLines& lines)
{
    for (const std::string& line : lines) {
        for (size_t at = 0; at < line.size(); at += 255) {
            const size_t n = std::min<size_t>(255, line.size() - at);
            PutByte(out, uint8_t(n));
            PutBytes(out, line.data() + at, n);
        }
    }
    PutByte(out, 0);
}

// Reads the fixed block that opens an extension, honouring its stored size: `want` bytes are
// taken (missing ones stay 0, with a warning), extra ones skipped. A file that ends inside the
// block gives what it holds, with the same warning; `cut` then tells the caller.
std::string ReadFixedBlock(GifReader& reader, size_t want, TGIFItem& item, bool& cut)
{
    cut = reader.AtEnd();
    const size_t size = cut ? 0 : reader.ReadByte();
    std::string block(std::min(size, reader.Left()), '\0');
    reader.Read(block.data(), block.size());
    cut = cut || block.size() < size;
    if (block.size() < want || cut) {
        item.Warning(1, "Premature end of data");
        if (block.size() < want)
            block.resize(want, '\0');
    }
    return block;
}

// The identifier of an application block of the given size (10 or more): always 11 bytes, so a
// block of size 10 takes the byte after it as its last one and leaves that byte to be read
// again (it opens the data); the bytes of a longer block past the 11 are skipped.
GifAppIdentifier ReadAppIdentifier(GifReader& reader, size_t size)
{
    GifAppIdentifier identifier{};
    reader.Read(identifier.data(), std::min<size_t>(size, identifier.size()));
    if (size < identifier.size()) {
        if (reader.Peek() >= 0)
            identifier[size] = uint8_t(reader.Peek());
    } else {
        std::string rest(size - identifier.size(), '\0');
        reader.Read(rest.data(), rest.size());
    }
    return identifier;
}

uint16_t Word(const std::string& b, size_t at) { return uint16_t(uint8_t(b[at]) | (uint8_t(b[at + 1]) << 8)); }

struct Registries {
    std::mutex lock;
    std::vector<std::pair<uint8_t, TGIFExtensionFactory>> byLabel;
    std::vector<std::pair<GifAppIdentifier, TGIFExtensionFactory>> byIdentifier;
    Registries()
    {
        byLabel.emplace_back(TGIFTextExtension::Label,
                             [](TGIFSubImage* f) { return std::make_unique<TGIFTextExtension>(f); });
        byLabel.emplace_back(TGIFGraphicControlExtension::Label,
                             [](TGIFSubImage* f) { return std::make_unique<TGIFGraphicControlExtension>(f); });
        byLabel.emplace_back(TGIFCommentExtension::Label,
                             [](TGIFSubImage* f) { return std::make_unique<TGIFCommentExtension>(f); });
        byLabel.emplace_back(TGIFApplicationExtension::Label,
                             [](TGIFSubImage* f) { return std::make_unique<TGIFUnknownAppExtension>(f); });
        auto loop = [](TGIFSubImage* f) { return std::make_unique<TGIFAppExtNSLoop>(f); };
        byIdentifier.emplace_back(MakeAppIdentifier("NETSCAPE2.0"), loop);
        byIdentifier.emplace_back(MakeAppIdentifier("ANIMEXTS1.0"), loop);
    }
};

Registries& TheRegistries()
{
    static Registries registries;
    return registries;
}

TGIFExtensionFactory FindByLabel(uint8_t label)
{
    Registries& r = TheRegistries();
    std::lock_guard<std::mutex> guard(r.lock);
    for (auto it = r.byLabel.rbegin(); it != r.byLabel.rend(); ++it)
        if (it->first == label)
            return it->second;
    return nullptr;
}

TGIFExtensionFactory FindByIdentifier(const GifAppIdentifier& identifier)
{
    Registries& r = TheRegistries();
    std::lock_guard<std::mutex> guard(r.lock);
    for (auto it = r.byIdentifier.rbegin(); it != r.byIdentifier.rend(); ++it)
        if (it->first == identifier)
            return it->second;
    return nullptr;
}

}  // namespace

void RegisterExtensionClass(uint8_t label, TGIFExtensionFactory factory)
{
    Registries& r = TheRegistries();
    std::lock_guard<std::mutex> guard(r.lock);
    r.byLabel.emplace_back(label, std::move(factory));
}

void RegisterAppExtensionClass(const GifAppIdentifier& identifier, TGIFExtensionFactory factory)
{
    Registries& r = TheRegistries();
    std::lock_guard<std::mutex> guard(r.lock);
    r.byIdentifier.emplace_back(identifier, std::move(factory));
}

GifAppIdentifier MakeAppIdentifier(const char* text)
{
    GifAppIdentifier id{};
    for (size_t i = 0; i < id.size() && text[i]; ++i)
        id[i] = uint8_t(text[i]);
    return id;
}

// ---------------------------------------------------------------- base

TGIFExtension::TGIFExtension(TGIFSubImage* frame)
    : TGIFItem(frame ? frame->Image() : nullptr), frame_(frame)
{
}

void TGIFExtension::LoadFromStream(GifReader& reader)
{
    if (reader.ReadByte() != '!')
        throw GIFException("Invalid extension introducer");
    if (reader.ReadByte() != GetExtensionType())
        throw GIFException("Internal error: Extension Instance does not match Extension Label");
    LoadBody(reader);
}

void TGIFExtension::SaveToStream(std::vector<uint8_t>& out) const
{
    PutByte(out, '!');
    PutByte(out, GetExtensionType());
    SaveBody(out);
}

std::unique_ptr<TGIFExtension> ReadGifExtension(GifReader& reader, TGIFSubImage* frame)
{
    const size_t start = reader.Position();
    reader.ReadByte();  // '!'
    const uint8_t label = reader.ReadByte();
    TGIFExtensionFactory factory = FindByLabel(label);
    if (!factory) {
        frame->Warning(1, "Unknown extension type");
        SkipSubBlocks(reader);
        return nullptr;
    }
    if (label != TGIFApplicationExtension::Label) {
        std::unique_ptr<TGIFExtension> extension = factory(frame);
        reader.SetPosition(start);
        extension->LoadFromStream(reader);
        return extension;
    }

    // Application extension: the identifier block picks the class.
    const uint8_t size = reader.ReadByte();
    if (size < 10) {
        frame->Warning(1, "Unsupported Application Extension block size");
        reader.SetPosition(reader.Position() - 1);
        SkipSubBlocks(reader);
        return nullptr;
    }
    const GifAppIdentifier identifier = ReadAppIdentifier(reader, size);
    std::unique_ptr<TGIFExtension> extension;
    if (size >= 11) {
        if (TGIFExtensionFactory appFactory = FindByIdentifier(identifier))
            extension = appFactory(frame);
    }
    if (!extension)
        extension = std::make_unique<TGIFUnknownAppExtension>(frame);
    auto* app = static_cast<TGIFApplicationExtension*>(extension.get());
    app->Identifier = identifier;
    app->LoadData(reader);
    return extension;
}

// ---------------------------------------------------------------- graphic control

void TGIFGraphicControlExtension::LoadBody(GifReader& reader)
{
    bool cut = false;
    const std::string block = ReadFixedBlock(reader, 4, *this, cut);
    BlockSize = 4;
    PackedFields = uint8_t(block[0]);
    DelayTime = Word(block, 1);
    TransparentIndex = uint8_t(block[3]);
    // A file cut inside the block (or before its terminator) keeps what came before it.
    if (cut || reader.AtEnd()) {
        if (!cut)
            Warning(1, "Premature end of data");
        return;
    }
    SkipSubBlocks(reader);
    // The frame takes its state from its first control block only, when that is added.
}

void TGIFGraphicControlExtension::SaveBody(std::vector<uint8_t>& out) const
{
    PutByte(out, 4);
    PutByte(out, PackedFields);
    PutWord(out, DelayTime);
    PutByte(out, TransparentIndex);
    PutByte(out, 0);
}

void TGIFGraphicControlExtension::SetTransparent(bool value)
{
    PackedFields = uint8_t((PackedFields & ~0x01) | (value ? 0x01 : 0));
    // A second control block of the same frame applies to nothing.
    if (frame_ && frame_->GraphicControlExtension() == this)
        frame_->SetTransparentState(value);
}

void TGIFGraphicControlExtension::SetTransparentColorIndex(int index)
{
    if (frame_) {
        const int count = frame_->ActiveColorMap().Count();
        if (count > 0 && (index < 0 || index >= count)) {
            Warning(1, "Invalid color index");
            index = 0;
        }
    }
    TransparentIndex = uint8_t(index);
}

// ---------------------------------------------------------------- text and comment

void TGIFTextExtension::LoadBody(GifReader& reader)
{
    bool cut = false;
    const std::string b = ReadFixedBlock(reader, 12, *this, cut);
    BlockSize = 12;
    Left = Word(b, 0);
    Top = Word(b, 2);
    GridWidth = Word(b, 4);
    GridHeight = Word(b, 6);
    CharWidth = uint8_t(b[8]);
    CharHeight = uint8_t(b[9]);
    ForegroundColorIndex = uint8_t(b[10]);
    BackgroundColorIndex = uint8_t(b[11]);
    Text = ReadText(reader);
}

void TGIFTextExtension::SaveBody(std::vector<uint8_t>& out) const
{
    PutByte(out, 12);
    PutWord(out, Left);
    PutWord(out, Top);
    PutWord(out, GridWidth);
    PutWord(out, GridHeight);
    PutByte(out, CharWidth);
    PutByte(out, CharHeight);
    PutByte(out, ForegroundColorIndex);
    PutByte(out, BackgroundColorIndex);
    WriteText(out, Text);
}

void TGIFCommentExtension::LoadBody(GifReader& reader) { Text = ReadText(reader); }

void TGIFCommentExtension::SaveBody(std::vector<uint8_t>& out) const { WriteText(out, Text); }

// ---------------------------------------------------------------- application

void TGIFApplicationExtension::LoadBody(GifReader& reader)
{
    const uint8_t size = reader.ReadByte();
    if (size < 10)
        throw GIFException("Unsupported Application Extension block size");
    Identifier = ReadAppIdentifier(reader, size);
    LoadData(reader);
}

void TGIFApplicationExtension::SaveBody(std::vector<uint8_t>& out) const
{
    PutByte(out, 11);
    PutBytes(out, Identifier.data(), Identifier.size());
    SaveData(out);
}

TGIFAppExtNSLoop::TGIFAppExtNSLoop(TGIFSubImage* frame) : TGIFApplicationExtension(frame)
{
    Identifier = MakeAppIdentifier("NETSCAPE2.0");
}

void TGIFAppExtNSLoop::LoadData(GifReader& reader)
{
    // The block is optional: a sub-block too short for its field is skipped with a warning
    // rather than losing the whole image over it.
    std::string block;
    while (ReadSubBlock(reader, block)) {
        const uint8_t* b = reinterpret_cast<const uint8_t*>(block.data());
        switch (b[0] & 0x07) {
        case 1:
            if (block.size() < 3)
                Warning(1, "Invalid GIF data");
            else
                Loops = uint16_t(b[1] | (b[2] << 8));
            break;
        case 2:
            if (block.size() < 5)
                Warning(1, "Invalid GIF data");
            else
                BufferSize = uint32_t(b[1]) | (uint32_t(b[2]) << 8) | (uint32_t(b[3]) << 16) | (uint32_t(b[4]) << 24);
            break;
        default:
            break;
        }
    }
}

void TGIFAppExtNSLoop::SaveData(std::vector<uint8_t>& out) const
{
    PutByte(out, 3);
    PutByte(out, 1);
    PutWord(out, Loops);
    if (BufferSize != 0) {
        PutByte(out, 5);
        PutByte(out, 2);
        PutWord(out, uint16_t(BufferSize & 0xFFFF));
        PutWord(out, uint16_t(BufferSize >> 16));
    }
    PutByte(out, 0);
}

void TGIFUnknownAppExtension::LoadData(GifReader& reader)
{
    std::string block;
    while (ReadSubBlock(reader, block))
        Blocks.emplace_back(block.begin(), block.end());
}

void TGIFUnknownAppExtension::SaveData(std::vector<uint8_t>& out) const
{
    for (const auto& block : Blocks) {
        PutByte(out, uint8_t(block.size()));
        PutBytes(out, block.data(), block.size());
    }
    PutByte(out, 0);
}
