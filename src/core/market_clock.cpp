#include "core/market_clock.h"

#include <QDateTime>
#include <QTimeZone>

#include <ctime>

#include "platform/clock.h"

std::atomic<bool> ClockSynced{false};
std::atomic<double> EtOffsetCache{0.0};

namespace {

constexpr int64_t MsPerHour = 3600000;

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// The day of month of the n-th Sunday of a month.
int NthSunday(int year, int month, int n) {
  const int dow = DayOfWeek(EncodeDate(year, month, 1));  // 1 = Sunday
  return 1 + (8 - dow) % 7 + 7 * (n - 1);
}

}  // namespace

TDateTime EasternFromUtcMsByRule(int64_t utcMs) {
  const TDateTime utc = UnixMsToDateTime(utcMs);
  int year = 0, month = 0, day = 0;
  DecodeDate(utc, year, month, day);
  // Daylight time runs from 2:00 EST on the second Sunday of March (07:00 UTC) to
  // 2:00 EDT on the first Sunday of November (06:00 UTC).
  const TDateTime start = EncodeDate(year, 3, NthSunday(year, 3, 2)) + 7.0 / 24;
  const TDateTime end = EncodeDate(year, 11, NthSunday(year, 11, 1)) + 6.0 / 24;
  const int64_t offsetMs = (utc >= start && utc < end) ? -4 * MsPerHour : -5 * MsPerHour;
  return UnixMsToDateTime(utcMs + offsetMs);
}

TDateTime EasternFromUtcMs(int64_t utcMs) {
  // One zone object per thread: the zone is then never shared between threads. Its offset
  // changes only on a whole UTC hour, so it is asked once an hour: every quote reads the clock.
  thread_local const QTimeZone eastern("America/New_York");
  thread_local int64_t offsetHour = INT64_MIN;
  thread_local int64_t offsetMs = 0;
  const int64_t hour = FloorDiv(utcMs, MsPerHour);
  if (hour != offsetHour) {
    if (!eastern.isValid()) return EasternFromUtcMsByRule(utcMs);
    offsetMs = int64_t{eastern.offsetFromUtc(QDateTime::fromMSecsSinceEpoch(utcMs, Qt::UTC))} * 1000;
    offsetHour = hour;
  }
  return UnixMsToDateTime(utcMs + offsetMs);
}

TDateTime LocalNow() {
  const int64_t ms = NowUtcMs();
  const time_t secs = static_cast<time_t>(FloorDiv(ms, 1000));
  std::tm parts{};
  if (localtime_r(&secs, &parts) == nullptr) return UnixMsToDateTime(ms);
  return UnixMsToDateTime(ms + static_cast<int64_t>(parts.tm_gmtoff) * 1000);
}

TDateTime MarketNow() {
  if (ClockSynced.load()) return LocalNow() + EtOffsetCache.load();
  return EasternFromUtcMs(NowUtcMs());
}

bool IsWeekend() {
  const int dow = DayOfWeek(MarketNow());
  return dow == 1 || dow == 7;
}
