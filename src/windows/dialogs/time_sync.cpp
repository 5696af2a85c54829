#include "windows/dialogs/time_sync.h"

#include <cctype>
#include <cmath>

#include "platform/string_list.h"
#include "retrieval/date_parse.h"

namespace {
constexpr double ThreeSeconds = 3.0 / 86400.0;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// True when the text reads as midnight: all-zero digits, or 12 and zeros with an A mark.
bool IsMidnightText(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && !IsDigit(text[i])) ++i;
  std::string digits;
  while (i < text.size() && (IsDigit(text[i]) || text[i] == ':')) {
    if (text[i] != ':') digits += text[i];
    ++i;
  }
  if (digits.size() < 3) return false;  // an hour alone is no clock reading
  while (i < text.size() && (text[i] == ' ' || text[i] == '.')) ++i;
  const char mark = i < text.size() ? static_cast<char>(std::toupper(static_cast<unsigned char>(text[i]))) : 0;
  const auto zeros = [](std::string_view s) { return s.find_first_not_of('0') == std::string_view::npos; };
  if (zeros(digits)) return mark != 'P';
  return digits.size() >= 4 && digits.compare(0, 2, "12") == 0 && zeros(std::string_view(digits).substr(2)) && mark == 'A';
}
}  // namespace

std::optional<double> ParseClockTime(std::string_view text) {
  const double t = ParseTimeText(text, true);
  if (t != 0) return t;
  if (IsMidnightText(text)) return 0.0;
  return std::nullopt;
}

std::optional<TDateTime> ParseClockDate(std::string_view text) {
  const TDateTime d = ParseDateText(text, true);
  if (d == 0) return std::nullopt;
  return d;
}

MasterReading ReadMasterPage1(std::string_view page) {
  MasterReading r;
  const size_t p = page.find("Easter");
  if (p == std::string_view::npos) return r;
  const size_t q = page.rfind(',', p);
  if (q == std::string_view::npos) return r;
  r.Marker = true;
  r.TimeText = std::string(page.substr(q + 1, p - q - 1));
  r.Time = ParseClockTime(r.TimeText);
  const size_t gt = q == 0 ? std::string_view::npos : page.rfind('>', q - 1);
  const size_t from = gt == std::string_view::npos ? 0 : gt + 1;
  r.DateText = std::string(page.substr(from, q - from));
  r.Date = ParseClockDate(r.DateText);
  return r;
}

MasterReading ReadMasterPage2(std::string_view page) {
  MasterReading r;
  size_t at = page.find("New York");
  if (at == std::string_view::npos) return r;
  at = page.find("<TD>", at);
  if (at == std::string_view::npos) return r;
  std::string_view rest = page.substr(at + 4);
  size_t comma = rest.find(',');
  if (comma == std::string_view::npos) return r;
  r.Marker = true;
  r.TimeText = std::string(rest.substr(0, comma));
  r.Time = ParseClockTime(r.TimeText);
  rest.remove_prefix(comma + 1);
  comma = rest.find(',');
  if (comma == std::string_view::npos) return r;
  rest.remove_prefix(comma + 1);
  const size_t end = rest.find("</TD>");
  if (end == std::string_view::npos) return r;
  r.DateText = Trim(rest.substr(0, end));
  r.Date = ParseClockDate(r.DateText);
  return r;
}

TDateTime MasterAtStart(TDateTime date, double time, TDateTime fetchStart, TDateTime received) {
  return std::floor(date) + (time - std::floor(time)) - (received - fetchStart) + ThreeSeconds;
}

double SyncOffset(TDateTime masterAtStart, TDateTime fetchStart) { return masterAtStart - fetchStart; }

bool MasterTimePlausible(TDateTime masterAtStart, TDateTime fetchStart) {
  return std::fabs(masterAtStart - fetchStart) <= MaxMasterDistanceDays;
}

bool ClockLooksWrong(TDateTime masterAtStart, TDateTime marketBeforeAtStart) {
  return std::fabs(masterAtStart - marketBeforeAtStart) * 24 * 60 > 5;
}

std::string PlainElided(std::string_view page, size_t maxChars) {
  std::string out;
  bool inTag = false, blank = false;
  for (char c : page) {
    if (c == '<') {
      inTag = true;
      blank = true;
      continue;
    }
    if (inTag) {
      if (c == '>') inTag = false;
      continue;
    }
    if (std::isspace(static_cast<unsigned char>(c)) || static_cast<unsigned char>(c) < 32) {
      blank = true;
      continue;
    }
    if (blank && !out.empty()) out += ' ';
    blank = false;
    out += c;
  }
  if (out.size() > maxChars) {
    size_t cut = maxChars > 3 ? maxChars - 3 : 0;
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;  // whole UTF-8 characters
    out = out.substr(0, cut) + "...";
  }
  return out;
}
