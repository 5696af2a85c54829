#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <chrono>
#include <thread>

#include "core/main_hooks.h"
#include "core/pending.h"
#include "core/settings.h"
#include "core/stock_table.h"

#include "grid/grid_columns.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "grid/stock_grid.h"
#include "print_test_util.h"
#include "report_test_data.h"
#include "windows/print/portfolio_report.h"

namespace {

// Ten pixels a character, bold five more; a tenth of the pixels is the unit.
ReportSizing TenPerChar(int pad, int available = 0) {
  ReportSizing sz;
  sz.Measure = [](const std::string& s, bool bold) { return s.empty() ? 0.0 : 10.0 * static_cast<double>(s.size()) + (bold ? 5 : 0); };
  sz.ToUnit = [](int pixels) { return pixels / 10.0; };
  sz.Pad = pad;
  sz.SepWidth = 5;
  sz.Available = available;
  return sz;
}

std::vector<std::string> Texts(const std::vector<TableCell>& cells) {
  std::vector<std::string> out;
  for (const auto& c : cells) out.push_back(c.Text);
  return out;
}

std::vector<QString> PageTexts(const TPagePrinter& pp, int page) {
  auto dev = ReplayPage(pp, page);
  std::vector<QString> out;
  for (const auto& t : dev->Engine().Texts) out.push_back(t.Text);
  return out;
}

bool Has(const std::vector<QString>& texts, const QString& t) { return std::find(texts.begin(), texts.end(), t) != texts.end(); }

// The bottom of the line that shows the text; -1 when no line does.
double LineOf(const std::vector<TextBox>& boxes, const QString& text) {
  auto it = std::find_if(boxes.begin(), boxes.end(), [&](const TextBox& b) { return b.Text == text; });
  return it == boxes.end() ? -1.0 : it->Rect.bottom();
}

}  // namespace

using PortfolioReport = ReportOnTestPrinter;

