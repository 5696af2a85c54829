#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>

#include "core/text_helpers.h"
#include "print_test_util.h"
#include "windows/print/page_format.h"

namespace {

struct Fixture {
  std::unique_ptr<QPrinter> printer = MakeTestPrinter();
  TPagePrinter pp{nullptr, printer.get()};
  Fixture() {
    pp.SetMarginTop(0.5);
    pp.SetMarginBottom(0.5);
    pp.SetMarginLeft(0.5);
    pp.SetMarginRight(0.5);
  }
};

int CountLines(const PageLogEngine& e, std::function<bool(const QLineF&)> match) {
  return static_cast<int>(std::count_if(e.Lines.begin(), e.Lines.end(), [&](const LoggedLine& l) { return match(l.Line); }));
}

}  // namespace

TEST(PagePrinter, GeometryFollowsMarginsAndUnits) {
  Fixture f;
  EXPECT_EQ(f.pp.Metrics().DpiX, 600);
  EXPECT_EQ(f.pp.PrintableWidth(), 4500);   // 8.5 in less two half inches
  EXPECT_EQ(f.pp.PrintableHeight(), 6000);  // 11 in less two half inches
  EXPECT_EQ(f.pp.MarginLeftPixels(), 300);
  // Margins are clamped to the paper.
  f.pp.SetMarginLeft(-2);
  EXPECT_DOUBLE_EQ(f.pp.MarginLeft(), 0);
  f.pp.SetMarginRight(100);
  EXPECT_DOUBLE_EQ(f.pp.MarginRight(), 8.5);
  EXPECT_EQ(f.pp.PrintableWidth(), 1);  // never zero or below
  f.pp.SetMarginLeft(0.5);
  f.pp.SetMarginRight(0.5);
  // Switching to millimetres converts margins and every format width.
  f.pp.SetTableFormat("<1|>0.5|^");
  f.pp.DefaultColWidth = 2;
  f.pp.SetMeasureUnit(muMillimeters);
  EXPECT_EQ(f.pp.TableFormat(), "<25.4|>12.7|^");
  EXPECT_DOUBLE_EQ(f.pp.MarginTop(), 12.7);
  EXPECT_DOUBLE_EQ(f.pp.DefaultColWidth, 50.8);
  EXPECT_EQ(f.pp.PrintableWidth(), 4500);
  f.pp.SetMeasureUnit(muInches);
  EXPECT_EQ(f.pp.TableFormat(), "<1|>0.5|^");
}

