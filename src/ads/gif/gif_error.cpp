#include "gif_error.h"

#include <mutex>

namespace {
std::mutex handlerLock;
std::function<void(const std::string&)> warningHandler;
}

void SetGifWarningHandler(std::function<void(const std::string&)> handler)
{
    std::lock_guard<std::mutex> guard(handlerLock);
    warningHandler = std::move(handler);
}

void GifWarning(const std::string& message)
{
    std::function<void(const std::string&)> handler;
    {
        std::lock_guard<std::mutex> guard(handlerLock);
        handler = warningHandler;
    }
    if (handler)
        handler(message);
}
