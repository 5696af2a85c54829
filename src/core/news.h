#pragma once
// Reading and marking the headlines collected per symbol.
#include <string_view>

#include "core/stock_table.h"
#include "platform/datetime.h"
#include "platform/string_list.h"

class QPainter;

// Clears the lists and appends, from the last stored headline to the first, one line per
// headline that has a title and a source: title, link, source, date ("mmm dd,yyyy, hh:mm",
// "***" when it cannot be formatted), extra number, "Y"/"N" read mark and id. The symbol may
// be "|" followed by a table index; a symbol longer than a key (20) or an unknown one gives
// empty lists. Runs under AddSnapLock and the news list's lock.
void GetNewsItems(std::string_view symbol, StringList& titles, StringList& links, StringList& sources,
                  StringList& dateTexts, StringList& extras, StringList& readMarks, StringList& ids);

// The record's new-news flag (non-zero: new news); lastCheck is when news were last fetched,
// newestUnread the time of the newest unread headline (0 when all are read). The symbol may
// be "|" followed by a table index. 0 with zero times for an unknown symbol.
int GetNewsInfo(std::string_view symbol, TDateTime& lastCheck, TDateTime& newestUnread);

// Sets the record's new-news flag; returns the table index or -1.
int SetNewsFlag(std::string_view symbol, int value);

// Sets the read flag of the symbol's headline with that id, under AddSnapLock and the news
// list's lock. Symbols longer than a key (20) are ignored. True when the headline was found.
bool MarkNewsItem(std::string_view symbol, int id, bool read);
// Gives the symbol's headline with that id another link (the news site moved), keeping its id
// and read mark; under the same locks. True when the headline was found.
bool SetNewsLink(std::string_view symbol, int id, const std::string& link);

// Appends a headline to the symbol's list, creating the symbol's record when new (under
// AddSnapLock). Returns the headline's id, 0 when refused.
int AddNewsItem(std::string_view symbol, NewsRec rec);

// The 8 by 12 pixel light bulb: black outline below half a day of age, blending to grey up to
// 2 days, grey beyond; inside yellow blending to grey within half a day, silver beyond.
void DrawNewsBulb(QPainter& canvas, int x, int y, double ageDays);