TEST(PagePrinter, TablesAreCentredGriddedAndWrappedInsideTheirCells) {
  Fixture f;
  f.pp.TableGrid = true;
  f.pp.BeginDoc();
  f.pp.SetTableFormat("<1|>1|-0.5");
  const int lh = f.pp.LineHeight();
  // A long text in the first cell wraps onto three lines of the same row.
  f.pp.WriteTableLine("aaaa bbbb cccc dddd eeee ffff gggg hhhh iiii jjjj kkkk|42|nogrid");
  f.pp.WriteTableLine("next|row|");
  f.pp.EndDoc();
  auto dev = ReplayPage(f.pp, 1);
  const PageLogEngine& e = dev->Engine();
  // 2.5 inches of 7.5 are centred: the row starts 2.5 inches in, after the half-inch margin.
  const double left = 300 + (4500 - 1500) / 2;
  std::vector<LoggedText> first;
  for (const auto& t : e.Texts)
    if (std::fabs(t.Pos.x() - left) < 0.5) first.push_back(t);
  ASSERT_GE(first.size(), 3u);
  const int lines = static_cast<int>(first.size());
  for (size_t i = 1; i < first.size(); ++i) EXPECT_DOUBLE_EQ(first[i].Pos.y() - first[i - 1].Pos.y(), lh);
  // The right-aligned number ends at the cell's right edge.
  auto num = std::find_if(e.Texts.begin(), e.Texts.end(), [](const LoggedText& t) { return t.Text == "42"; });
  ASSERT_NE(num, e.Texts.end());
  EXPECT_NEAR(num->Pos.x() + f.pp.TextWidth("42"), left + 1200, 1.0);
  // Grid: the wrapped cell has its top line once, its sides on every line and one bottom line,
  // which is the next row's top. Lines the cells share are drawn once, joined along a row.
  auto horizontalAt = [&](double x0, double x1) {
    return CountLines(e, [&](const QLineF& l) { return l.y1() == l.y2() && l.x1() == x0 && l.x2() == x1; });
  };
  EXPECT_EQ(horizontalAt(left, left + 1200), 3);
  EXPECT_EQ(CountLines(e, [&](const QLineF& l) { return l.y1() == l.y2(); }), 3);
  EXPECT_EQ(CountLines(e, [&](const QLineF& l) { return l.x1() == left && l.x2() == left; }), lines);  // the wrapped lines and the next row
  EXPECT_EQ(CountLines(e, [&](const QLineF& l) { return l.x1() == left + 600 && l.x2() == left + 600; }), lines);
  // The negative width prints its text but draws no grid line.
  EXPECT_EQ(horizontalAt(left + 1200, left + 1500), 0);
  EXPECT_TRUE(std::any_of(e.Texts.begin(), e.Texts.end(), [](const LoggedText& t) { return t.Text == "nogrid"; }));
  // Grid pens are 2 x (600 div 300) pixels wide.
  EXPECT_DOUBLE_EQ(e.Lines.front().Width, 4);
}

TEST(PagePrinter, PageBordersStandOutsideTheMarginsByTheirOffset) {
  Fixture f;
  f.pp.PageBorders = pbTop | pbLeft | pbRight | pbBottom;
  f.pp.PageBorderOffset = 0.1;
  f.pp.BeginDoc();
  f.pp.EndDoc();
  auto dev = ReplayPage(f.pp, 1);
  const auto& lines = dev->Engine().Lines;
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].Line, QLineF(240, 240, 4860, 240));   // top
  EXPECT_EQ(lines[1].Line, QLineF(240, 6360, 4860, 6360)); // bottom
  EXPECT_EQ(lines[2].Line, QLineF(240, 240, 240, 6360));   // left
  EXPECT_EQ(lines[3].Line, QLineF(4860, 240, 4860, 6360)); // right
}

TEST(PagePrinter, WideTablesStartAtTheMarginAndNoTextPassesItsCellsPaddingOrTheMargin) {
  Fixture f;
  f.pp.BeginDoc();
  f.pp.SetTableFormat("<5|<5|<5");
  f.pp.WriteTableLine("one|two|three");
  // A cell crossing the printable width ends there: its text wraps before the margin.
  f.pp.WriteTableLine("one|two words that run on and on past the right margin of the page|three");
  // Padded cells: a text keeps half the padding from each side of its cell.
  f.pp.PadCellX = 0.1;
  f.pp.SetTableFormat(">1|<1");
  f.pp.WriteTableLine("42|a text that needs more than one line of its cell");
  f.pp.EndDoc();
  const auto boxes = TextBoxes(f.pp.Pages()->front(), *f.printer);
  ASSERT_GE(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].Text, "one");
  EXPECT_DOUBLE_EQ(boxes[0].Rect.left(), 300);
  EXPECT_EQ(boxes[1].Text, "two");
  EXPECT_DOUBLE_EQ(boxes[1].Rect.left(), 300 + 3000);
  QString wrapped, padded;
  for (const TextBox& b : boxes) {
    EXPECT_NE(b.Text, "three");  // beyond the page
    if (b.Rect.top() > boxes[0].Rect.top() + f.pp.LineHeight() / 2 && b.Rect.left() >= 3300 - 0.5 && b.Text != "two") {
      EXPECT_LE(b.Rect.right(), 300 + 4500 + 0.5) << b.Text.toStdString();
      wrapped += b.Text + " ";
    }
  }
  EXPECT_EQ(wrapped.simplified(), "two words that run on and on past the right margin of the page");
  // The padded table (2 inches) is centred: cells at 1950 and 2550, 30 pixels of padding.
  for (const TextBox& b : boxes) {
    if (b.Rect.left() < 1950 || b.Rect.left() >= 3150) continue;
    if (b.Text == "42") {
      EXPECT_NEAR(b.Rect.right(), 2550 - 30, 1.0);
      continue;
    }
    padded += b.Text + " ";
    EXPECT_GE(b.Rect.left(), 2550 + 30 - 0.5);
    EXPECT_LE(b.Rect.right(), 3150 - 30 + 0.5);
  }
  EXPECT_EQ(padded.simplified(), "a text that needs more than one line of its cell");
}