TEST_F(PortfolioReport, TableSplitsGainsKeepsCellTextsAndMarksChartsTicksAndSeparators) {
  ReportInput in;
  in.PortName = "Tech";
  in.Kinds = {SymCol, GainCol, SepCol, ChartCol, TickCol, VolCol, NoteCol};
  in.Cells = {{"IBM", "+2,550.00", "", "", "U", "1.23M", "<a|b {$PAGE} ##x **UP**"},
              {"-----", "", "", "", "", "", "note"},
              {"TOTAL", "-1", "", "", "", "", ""}};
  in.Partners = {{"", "+25.50%", "", "", "", "", ""}, {}, {"", "-0.01%", "", "", "", "", ""}};
  const ReportTable t = BuildReportTable(in, TenPerChar(10));
  // One title per column; the split pair shares a title; the chart's title is empty.
  EXPECT_EQ(Texts(t.Header), (std::vector<std::string>{"Symbol", "Gain", "", "", "Tick", "Volume", "Note"}));
  EXPECT_EQ(t.HeaderFormat, "^7.5|^18|^1.5|^7|^5.5|^7.5|^23");
  ASSERT_EQ(t.Rows.size(), 3u);
  // Gain's value left, its percentage right, in two cells whose widths add up to the title's.
  EXPECT_EQ(t.RowFormats[0], "<7.5|<10|>8|<1.5|<7|<5.5|>7.5|<23");
  EXPECT_EQ(Texts(t.Rows[0]), (std::vector<std::string>{"IBM", "+2,550.00", "+25.50%", "", "##IBM", "**UP**", "1.23M",
                                                        "a|b {$PAGE} ##x **UP**"}));
  // Markers are the report's own; a cell's text is printed as it stands.
  EXPECT_FALSE(t.Rows[0][4].Literal);
  EXPECT_FALSE(t.Rows[0][5].Literal);
  EXPECT_TRUE(t.Rows[0][7].Literal);
  // A separator row prints empty cells; the TOTAL row charts the portfolio.
  for (const auto& c : t.Rows[1]) EXPECT_EQ(c.Text, "");
  EXPECT_EQ(t.Rows[2][4].Text, "##Tech");
  EXPECT_EQ(t.Rows[2][5].Text, "");
  EXPECT_EQ(t.Rows[2][1].Text, "-1");
  EXPECT_EQ(t.Rows[2][2].Text, "-0.01%");

  // Split values narrower than their title are widened in proportion; none at all share it.
  in.Kinds = {GainCol, VChangeCol};
  in.Cells = {{"1", ""}};
  in.Partners = {{"1", ""}};
  const ReportTable narrow = BuildReportTable(in, TenPerChar(0));
  EXPECT_EQ(narrow.HeaderFormat, "^4.5|^12.5");
  EXPECT_EQ(narrow.RowFormats[0], "<2.3|>2.2|<6.2|>6.3");

  // Too wide for the page: the long note narrows to make room (down to its longest word, never
  // below its title), the other columns keep their widths and the table fills the page.
  in.Kinds = {SymCol, LastCol, NoteCol};
  in.Cells = {{"IBM", "125.5", "a long note that goes on and on"}};
  in.Partners = {};
  const ReportTable bounded = BuildReportTable(in, TenPerChar(10, 200));
  EXPECT_TRUE(bounded.Fits);
  EXPECT_EQ(bounded.Width, 200);
  EXPECT_EQ(bounded.RowFormats[0], "<7.5|<6|<6.5");
  // A word longer than a third of the page may break; the rest of the width goes to it.
  in.Cells = {{"IBM", "125.5", "Supercalifragilisticexpialidocious"}};
  EXPECT_EQ(BuildReportTable(in, TenPerChar(10, 300)).RowFormats[0], "<7.5|<6|<16.5");
  // Narrower than its narrowest form: the caller learns by how much it must shrink.
  const ReportTable tooWide = BuildReportTable(in, TenPerChar(10, 100));
  EXPECT_FALSE(tooWide.Fits);
  EXPECT_DOUBLE_EQ(tooWide.Scale, 100.0 / (75 + 60 + 55));
  EXPECT_EQ(SplitPartnerKind(GainCol), PctGainCol);
  EXPECT_EQ(SplitPartnerKind(VChangeCol), PctChangeCol);
  EXPECT_TRUE(IsRightAlignedKind(LastSizeCol));
  EXPECT_TRUE(IsRightAlignedKind(Fund3Col));
  EXPECT_FALSE(IsRightAlignedKind(LastCol));
  EXPECT_NEAR(MarginInches(10), 0.5833, 1e-4);
}

