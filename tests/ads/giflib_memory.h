#pragma once
// giflib reading from and writing to memory, for the cross-checks and the benchmark.
#include <gif_lib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

struct MemoryIn {
  const std::vector<uint8_t>* bytes;
  size_t pos = 0;
};

inline int ReadMemory(GifFileType* file, GifByteType* into, int n) {
  auto* in = static_cast<MemoryIn*>(file->UserData);
  const size_t take = std::min(static_cast<size_t>(n), in->bytes->size() - in->pos);
  std::memcpy(into, in->bytes->data() + in->pos, take);
  in->pos += take;
  return static_cast<int>(take);
}

inline int WriteMemory(GifFileType* file, const GifByteType* data, int n) {
  auto* out = static_cast<std::vector<uint8_t>*>(file->UserData);
  out->insert(out->end(), data, data + n);
  return n;
}
