#include <gtest/gtest.h>

#include "core/text_helpers.h"
#include "platform/datetime.h"
#include "windows/print/page_format.h"

namespace {
// One unit per character: a display-free measure.
double Chars(const QString& s) { return static_cast<double>(s.size()); }
}  // namespace

TEST(PageFormat, FormatLanguageReadsAlignmentsWidthsAndDefaults) {
  const auto f = ParseTableFormat("^|-1.5|>2|<|", '|', 0.75);
  ASSERT_EQ(f.size(), 5u);
  EXPECT_EQ(f[0].Align, '^');
  EXPECT_DOUBLE_EQ(f[0].Width, 0.75);  // a lone alignment takes the default width
  EXPECT_EQ(f[1].Align, '<');
  EXPECT_DOUBLE_EQ(f[1].Width, -1.5);  // left, no grid lines
  EXPECT_EQ(f[2].Align, '>');
  EXPECT_DOUBLE_EQ(f[2].Width, 2);
  EXPECT_DOUBLE_EQ(f[3].Width, 0.75);
  EXPECT_EQ(f[4].Align, '<');  // an empty format is a left cell of the default width
  EXPECT_DOUBLE_EQ(f[4].Width, 0.75);
  EXPECT_EQ(ParseTableFormat("", '|', 1).size(), 1u);
  EXPECT_THROW(ParseTableFormat("<abc", '|', 1), EConvertError);
  EXPECT_THROW(ParseTableFormat(">1,5", '|', 1), EConvertError);
  // Another separator splits the same way.
  EXPECT_EQ(ParseTableFormat("<1;>2", ';', 0).size(), 2u);
}

TEST(PageFormat, NormalFormAndUnitChangeRewriteEveryWidth) {
  EXPECT_EQ(NormalTableFormat("1|>2.50|^|-1.5", '|'), "<1|>2.5|^|<-1.5");
  EXPECT_EQ(ConvertTableFormat("<1|>2|^", '|', true), "<25.4|>50.8|^");
  EXPECT_EQ(ConvertTableFormat("<25.4|>12.7", '|', false), "<1|>0.5");
  EXPECT_EQ(ShortestDecimal(8.27), "8.27");
  EXPECT_EQ(ShortestDecimal(0.1 + 0.2), "0.30000000000000004");
  EXPECT_EQ(ShortestDecimal(-0.0), "0");
  EXPECT_THROW(NormalTableFormat("<x", '|'), EConvertError);
}

TEST(PageFormat, TabsExpandToStopsAndZeroMeansNone) {
  EXPECT_EQ(ExpandTabs("a\tb", 8), QString("a       b"));
  EXPECT_EQ(ExpandTabs("abcdefgh\tx", 8), QString("abcdefgh        x"));
  EXPECT_EQ(ExpandTabs("\t\t", 3), QString("      "));
  EXPECT_EQ(ExpandTabs("a\tb", 0), QString("a\tb"));
  EXPECT_EQ(ExpandTabs("a\tb", -4), QString("a\tb"));
}

TEST(PageFormat, LinesBreakAtBlanksAndNeverStayEmpty) {
  // "hello world" in 8 characters: the word is not split, the blank is consumed.
  LineCut c = CutLine("hello world", 8, Chars, true);
  EXPECT_EQ(c.LineLength, 6);
  EXPECT_EQ(c.RestStart, 6);
  // The fitting prefix ends right before a blank: that blank goes when asked.
  c = CutLine("hello world", 5, Chars, true);
  EXPECT_EQ(c.LineLength, 5);
  EXPECT_EQ(c.RestStart, 6);
  c = CutLine("hello world", 5, Chars, false);
  EXPECT_EQ(c.RestStart, 5);
  // A word longer than the line is cut inside.
  c = CutLine("abcdefghij", 4, Chars, true);
  EXPECT_EQ(c.LineLength, 4);
  // No room at all: still one character per line, so wrapping always ends.
  c = CutLine("abc", 0, Chars, true);
  EXPECT_EQ(c.LineLength, 1);
  c = CutLine("abc", -5, Chars, true);
  EXPECT_EQ(c.LineLength, 1);
  QString rest = "one two three four";
  int lines = 0;
  while (!rest.isEmpty() && lines < 100) {
    const LineCut cut = CutLine(rest, 3, Chars, true);
    rest = rest.mid(cut.RestStart);
    ++lines;
  }
  EXPECT_EQ(lines, 6);  // one, two, thr, ee, fou, r
}

TEST(PageFormat, MacrosAreReplacedEverywhereAndCaseSensitively) {
  const TDateTime t = EncodeDate(2024, 3, 5) + EncodeTime(14, 7, 9, 0);
  EXPECT_EQ(ReplaceMacros("{$PAGE}/{$PAGE} {$LINE} {$TITLE} {$page}", 4, 2, t, "Report"), "2/2 4 Report {$page}");
  EXPECT_EQ(ReplaceMacros("{$DATE} {$TIME}", 0, 1, t, ""), FormatDateTime("ddddd", t) + " " + FormatDateTime("tt", t));
  EXPECT_EQ(ReplaceMacros("no macro", 1, 1, t, "x"), "no macro");
}

TEST(PageFormat, FriendlyHeaderBuildsOneCellPerSection) {
  const TDateTime t = EncodeDate(2024, 3, 5) + EncodeTime(14, 7, 9, 0);
  auto [row, format] = FriendlyToHeader("&r Page: &p", 8, "", t, '|');
  EXPECT_EQ(row, " Page: {$PAGE}");
  EXPECT_EQ(format, ">8");
  std::tie(row, format) = FriendlyToHeader("&l&i&c&f && more&r&d&x", 7.5, "/tmp/out/report.txt", t, '|');
  EXPECT_EQ(row, "{$TITLE}|report.txt & more|" + FormatDateTime("ddddd", t));
  EXPECT_EQ(format, "<2.5|^2.5|>2.5");
  // Text before any section code is a left section of its own.
  std::tie(row, format) = FriendlyToHeader("File &F&rp&p", 6, "a.txt", t, '|');
  EXPECT_EQ(row, "File a.txt|p{$PAGE}");
  EXPECT_EQ(format, "<3|>3");
  EXPECT_EQ(FriendlyToHeader("", 6, "", t, '|').first, "");
}
