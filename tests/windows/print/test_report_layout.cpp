// How the portfolio report lays its table out on the page: the same choices give the same
// pages, every column fits the printable width, texts stay inside their cells and margins.
#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>

#include "grid/grid_columns.h"
#include "grid/stock_grid.h"
#include "print_test_util.h"
#include "report_test_data.h"
#include "windows/print/portfolio_report.h"

namespace {

std::string ShotPath(const std::string& name) {
  const std::string dir = std::string(VN_BINARY_DIR) + "/screenshots/";
  QDir().mkpath(QString::fromStdString(dir));
  return dir + name;
}

std::string AllColumnsView() {
  std::string view;
  for (const char* key : ColKeyNames) view += (view.empty() ? "" : ",") + std::string(key);
  return view;
}

// Every text, arrow and chart lies inside the printable area; the page header inside the top
// margin and between the side margins.
::testing::AssertionResult InsideMargins(const TPagePrinter& pp, QPrinter& printer) {
  const double l = pp.MarginLeftPixels(), r = l + pp.PrintableWidth();
  const double t = pp.MarginTopPixels(), b = t + pp.PrintableHeight();
  const auto pages = pp.Pages();
  for (size_t p = 0; p < pages->size(); ++p) {
    for (const TextBox& box : TextBoxes((*pages)[p], printer)) {
      const bool header = box.Text.startsWith(" Page: ");
      const QRectF& q = box.Rect;
      const bool ok = q.left() >= l - 0.5 && q.right() <= r + 0.5 &&
                      (header ? q.top() >= -pp.Metrics().OffsetY && q.bottom() <= t : q.top() >= t - 0.5 && q.bottom() <= b + 0.5);
      if (!ok)
        return ::testing::AssertionFailure() << "page " << p + 1 << ": \"" << box.Text.toStdString() << "\" at (" << q.left() << ","
                                             << q.top() << ")-(" << q.right() << "," << q.bottom() << ") outside (" << l << ","
                                             << t << ")-(" << r << "," << b << ")";
    }
    for (const PageOp& op : (*pages)[p].Ops) {
      if (op.Op != PageOp::Polygon && op.Op != PageOp::Polyline) continue;
      const QRectF q = op.Points.boundingRect();
      if (q.left() < l || q.right() > r || q.top() < t || q.bottom() > b)
        return ::testing::AssertionFailure() << "page " << p + 1 << ": a picture outside the margins";
    }
  }
  return ::testing::AssertionSuccess();
}

// The vertical grid lines of a page (x, top, bottom).
std::vector<QLineF> VerticalLines(const TRecordedPage& page) {
  std::vector<QLineF> out;
  for (const PageOp& op : page.Ops)
    if (op.Op == PageOp::Line && op.Pos.x() == op.End.x()) out.push_back(QLineF(op.Pos, op.End));
  return out;
}

// Texts of table cells keep clear of their cell's grid lines (more than the pen's width away)
// and of each other (at least gap apart on one line).
::testing::AssertionResult TextsKeepClear(const TRecordedPage& page, QPrinter& printer, double pen, double gap) {
  const auto lines = VerticalLines(page);
  auto boxes = TextBoxes(page, printer);
  for (const TextBox& box : boxes) {
    const double y = box.Rect.center().y();
    for (const QLineF& line : lines) {
      if (y < std::min(line.y1(), line.y2()) || y > std::max(line.y1(), line.y2())) continue;
      const double x = line.x1();
      if (x > box.Rect.left() - pen && x < box.Rect.right() + pen)
        return ::testing::AssertionFailure() << "\"" << box.Text.toStdString() << "\" (" << box.Rect.left() << " to "
                                             << box.Rect.right() << ") touches the grid line at " << x;
    }
  }
  std::sort(boxes.begin(), boxes.end(), [](const TextBox& a, const TextBox& b) {
    return a.Rect.bottom() != b.Rect.bottom() ? a.Rect.bottom() < b.Rect.bottom() : a.Rect.left() < b.Rect.left();
  });
  for (size_t i = 1; i < boxes.size(); ++i) {
    const TextBox &a = boxes[i - 1], &b = boxes[i];
    if (a.Rect.bottom() == b.Rect.bottom() && b.Rect.left() - a.Rect.right() < gap)
      return ::testing::AssertionFailure() << "\"" << a.Text.toStdString() << "\" and \"" << b.Text.toStdString() << "\" are "
                                           << b.Rect.left() - a.Rect.right() << " pixels apart";
  }
  return ::testing::AssertionSuccess();
}

bool HasText(const TRecordedPage& page, const QString& text) {
  const auto texts = OpTexts(page);
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}


}  // namespace

