#pragma once
// The chart image cache folder, shared with the cached banner images.
#include <cstdint>
#include <string>

// ProgDir + "Cache/".
std::string ChartCacheDir();

// The limit in megabytes (always 1: 1,000,000 bytes) and the running total of the folder's
// "*.gif" files; both set when the settings are loaded and used on the main thread only.
extern int ChartCacheMB;
extern int64_t ChartCacheBytes;

// Creates the cache folder when missing; the total size of its "*.gif" files (any case).
int64_t GetGifCacheSize();
