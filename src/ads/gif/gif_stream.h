#pragma once
// Checked reading of GIF bytes held in memory, and little-endian writing.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "gif_error.h"

class GifReader {
public:
    GifReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    const uint8_t* Data() const { return data_; }
    size_t Size() const { return size_; }
    size_t Position() const { return pos_; }
    void SetPosition(size_t pos) { pos_ = pos < size_ ? pos : size_; }
    size_t& PositionRef() { return pos_; }
    bool AtEnd() const { return pos_ >= size_; }
    size_t Left() const { return size_ - pos_; }

    // The next byte without taking it, or -1 at the end.
    int Peek() const { return pos_ < size_ ? data_[pos_] : -1; }

    // Raises "Premature end of data" when fewer bytes are left than asked for.
    void Read(void* into, size_t n)
    {
        if (n > size_ - pos_)
            throw GIFException("Premature end of data");
        std::memcpy(into, data_ + pos_, n);
        pos_ += n;
    }
    uint8_t ReadByte()
    {
        if (pos_ >= size_)
            throw GIFException("Premature end of data");
        return data_[pos_++];
    }
    uint16_t ReadWord()
    {
        const uint8_t lo = ReadByte();
        const uint8_t hi = ReadByte();
        return uint16_t(lo | (hi << 8));
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

inline void PutByte(std::vector<uint8_t>& out, uint8_t b) { out.push_back(b); }
inline void PutWord(std::vector<uint8_t>& out, uint16_t w)
{
    out.push_back(uint8_t(w & 0xFF));
    out.push_back(uint8_t(w >> 8));
}
inline void PutBytes(std::vector<uint8_t>& out, const void* data, size_t n)
{
    const auto* p = static_cast<const uint8_t*>(data);
    out.insert(out.end(), p, p + n);
}
