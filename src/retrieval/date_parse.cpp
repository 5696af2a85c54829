#include "retrieval/date_parse.h"

#include <cctype>
#include <cmath>
#include <string>
#include <vector>

#include "core/market_clock.h"
#include "platform/string_list.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }

double DefaultTime(bool noDefault) { return noDefault ? 0.0 : TimePart(MarketNow()); }
double DefaultDate(bool noDefault) { return noDefault ? 0.0 : std::floor(MarketNow()); }

// Reads up to maxDigits digits at i; -1 when there is none.
int ReadNumber(std::string_view t, size_t& i, size_t maxDigits) {
  size_t start = i;
  int v = 0;
  while (i < t.size() && IsDigit(t[i]) && i - start < maxDigits) v = v * 10 + (t[i++] - '0');
  return i == start ? -1 : v;
}

}  // namespace

double ParseTimeText(std::string_view text, bool noDefault) {
  size_t i = 0;
  while (i < text.size() && !IsDigit(text[i])) ++i;
  if (i == text.size()) return DefaultTime(noDefault);
  size_t runEnd = i;
  while (runEnd < text.size() && IsDigit(text[runEnd])) ++runEnd;
  int h = 0, m = 0, s = 0;
  if (runEnd - i == 6) {
    h = (text[i] - '0') * 10 + (text[i + 1] - '0');
    m = (text[i + 2] - '0') * 10 + (text[i + 3] - '0');
    s = (text[i + 4] - '0') * 10 + (text[i + 5] - '0');
    i = runEnd;
  } else {
    if (runEnd - i > 2) return DefaultTime(noDefault);
    h = ReadNumber(text, i, 2);
    bool hasMinutes = false;
    if (i + 1 < text.size() && text[i] == ':' && IsDigit(text[i + 1])) {
      ++i;
      size_t at = i;
      m = ReadNumber(text, i, 2);
      if (i - at != 2) return DefaultTime(noDefault);
      hasMinutes = true;
      if (i + 1 < text.size() && text[i] == ':' && IsDigit(text[i + 1])) {
        ++i;
        at = i;
        s = ReadNumber(text, i, 2);
        if (i - at != 2) return DefaultTime(noDefault);
      }
    }
    if (i < text.size() && IsDigit(text[i])) return DefaultTime(noDefault);
    if (!hasMinutes) {
      // An hour alone needs its A or P mark ("4 PM").
      size_t j = i;
      while (j < text.size() && (text[j] == ' ' || text[j] == '.')) ++j;
      if (j >= text.size() || (std::toupper(static_cast<unsigned char>(text[j])) != 'A' &&
                               std::toupper(static_cast<unsigned char>(text[j])) != 'P'))
        return DefaultTime(noDefault);
    }
  }
  // The mark: the first letter after the digits, blanks and dots allowed between.
  while (i < text.size() && (text[i] == ' ' || text[i] == '.')) ++i;
  char mark = i < text.size() ? static_cast<char>(std::toupper(static_cast<unsigned char>(text[i]))) : 0;
  if ((mark == 'A' || mark == 'P') && (i + 1 >= text.size() || !IsLetter(text[i + 1]) ||
                                       std::toupper(static_cast<unsigned char>(text[i + 1])) == 'M')) {
    if (h < 1 || h > 12) return DefaultTime(noDefault);
    if (mark == 'A' && h == 12) h = 0;
    if (mark == 'P' && h != 12) h += 12;
  }
  if (h > 23 || m > 59 || s > 59) return DefaultTime(noDefault);
  return (h * 3600.0 + m * 60.0 + s) / 86400.0;
}

TDateTime ParseDateText(std::string_view text, bool noDefault) {
  struct Num {
    int value;
    size_t digits;
  };
  std::vector<Num> numbers;
  int month = 0;
  for (size_t i = 0; i < text.size();) {
    char c = text[i];
    if (IsDigit(c)) {
      size_t start = i;
      while (i < text.size() && IsDigit(text[i])) ++i;
      size_t digits = i - start;
      bool partOfTime = (i < text.size() && text[i] == ':') || (start > 0 && text[start - 1] == ':');
      if (partOfTime) {
        // Skip the whole time, with its seconds.
        while (i < text.size() && (IsDigit(text[i]) || text[i] == ':')) ++i;
        continue;
      }
      // "1st", "22nd", "3rd", "4th": the ending is dropped.
      if (i + 1 < text.size() && IsLetter(text[i]) && IsLetter(text[i + 1])) {
        std::string end = LowerCase(text.substr(i, 2));
        if ((end == "st" || end == "nd" || end == "rd" || end == "th") &&
            (i + 2 >= text.size() || !IsLetter(text[i + 2])))
          i += 2;
      }
      if (digits > 4) return DefaultDate(noDefault);
      int v = 0;
      for (size_t k = start; k < start + digits; ++k) v = v * 10 + (text[k] - '0');
      numbers.push_back({v, digits});
      continue;
    }
    if (IsLetter(c)) {
      size_t start = i;
      while (i < text.size() && IsLetter(text[i])) ++i;
      std::string word = LowerCase(text.substr(start, i - start));
      if (month == 0 && word.size() >= 3) {
        for (int mIdx = 0; mIdx < 12; ++mIdx) {
          std::string full = LowerCase(LongMonthNames[mIdx]);
          bool sept = mIdx == 8 && word == "sept";
          if (sept || (word.size() <= full.size() && full.compare(0, word.size(), word) == 0)) {
            month = mIdx + 1;
            break;
          }
        }
      }
      continue;
    }
    ++i;
  }

  int day = 0, year = -1;
  size_t yearDigits = 0;
  if (month) {
    if (numbers.empty()) return DefaultDate(noDefault);
    size_t d = 0;
    if (numbers.size() >= 2 && (numbers[0].digits == 4 || numbers[0].value > 31)) {
      year = numbers[0].value;
      yearDigits = numbers[0].digits;
      d = 1;
    }
    day = numbers[d].value;
    if (year < 0 && numbers.size() > d + 1) {
      year = numbers[d + 1].value;
      yearDigits = numbers[d + 1].digits;
    }
  } else {
    if (numbers.size() < 2) return DefaultDate(noDefault);
    if (numbers[0].digits == 4) {
      if (numbers.size() < 3) return DefaultDate(noDefault);
      year = numbers[0].value;
      yearDigits = 4;
      month = numbers[1].value;
      day = numbers[2].value;
    } else {
      month = numbers[0].value;
      day = numbers[1].value;
      if (numbers.size() >= 3) {
        year = numbers[2].value;
        yearDigits = numbers[2].digits;
      }
    }
  }

  const TDateTime now = MarketNow();
  int nowYear, nowMonth, nowDay;
  DecodeDate(now, nowYear, nowMonth, nowDay);
  const bool yearGiven = year >= 0;
  if (!yearGiven) {
    year = nowYear;
  } else if (yearDigits <= 2) {
    year += year < 70 ? 2000 : 1900;
  } else if (yearDigits != 4) {
    return DefaultDate(noDefault);
  }
  TDateTime date;
  if (!TryEncodeDate(year, month, day, date)) return DefaultDate(noDefault);
  // A date without its year that lies ahead is last year's (December news read in January).
  if (!yearGiven && date > std::floor(now) + 1) {
    if (!TryEncodeDate(year - 1, month, day, date)) return DefaultDate(noDefault);
  }
  return date;
}
