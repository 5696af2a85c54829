#pragma once
// The US Eastern market clock, read from the program's one settable clock.
#include <atomic>
#include <cstdint>

#include "platform/datetime.h"

// Set by the time synchronisation: while ClockSynced holds, the market clock is the PC's
// local clock plus EtOffsetCache (days; settings key "ETOFFSET" of section "Stocks").
extern std::atomic<bool> ClockSynced;
extern std::atomic<double> EtOffsetCache;

// The PC's clock in its own time zone.
TDateTime LocalNow();
// The current date and time on the US Eastern market clock.
TDateTime MarketNow();
// True when the market clock's day is a Saturday or a Sunday.
bool IsWeekend();

// Eastern wall time of an instant, daylight saving included.
TDateTime EasternFromUtcMs(int64_t utcMs);
// The same from the US rules in force since 2007, for systems without a time zone database.
TDateTime EasternFromUtcMsByRule(int64_t utcMs);
