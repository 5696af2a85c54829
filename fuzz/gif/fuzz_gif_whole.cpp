// Feeds arbitrary bytes to the check that a fetched GIF arrived whole; a GIF that is whole stays
// whole with bytes after its trailer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "ads/gif/gif_whole.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (GifArrivedWhole(bytes) && !GifArrivedWhole(std::string(bytes) + "tail")) std::abort();
  return 0;
}
