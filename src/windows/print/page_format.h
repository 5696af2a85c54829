#pragma once
// The display-free parts of page recording: the table-row format language, tab expansion,
// cutting a text into lines by a measure, the page macros and the friendly header code.
#include <QString>

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/datetime.h"

// One cell format: an alignment character ('<' left, '>' right, '^' centred) and a width in
// the measure unit. A negative width is the absolute width without grid lines.
struct CellFormat {
  char Align = '<';
  double Width = 0;
};

// Splits at the separator; an empty text gives one empty item.
std::vector<std::string> SplitTokens(std::string_view text, char separator);
// Reads a table format; an empty cell format or a lone alignment character takes
// defaultWidth. A width that is no number throws EConvertError.
std::vector<CellFormat> ParseTableFormat(std::string_view text, char separator, double defaultWidth);
// The normal form: each cell as its alignment character and the shortest decimal form of its
// width (a cell without a width keeps none), joined by the separator.
std::string NormalTableFormat(std::string_view text, char separator);
// The same with every given width converted between inches and millimetres.
std::string ConvertTableFormat(std::string_view text, char separator, bool toMillimetres);
// A length converted between inches and millimetres.
double ConvertLength(double length, bool toMillimetres);
// The shortest decimal text that reads back as the same double ("8.27", "25.4", "-1.5").
std::string ShortestDecimal(double value);

// Each tab becomes blanks up to the next multiple of tabSize counted on the text built so far;
// a tab size below 1 leaves the text as it is.
QString ExpandTabs(const QString& text, int tabSize);

// Where a text too wide for a line is cut: the line is text.left(LineLength), the rest starts
// at RestStart (a blank after a word break is consumed when asked).
struct LineCut {
  int LineLength = 0;
  int RestStart = 0;
};
// The longest prefix whose measure fits width, found by halving; at least one character.
// When the character after it is not a blank the line goes back to just after its last blank
// or control character (when it has one).
LineCut CutLine(const QString& text, double width, const std::function<double(const QString&)>& measure,
                bool consumeBlank);

// Replaces "{$LINE}", "{$PAGE}", "{$DATE}" (short date), "{$TIME}" (long time) and "{$TITLE}",
// every occurrence, case-sensitively.
std::string ReplaceMacros(std::string text, int line, int page, TDateTime now, std::string_view title);

// Builds a table row and its format from the ampersand code of a friendly header: && & ,
// &d &D date, &t &T time, &F file name, &f its name without folder, &p page, &i title; &l, &c
// and &r start a section aligned left, centred or right. Each section is one cell of
// printableWidth / sections. Returns {row text, format}.
std::pair<std::string, std::string> FriendlyToHeader(std::string_view code, double printableWidth,
                                                     std::string_view fileName, TDateTime now, char separator);
