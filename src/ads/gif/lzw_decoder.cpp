#include "gif_error.h"
#include "lzw.h"

#include <algorithm>
#include <cstring>

namespace {

// Reads LSB-first codes from GIF sub-blocks. Bytes are taken one sub-block at a time into a
// 64-bit accumulator, so a code may span any number of sub-blocks of any length.
class CodeReader {
public:
    CodeReader(const uint8_t* data, size_t size, size_t pos, const GifWarnFn& warn)
        : data_(data), size_(size), pos_(pos), warn_(warn) {}

    // Next code of `bits` bits, or -1 when the data has run out.
    inline int Get(int bits)
    {
        if (bitCount_ < bits && !Refill(bits))
            return -1;
        const int code = int(acc_ & ((1u << bits) - 1));
        acc_ >>= bits;
        bitCount_ -= bits;
        return code;
    }

    // Moves past the rest of the sub-blocks and the terminator; returns the new position.
    size_t SkipToTerminator()
    {
        pos_ += blockLeft_;
        blockLeft_ = 0;
        while (!ended_ && pos_ < size_) {
            const size_t length = data_[pos_++];
            if (length == 0)
                break;
            if (length > size_ - pos_) {
                warn_("Premature end of data");
                pos_ = size_;
                break;
            }
            pos_ += length;
        }
        ended_ = true;
        return pos_;
    }

private:
    bool NextBlock()
    {
        if (ended_)
            return false;
        if (pos_ >= size_) {
            ended_ = true;
            return false;
        }
        size_t length = data_[pos_++];
        if (length == 0) {
            ended_ = true;
            return false;
        }
        if (length > size_ - pos_) {
            warn_("Premature end of data");
            length = size_ - pos_;
            if (length == 0) {
                ended_ = true;
                return false;
            }
        }
        blockLeft_ = length;
        return true;
    }

    bool Refill(int bits)
    {
        while (bitCount_ <= 56 - 8) {
            if (blockLeft_ == 0) {
                if (!NextBlock())
                    break;
            }
            if (blockLeft_ >= 4 && bitCount_ <= 32) {
                uint32_t word;
                std::memcpy(&word, data_ + pos_, 4);
                acc_ |= uint64_t(word) << bitCount_;  // little-endian host assumed below
                bitCount_ += 32;
                pos_ += 4;
                blockLeft_ -= 4;
            } else {
                acc_ |= uint64_t(data_[pos_++]) << bitCount_;
                bitCount_ += 8;
                --blockLeft_;
            }
            if (bitCount_ >= bits && bitCount_ > 32)
                break;
        }
        if (bitCount_ >= bits)
            return true;
        if (bitCount_ > 0)
            warn_("Decoder bit buffer under-run");
        bitCount_ = 0;
        acc_ = 0;
        return false;
    }

    const uint8_t* data_;
    size_t size_;
    size_t pos_;
    const GifWarnFn& warn_;
    size_t blockLeft_ = 0;
    bool ended_ = false;
    uint64_t acc_ = 0;
    int bitCount_ = 0;
};

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the code reader loads words little-endian");

int ReadMinCodeSize(const uint8_t* data, size_t size, size_t& pos)
{
    if (pos >= size)
        return -1;
    const int minCodeSize = data[pos++];
    if (minCodeSize < 1 || minCodeSize > 8)
        throw GIFException("Invalid LZW minimum code size " + std::to_string(minCodeSize));
    return minCodeSize;
}

}  // namespace

int InterlacedRow(int streamRow, int height)
{
    // Passes: rows 0, 8, 16...; 4, 12...; 2, 6, 10...; 1, 3, 5...
    const int pass1 = (height + 7) / 8;
    if (streamRow < pass1)
        return streamRow * 8;
    streamRow -= pass1;
    const int pass2 = (height + 3) / 8;
    if (streamRow < pass2)
        return 4 + streamRow * 8;
    streamRow -= pass2;
    const int pass3 = (height + 1) / 4;
    if (streamRow < pass3)
        return 2 + streamRow * 4;
    streamRow -= pass3;
    return 1 + streamRow * 2;
}

// Each table entry is remembered as the place in the output where its string was last written
// (a new entry is the previous code's string plus one byte, which is exactly what follows it in
// the output). Expanding a code is a copy from earlier output: no chains, no stack, no loops,
// and nothing is written past `count`.
size_t LzwDecode(const uint8_t* data, size_t size, size_t& pos, uint8_t* out, size_t count,
                 const GifWarnFn& warn)
{
    const int minCodeSize = ReadMinCodeSize(data, size, pos);
    if (minCodeSize < 0)
        return 0;

    CodeReader reader(data, size, pos, warn);
    const int clearCode = 1 << minCodeSize;
    const int endCode = clearCode + 1;
    int codeSize = minCodeSize + 1;
    int nextFree = clearCode + 2;
    int growAt = 1 << codeSize;

    uint32_t offset[4096];
    uint16_t length[4096];

    uint8_t* dst = out;
    uint8_t* const end = out + count;
    int oldCode = -1;
    size_t oldStart = 0;
    size_t oldLength = 0;

    while (dst < end) {
        const int code = reader.Get(codeSize);
        if (code < 0)
            break;
        if (code == clearCode) {
            codeSize = minCodeSize + 1;
            nextFree = clearCode + 2;
            growAt = 1 << codeSize;
            oldCode = -1;
            continue;
        }
        if (code == endCode)
            break;

        const size_t start = size_t(dst - out);
        size_t produced;
        if (code < clearCode) {
            *dst++ = uint8_t(code);
            produced = 1;
        } else if (oldCode >= 0 && code < nextFree) {
            produced = length[code];
            const size_t room = size_t(end - dst);
            const size_t n = produced < room ? produced : room;
            const uint8_t* src = out + offset[code];
            if (n <= LzwDecodeSlack && room >= LzwDecodeSlack) {
                // The source lies wholly before dst; one 16-byte move. The tail is rewritten by
                // the next codes, or by RestoreLzwTail when decoding stops here.
                uint8_t tmp[LzwDecodeSlack];
                std::memcpy(tmp, src, LzwDecodeSlack);
                std::memcpy(dst, tmp, LzwDecodeSlack);
            } else {
                std::memcpy(dst, src, n);
            }
            dst += n;
            if (n < produced)
                break;
        } else if (oldCode >= 0 && code == nextFree) {
            // The code being defined: previous string plus its own first byte.
            produced = oldLength + 1;
            const size_t room = size_t(end - dst);
            const uint8_t first = out[oldStart];
            const size_t n = oldLength < room ? oldLength : room;
            std::memmove(dst, out + oldStart, n);
            dst += n;
            if (dst == end)
                break;
            *dst++ = first;
        } else {
            warn("Invalid LZW code " + std::to_string(code) + " (next free code " +
                 std::to_string(nextFree) + ")");
            break;
        }

        if (oldCode >= 0 && nextFree < 4096) {
            offset[nextFree] = uint32_t(oldStart);
            length[nextFree] = uint16_t(oldLength + 1);
            ++nextFree;
            if (nextFree == growAt && codeSize < 12) {
                ++codeSize;
                growAt <<= 1;
            }
        }
        oldCode = code;
        oldStart = start;
        oldLength = produced;
    }

    pos = reader.SkipToTerminator();
    return size_t(dst - out);
}

void RestoreLzwTail(uint8_t* out, size_t count, size_t decoded, uint8_t fill)
{
    if (decoded < count)
        std::memset(out + decoded, fill, std::min(LzwDecodeSlack, count - decoded));
}
