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

// Hostile files must not exhaust memory: one frame or logical screen may hold at most
// kMaxGifArea pixels (16 Mpx, e.g. 4096 x 4096), and all frames of one image together at most
// kMaxGifTotalArea pixels. Loading a file past either raises GIFException.
inline constexpr long long kMaxGifArea = 16LL * 1024 * 1024;
inline constexpr long long kMaxGifTotalArea = 128LL * 1024 * 1024;
