#pragma once
// Errors and warnings of the GIF module.

#include <functional>
#include <stdexcept>
#include <string>

// Raised for problems that stop a GIF operation (a load, a save, an invalid argument).
class GIFException : public std::runtime_error {
public:
    explicit GIFException(const std::string& message) : std::runtime_error(message) {}
};

// Receives every non-fatal problem of the module; the default ignores them.
void SetGifWarningHandler(std::function<void(const std::string&)> handler);
void GifWarning(const std::string& message);

// Hostile files must not exhaust memory. The frames of one image hold at most kMaxGifTotalArea
// pixels in all (one byte each); loading past that raises GIFException. A picture made from
// them (a composed screen, a paint buffer, a frame's bitmap or its full-colour copy) is made
// only when needed, and never larger than kMaxGifArea pixels (32 Mpx, e.g. 8192 x 4096: 128 MB
// in full colour).
inline constexpr long long kMaxGifArea = 32LL * 1024 * 1024;
inline constexpr long long kMaxGifTotalArea = 128LL * 1024 * 1024;
