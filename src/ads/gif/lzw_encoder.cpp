#include "gif_error.h"
#include "lzw.h"

#include <algorithm>
#include <cstring>

// ---- base encoder ----

void TGIFEncoder::Compress(std::vector<uint8_t>& out, int bitsPerPixel, int colorCount,
                           const uint8_t* pixels, bool interlaced, int height, int width)
{
    if (width < 0 || height < 0)
        throw GIFException("Invalid image dimensions");
    const size_t count = size_t(width) * size_t(height);
    // Validate once up front so the coding loops stay tight.
    if (colorCount < 256) {
        uint8_t highest = 0;
        for (size_t i = 0; i < count; ++i)
            highest = std::max(highest, pixels[i]);
        if (count > 0 && highest >= colorCount)
            throw GIFException("Color not in color table");
    }

    std::vector<uint8_t> reordered;
    if (interlaced && height > 1) {
        reordered.resize(count);
        for (int row = 0; row < height; ++row)
            std::memcpy(reordered.data() + size_t(row) * width,
                        pixels + size_t(InterlacedRow(row, height)) * width, size_t(width));
        pixels = reordered.data();
    }

    const int bits = std::clamp(bitsPerPixel, 2, 8);
    out.push_back(uint8_t(bits));
    initCodeSize_ = bits + 1;
    codeSize_ = initCodeSize_;
    clearCode_ = 1 << bits;
    endCode_ = clearCode_ + 1;
    firstFree_ = clearCode_ + 2;
    maxCode_ = (1 << codeSize_) - 1;
    bitBuffer_ = 0;
    bitCount_ = 0;
    // At most one code per pixel plus clears (one in nine codes at worst), 12 bits each.
    const size_t capacity = count * 2 + 64;
    if (capacity > codesCapacity_) {
        codes_.reset(new uint8_t[capacity]);
        codesCapacity_ = capacity;
    }
    codesEnd_ = codes_.get();

    if (count > 0)
        CompressPixels(pixels, count);
    else
        Clear();
    TGIFEncoder::Output(endCode_);
    FlushBits();

    // Frame the code bytes as full sub-blocks of 255 and one shorter last block.
    const size_t size = size_t(codesEnd_ - codes_.get());
    size_t at = out.size();
    out.resize(at + size + size / 255 + 2);
    uint8_t* dst = out.data() + at;
    for (size_t from = 0; from < size; from += 255) {
        const size_t n = std::min<size_t>(255, size - from);
        *dst++ = uint8_t(n);
        std::memcpy(dst, codes_.get() + from, n);
        dst += n;
    }
    *dst++ = 0;
    out.resize(size_t(dst - out.data()));
}

void TGIFEncoder::Output(int code)
{
    bitBuffer_ |= uint64_t(code) << bitCount_;
    bitCount_ += codeSize_;
    if (bitCount_ >= 32) {
        const uint32_t word = uint32_t(bitBuffer_);
        std::memcpy(codesEnd_, &word, 4);
        codesEnd_ += 4;
        bitBuffer_ >>= 32;
        bitCount_ -= 32;
    }
}

void TGIFEncoder::FlushBits()
{
    while (bitCount_ > 0) {
        *codesEnd_++ = uint8_t(bitBuffer_);
        bitBuffer_ >>= 8;
        bitCount_ -= 8;
    }
    bitCount_ = 0;
    bitBuffer_ = 0;
}

void TGIFEncoder::Clear()
{
    justCleared_ = true;
    Output(clearCode_);
}

// ---- LZW ----

void TLZWEncoder::Output(int code)
{
    TGIFEncoder::Output(code);
    if (justCleared_) {
        codeSize_ = initCodeSize_;
        maxCode_ = (1 << codeSize_) - 1;
        justCleared_ = false;
    } else if (nextFree_ > maxCode_) {
        ++codeSize_;
        maxCode_ = codeSize_ >= 12 ? 4096 : (1 << codeSize_) - 1;
    }
}

void TLZWEncoder::Clear()
{
    std::fill(table_.begin(), table_.end(), 0xFFFFFFFFu);
    if (++generation_ == 4096) {
        std::fill(lastChild_.begin(), lastChild_.end(), 0u);
        generation_ = 1;
    }
    nextFree_ = clearCode_ + 2;
    TGIFEncoder::Clear();
}

void TLZWEncoder::CompressPixels(const uint8_t* pixels, size_t count)
{
    constexpr uint32_t kMask = (1u << kHashBits) - 1;
    Clear();
    uint32_t* const table = table_.data();
    uint32_t* const lastChild = lastChild_.data();
    uint32_t prefix = pixels[0];
    for (size_t i = 1; i < count; ++i) {
        const uint32_t pixel = pixels[i];
        const uint32_t tag = (generation_ << 8) | pixel;
        const uint32_t cached = lastChild[prefix];
        if ((cached >> 12) == tag) {
            prefix = cached & 0xFFF;
            continue;
        }
        const uint32_t key = (prefix << 8) | pixel;  // at most 20 bits
        uint32_t slot = (key * 2654435761u) >> (32 - kHashBits);
        for (;;) {
            const uint32_t entry = table[slot];
            if (entry == 0xFFFFFFFFu)
                break;
            if ((entry >> 12) == key) {
                lastChild[prefix] = (tag << 12) | (entry & 0xFFF);
                prefix = entry & 0xFFF;
                goto next;
            }
            slot = (slot + 1) & kMask;
        }
        // Not in the dictionary: send the prefix and start again from this pixel.
        Output(int(prefix));
        if (nextFree_ >= 4095) {
            Clear();
        } else {
            table[slot] = (key << 12) | uint32_t(nextFree_);
            lastChild[prefix] = (tag << 12) | uint32_t(nextFree_);
            ++nextFree_;
        }
        prefix = pixel;
    next:;
    }
    Output(int(prefix));
}

