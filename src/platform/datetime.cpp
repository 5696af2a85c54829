#include "platform/datetime.h"

#include <cctype>
#include <cmath>
#include <stdexcept>

const char* const ShortMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const LongMonthNames[12] = {"January", "February", "March",     "April",
                                        "May",     "June",     "July",      "August",
                                        "September", "October", "November", "December"};
const char* const ShortDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const LongDayNames[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                     "Thursday", "Friday", "Saturday"};

namespace {

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(y + (month <= 2));
}

const int64_t kEpochDelta = DaysFromCivil(1899, 12, 30);  // 1899-12-30 in Unix days
// 0001-01-01 and 9999-12-31 as date-times: outside them day counts would overflow.
constexpr double kMinDateTime = -693593.0;
constexpr double kMaxDateTime = 2958466.0;

// Splits into whole days and milliseconds of the day the way the settings file means it:
// the day is the integer part, the time the absolute fraction.
void Split(TDateTime dt, int64_t& days, int64_t& msOfDay) {
  if (!IsValidDateTime(dt)) {
    days = 0;
    msOfDay = 0;
    return;
  }
  double whole = std::trunc(dt);
  double frac = std::fabs(dt - whole);
  int64_t ms = std::llround(frac * MSecsPerDay);
  if (ms >= 86400000) {
    ms -= 86400000;
    whole += dt < 0 ? -1 : 1;
  }
  days = static_cast<int64_t>(whole);
  msOfDay = ms;
}

}  // namespace

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}

bool TryEncodeDate(int year, int month, int day, TDateTime& out) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
    return false;
  out = static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) -
                            kEpochDelta);
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime dt;
  if (!TryEncodeDate(year, month, day, dt)) throw std::invalid_argument("Invalid date");
  return dt;
}

TDateTime EncodeTime(int hour, int min, int sec, int msec) {
  return (((hour * 60.0 + min) * 60.0 + sec) * 1000.0 + msec) / MSecsPerDay;
}

void DecodeDate(TDateTime dt, int& year, int& month, int& day) {
  int64_t days, ms;
  Split(dt, days, ms);
  CivilFromDays(days + kEpochDelta, year, month, day);
}

void DecodeTime(TDateTime dt, int& hour, int& min, int& sec, int& msec) {
  int64_t days, ms;
  Split(dt, days, ms);
  hour = static_cast<int>(ms / 3600000);
  min = static_cast<int>(ms / 60000 % 60);
  sec = static_cast<int>(ms / 1000 % 60);
  msec = static_cast<int>(ms % 1000);
}

int DayOfWeek(TDateTime dt) {
  int64_t days, ms;
  Split(dt, days, ms);
  return static_cast<int>(((days - 1) % 7 + 7) % 7) + 1;
}

bool IsValidDateTime(TDateTime dt) { return std::isfinite(dt) && dt >= kMinDateTime && dt < kMaxDateTime; }

double DatePart(TDateTime dt) { return std::trunc(dt); }
double TimePart(TDateTime dt) { return std::fabs(dt - std::trunc(dt)); }

TDateTime UnixMsToDateTime(int64_t ms) {
  // Split first so that large values keep their millisecond precision.
  int64_t days = ms >= 0 ? ms / 86400000 : -((-ms + 86399999) / 86400000);
  int64_t rest = ms - days * 86400000;
  return static_cast<double>(days - kEpochDelta) + rest / MSecsPerDay;
}

int64_t DateTimeToUnixMs(TDateTime dt) {
  int64_t days, ms;
  Split(dt, days, ms);
  return (days + kEpochDelta) * 86400000 + ms;
}

namespace {

struct Fields {
  int year, month, day, hour, min, sec, msec, dow;
};

bool StartsWithNoCase(std::string_view s, size_t pos, std::string_view what) {
  if (s.size() - pos < what.size()) return false;
  for (size_t i = 0; i < what.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(s[pos + i])) != std::tolower(static_cast<unsigned char>(what[i])))
      return false;
  return true;
}

void Pad(std::string& out, int value, int width) {
  std::string digits = std::to_string(value);
  for (int i = static_cast<int>(digits.size()); i < width; ++i) out += '0';
  out += digits;
}

// Whether an am/pm marker follows before the next hour letter, outside quotes.
bool Uses12Hour(std::string_view f, size_t pos) {
  bool quoted = false;
  char quote = 0;
  for (size_t p = pos; p < f.size(); ++p) {
    char c = f[p];
    if (quoted) {
      if (c == quote) quoted = false;
      continue;
    }
    if (c == '\'' || c == '"') {
      quoted = true;
      quote = c;
    } else if (c == 'h' || c == 'H') {
      return false;
    } else if (c == 'a' || c == 'A') {
      return StartsWithNoCase(f, p, "am/pm") || StartsWithNoCase(f, p, "a/p") || StartsWithNoCase(f, p, "ampm");
    }
  }
  return false;
}