TEST_F(PortfolioReport, TickedPortfoliosPrintFromTheHiddenGridUnknownNamesAreSkipped) {
  SeedReportData();
  ReportChoices c;
  c.View = "Report";
  c.Portfolios = {"Tech", "No Such Portfolio", "Other"};
  ASSERT_TRUE(report.GeneratePreview(c));
  EXPECT_FALSE(pp.Recording());
  ASSERT_EQ(pp.PageCount(), 2);
  const auto page1 = PageTexts(pp, 1);
  EXPECT_TRUE(Has(page1, " Page: 1"));
  EXPECT_TRUE(Has(page1, "Portfolio: \"Tech\""));
  EXPECT_TRUE(std::any_of(page1.begin(), page1.end(), [](const QString& t) {
    return t.startsWith("Printed on: ") && t.endsWith(" Eastern Standard Time");
  }));
  for (const char* t : {"Symbol", "Gain", "Value Change", "Volume", "IBM", "MSFT", "TOTAL", "+2,550.00", "+25.50%",
                        "a|b {$PAGE} ##x **UP**"})
    EXPECT_TRUE(Has(page1, t)) << t;
  EXPECT_FALSE(Has(page1, "ODD"));
  const auto page2 = PageTexts(pp, 2);
  EXPECT_TRUE(Has(page2, "Portfolio: \"Other\""));
  EXPECT_TRUE(Has(page2, "ODD"));
  EXPECT_FALSE(Has(page2, "IBM"));
  // Tick arrows (eight-point outlines): IBM up, MSFT down.
  const auto dev = ReplayPage(pp, 1);
  const auto& polygons = dev->Engine().Polygons;
  EXPECT_EQ(std::count_if(polygons.begin(), polygons.end(), [](const QPolygonF& p) { return p.size() == 8; }), 2);

  // The chart cells hold their symbols' lines (IBM's four quotes, MSFT's two; the TOTAL row's
  // portfolio has no collected values), inside the chart column and a visible width on paper.
  std::vector<QPolygonF> charts;
  for (const PageOp& op : pp.Pages()->front().Ops)
    if (op.Op == PageOp::Polyline) {
      charts.push_back(op.Points);
      EXPECT_EQ(op.PenWidth, 4);
    }
  ASSERT_EQ(charts.size(), 2u);
  EXPECT_EQ(charts[0].size(), 4);
  EXPECT_EQ(charts[1].size(), 2);
  EXPECT_LT(charts[0].boundingRect().width(), 1000);
  EXPECT_GT(charts[0].boundingRect().left(), pp.MarginLeftPixels());

  // Sorted by "Symbol", largest first: MSFT before IBM.
  c.Portfolios = {"Tech"};
  c.Options.SortBy = "Symbol";
  c.Options.SortUp = false;
  c.Options.NewPage = false;
  ASSERT_TRUE(report.GeneratePreview(c));
  auto texts = PageTexts(pp, 1);
  EXPECT_LT(std::find(texts.begin(), texts.end(), "MSFT"), std::find(texts.begin(), texts.end(), "IBM"));
  // Without "Print Each on New Page" the next portfolio follows on the same page.
  c.Portfolios = {"Tech", "Other"};
  ASSERT_TRUE(report.GeneratePreview(c));
  EXPECT_EQ(pp.PageCount(), 1);
  texts = PageTexts(pp, 1);
  EXPECT_TRUE(Has(texts, "Portfolio: \"Other\""));
}

TEST_F(PortfolioReport, NothingTickedGivesThePickPageAndAPdfCarriesTheTitleBlock) {
  SeedReportData();
  ReportChoices c;
  ASSERT_TRUE(report.GeneratePreview(c));
  ASSERT_EQ(pp.PageCount(), 1);
  auto dev = ReplayPage(pp, 1);
  // The only big bold text; in a monospaced font it may take two lines.
  QString pick;
  double top = 1e9;
  for (const auto& t : dev->Engine().Texts) {
    if (!t.Bold || t.PixelSize != 35 * 600 / 72 + 1) continue;
    pick += (pick.isEmpty() ? "" : " ") + t.Text.trimmed();
    top = std::min(top, t.Pos.y());
  }
  EXPECT_EQ(pick, "Pick portfolio(s) to print.");
  // Four empty lines above it.
  EXPECT_EQ(static_cast<int>(top) - pp.MarginTopPixels(), 4 * pp.LineHeight() + static_cast<int>(pp.MetricsOf(pp.Font()).ascent()));

  c.View = "Report";
  c.Portfolios = {"Tech"};
  ASSERT_TRUE(report.GeneratePreview(c));
  // The next report's page header is back in the starting font, not the notice's 35 points.
  const auto next = ReplayPage(pp, 1);
  ASSERT_FALSE(next->Engine().Texts.empty());
  EXPECT_EQ(next->Engine().Texts.front().Text, " Page: 1");
  EXPECT_EQ(next->Engine().Texts.front().PixelSize, 83);  // 10 points at 600 dpi
  QTemporaryDir dir;
  printer->setOutputFileName(dir.filePath("report.pdf"));
  pp.ShowProgress = false;
  pp.PrintPages();
  const QString text = RunTool("pdftotext", {"-layout", dir.filePath("report.pdf"), "-"});
  EXPECT_TRUE(text.contains("Page: 1"));
  EXPECT_TRUE(text.contains("Portfolio: \"Tech\""));
  EXPECT_TRUE(text.contains("Eastern Standard Time"));
  EXPECT_TRUE(text.contains("MSFT"));
  // The first page as a picture, to look at.
  const std::string shots = std::string(VN_BINARY_DIR) + "/screenshots";
  QDir().mkpath(QString::fromStdString(shots));
  QProcess::execute("pdftoppm", {"-png", "-r", "100", "-f", "1", "-l", "1", "-singlefile", dir.filePath("report.pdf"),
                                 QString::fromStdString(shots + "/print_report_pdf_preview")});
}

