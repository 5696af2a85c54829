#include "charts/hist_cache.h"

#include <QCryptographicHash>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "ads/gif/gif_image.h"
#include "ads/gif/gif_whole.h"
#include "core/chart_cache.h"
#include "platform/string_list.h"

namespace fs = std::filesystem;

namespace {

constexpr double DailyClose = 0.875;      // 21:00
constexpr double MarketOpen = 19.0 / 48;  // 9:30
constexpr double MarketClose = 0.6875;    // 16:30

TDateTime WeekendBack(TDateTime stamp, double timeOfDay, bool keepTime) {
  const int dow = DayOfWeek(stamp);
  const int back = dow == 7 ? 1 : dow == 1 ? 2 : 0;
  if (back == 0) return stamp;
  if (keepTime) return stamp - back;
  return std::floor(stamp - back) + timeOfDay;
}

}  // namespace

TDateTime HistDailyStamp(TDateTime now) {
  const double day = std::floor(now);
  const double d = (now - day) >= DailyClose ? day : day - 1;
  return WeekendBack(d + DailyClose, DailyClose, true);
}

TDateTime HistIntradayStamp(TDateTime now) {
  const double day = std::floor(now);
  const double frac = now - day;
  TDateTime stamp = now;
  if (frac < MarketOpen) stamp = day - 1 + MarketClose;
  else if (frac > MarketClose) stamp = day + MarketClose;
  return WeekendBack(stamp, MarketClose, false);
}

std::string HistStampText(TDateTime stamp) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.7f", stamp - 36000);
  return buf;  // %f always writes "." in the C locale, which the program never changes
}

std::string HistQueryHash(std::string_view text) {
  const QByteArray digest =
      QCryptographicHash::hash(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())),
                               QCryptographicHash::Sha1);
  return digest.toHex().left(16).toStdString();
}

std::string HistNamePart(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                      c == '=' || c == '-' || c == '^';
    out += keep ? c : '-';
  }
  // "." and ".." alone would name folders.
  if (out.find_first_not_of('.') == std::string::npos) std::replace(out.begin(), out.end(), '.', '-');
  return out;
}

std::string HistCacheName(std::string_view prefix, std::string_view symbol, TDateTime stamp,
                          std::string_view period, std::string_view query) {
  return HistNamePart(prefix) + HistNamePart(symbol) + "_" + HistStampText(stamp) + "_" + HistNamePart(period) + "_" +
         HistQueryHash(query);
}

std::string HistCachePath(const std::string& name) {
  if (name.empty() || name.size() > 200 || name.find_first_of("/\\") != std::string::npos ||
      name.find('\0') != std::string::npos || name == "." || name == "..")
    return {};
  return ChartCacheDir() + name + ".gif";
}

bool DecodesAsGif(std::string_view data) {
  if (!GifArrivedWhole(data)) return false;
  try {
    GifDocument gif;
    gif.LoadFromMemory(reinterpret_cast<const uint8_t*>(data.data()), data.size());
    return !gif.Empty() && gif.Width() > 0 && gif.Height() > 0;
  } catch (...) {
    return false;
  }
}

namespace {

struct CacheEntry {
  fs::path path;
  std::string name;  // without ".gif"
  int64_t size = 0;
  bool done = false;
};

std::vector<CacheEntry> ListGifFiles() {
  std::vector<CacheEntry> out;
  std::error_code ec;
  for (fs::directory_iterator it(ChartCacheDir(), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string file = it->path().filename().string();
    if (file.size() < 4 || !SameText(std::string_view(file).substr(file.size() - 4), ".gif")) continue;
    std::error_code fileEc;
    if (!it->is_regular_file(fileEc)) continue;
    const auto size = it->file_size(fileEc);
    if (fileEc) continue;
    out.push_back({it->path(), file.substr(0, file.size() - 4), static_cast<int64_t>(size), false});
  }
  return out;
}

void DeleteEntry(CacheEntry& e) {
  std::error_code ec;
  if (fs::remove(e.path, ec) && !ec) ChartCacheBytes = std::max<int64_t>(0, ChartCacheBytes - e.size);
  e.done = true;
}

// A name of at least three "_": the stamp field and the period field.
bool ParseStampAndPeriod(const std::string& name, double& stamp, std::string& period) {
  const size_t a = name.find('_');
  if (a == std::string::npos) return false;
  const size_t b = name.find('_', a + 1);
  if (b == std::string::npos) return false;
  const size_t c = name.find('_', b + 1);
  if (c == std::string::npos) return false;
  const std::string text = Trim(std::string_view(name).substr(a + 1, b - a - 1));
  char* end = nullptr;
  stamp = std::strtod(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(stamp)) stamp = 0;
  period = name.substr(b + 1, c - b - 1);
  return true;
}

// A temporary file renamed into place. No fsync: a chart lost in a crash is fetched again, and
// an empty or broken file is never shown (it does not decode) and is overwritten.
bool WriteCacheFile(const std::string& path, std::string_view data) {
  const std::string tmp = path + ".tmp";
  const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  const bool ok = ::close(fd) == 0 && done == data.size();
  if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
    std::remove(tmp.c_str());
    return false;
  }
  return true;
}

}  // namespace

StoreResult StoreInCache(const std::string& name, std::string_view data, const HistStampFor& stampFor,
                         bool decodedAlready) {
  const std::string path = HistCachePath(name);
  if (path.empty()) return StoreResult::BadName;
  if (decodedAlready ? !GifArrivedWhole(data) : !DecodesAsGif(data)) return StoreResult::NotGif;
  std::error_code ec;
  fs::create_directories(ChartCacheDir(), ec);
  if (fs::is_regular_file(path, ec) && fs::file_size(path, ec) > 0 && !ec) return StoreResult::AlreadyCached;

  const int64_t limit = static_cast<int64_t>(ChartCacheMB) * 1'000'000;
  const int64_t length = static_cast<int64_t>(data.size());
  if (length + ChartCacheBytes > limit) {
    std::vector<CacheEntry> entries = ListGifFiles();
    for (CacheEntry& e : entries) {
      double stamp = 0;
      std::string period;
      if (!ParseStampAndPeriod(e.name, stamp, period)) continue;
      if (stampFor && stampFor(period) > stamp + 36000 + 1e-6) DeleteEntry(e);
    }
    for (CacheEntry& e : entries) {
      if (length + ChartCacheBytes <= limit) break;
      if (!e.done) DeleteEntry(e);
    }
  }
  if (!WriteCacheFile(path, data)) return StoreResult::WriteFailed;
  ChartCacheBytes += length;
  return StoreResult::Stored;
}

bool ReadCachedChart(const std::string& name, std::string& data) {
  data.clear();
  const std::string path = HistCachePath(name);
  if (path.empty()) return false;
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return false;
  const auto size = fs::file_size(path, ec);
  if (size > MaxChartBytes || ec) return false;
  if (!ReadWholeFile(path, data) || data.empty()) return false;
  // A chart cut short (stored before it was checked) is dropped, so it is fetched anew.
  if (!GifArrivedWhole(data)) {
    data.clear();
    if (fs::remove(path, ec)) ChartCacheBytes -= static_cast<int64_t>(size);
    return false;
  }
  return true;
}
