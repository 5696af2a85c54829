#pragma once
// Times and dates as quote and news pages write them, read against the market clock.
#include <string_view>

#include "platform/datetime.h"

// A time of day (fraction of a day) from "h:mm", "h:mm:ss", either with an A or P mark
// ("4:05pm", "10:30:15 AM", also "4 PM"), or from six digits "hhmmss". 12 AM is 0; PM adds
// 12 hours except to 12. Text before the first digit is skipped. An empty or unreadable text
// gives 0 with noDefault set, else the market clock's time of day.
double ParseTimeText(std::string_view text, bool noDefault);

// A date from a text with a month name ("Mar 5", "5th March 2024", "Tuesday, June 4th, 24")
// or with numbers: month, day and year ("6/4/2024", "6-4-24", "6/4"), or year first when it
// has four digits ("2024-06-04"). The endings st, nd, rd and th are ignored, and so are numbers
// of a time ("10:30"). A missing year is the market clock's year, and such a date lying more
// than a day ahead of the market clock is taken a year earlier; two-digit years below 70 are
// 20xx, others 19xx. An unreadable text gives 0 with noDefault set, else the market clock's
// date. The result is a whole day number.
TDateTime ParseDateText(std::string_view text, bool noDefault);