TEST_F(PortfolioReport, ASecondReportOrARefusedWaitNeverLeavesRecordingOn) {
  SeedReportData();
  ReportChoices c;
  c.View = "Report";
  c.Portfolios = {"Tech"};
  ASSERT_TRUE(report.GeneratePreview(c));
  const auto pages = pp.Pages();
  // While a document is being recorded no report starts.
  pp.BeginDoc();
  EXPECT_FALSE(report.GeneratePreview(c));
  pp.AbortDoc();
  // Inside another wait of the main thread, the report's own wait is refused: an error, and
  // the recording is ended.
  std::string error;
  WaitUntil(
      [&] {
        try {
          report.GeneratePreview(c);
        } catch (const std::exception& e) {
          error = e.what();
        }
        return true;
      },
      nullptr, 1000);
  EXPECT_NE(error.find("another wait"), std::string::npos) << error;
  EXPECT_FALSE(pp.Recording());
  EXPECT_FALSE(report.Running());
  ASSERT_TRUE(report.GeneratePreview(c));
  // Whoever held the earlier pages (a print, a repaint) still has them whole.
  EXPECT_EQ(pages->size(), 1u);
  EXPECT_GT(pages->front().Ops.size(), 10u);
}

TEST_F(PortfolioReport, QuotesAPortfolioLacksAreFetchedFirstAndThoseThatNeverCameAreSaid) {
  SeedQuote("QSHOWN", 12.5f, 12.0f, 500.0f);
  SetPortfolios({MakePort("Shown", "SHN1", {Holding("QSHOWN")}),
                 MakePort("Watch", "WCH1", {Holding("QNEW1", 10, 5), Holding("QNEW2"), Holding("QGONE")})});
  Ini().WriteString("Views", "Quotes", "SymCol,LastCol,VolCol,NoteCol");
  LoadViews();
  std::atomic<bool> cancel{false};
  report.Cancel = &cancel;
  ReportChoices c;
  c.View = "Quotes";
  c.Portfolios = {"Watch"};
  // The main window's fetch worker: one pass over what the report queued, after a while; the
  // site does not know QGONE.
  std::vector<std::string> asked;
  std::thread worker;
  // Joined however the test leaves: a joinable thread left behind would abort the binary.
  struct Joiner {
    std::thread& t;
    ~Joiner() {
      if (t.joinable()) t.join();
    }
  } joiner{worker};
  int calls = 0;
  MainHooks.FetchNow = [&] {
    ++calls;
    if (worker.joinable()) worker.join();
    worker = std::thread([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      asked = PeekPendingSymbols(ReportPendingList);
      for (const std::string& s : asked)
        if (s != "QGONE") SeedQuote(s.c_str(), 42.5f, 40.0f, 1000.0f);
      RemovePendingSymbols(ReportPendingList, asked);
    });
  };
  ASSERT_TRUE(report.GeneratePreview(c));
  if (worker.joinable()) worker.join();
  EXPECT_EQ(calls, 1);
  std::sort(asked.begin(), asked.end());
  EXPECT_EQ(asked, (std::vector<std::string>{"QGONE", "QNEW1", "QNEW2"}));
  EXPECT_TRUE(PendingListEmpty(ReportPendingList));
  auto boxes = TextBoxes(pp.Pages()->front(), *printer);
  auto lineOf = [&](const QString& text) { return LineOf(boxes, text); };
  EXPECT_EQ(std::count_if(boxes.begin(), boxes.end(), [](const TextBox& b) { return b.Text == "42.5"; }), 2);
  EXPECT_GT(lineOf(NoQuoteText), 0);
  EXPECT_EQ(lineOf(NoQuoteText), lineOf("QGONE"));

  // Quotes at hand: nothing is queued or waited for.
  c.Portfolios = {"Shown"};
  ASSERT_TRUE(report.GeneratePreview(c));
  EXPECT_EQ(calls, 1);

  // A worker that never comes: Cancel, and shut-down, end the wait at once; nothing stays queued.
  c.Portfolios = {"Watch"};
  SetPortfolios({MakePort("Watch", "WCH1", {Holding("QGONE"), Holding("QLATE")})});
  MainHooks.FetchNow = [&] { ++calls; };
  for (bool shutDown : {false, true}) {
    QObject round;  // the shot goes with this round, and with its loop variable
    QTimer::singleShot(100, &round, [&] { (shutDown ? ShuttingDown : cancel) = true; });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(report.GeneratePreview(c), ECancelPrinting);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_TRUE(PendingListEmpty(ReportPendingList));
    EXPECT_FALSE(pp.Recording());
    cancel = false;
    ShuttingDown = false;
  }
  // At its deadline the wait ends and the report says which quotes did not come.
  report.QuoteTimeoutMs = 300;
  ASSERT_TRUE(report.GeneratePreview(c));
  boxes = TextBoxes(pp.Pages()->front(), *printer);
  EXPECT_EQ(std::count_if(boxes.begin(), boxes.end(), [](const TextBox& b) { return b.Text == NoQuoteText; }), 2);
  EXPECT_TRUE(PendingListEmpty(ReportPendingList));
  // Without a main window nothing fetches: nothing is waited for.
  MainHooks = {};
  report.QuoteTimeoutMs = 25000;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(report.GeneratePreview(c));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

// Quotes the last run left in the dump are not printed as current: they are fetched first, and
// one that does not come prints as "No quote" and stays out of TOTAL.
TEST_F(PortfolioReport, ReportFetchesOldQuotes) {
  auto fromDump = [](const char* symbol, float last) {
    // As the dump loaded at start leaves a record: quote fields, not written by this run.
    LockHold hold(StockListLock, "TEST");
    ASSERT_TRUE(hold);
    const int at = StockTable.Add(symbol);
    ASSERT_GE(at, 0);
    QuoteFields& q = StockTable.Objects(at)->Quote;
    q.Last = last;
    q.PrevClose = last - 1;
    q.Change = 1;
    q.Volume = 4321;
    q.UpdateDate = std::floor(MarketNow()) - 1;
    q.UpdateTime = 0.6;
  };
  fromDump("QOLDA", 11.11f);
  fromDump("QOLDB", 22.22f);
  SetPortfolios({MakePort("Old", "OLD1", {Holding("QOLDA", 10, 5), Holding("QOLDB", 100, 20)})});
  Ini().WriteString("Views", "Quotes", "SymCol,LastCol,ValueCol,NoteCol");
  LoadViews();
  std::atomic<bool> cancel{false};
  report.Cancel = &cancel;
  ReportChoices c;
  c.View = "Quotes";
  c.Portfolios = {"Old"};
  // The fetch worker brings QOLDA; the site has nothing for QOLDB.
  std::vector<std::string> asked;
  MainHooks.FetchNow = [&] {
    asked = PeekPendingSymbols(ReportPendingList);
    for (const std::string& s : asked)
      if (s == "QOLDA") SeedQuote("QOLDA", 77.25f, 70.0f, 1000.0f);
    RemovePendingSymbols(ReportPendingList, asked);
  };
  ASSERT_TRUE(report.GeneratePreview(c));
  MainHooks = {};
  std::sort(asked.begin(), asked.end());
  EXPECT_EQ(asked, (std::vector<std::string>{"QOLDA", "QOLDB"}));
  const auto boxes = TextBoxes(pp.Pages()->front(), *printer);
  auto lineOf = [&](const QString& text) { return LineOf(boxes, text); };
  EXPECT_GT(lineOf("77.25"), 0);
  EXPECT_EQ(lineOf("22.22"), -1.0);
  EXPECT_EQ(lineOf("2,222.00"), -1.0);
  EXPECT_GT(lineOf(NoQuoteText), 0);
  EXPECT_EQ(lineOf(NoQuoteText), lineOf("QOLDB"));
  // TOTAL holds only the quote of this run: 10 x 77.25.
  EXPECT_EQ(lineOf("772.50"), lineOf("QOLDA"));
  EXPECT_EQ(std::count_if(boxes.begin(), boxes.end(), [](const TextBox& b) { return b.Text == "772.50"; }), 2);
}

// A quote the program received longer ago than the refresh interval is fetched again before it
// is printed; one that still does not come prints "No quote", stays out of TOTAL and is said
// below the table. A fresh answer counts even when its own market time is old.
TEST_F(PortfolioReport, PrintsNoQuoteOlderThanTheRefreshInterval) {
  auto receivedAgo = [](const char* symbol, int64_t ms) {
    LockHold hold(AddSnapLock, "TEST");
    ASSERT_TRUE(hold);
    const int at = StockTable.Find(symbol);
    ASSERT_GE(at, 0);
    StockTable.Objects(at)->Quote.ReceivedTick = TickMs() - ms;
  };
  SeedQuote("QSTALE", 11.25f, 11.0f, 100.0f, "", -3600);  // an hour old by the market clock
  SeedQuote("QGONE7", 22.5f, 22.0f, 100.0f);
  SeedQuote("QFRESH", 33.75f, 33.0f, 100.0f);
  receivedAgo("QSTALE", 7 * 60 * 1000);
  receivedAgo("QGONE7", 11 * 60 * 1000);
  receivedAgo("QFRESH", 5 * 1000);
  const int oldRefresh = RefreshSecs.exchange(20);
  struct Restore {
    int Secs;
    ~Restore() { RefreshSecs = Secs; }
  } restore{oldRefresh};
  SetPortfolios({MakePort("Aged", "AGED1", {Holding("QSTALE", 10, 10), Holding("QGONE7", 100, 20), Holding("QFRESH", 4, 30)})});
  Ini().WriteString("Views", "Quotes", "SymCol,LastCol,ValueCol,NoteCol");
  LoadViews();
  std::atomic<bool> cancel{false};
  report.Cancel = &cancel;
  ReportChoices c;
  c.View = "Quotes";
  c.Portfolios = {"Aged"};
  // The site answers for QSTALE with the quote it had (the market has closed); QGONE7 no more.
  std::vector<std::string> asked;
  MainHooks.FetchNow = [&] {
    asked = PeekPendingSymbols(ReportPendingList);
    for (const std::string& s : asked)
      if (s == "QSTALE") SeedQuote("QSTALE", 11.25f, 11.0f, 100.0f, "", -3600);
    RemovePendingSymbols(ReportPendingList, asked);
  };
  ASSERT_TRUE(report.GeneratePreview(c));
  MainHooks = {};
  std::sort(asked.begin(), asked.end());
  EXPECT_EQ(asked, (std::vector<std::string>{"QGONE7", "QSTALE"}));
  const auto boxes = TextBoxes(pp.Pages()->front(), *printer);
  auto lineOf = [&](const QString& text) { return LineOf(boxes, text); };
  EXPECT_EQ(lineOf("11.25"), lineOf("QSTALE"));
  EXPECT_EQ(lineOf("33.75"), lineOf("QFRESH"));
  EXPECT_EQ(lineOf("22.5"), -1.0);
  EXPECT_EQ(lineOf(NoQuoteText), lineOf("QGONE7"));
  // TOTAL: 10 x 11.25 + 4 x 33.75 = 247.50, and the row left out is said once, below the table.
  EXPECT_EQ(lineOf("247.50"), lineOf("TOTAL"));
  const double said = lineOf("TOTAL leaves out 1 row(s) without a quote.");
  EXPECT_GT(said, lineOf("TOTAL"));
}