TEST(PagePrinter, ArrowsAndMarkersDrawPicturesLiteralCellsPrintAsText) {
  Fixture f;
  f.pp.Title = "T";
  f.pp.BeginDoc();
  f.pp.SetTableFormat("^1|^1|<2");
  f.pp.WriteTableLine("**UP**|**DN**|{$TITLE} p{$PAGE}");
  f.pp.WriteTableCells({{"**UP**", true}, {"##IBM", true}, {"a|b {$PAGE}", true}});
  f.pp.EndDoc();
  auto dev = ReplayPage(f.pp, 1);
  const PageLogEngine& e = dev->Engine();
  ASSERT_EQ(e.Polygons.size(), 2u);
  // The up arrow's tip is at the top, the down arrow's at the bottom, both centred in their cells.
  const QPolygonF& up = e.Polygons[0];
  const QPolygonF& dn = e.Polygons[1];
  ASSERT_EQ(up.size(), 8);
  const double left = 300 + (4500 - 2400) / 2;
  EXPECT_DOUBLE_EQ((up[0].x() + up[2].x()) / 2, left + 300);
  EXPECT_DOUBLE_EQ((dn[0].x() + dn[2].x()) / 2, left + 900);
  EXPECT_LT(up[1].y(), up[0].y());
  EXPECT_GT(dn[1].y(), dn[0].y());
  const double q = (up[2].x() - up[0].x()) / 4;
  EXPECT_EQ(static_cast<int>(up[2].x() - up[0].x()) % 4, 0);
  EXPECT_DOUBLE_EQ(up[3].x(), up[2].x() - q);
  std::vector<QString> texts;
  for (const auto& t : e.Texts) texts.push_back(t.Text);
  EXPECT_EQ(texts, (std::vector<QString>{"T p1", "**UP**", "##IBM", "a|b {$PAGE}"}));
}

TEST(PagePrinter, LinesBreakOntoNewPagesWithTheirHeaderInTheCurrentMargins) {
  Fixture f;
  f.pp.SetFriendlyHeader("&r Page: &p");
  // Margins set after the friendly header: its cell follows them, so the page number shows.
  f.pp.SetMarginRight(1.5);
  f.pp.AutoHeaderFont = false;
  QFont big(QStringLiteral("Arial"));
  big.setPointSize(20);
  big.setBold(true);
  f.pp.HeaderFont = big;
  int pagesStarted = 0;
  f.pp.OnNewPage = [&] { ++pagesStarted; };
  f.pp.BeginDoc();
  const int perPage = f.pp.PrintableHeight() / f.pp.LineHeight();
  for (int i = 0; i < perPage + 5; ++i) f.pp.WriteLine("line " + std::to_string(i));
  f.pp.EndDoc();
  ASSERT_EQ(f.pp.PageCount(), 2);
  EXPECT_EQ(pagesStarted, 2);
  for (int page = 1; page <= 2; ++page) {
    auto dev = ReplayPage(f.pp, page);
    const auto& texts = dev->Engine().Texts;
    ASSERT_FALSE(texts.empty());
    // The header comes first, in its own font, inside the top margin and ending at the right margin.
    EXPECT_EQ(texts.front().Text, QString(" Page: %1").arg(page));
    EXPECT_TRUE(texts.front().Bold);
    EXPECT_LT(texts.front().Pos.y(), 300);
    // Then the body, back in the body font.
    EXPECT_FALSE(texts[1].Bold);
    EXPECT_TRUE(texts[1].Text.startsWith("line "));
    EXPECT_GE(texts[1].Pos.y(), 300);
  }
  auto dev = ReplayPage(f.pp, 1);
  const LoggedText& header = dev->Engine().Texts.front();
  QFont canvas = big;
  canvas.setPixelSize(static_cast<int>(std::lround(20 * 600 / 72.0)));
  canvas.setHintingPreference(QFont::PreferNoHinting);
  EXPECT_NEAR(header.Pos.x() + QFontMetricsF(canvas, f.printer.get()).horizontalAdvance(header.Text), 300 + 3900, 2.0);
  EXPECT_EQ(f.pp.PageNumber(), 1);
}