// ---- RLE ----

void TRLEEncoder::Clear()
{
    outBump_ = outBumpInit_;
    outClear_ = outClearInit_;
    outCount_ = 0;
    tableMax_ = 0;
    TGIFEncoder::Clear();
    codeSize_ = initCodeSize_;
}

void TRLEEncoder::OutputPlain(int code)
{
    justCleared_ = false;
    Output(code);
    ++outCount_;
    if (outCount_ >= outBump_) {
        ++codeSize_;
        outBump_ += 1 << (codeSize_ - 1);
    }
    if (outCount_ >= outClear_)
        Clear();
}

int TRLEEncoder::TriangleCount(int count, int repeatCodes)
{
    int cost = 0;
    const int perRepeat = repeatCodes * (repeatCodes + 1) / 2;
    if (perRepeat > 0) {
        cost += (count / perRepeat) * repeatCodes;
        count %= perRepeat;
    }
    if (count > 0) {
        // Smallest k with k(k+1) >= 2 * count: Newton's integer square root, then adjusted.
        long long target = 2LL * count;
        long long k = count;
        if (k > 1) {
            long long x = k;
            long long y = (x + 1) / 2;
            while (y < x) {
                x = y;
                y = (x + count / x) / 2;
            }
            k = x;
        }
        while (k > 0 && k * (k + 1) >= target)
            --k;
        while (k * (k + 1) < target)
            ++k;
        cost += int(k);
    }
    return cost;
}

void TRLEEncoder::ResetOutClear()
{
    outClear_ = outClearInit_;
    if (outCount_ >= outClear_)
        Clear();
}

void TRLEEncoder::FlushFromClear(int count)
{
    outClear_ = maxOutCount_;
    tablePixel_ = runPixel_;
    int k = 1;
    while (count > 0) {
        if (k == 1) {
            tableMax_ = 1;
            OutputPlain(runPixel_);
            --count;
        } else if (count >= k) {
            tableMax_ = k;
            OutputPlain(firstFree_ + k - 2);
            count -= k;
        } else if (count == 1) {
            ++tableMax_;
            OutputPlain(runPixel_);
            count = 0;
        } else {
            ++tableMax_;
            OutputPlain(firstFree_ + count - 2);
            count = 0;
        }
        k = outCount_ == 0 ? 1 : k + 1;
    }
    ResetOutClear();
}

void TRLEEncoder::FlushClearOrRepeat(int count)
{
    if (count > 1 + TriangleCount(count, maxOutCount_)) {
        Clear();
        FlushFromClear(count);
    } else {
        for (; count > 0; --count)
            OutputPlain(runPixel_);
    }
}

void TRLEEncoder::FlushWithTable(int count)
{
    int repeats = count / tableMax_;
    int rest = count % tableMax_;
    int restCodes = rest > 0 ? 1 : 0;
    if (outCount_ + repeats + restCodes > maxOutCount_) {
        repeats = maxOutCount_ - outCount_;
        rest = count - repeats * tableMax_;
        restCodes = 1 + TriangleCount(rest, maxOutCount_);
    }
    if (1 + TriangleCount(count, maxOutCount_) < repeats + restCodes) {
        Clear();
        FlushFromClear(count);
        return;
    }
    outClear_ = maxOutCount_;
    for (; repeats > 0; --repeats)
        OutputPlain(firstFree_ + tableMax_ - 2);
    if (rest > 0) {
        if (justCleared_)
            FlushFromClear(rest);
        else if (rest == 1)
            OutputPlain(runPixel_);
        else
            OutputPlain(firstFree_ + rest - 2);
    }
    ResetOutClear();
}

void TRLEEncoder::Flush(int count)
{
    if (count == 1)
        OutputPlain(runPixel_);
    else if (justCleared_)
        FlushFromClear(count);
    else if (tableMax_ < 2 || tablePixel_ != runPixel_)
        FlushClearOrRepeat(count);
    else
        FlushWithTable(count);
}

void TRLEEncoder::CompressPixels(const uint8_t* pixels, size_t count)
{
    const int bits = initCodeSize_ - 1;
    outBumpInit_ = clearCode_ - 1;
    outClearInit_ = bits <= 3 ? 9 : clearCode_ - 2;
    maxOutCount_ = 4095 - firstFree_;
    runLength_ = 0;
    Clear();
    for (size_t i = 0; i < count; ++i) {
        const int pixel = pixels[i];
        if (runLength_ > 0 && pixel != runPixel_) {
            Flush(runLength_);
            runLength_ = 0;
        }
        if (runLength_ > 0 && runLength_ < (1 << 30)) {
            ++runLength_;
        } else if (runLength_ > 0) {
            Flush(runLength_);
            runPixel_ = pixel;
            runLength_ = 1;
        } else {
            runPixel_ = pixel;
            runLength_ = 1;
        }
    }
    if (runLength_ > 0)
        Flush(runLength_);
}

void GifCompress(std::vector<uint8_t>& out, TGIFCompression compression, int bitsPerPixel,
                 int colorCount, const uint8_t* pixels, bool interlaced, int height, int width)
{
    if (compression == compressRLE) {
        TRLEEncoder encoder;
        encoder.Compress(out, bitsPerPixel, colorCount, pixels, interlaced, height, width);
    } else {
        TLZWEncoder encoder;
        encoder.Compress(out, bitsPerPixel, colorCount, pixels, interlaced, height, width);
    }
}
