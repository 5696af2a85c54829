#pragma once
// Whether GIF bytes from outside arrived whole. A transfer cut short (a connection dropped
// without a length, so the request engine cannot tell) still decodes, with the rest of the
// picture blank: such bytes are a failed fetch, never shown as a banner or chart or cached.
#include <string_view>

// True when the bytes run from the "GIF" signature through every block to the trailer, each
// block inside the data.
bool GifArrivedWhole(std::string_view bytes);