// Lines stand the font's em height apart (its size in printer pixels, without the room above and
// below the letters), times the spacing: a 10-point font on the 600 dpi printer gives 83 pixels,
// so a 6000-pixel page holds 72 single-spaced lines.
TEST(PagePrinter, LinesAreTheFontsEmHeightApartTimesTheSpacing) {
  const std::pair<TLineSpacing, int> spacings[] = {
      {lsHalfSpace, 41}, {lsSingleSpace, 83}, {lsSingleAndAHalf, 124}, {lsDoubleSpace, 166}};
  for (const auto& [spacing, apart] : spacings) {
    Fixture f;
    QFont font(QStringLiteral("Courier New"));
    font.setPointSize(10);
    f.pp.SetFont(font);
    f.pp.SetLineSpacing(spacing);
    EXPECT_EQ(f.pp.LineHeight(), apart) << spacing;
    f.pp.BeginDoc();
    for (int i = 0; i < 200; ++i) f.pp.WriteLine("line " + std::to_string(i));
    f.pp.EndDoc();
    const auto dev = ReplayPage(f.pp, 1);
    const auto& texts = dev->Engine().Texts;
    ASSERT_GE(texts.size(), 2u);
    EXPECT_NEAR(texts[1].Pos.y() - texts[0].Pos.y(), apart, 0.01) << spacing;
    if (spacing == lsSingleSpace) {
      EXPECT_EQ(texts.size(), 72u);
    }
  }
}

TEST(PagePrinter, MisuseIsRefusedAndAFailureNeverLeavesRecordingOn) {
  Fixture f;
  f.pp.BeginDoc();
  try {
    f.pp.SetMarginTop(1);
    FAIL();
  } catch (const EPagePrinter& e) {
    EXPECT_STREQ(e.what(), "Unable to change top margin while printing");
  }
  EXPECT_THROW(f.pp.SetPrintToFile(true), EPagePrinter);
  EXPECT_THROW(f.pp.SetFileName("x"), EPagePrinter);
  EXPECT_THROW(f.pp.SetOrientationLandscape(true), EPagePrinter);
  EXPECT_THROW(f.pp.BeginDoc(), EPagePrinter);
  f.pp.SetTableFormat("<1");
  EXPECT_THROW(f.pp.SetTableFormat("<1|<zz"), EConvertError);
  EXPECT_EQ(f.pp.TableFormat(), "<1");
  f.pp.AbortDoc();
  EXPECT_FALSE(f.pp.Recording());
  // A page start that fails ends the recording it was starting.
  f.pp.OnNewPage = [] { throw std::runtime_error("page start failed"); };
  EXPECT_THROW(f.pp.BeginDoc(), std::runtime_error);
  EXPECT_FALSE(f.pp.Recording());
  f.pp.OnNewPage = nullptr;
  f.pp.SetMarginTop(1);
  EXPECT_DOUBLE_EQ(f.pp.MarginTop(), 1);
  try {
    f.pp.SetPageNumber(3);
    FAIL();
  } catch (const EPagePrinter& e) {
    EXPECT_STREQ(e.what(), "PageNumber must be between 1 and 1");
  }
}

