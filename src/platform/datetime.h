#pragma once
// Date-times as the settings and files keep them: days since 1899-12-30,
// the fraction being the time of day.
#include <cstdint>
#include <string>
#include <string_view>

using TDateTime = double;

constexpr double MSecsPerDay = 86400000.0;

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);
bool TryEncodeDate(int year, int month, int day, TDateTime& out);
// Throws std::invalid_argument for an impossible date.
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int min, int sec, int msec);
void DecodeDate(TDateTime dt, int& year, int& month, int& day);
void DecodeTime(TDateTime dt, int& hour, int& min, int& sec, int& msec);
// 1 = Sunday .. 7 = Saturday.
int DayOfWeek(TDateTime dt);
// The whole-day part and the time-of-day part.
double DatePart(TDateTime dt);
// True for a finite date-time within the years 1 to 9999; others decode as 1899-12-30 00:00.
bool IsValidDateTime(TDateTime dt);
double TimePart(TDateTime dt);

// Conversions to and from milliseconds since the Unix epoch (no time zone applied).
TDateTime UnixMsToDateTime(int64_t ms);
int64_t DateTimeToUnixMs(TDateTime dt);

// The format letters of the settings and reports: d dd ddd dddd ddddd dddddd, m mm mmm mmmm
// (minutes right after an h), yy yyyy, h hh, n nn, s ss, z zzz, t tt, c, am/pm a/p ampm,
// '/' and ':' as separators, and quoted literal text. English names, "/" and ":" always.
std::string FormatDateTime(std::string_view format, TDateTime dt);

extern const char* const ShortMonthNames[12];
extern const char* const LongMonthNames[12];
extern const char* const ShortDayNames[7];  // Sunday first
extern const char* const LongDayNames[7];