using ReportLayout = ReportOnTestPrinter;

TEST_F(ReportLayout, TheSameChoicesGiveTheSamePagesWhateverCameBefore) {
  SeedReportData();
  ReportChoices c;
  c.View = "Report";
  c.Portfolios = {"Tech", "Other"};
  c.Options.NewPage = false;
  ASSERT_TRUE(report.GeneratePreview(c));
  const auto first = pp.Pages();
  // Again (as Print It does after the preview): the table does not move.
  ASSERT_TRUE(report.GeneratePreview(c));
  EXPECT_TRUE(SamePages(*first, *pp.Pages()));
  // After other cell spacing, the report is the one a fresh dialog makes.
  c.Options.PadY = 9;
  c.Options.PadX = 0;
  ASSERT_TRUE(report.GeneratePreview(c));
  auto printer2 = MakeTestPrinter();
  TPagePrinter fresh(nullptr, printer2.get());
  fresh.TableGrid = true;
  fresh.SetFriendlyHeader("&r Page: &p");
  TStockGrid grid2;
  TPortfolioReport report2(fresh, grid2);
  ASSERT_TRUE(report2.GeneratePreview(c));
  EXPECT_TRUE(SamePages(*fresh.Pages(), *pp.Pages()));
}

TEST_F(ReportLayout, ColumnsAreAsWideAsTheirTextsWhichNeverTouch) {
  SeedReportData();
  Ini().WriteString("Views", "Wide", "SymCol,VolCol,LastCol,ChangeCol,GainCol,SharesCol,ValueCol,NoteCol");
  LoadViews();
  ReportChoices c;
  c.View = "Wide";
  c.Portfolios = {"Tech"};
  const double pen = 2 * (600 / 300);
  for (int padX : {0, 4}) {
    c.Options.PadX = padX;
    ASSERT_TRUE(report.GeneratePreview(c));
    const TRecordedPage& page = pp.Pages()->front();
    // Titles and values each stay on one line: nothing wraps in a table that fits.
    for (const char* t : {"Symbol", "Volume", "Last", "Change", "Gain", "Shares", "Value", "Note", "IBM", "1.23M",
                          "a|b {$PAGE} ##x **UP**", "+2,550.00", "+25.50%"})
      EXPECT_TRUE(HasText(page, t)) << t << " at Pad X " << padX;
    // A right-aligned volume and the left-aligned price after it keep apart, even unpadded.
    EXPECT_TRUE(TextsKeepClear(page, *printer, pen, 600 / 50 - 1));
    // Each column is exactly as wide as its widest text and the padding: the grid lines of the
    // header row stand at the running sums of those widths.
    std::vector<double> edges;
    for (const QLineF& l : VerticalLines(page))
      if (std::find(edges.begin(), edges.end(), l.x1()) == edges.end()) edges.push_back(l.x1());
    std::sort(edges.begin(), edges.end());
    const double pad = std::max(padX * 6, 600 / 50);
    QFont f(QStringLiteral("Arial"));
    f.setPointSize(9);
    QFont bold = f;
    bold.setBold(true);
    auto width = [&](const char* text, bool b) { return std::ceil(pp.MetricsOf(b ? bold : f).horizontalAdvance(text)) + pad; };
    ASSERT_GE(edges.size(), 3u);
    EXPECT_DOUBLE_EQ(edges[1] - edges[0], width("Symbol", true));  // the title is the widest
    EXPECT_DOUBLE_EQ(edges[2] - edges[1], width("Volume", true));
    EXPECT_DOUBLE_EQ(edges.back() - edges[edges.size() - 2], width("a|b {$PAGE} ##x **UP**", false));
  }
}