TEST(PagePrinter, TextFileIsWrittenByteForByteOnlyWhenComplete) {
  QTemporaryDir dir;
  Fixture f;
  const std::string name = dir.filePath("out.txt").toStdString();
  f.pp.SetFileName("  " + name + " ");
  EXPECT_EQ(f.pp.FileName(), name);
  f.pp.SetPrintToFile(true);
  f.pp.BeginDoc();
  const int blank = static_cast<int>(f.pp.TextWidth(" "));
  ASSERT_GT(blank, 0);
  f.pp.WriteLine("Hello");
  f.pp.Write("a\tb");
  f.pp.NewLine();
  for (int i = 0; i < 300; ++i) f.pp.WriteLine("x");  // filling a page never breaks it in a file
  f.pp.NewPage();
  // Cells of exactly 10 and 5 blanks and a last one up to the printable width.
  const int rest = 4500 - 15 * blank;
  f.pp.SetTableFormat("<" + ShortestDecimal(10.0 * blank / 600) + "|^" + ShortestDecimal(5.0 * blank / 600) + "|>" +
                      ShortestDecimal(static_cast<double>(rest) / 600));
  f.pp.WriteTableLine("ab|**UP**|cd");
  EXPECT_FALSE(QFile::exists(QString::fromStdString(name)));  // nothing complete-looking yet
  f.pp.EndDoc();
  QFile file(QString::fromStdString(name));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray got = file.readAll();
  std::string want = "Hello\r\na       b\r\n";
  for (int i = 0; i < 300; ++i) want += "x\r\n";
  want += "\f\r\n";
  const int cols = 4500 / blank;
  const int cd = static_cast<int>(std::lround(f.pp.TextWidth("cd")));
  const int cdCol = (4500 - cd) / blank;
  want += "ab" + std::string(13, ' ') + std::string(static_cast<size_t>(cdCol - 15), ' ') + "cd" +
          std::string(static_cast<size_t>(std::max(0, cols - cdCol - 2)), ' ') + "\r\n";
  EXPECT_EQ(got.toStdString(), want);

  // A recording that fails leaves no file behind.
  const std::string other = dir.filePath("failed.txt").toStdString();
  f.pp.SetFileName(other);
  f.pp.BeginDoc();
  f.pp.WriteLine("partial");
  f.pp.AbortDoc();
  EXPECT_FALSE(QFile::exists(QString::fromStdString(other)));
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"out.txt"});
  // A file that cannot be created is reported to the caller of BeginDoc.
  f.pp.SetFileName(dir.filePath("no/such/folder.txt").toStdString());
  EXPECT_THROW(f.pp.BeginDoc(), std::runtime_error);
  EXPECT_FALSE(f.pp.Recording());
}

TEST(PagePrinter, CopiesRepeatPagesInCollatedOrNotOrder) {
  EXPECT_EQ(PrintOrder(1, 3, 2, false), (std::vector<int>{1, 1, 2, 2, 3, 3}));
  EXPECT_EQ(PrintOrder(1, 3, 2, true), (std::vector<int>{1, 2, 3, 1, 2, 3}));
  EXPECT_EQ(PrintOrder(2, 3, 1, true), (std::vector<int>{2, 3}));
  EXPECT_TRUE(PrintOrder(3, 2, 1, true).empty());
  EXPECT_EQ(ProgressPageText(2, 2, 3, 1), "Page 2");
  EXPECT_EQ(ProgressPageText(2, 1, 5, 3), "Page 2 of 5 x 3 Copies");
  Fixture f;
  f.pp.SetCopies(0);
  EXPECT_EQ(f.pp.Copies(), 1);
  f.pp.SetLastPage(3);
  f.pp.SetFirstPage(5);
  EXPECT_EQ(f.pp.LastPage(), 5);
  f.pp.SetLastPage(2);
  EXPECT_EQ(f.pp.FirstPage(), 2);
}
