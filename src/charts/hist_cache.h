#pragma once
// The chart-image cache of the historical chart windows: trading-day stamps, cache names and
// storing an image within the cache's size limit. The cache folder is shared with the cached
// banner images ("GIF<n>.GIF"). Main thread only, like ChartCacheBytes.
#include <functional>
#include <string>
#include <string_view>

#include "platform/datetime.h"

// The newest market data a daily chart can hold: 21:00 of the latest day whose 21:00 has
// passed, a weekend moved back to the Friday.
TDateTime HistDailyStamp(TDateTime now);
// The same for intraday charts: the previous close (16:30) before 9:30, the day's close after
// 16:30, the time itself in between; a weekend gives the Friday's close.
TDateTime HistIntradayStamp(TDateTime now);

// The stamp field of a cache name: stamp - 36000 days, 7 decimals, no blanks.
std::string HistStampText(TDateTime stamp);
// 16 hex digits of a hash of the whole text: every character and its place count.
std::string HistQueryHash(std::string_view text);
// A piece of a cache name: letters, digits, '.', '=', '-' and '^' kept, anything else '-', so
// that a name is one file name and its "_"-separated fields stay where they are.
std::string HistNamePart(std::string_view text);
// Prefix + symbol + "_" + stamp + "_" + period + "_" + hash of query: the name of a chart.
std::string HistCacheName(std::string_view prefix, std::string_view symbol, TDateTime stamp,
                          std::string_view period, std::string_view query);

// ChartCacheDir() + name + ".gif"; empty for a name that is not a plain file name.
std::string HistCachePath(const std::string& name);
// True when the bytes arrived whole and decode as a GIF picture.
bool DecodesAsGif(std::string_view data);
// The largest chart body the windows take; bigger ones count as failed fetches.
constexpr size_t MaxChartBytes = 4'000'000;

// The current stamp of a period code, for the stale pass.
using HistStampFor = std::function<TDateTime(const std::string& periodCode)>;

enum class StoreResult { Stored, AlreadyCached, NotGif, BadName, WriteFailed };
// Stores a chart under its name. Over the limit, images older than their period's current
// stamp go first, then other "*.gif" files (any case) in listing order until the new one fits.
// The file is written atomically; ChartCacheBytes follows every delete and write. Bytes not
// already shown as a picture (decodedAlready) are decoded first: what is no GIF is not stored.
StoreResult StoreInCache(const std::string& name, std::string_view data, const HistStampFor& stampFor,
                         bool decodedAlready = false);
// The bytes of a cached chart; false when there is none (or it is empty). A cached chart that
// was cut short is deleted.
bool ReadCachedChart(const std::string& name, std::string& data);
