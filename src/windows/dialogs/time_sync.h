#pragma once
// Reading the master-clock pages and the offset arithmetic of the time synchronisation,
// without a display. Date-times are days (TDateTime); a time of day is a day fraction.
#include <optional>
#include <string>
#include <string_view>

#include "platform/datetime.h"

// The master-clock hosts when params.par names none ("TIMEHOST1", "TIMEHOST2").
inline constexpr const char* DefaultTimeHost1 = "clock1.vantora.net";
inline constexpr const char* DefaultTimeHost2 = "clock2.vantora.net";
inline constexpr const char* TimePath1 = "/cgi-bin/timer.pl";
inline constexpr const char* TimePath2 = "/cgi-bin/wt.cgi";

// A time of day read with the pages' time reader; midnight ("00:00:00", "12:00:00 AM") is a
// time, an unreadable text is none.
std::optional<double> ParseClockTime(std::string_view text);
// A date; none when unreadable. An explicit year is kept.
std::optional<TDateTime> ParseClockDate(std::string_view text);

struct MasterReading {
  bool Marker = false;  // the page's markers were found
  std::optional<TDateTime> Date;
  std::optional<double> Time;
  std::string TimeText, DateText;  // the texts read, for the trace
};

// The first clock's page: ">", the date, ",", the time, then text beginning "Easter".
MasterReading ReadMasterPage1(std::string_view page);
// The second clock's page: after "New York", a cell "<TD>" time "," text "," date "</TD>".
MasterReading ReadMasterPage2(std::string_view page);

// The master clock's date-time when the request started: the page's date and time, less the
// time the request took, plus 3 seconds for the seconds the page drops.
TDateTime MasterAtStart(TDateTime date, double time, TDateTime fetchStart, TDateTime received);
// The offset to put on the PC's clock: taken against the same instant, the request's start.
double SyncOffset(TDateTime masterAtStart, TDateTime fetchStart);
// A master clock more than this far from the PC's clock is taken for a bad page, not a fix
// (time zones alone never part them by a day).
inline constexpr double MaxMasterDistanceDays = 1.0;
// True when the master clock at the request's start is within a day of the PC's clock then.
bool MasterTimePlausible(TDateTime masterAtStart, TDateTime fetchStart);
// True when the market clock in force before the sync, read at the request's start, was more
// than 5 minutes away from the master clock (whole date-times, so midnight does not matter).
bool ClockLooksWrong(TDateTime masterAtStart, TDateTime marketBeforeAtStart);

// The page as plain text for a status line: tags dropped, blanks folded, cut with "..." to
// at most maxChars characters.
std::string PlainElided(std::string_view page, size_t maxChars);