void Append(std::string& out, std::string_view f, const Fields& v, int depth);

void AppendShortDate(std::string& out, const Fields& v, int depth) { Append(out, "m/d/yyyy", v, depth); }
void AppendLongDate(std::string& out, const Fields& v, int depth) { Append(out, "dddd, mmmm d, yyyy", v, depth); }
void AppendShortTime(std::string& out, const Fields& v, int depth) { Append(out, "h:mm AMPM", v, depth); }
void AppendLongTime(std::string& out, const Fields& v, int depth) { Append(out, "h:mm:ss AMPM", v, depth); }

void Append(std::string& out, std::string_view f, const Fields& v, int depth) {
  if (depth > 2) return;
  char lastToken = ' ';
  size_t p = 0;
  while (p < f.size()) {
    char c = f[p];
    char token = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (token >= 'A' && token <= 'Z') {
      if (token == 'M' && lastToken == 'H') token = 'N';
      lastToken = token;
    }
    auto count = [&](char letter) {
      size_t n = 0;
      while (p + n < f.size() && std::toupper(static_cast<unsigned char>(f[p + n])) == letter) ++n;
      return static_cast<int>(n);
    };
    switch (token) {
      case 'Y': {
        int n = count('Y');
        p += n;
        if (n <= 2) Pad(out, v.year % 100, 2);
        else Pad(out, v.year, 4);
        break;
      }
      case 'M': {
        int n = count('M');
        p += n;
        if (n <= 2) Pad(out, v.month, n);
        else if (n == 3) out += ShortMonthNames[v.month - 1];
        else out += LongMonthNames[v.month - 1];
        break;
      }
      case 'D': {
        int n = count('D');
        p += n;
        if (n <= 2) Pad(out, v.day, n);
        else if (n == 3) out += ShortDayNames[v.dow - 1];
        else if (n == 4) out += LongDayNames[v.dow - 1];
        else if (n == 5) AppendShortDate(out, v, depth + 1);
        else AppendLongDate(out, v, depth + 1);
        break;
      }
      case 'H': {
        int n = count('H');
        p += n;
        int h = v.hour;
        if (Uses12Hour(f, p)) {
          if (h == 0) h = 12;
          else if (h > 12) h -= 12;
        }
        Pad(out, h, n > 2 ? 2 : n);
        break;
      }
      case 'N': {
        int n = static_cast<int>(count(static_cast<char>(std::toupper(static_cast<unsigned char>(c)))));
        p += n;
        Pad(out, v.min, n > 2 ? 2 : n);
        break;
      }
      case 'S': {
        int n = count('S');
        p += n;
        Pad(out, v.sec, n > 2 ? 2 : n);
        break;
      }
      case 'Z': {
        int n = count('Z');
        p += n;
        Pad(out, v.msec, n == 1 ? 1 : 3);
        break;
      }
      case 'T': {
        int n = count('T');
        p += n;
        if (n == 1) AppendShortTime(out, v, depth + 1);
        else AppendLongTime(out, v, depth + 1);
        break;
      }
      case 'C': {
        ++p;
        AppendShortDate(out, v, depth + 1);
        if (v.hour || v.min || v.sec || v.msec) {
          out += ' ';
          AppendLongTime(out, v, depth + 1);
        }
        break;
      }
      case 'A': {
        bool pm = v.hour >= 12;
        if (StartsWithNoCase(f, p, "am/pm")) {
          std::string_view src = f.substr(p + (pm ? 3 : 0), 2);
          out += src;
          p += 5;
        } else if (StartsWithNoCase(f, p, "a/p")) {
          out += f[p + (pm ? 2 : 0)];
          p += 3;
        } else if (StartsWithNoCase(f, p, "ampm")) {
          out += pm ? "PM" : "AM";
          p += 4;
        } else {
          out += c;
          ++p;
        }
        break;
      }
      case '\'':
      case '"': {
        size_t end = f.find(c, p + 1);
        if (end == std::string_view::npos) end = f.size();
        out += f.substr(p + 1, end - p - 1);
        p = end < f.size() ? end + 1 : end;
        break;
      }
      default:
        out += c;
        ++p;
        break;
    }
  }
}

}  // namespace

std::string FormatDateTime(std::string_view format, TDateTime dt) {
  Fields v{};
  DecodeDate(dt, v.year, v.month, v.day);
  DecodeTime(dt, v.hour, v.min, v.sec, v.msec);
  v.dow = DayOfWeek(dt);
  if (v.month < 1 || v.month > 12) v.month = 1;
  std::string out;
  Append(out, format, v, 0);
  return out;
}
