#pragma once
// LZW coding of GIF image data: the minimum code size byte, the data sub-blocks and the block
// terminator. Plain C++ on byte buffers; the data model calls these for each frame.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using GifWarnFn = std::function<void(const std::string&)>;

// Decodes the image data that starts at data[pos] (the minimum code size byte) into at most
// `count` pixels of `out`, in stream order. Returns how many pixels were decoded. Up to
// LzwDecodeSlack pixels after those may be overwritten (short strings are copied 16 bytes at
// a time); RestoreLzwTail puts the caller's fill value back there. On return pos is just past the block terminator (or at the
// end of the buffer), so the next block can be read whatever the data held.
// A minimum code size outside 1..8 raises GIFException; every other damage is warned about and
// ends the frame with the pixels decoded so far.
size_t LzwDecode(const uint8_t* data, size_t size, size_t& pos, uint8_t* out, size_t count,
                 const GifWarnFn& warn);

inline constexpr size_t LzwDecodeSlack = 16;
// Refills what LzwDecode may have overwritten past the `decoded` pixels of `out`.
void RestoreLzwTail(uint8_t* out, size_t count, size_t decoded, uint8_t fill);

// Row order of an interlaced frame: stream row i is display row InterlacedRow(i, height).
int InterlacedRow(int streamRow, int height);

enum TGIFCompression : uint8_t { compressLZW = 0, compressRLE = 1 };

// The encoders. `Compress` appends the minimum code size byte, the sub-blocks and the
// terminator to `out`. Pixels are width x height indices in row order; with `interlaced` they
// are written in the four interlace passes. A pixel at or above `colorCount` raises
// "Color not in color table".
class TGIFEncoder {
public:
    virtual ~TGIFEncoder() = default;
    void Compress(std::vector<uint8_t>& out, int bitsPerPixel, int colorCount, const uint8_t* pixels,
                  bool interlaced, int height, int width);

protected:
    virtual void Output(int code);
    virtual void Clear();
    virtual void CompressPixels(const uint8_t* pixels, size_t count) = 0;
    void FlushBits();

    std::unique_ptr<uint8_t[]> codes_;  // packed code bytes before sub-block framing
    size_t codesCapacity_ = 0;
    uint8_t* codesEnd_ = nullptr;
    uint64_t bitBuffer_ = 0;
    int bitCount_ = 0;
    bool justCleared_ = false;
    int codeSize_ = 0;
    int initCodeSize_ = 0;
    int maxCode_ = 0;
    int clearCode_ = 0;
    int endCode_ = 0;
    int firstFree_ = 0;
};

// Hashed LZW. The dictionary is an open-addressing table with linear probing at most half
// full, so every probe ends; any table that yields the same codes would do.
class TLZWEncoder final : public TGIFEncoder {
protected:
    void Output(int code) override;
    void Clear() override;
    void CompressPixels(const uint8_t* pixels, size_t count) override;

private:
    static constexpr int kHashBits = 13;
    std::vector<uint32_t> table_ = std::vector<uint32_t>(size_t(1) << kHashBits, 0xFFFFFFFFu);
    // The last child seen per code (generation, pixel, code): runs and repeated patterns hit
    // it without hashing. A new generation per clear makes old entries miss.
    std::vector<uint32_t> lastChild_ = std::vector<uint32_t>(4096, 0);
    uint32_t generation_ = 0;
    int nextFree_ = 0;
};

// Run-length coding with codes every decoder accepts: runs are sent as the growing strings the
// decoder's own table holds, cleared before that table could overflow.
class TRLEEncoder final : public TGIFEncoder {
protected:
    void Clear() override;
    void CompressPixels(const uint8_t* pixels, size_t count) override;

private:
    void OutputPlain(int code);
    void Flush(int count);
    void FlushFromClear(int count);
    void FlushClearOrRepeat(int count);
    void FlushWithTable(int count);
    void ResetOutClear();
    static int TriangleCount(int count, int repeatCodes);

    int runPixel_ = 0;
    int runLength_ = 0;
    int tableMax_ = 0;
    int tablePixel_ = 0;
    int outCount_ = 0;
    int outBump_ = 0;
    int outClear_ = 0;
    int outBumpInit_ = 0;
    int outClearInit_ = 0;
    int maxOutCount_ = 0;
};

// Convenience: encodes with the chosen compression.
void GifCompress(std::vector<uint8_t>& out, TGIFCompression compression, int bitsPerPixel,
                 int colorCount, const uint8_t* pixels, bool interlaced, int height, int width);