TEST_F(ReportLayout, LongTextsWrapInTheirCellsAndAWideTableShrinksRatherThanLosingColumns) {
  SeedReportData();
  const std::string longNote = "A very long description of the holding that would never fit on one line of the page, "
                               "with more words after it, and a few more after those";
  SetPortfolios({MakePort("Trades", "TRD1", {Holding("IBM", 100, 100, longNote.c_str()), Holding("MSFT", 10, 310)})});
  Ini().WriteString("Views", "Trader", "SymCol,LastCol,ChangeCol,VolCol,NoteCol,SharesCol,ValueCol,GainCol,PctGainCol");
  Ini().WriteString("Views", "All", AllColumnsView());
  LoadViews();
  ReportChoices c;
  c.Portfolios = {"Trades"};
  struct Case {
    const char* view;
    int font, margins;
  };
  for (const Case& k : {Case{"Trader", 9, 10}, Case{"Trader", 30, 20}, Case{"All", 9, 10}}) {
    SCOPED_TRACE(std::string(k.view) + " at font " + std::to_string(k.font));
    c.View = k.view;
    c.Options.PortFont = k.font;
    c.Options.MarLeft = c.Options.MarRight = k.margins;
    ASSERT_TRUE(report.GeneratePreview(c));
    ASSERT_EQ(pp.PageCount(), 1);
    const TRecordedPage& page = pp.Pages()->front();
    // Every column's title prints, and the money columns of the TOTAL row hold their sums.
    std::vector<int> kinds = report.LayoutView(k.view);
    for (int kind : kinds) {
      if (kind == SepCol || kind == ChartCol) continue;
      EXPECT_TRUE(HasText(page, ColTitles[static_cast<size_t>(kind)])) << ColTitles[static_cast<size_t>(kind)];
    }
    for (const char* t : {"TOTAL", "15,562.50", "+2,462.50", "+18.80%"}) EXPECT_TRUE(HasText(page, t)) << t;
    EXPECT_TRUE(InsideMargins(pp, *printer));
    EXPECT_TRUE(TextsKeepClear(page, *printer, 4, 600 / 50 - 1));
    // The long note wraps inside its cell: its words are all there, over several lines.
    QString note;
    int lines = 0;
    for (const QString& t : OpTexts(page))
      if (longNote.find(t.trimmed().toStdString()) != std::string::npos && t.trimmed().size() > 3) {
        note += t + " ";
        ++lines;
      }
    EXPECT_EQ(note.simplified().toStdString(), longNote);
    EXPECT_GT(lines, 1);
  }
}

TEST_F(ReportLayout, TwoThousandRowsOfEveryColumnPrintWholeInsideTheMargins) {
  std::vector<PortRowRec> holdings;
  std::vector<std::string> symbols;
  for (int i = 0; i < 2000; ++i) {
    symbols.push_back("S" + std::to_string(1000 + i));
    const float last = 20.0f + static_cast<float>(i % 97) * 1.25f;
    SeedQuote(symbols.back().c_str(), last, last - static_cast<float>(i % 7 - 3) * 0.4f, 1000.0f * static_cast<float>(i + 1),
              i % 2 ? "U" : "D");
    const char* note = i % 10 == 0 ? "Zürich Ölgesellschaft: Übersicht über die Märkte Europas — Entwicklung seit Jahresbeginn"
                       : i % 7 == 0 ? "Αθήνα ένα δύο τρία"
                                    : "";
    holdings.push_back(Holding(symbols.back().c_str(), 10 + i % 50, last * 0.9, note));
  }
  SetPortfolios({MakePort("Big", "BIG1", std::move(holdings))});
  Ini().WriteString("Views", "All", AllColumnsView());
  LoadViews();
  pp.ShowProgress = false;
  ReportChoices c;
  c.View = "All";
  c.Portfolios = {"Big"};
  QTemporaryDir dir;
  for (bool landscape : {false, true}) {
    const std::string name = landscape ? "landscape" : "portrait";
    SCOPED_TRACE(name);
    pp.SetOrientationLandscape(landscape);
    ASSERT_TRUE(report.GeneratePreview(c));
    ASSERT_GT(pp.PageCount(), 2);
    // Rows break onto new pages by themselves and never cross the bottom margin.
    EXPECT_TRUE(InsideMargins(pp, *printer));
    const QString file = dir.filePath(QString::fromStdString(name + ".pdf"));
    printer->setOutputFileName(file);
    pp.PrintPages();
    const QString text = RunTool("pdftotext", {file, "-"}, 120000);
    ASSERT_FALSE(text.isEmpty());
    for (int kind : report.LayoutView("All")) {
      if (kind == SepCol || kind == ChartCol) continue;
      EXPECT_TRUE(text.contains(ColTitles[static_cast<size_t>(kind)])) << ColTitles[static_cast<size_t>(kind)];
    }
    int missing = 0;
    for (const std::string& s : symbols) missing += text.contains(QString::fromStdString(s)) ? 0 : 1;
    EXPECT_EQ(missing, 0);
    EXPECT_TRUE(text.contains("Ölgesellschaft"));
    // The first page whole, and its top-left corner at print resolution, to look at.
    QProcess::execute("pdftoppm", {"-png", "-r", "80", "-f", "1", "-l", "1", "-singlefile", file,
                                   QString::fromStdString(ShotPath("print_all_columns_" + name))});
    QProcess::execute("pdftoppm", {"-png", "-r", "300", "-f", "2", "-l", "2", "-x", "0", "-y", "0", "-W", "1400", "-H", "700",
                                   "-singlefile", file, QString::fromStdString(ShotPath("print_all_columns_" + name + "_detail"))});
  }
}
