#include "core/gif_hooks.h"

#include <QGuiApplication>
#include <QScreen>

#include <atomic>
#include <mutex>

#include "platform/messages.h"

namespace {
std::mutex hookMutex;
GifDitheringHook ditheringHook;
// Screens are read on the main thread only; other threads use the last depth seen there.
std::atomic<int> lastDepth{24};
std::atomic<int> depthOverride{0};
}  // namespace

void SetGifDitheringHook(GifDitheringHook hook) {
  std::lock_guard lock(hookMutex);
  ditheringHook = std::move(hook);
}

bool DitherForScreenDepth(int bitsPerPixel) { return bitsPerPixel <= 10; }

void OverrideScreenDepth(int bitsPerPixel) { depthOverride = bitsPerPixel; }

int ScreenDepth() {
  if (const int fed = depthOverride.load(); fed > 0) return fed;
  if (!IsMainThread() || qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr)
    return lastDepth.load();
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (screen) lastDepth = screen->depth();
  return lastDepth.load();
}

void SetGifDithering(TAnimGif* image) {
  if (image == nullptr) return;
  GifDitheringHook hook;
  {
    std::lock_guard lock(hookMutex);
    hook = ditheringHook;
  }
  if (hook) hook(image, DitherForScreenDepth(ScreenDepth()));
}
