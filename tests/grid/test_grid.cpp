#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <map>
#include <set>
#include <thread>

#include "core/add_snap.h"
#include "core/locks.h"
#include "core/market_clock.h"
#include "core/pending.h"
#include "core/portfolios.h"
#include "core/settings_file.h"
#include "core/text_helpers.h"
#include "grid/grid_cells.h"
#include "grid/grid_columns.h"
#include "grid/grid_views.h"
#include "grid/stock_grid.h"
#include "platform/clock.h"
#include "platform/messages.h"

namespace {

void Seed(const char* symbol, float last, float prev, float volume, float bid = 0, float ask = 0) {
  SnapData s;
  s.Symbol = symbol;
  s.Last = last;
  s.PrevClose = prev;
  s.Volume = volume;
  s.Bid = bid;
  s.Ask = ask;
  s.MarketDate = s.QuoteTime = MarketNow();
  ASSERT_GE(AddSnap(s), 0);
}

PortRowRec Row(const char* symbol, double shares = 0, double base = 0) {
  PortRowRec r;
  r.Symbol = symbol;
  r.Shares = shares;
  r.BasePrice = base;
  return r;
}

// Installs a portfolio and returns its number.
int AddPortfolio(const char* name, const char* id, std::vector<PortRowRec> rows) {
  LockHold hold(PortLock, "TEST");
  PortType p;
  p.Name = name;
  p.Id = id;
  p.Rows = std::move(rows);
  PortList.push_back(std::move(p));
  return static_cast<int>(PortList.size());
}

// Lets the row thread finish and its hand-over run (bounded, not a timing check).
void Settle(TStockGrid& grid) {
  for (int i = 0; i < 500 && grid.Busy(); ++i) WaitAndPump(10);
  WaitAndPump(20);
  ASSERT_FALSE(grid.Busy());
}

int RowOf(const TStockGrid& grid, const std::string& symbol) {
  for (int r = 1; r < grid.RowCount(); ++r)
    if (grid.Cells(grid.GridCol[SymCol], r) == symbol) return r;
  return -1;
}

std::string Cell(const TStockGrid& grid, int kind, const std::string& symbol) {
  return grid.Cells(grid.GridCol[static_cast<size_t>(kind)], RowOf(grid, symbol));
}

}  // namespace

TEST(GridColumns, KeysTitlesAndKindsLineUp) {
  EXPECT_STREQ(ColKeyNames.front(), "SymCol");
  EXPECT_STREQ(ColKeyNames.back(), "DateCol");
  EXPECT_STREQ(ColTitles.front(), "Symbol");
  EXPECT_STREQ(ColTitles.back(), "Quote Date");
  for (const char* key : {"SepCol", "ChartCol", "TickCol", "VChangeCol", "GainCol"}) EXPECT_GE(ColKindOfKey(key), 0);
  for (int k = 0; k < ColKindCount; ++k) EXPECT_EQ(ColKindOfKey(ColKeyNames[static_cast<size_t>(k)]), k);
  EXPECT_EQ(ColKindOfKey("lastcol"), LastCol);
  EXPECT_EQ(ColKindOfKey("NoSuchCol"), -1);
}

TEST(GridColumns, PlacedInLayoutOrderLeavingOutCompactAndDroppedKinds) {
  GlobVars layout;
  layout.ColPos.fill(-1);
  layout.ColPos[SymCol] = 0;
  layout.ColPos[ChartCol] = 1;
  layout.ColPos[VolCol] = 2;
  layout.ColPos[LastCol] = 3;
  layout.ColPos[NameCol] = 4;
  auto cols = PlaceGridColumns(layout, 0, "");
  EXPECT_EQ(cols[SymCol], 0);
  EXPECT_EQ(cols[ChartCol], 1);
  EXPECT_EQ(cols[NameCol], 4);
  EXPECT_EQ(cols[BidCol], -1);

  // A quote source that cannot fill some kinds names their keys in any case; gaps close.
  cols = PlaceGridColumns(layout, 0, "volcol, NAMECOL");
  EXPECT_EQ(cols[VolCol], -1);
  EXPECT_EQ(cols[NameCol], -1);
  EXPECT_EQ(cols[LastCol], 2);

  cols = PlaceGridColumns(layout, 1, "LastCol");
  EXPECT_EQ(cols[ChartCol], -1);
  EXPECT_EQ(cols[LastCol], -1);
  EXPECT_EQ(cols[VolCol], 1);
  EXPECT_EQ(cols[NameCol], 2);
}

TEST(GridColumns, ChartSymbols) {
  for (const char* s : {"", "----", "total", "$cash"}) EXPECT_FALSE(IsChartSymbol(s)) << s;
  EXPECT_TRUE(IsChartSymbol("IBM"));
}

TEST(GridCells, CollectingGivesUpAtOnceWhileQuotesAreBeingWritten) {
  Seed("HELD", 10.0f, 9.0f, 100.0f);
  std::vector<GridRowData> rows(1);
  rows[0].Symbol = "UNTOUCHED";
  {
    LockHold writer(AddSnapLock, "TEST");
    ASSERT_TRUE(writer);
    // At once, not after a try-only wait of its own (1.6 s).
    const int64_t started = TickMs();
    EXPECT_FALSE(CollectRows({Row("HELD", 5, 8)}, rows));
    EXPECT_LT(TickMs() - started, 500);
  }
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].Symbol, "UNTOUCHED");
  ASSERT_TRUE(CollectRows({Row("HELD", 5, 8)}, rows));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_TRUE(rows[0].HasQuote);
  EXPECT_TRUE(rows[1].IsTotal);
  EXPECT_DOUBLE_EQ(rows[1].TotalValue, 50.0);
}

TEST(GridViews, DefaultFirstUnknownNamesAndBadSpecs) {
  Ini().EraseSection("Views");
  Ini().WriteString("Views", "Traders", "SymCol,BidCol,AskCol:3,Bogus,BidCol,LastSizeCol");
  Ini().WriteString("Views", "Default", "SymCol,LastCol");
  LoadViews();
  ASSERT_EQ(ViewNames.Count(), 2);
  EXPECT_EQ(ViewNames[0], "Default");
  EXPECT_EQ(ViewNames[1], "Traders");

  GlobVars g;
  // Unknown keys and a repeated kind are skipped; the style survives.
  EXPECT_EQ(ApplyView("traders", g), 4);
  EXPECT_EQ(g.CurView, "Traders");
  EXPECT_EQ(g.ColPos[AskCol], 2);
  EXPECT_EQ(g.ColStyle[AskCol], 3);
  EXPECT_EQ(g.ColPos[LastSizeCol], 3);
  // A name that does not exist gives the first view, and hides what the last one showed.
  EXPECT_EQ(ApplyView("No Such View", g), 2);
  EXPECT_EQ(g.CurView, "Default");
  EXPECT_EQ(g.ColPos[AskCol], -1);
  EXPECT_EQ(g.ColPos[LastCol], 1);

  // Without a "Default" key the built-in default is still first.
  Ini().EraseSection("Views");
  LoadViews();
  ASSERT_EQ(ViewNames.Count(), 1);
  EXPECT_EQ(ApplyView("Default", g), static_cast<int>(ParseViewColumns(DefaultViewText).size()));
  EXPECT_FALSE(IsUsableViewName("a=b", ViewNames));
  EXPECT_FALSE(IsUsableViewName("default", ViewNames));
  EXPECT_TRUE(IsUsableViewName("Mine", ViewNames));
}

TEST(GridCells, SortsKmbEndingsAsNumbersWithTotalLast) {
  double v = 0;
  ASSERT_TRUE(ParseSortNumber("1.5K", v));
  EXPECT_DOUBLE_EQ(v, 1500);
  ASSERT_TRUE(ParseSortNumber("-2.50M", v));
  EXPECT_DOUBLE_EQ(v, -2.5e6);
  ASSERT_TRUE(ParseSortNumber("+1,234.50", v));
  EXPECT_DOUBLE_EQ(v, 1234.5);
  ASSERT_TRUE(ParseSortNumber("25 1/2", v));
  EXPECT_DOUBLE_EQ(v, 25.5);
  EXPECT_FALSE(ParseSortNumber("B", v));
  EXPECT_FALSE(ParseSortNumber("IBM", v));
  EXPECT_LT(CompareCellTexts("999", "1.0K"), 0);
  EXPECT_LT(CompareCellTexts("5", "ABC"), 0);  // numbers before texts

  std::vector<GridRowData> rows;
  auto add = [&](const char* sym, double volume, bool quoted = true) {
    GridRowData r;
    r.Symbol = sym;
    r.HasQuote = quoted;
    r.Quote.Volume = static_cast<int64_t>(volume);
    rows.push_back(r);
  };
  add("K", 150000);
  add("SMALL", 950);
  GridRowData total;
  total.Symbol = "TOTAL";
  total.IsTotal = true;
  rows.push_back(total);
  add("B", 1.2e9);
  add("NONE", 0, false);
  add("M", 2.5e6);
  add("PLAIN", 99999);
  EXPECT_EQ(CellText(VolCol, rows[0]), "150.0K");
  EXPECT_EQ(CellText(VolCol, rows[3]), "1.20B");
  EXPECT_EQ(CellText(VolCol, rows[6]), "99,999");

  auto order = [&] {
    std::string s;
    for (const auto& r : rows) s += r.Symbol + " ";
    return s;
  };
  SortRows(rows, VolCol, true);
  EXPECT_EQ(order(), "B M K PLAIN SMALL NONE TOTAL ");
  SortRows(rows, VolCol, false);
  EXPECT_EQ(order(), "SMALL PLAIN K M B NONE TOTAL ");
  // Equal keys keep their order; texts compare without regard to case.
  SortRows(rows, SymCol, false);
  EXPECT_EQ(order(), "B K M NONE PLAIN SMALL TOTAL ");
}

TEST(StockGrid, HiddenGridFillsItsRowsUnderTwoViewsAndRedrawsPending) {
  Seed("IBM", 125.5f, 120.0f, 1234567.0f, 125.4f, 125.6f);
  Seed("TINY", 2.25f, 2.5f, 950.0f);
  const int port = AddPortfolio("Grid Test", "GRID1", {Row("IBM", 100, 100), Row("-----"), Row("TINY")});
  Ini().EraseSection("Views");
  Ini().WriteString("Views", "Gains", "SymCol,GainCol:1,ValueCol,VolCol,NameCol");
  LoadViews();

  GlobVars layout;
  TStockGrid grid;  // never shown: the print dialog's grid works the same way
  grid.Layout = &layout;
  grid.PortNumber = port;
  std::string symbols;
  grid.GetPort(symbols);
  EXPECT_EQ(symbols, "IBM,TINY");

  ApplyView("Default", layout);
  grid.ApplyLayout(false);
  grid.ShowStocks();
  Settle(grid);
  ASSERT_EQ(grid.RowCount(), 5);  // titles, IBM, separator, TINY, TOTAL
  EXPECT_EQ(grid.Cells(0, 0), "Symbol");
  EXPECT_EQ(Cell(grid, LastCol, "IBM"), "125.5");
  EXPECT_EQ(Cell(grid, ChangeCol, "IBM"), "+5.5");
  EXPECT_EQ(Cell(grid, PctChangeCol, "IBM"), "+4.58%");
  EXPECT_EQ(Cell(grid, VolCol, "IBM"), "1.23M");
  EXPECT_EQ(Cell(grid, BidCol, "IBM"), "125.4");
  EXPECT_EQ(Cell(grid, ChangeCol, "TINY"), "-0.25");
  EXPECT_EQ(Cell(grid, VolCol, "TINY"), "950");
  EXPECT_EQ(Cell(grid, LastCol, "-----"), "");
  EXPECT_EQ(grid.Cells(0, grid.RowCount() - 1), "TOTAL");

  ApplyView("Gains", layout);
  grid.ApplyLayout(false);
  grid.ShowStocks();
  Settle(grid);
  EXPECT_EQ(grid.ColCount(), 5);
  EXPECT_EQ(grid.Cells(1, 0), "Gain");
  EXPECT_EQ(grid.GridCol[LastCol], -1);
  EXPECT_EQ(Cell(grid, GainCol, "IBM"), "+2,550.00");
  EXPECT_EQ(Cell(grid, ValueCol, "IBM"), "12,550.00");
  EXPECT_EQ(Cell(grid, GainCol, "TINY"), "");  // no shares held
  EXPECT_EQ(Cell(grid, ValueCol, "TOTAL"), "12,550.00");

  // Sorting by a header click, then the other way round; TOTAL stays last.
  grid.SortByColumn(grid.GridCol[VolCol], false, true);
  Settle(grid);
  EXPECT_EQ(grid.Cells(0, 1), "TINY");
  grid.SortByColumn(grid.GridCol[VolCol], false, true);
  Settle(grid);
  EXPECT_EQ(grid.Cells(0, 1), "IBM");
  EXPECT_EQ(grid.Cells(0, grid.RowCount() - 1), "TOTAL");

  // A queued symbol is redrawn alone.
  SetPendingHandler(1, [&](const std::string& s) { grid.ShowStocks(s); });
  Seed("TINY", 3.0f, 2.5f, 1500.0f);
  ASSERT_TRUE(AddPendingSymbol(1, "TINY"));
  ShowPendingSymbols(1);
  Settle(grid);
  EXPECT_EQ(Cell(grid, VolCol, "TINY"), "1,500");
  // A queued held symbol moves the TOTAL row too, though TOTAL itself was not queued.
  Seed("IBM", 130.0f, 120.0f, 1234567.0f, 129.9f, 130.1f);
  ASSERT_TRUE(AddPendingSymbol(1, "IBM"));
  ShowPendingSymbols(1);
  Settle(grid);
  EXPECT_EQ(Cell(grid, ValueCol, "IBM"), "13,000.00");
  EXPECT_EQ(Cell(grid, ValueCol, "TOTAL"), "13,000.00");
  EXPECT_EQ(Cell(grid, GainCol, "TOTAL"), "+3,000.00");
  SetPendingHandler(1, {});

  // Compact mode closes the gaps of the kinds it hides.
  Ini().WriteString("Views", "Gains", "SymCol,ChartCol,NoteCol,VolCol");
  LoadViews();
  ApplyView("Gains", layout);
  grid.Mode = 1;
  grid.ApplyLayout(true);
  Settle(grid);
  EXPECT_EQ(grid.ColCount(), 2);
  EXPECT_EQ(grid.GridCol[VolCol], 1);
  EXPECT_EQ(grid.GridCol[ChartCol], -1);
}

TEST(StockGrid, DraggedColumnMovesInTheLayoutAndTheView) {
  Ini().EraseSection("Views");
  Ini().WriteString("Views", "Drag", "SymCol,LastCol,ChangeCol:1,VolCol");
  LoadViews();
  GlobVars layout;
  ApplyView("Drag", layout);
  // Right: Symbol onto Change; left: Volume onto Last.
  EXPECT_TRUE(MoveLayoutColumn(layout, SymCol, ChangeCol));
  EXPECT_EQ(FormatViewColumns(ViewColumnSets[static_cast<size_t>(ViewNames.IndexOf("Drag"))]),
            "LastCol,ChangeCol:1,SymCol,VolCol");
  EXPECT_TRUE(MoveLayoutColumn(layout, VolCol, LastCol));
  EXPECT_EQ(layout.ColPos[VolCol], 0);
  EXPECT_EQ(layout.ColPos[LastCol], 1);
  EXPECT_EQ(layout.ColPos[SymCol], 3);
  EXPECT_FALSE(MoveLayoutColumn(layout, NameCol, LastCol));  // not shown

  // Through the widget: the header's move reorders the grid's columns.
  TStockGrid grid;
  grid.Layout = &layout;
  grid.ApplyLayout(false);
  ASSERT_EQ(grid.Cells(0, 0), "Volume");
  grid.horizontalHeader()->moveSection(0, 2);
  EXPECT_EQ(grid.Cells(0, 0), "Last");
  EXPECT_EQ(grid.Cells(1, 0), "Change");
  EXPECT_EQ(grid.Cells(2, 0), "Volume");
  EXPECT_EQ(grid.horizontalHeader()->visualIndex(0), 0);
}

namespace {
// A hidden grid on the default view over its own portfolio.
struct TestGrid {
  GlobVars layout;
  TStockGrid grid;
  TestGrid(const char* id, std::vector<PortRowRec> rows) {
    grid.Layout = &layout;
    grid.PortNumber = AddPortfolio(id, id, std::move(rows));
    std::string symbols;
    grid.GetPort(symbols);
    ApplyView("Default", layout);
    grid.ApplyLayout(false);
    grid.ShowStocks();
    Settle(grid);
  }
  ~TestGrid() {
    LockHold hold(PortLock, "TEST");
    PortList.clear();
  }
};
}  // namespace

TEST(StockGrid, FillsRequestedDuringAFillMergeIntoOneFollowUp) {
  Seed("MRGA", 1.0f, 1.0f, 10.0f);
  Seed("MRGB", 2.0f, 2.0f, 10.0f);
  Seed("MRGC", 3.0f, 3.0f, 10.0f);
  TestGrid t("MERGE1", {Row("MRGA"), Row("MRGB"), Row("MRGC")});
  TStockGrid& grid = t.grid;
  const int before = grid.FillsApplied.load();
  Seed("MRGB", 2.5f, 2.0f, 10.0f);
  Seed("MRGC", 3.5f, 3.0f, 10.0f);
  grid.ShowStocks("|MRGA|");
  // That fill hands its texts over on this thread, so it is still running meanwhile.
  for (int i = 0; i < 5000 && !grid.Filling; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(grid.Filling.load());
  grid.ShowStocks("|MRGB|");
  grid.ShowStocks("|MRGC|");
  Settle(grid);
  EXPECT_EQ(grid.FillsApplied.load() - before, 2);
  EXPECT_EQ(Cell(grid, LastCol, "MRGB"), "2.5");
  EXPECT_EQ(Cell(grid, LastCol, "MRGC"), "3.5");
}

TEST(StockGrid, FillGivenUpWhileQuotesAreWrittenIsAskedForAgain) {
  Seed("RTRY", 10.0f, 9.0f, 100.0f);
  TestGrid t("RETRY1", {Row("RTRY"), Row("RTRZ")});
  TStockGrid& grid = t.grid;
  EXPECT_EQ(Cell(grid, LastCol, "RTRY"), "10");
  EXPECT_FALSE(grid.RetryDroppedFill());
  Seed("RTRY", 11.0f, 9.0f, 100.0f);
  {
    LockHold writer(AddSnapLock, "TEST");
    grid.ShowStocks("|RTRY|");
    Settle(grid);
  }
  EXPECT_EQ(Cell(grid, LastCol, "RTRY"), "10");
  EXPECT_TRUE(grid.RetryDroppedFill());
  Settle(grid);
  EXPECT_EQ(Cell(grid, LastCol, "RTRY"), "11");
  EXPECT_FALSE(grid.RetryDroppedFill());
}

TEST(GridCells, MoneyComesFromThePricesShownAndCashIsWorthItsAmount) {
  Seed("CSHX", 12.0f, 11.0f, 100.0f);
  std::vector<GridRowData> rows;
  ASSERT_TRUE(CollectRows({Row("CSHX", 10, 10), Row("$CASH", 2500)}, rows));
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(CellText(CostCol, rows[1]), "2,500.00");
  EXPECT_EQ(CellText(ValueCol, rows[1]), "2,500.00");
  EXPECT_EQ(CellText(GainCol, rows[1]), "0.00");
  EXPECT_EQ(CellSign(GainCol, rows[1]), 0);
  // The total holds the cash at cost and value, and only the stock's gain.
  EXPECT_EQ(CellText(CostCol, rows[2]), "2,600.00");
  EXPECT_EQ(CellText(ValueCol, rows[2]), "2,620.00");
  EXPECT_EQ(CellText(GainCol, rows[2]), "+20.00");
  EXPECT_EQ(CellText(PctGainCol, rows[2]), "+0.77%");

  // Money from the prices as shown: 200 at 513.66 is 102,732.00, whatever the single-precision
  // price holds; TOTAL is the sum of the rows as shown.
  Seed("CENTS", 513.66f, 510.0f, 100.0f);
  for (const char* s : {"RA", "RB", "RC"}) Seed(s, 1.2345f, 1.0f, 100.0f);
  ASSERT_TRUE(CollectRows({Row("CENTS", 200, 500)}, rows));
  EXPECT_EQ(CellText(ValueCol, rows[0]), "102,732.00");
  EXPECT_EQ(CellText(GainCol, rows[0]), "+2,732.00");
  EXPECT_EQ(CellText(VChangeCol, rows[0]), "+732.00");
  ASSERT_TRUE(CollectRows({Row("RA", 1), Row("RB", 1), Row("RC", 1)}, rows));
  EXPECT_EQ(CellText(ValueCol, rows[0]), "1.23");
  EXPECT_EQ(CellText(ValueCol, rows[3]), "3.69");
}

TEST(GridViews, AViewWithoutColumnsIsRefusedAndNeverBlanksTheGrid) {
  EXPECT_FALSE(ViewColumnsProblem({}).empty());
  EXPECT_EQ(ViewColumnsProblem(ParseViewColumns("SymCol")), "");
  // Stored so before (or by hand): after a restart the grid still has columns and a header.
  Ini().EraseSection("Views");
  Ini().WriteString("Views", "Blank", "");
  Ini().WriteString("Views", "Junk", "NoSuchCol,AlsoNot");
  LoadViews();
  GlobVars layout;
  const int defaultColumns = ApplyView("Default", layout);
  for (const char* name : {"Blank", "Junk"}) {
    EXPECT_EQ(ApplyView(name, layout), defaultColumns) << name;
    EXPECT_EQ(layout.CurView, name);
    EXPECT_EQ(layout.ColPos[SymCol], 0) << name;
  }
  Ini().EraseSection("Views");
  LoadViews();
}

TEST(StockGrid, TheSelectionFollowsItsSymbolAndColumnsFitTheirTexts) {
  Seed("SELA", 10.0f, 9.0f, 100.0f);
  Seed("SELB", 20.0f, 19.0f, 100.0f);
  Seed("SELC", 30.0f, 29.0f, 100.0f);
  Seed("SELWIDE", 513.66f, 510.0f, 123456789.0f);
  const int port = AddPortfolio("Select", "SELECT1",
                                {Row("SELA", 1, 1), Row("SELB", 1, 1), Row("SELC", 1, 1), Row("SELWIDE", 200000, 1)});
  Ini().EraseSection("Views");
  Ini().WriteString("Views", "Money", "SymCol,LastCol,RangeCol,ValueCol,GainCol:1,VolCol");
  LoadViews();
  GlobVars layout;  // no widths stored
  TStockGrid grid;
  grid.Layout = &layout;
  grid.PortNumber = port;
  std::string symbols;
  grid.GetPort(symbols);
  ApplyView("Money", layout);
  grid.ApplyLayout(false);
  grid.SortCol = LastCol;
  grid.SortDown = true;
  grid.resize(900, 300);
  grid.show();
  grid.ShowStocks();
  Settle(grid);
  ASSERT_EQ(grid.Cells(0, 3), "SELB");

  // Each column fits its title and its widest text.
  const QFontMetrics titles(grid.horizontalHeader()->font());
  QFont bold = grid.font();
  bold.setBold(true);
  for (int c = 0; c < grid.ColCount(); ++c) {
    const QFontMetrics cells(grid.KindAt(c) == GainCol ? bold : grid.font());
    EXPECT_GE(grid.columnWidth(c), titles.horizontalAdvance(QString::fromStdString(grid.Cells(c, 0)))) << c;
    for (int r = 1; r < grid.RowCount(); ++r)
      EXPECT_GE(grid.columnWidth(c), cells.horizontalAdvance(QString::fromStdString(grid.Cells(c, r))))
          << grid.Cells(c, 0) << " " << grid.Cells(c, r);
  }

  // A click on SELB, then the prices move it to the top: the selection goes with it.
  const QRect at = grid.visualRect(grid.model()->index(2, 0));
  QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, at.center());
  ASSERT_EQ(grid.CurrentSymbol(), "SELB");
  Seed("SELB", 900.0f, 19.0f, 100.0f);
  grid.ShowStocks();
  Settle(grid);
  ASSERT_EQ(grid.Cells(0, 1), "SELB");
  EXPECT_EQ(grid.CurrentSymbol(), "SELB");
  const QModelIndexList selected = grid.selectionModel()->selectedRows();
  ASSERT_EQ(selected.size(), 1);
  EXPECT_EQ(selected[0].row(), 0);
  // A streamed quote fills only its row: its wider text widens the column, and a full fill
  // afterwards finds nothing the partial one missed.
  const int lastCol = grid.GridCol[LastCol];
  const int narrow = grid.columnWidth(lastCol);
  Seed("SELA", 98765.4f, 9.0f, 100.0f);
  grid.ShowStocks("|SELA|");
  Settle(grid);
  EXPECT_GT(grid.columnWidth(lastCol), narrow);
  std::vector<int> widths;
  for (int c = 0; c < grid.ColCount(); ++c) widths.push_back(grid.columnWidth(c));
  grid.ShowStocks();
  Settle(grid);
  for (int c = 0; c < grid.ColCount(); ++c) EXPECT_EQ(grid.columnWidth(c), widths[static_cast<size_t>(c)]) << c;
  // A width the user gave is kept.
  grid.horizontalHeader()->resizeSection(grid.GridCol[VolCol], 33);
  grid.ShowStocks();
  Settle(grid);
  EXPECT_EQ(grid.columnWidth(grid.GridCol[VolCol]), 33);
  EXPECT_EQ(layout.ColWidth[VolCol], 33);
  Ini().EraseSection("Views");
  LoadViews();
}

// One symbol in two lots and once more in lower case: every row keeps its own holding through
// partial fills, under every sort, and the rows add up to TOTAL.
TEST(StockGrid, SameSymbolTwice) {
  Seed("TWIN", 50.0f, 49.0f, 1000.0f);
  Seed("OTHR", 10.0f, 9.0f, 1000.0f);
  auto lot = [](const char* symbol, double shares, double base, const char* note) {
    PortRowRec r = Row(symbol, shares, base);
    r.Note = note;
    return r;
  };
  const int port = AddPortfolio("Twice", "TWICE1",
                                {lot("TWIN", 100, 40, "lot one"), lot("OTHR", 10, 5, "other"),
                                 lot("TWIN", 300, 45, "lot two"), lot("twin", 7, 30, "lower")});
  Ini().EraseSection("Views");
  Ini().WriteString("Views", "Lots", "SymCol,LastCol,SharesCol,BaseCol,ValueCol,NoteCol");
  LoadViews();
  GlobVars layout;
  TStockGrid grid;
  grid.Layout = &layout;
  grid.PortNumber = port;
  std::string symbols;
  grid.GetPort(symbols);
  ApplyView("Lots", layout);
  grid.ApplyLayout(false);
  SetPendingHandler(1, [&](const std::string& s) { grid.ShowStocks(s); });

  // Each row: its note names its shares and price paid; the values add up to TOTAL.
  auto check = [&](const char* when) {
    SCOPED_TRACE(when);
    const std::map<std::string, std::pair<std::string, std::string>> lots = {
        {"lot one", {"100", "40"}}, {"lot two", {"300", "45"}}, {"lower", {"7", "30"}}, {"other", {"10", "5"}}};
    std::set<std::string> seen;
    double sum = 0;
    ASSERT_EQ(grid.RowCount(), 6);
    for (int r = 1; r < grid.RowCount() - 1; ++r) {
      const std::string note = grid.Cells(grid.GridCol[NoteCol], r);
      ASSERT_TRUE(lots.count(note)) << note;
      seen.insert(note);
      EXPECT_EQ(grid.Cells(grid.GridCol[SharesCol], r), lots.at(note).first) << note;
      EXPECT_EQ(grid.Cells(grid.GridCol[BaseCol], r).rfind(lots.at(note).second, 0), 0u) << note;
      std::string value = grid.Cells(grid.GridCol[ValueCol], r);
      value.erase(std::remove(value.begin(), value.end(), ','), value.end());
      sum += std::stod(value);
    }
    EXPECT_EQ(seen.size(), 4u);
    std::string total = grid.Cells(grid.GridCol[ValueCol], grid.RowCount() - 1);
    total.erase(std::remove(total.begin(), total.end(), ','), total.end());
    EXPECT_NEAR(sum, std::stod(total), 0.005);
  };
  // A quote of TWIN arrives and is queued: a partial fill of the three TWIN rows.
  auto tick = [&](float last) {
    Seed("TWIN", last, 49.0f, 1000.0f);
    ASSERT_TRUE(AddPendingSymbol(1, "TWIN"));
    ShowPendingSymbols(1);
    Settle(grid);
  };
  for (int sortKind : {-1, int(LastCol), int(SymCol)}) {
    grid.SortCol = sortKind;
    grid.SortDown = sortKind == LastCol;
    grid.ShowStocks();
    Settle(grid);
    check("full fill");
    tick(51.0f);
    check("partial fill");
    tick(52.5f);
    EXPECT_EQ(Cell(grid, LastCol, "TWIN"), "52.5");
    check("second partial fill");
  }
  SetPendingHandler(1, {});
  Ini().EraseSection("Views");
  LoadViews();
}

// Every figure below was worked out by hand from the prices as quoted.
TEST(PortfolioMath, ShortsHalfCentsNoQuoteRowsAndChanges) {
  Seed("PMHALF", 346.89f, 340.0f, 100.0f);
  Seed("PMBIG", 12345.67f, 12000.0f, 100.0f);
  Seed("PMSHRT", 49.77f, 50.0f, 100.0f);
  Seed("PMSHLS", 20.018f, 20.0f, 100.0f);
  Seed("PMNOISE", 1234.56f, 1230.21f, 100.0f);  // 1234.56f - 1230.21f is 4.3500977 in floats
  struct Case {
    PortRowRec Row;
    const char *Cost, *Value, *Gain, *PctGain, *Change, *VChange;
  };
  const Case cases[] = {
      // 35.5 x 346.89 = 12,314.595: the half cent goes up.
      {Row("PMHALF", 35.5, 340), "12,070.00", "12,314.60", "+244.60", "+2.03%", "+6.89", "+244.60"},
      // 3 x 12,345.67 = 37,037.01, not from the 12,345.7 shown.
      {Row("PMBIG", 3, 12000), "36,000.00", "37,037.01", "+1,037.01", "+2.88%", "+345.67", "+1,037.01"},
      // Short 100 from 50.00 to 49.77: a gain of 23.00 on 5,000.00 at stake.
      {Row("PMSHRT", -100, 50), "-5,000.00", "-4,977.00", "+23.00", "+0.46%", "-0.23", "+23.00"},
      // Short 100 from 20.00 to 20.018: a loss of 1.80 on 2,000.00.
      {Row("PMSHLS", -100, 20), "-2,000.00", "-2,001.80", "-1.80", "-0.09%", "+0.018", "-1.80"},
      {Row("PMNOISE", 100, 1200), "120,000.00", "123,456.00", "+3,456.00", "+2.88%", "+4.35", "+435.00"},
      // Never quoted: its cost shows, but it counts in no sum of TOTAL.
      {Row("PMNOQ", 10, 5), "50.00", "", "", "", "", ""},
  };
  std::vector<PortRowRec> portRows;
  for (const Case& c : cases) portRows.push_back(c.Row);
  std::vector<GridRowData> rows;
  ASSERT_TRUE(CollectRows(portRows, rows));
  ASSERT_EQ(rows.size(), std::size(cases) + 1);
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.Row.Symbol);
    EXPECT_EQ(CellText(CostCol, rows[i]), c.Cost);
    EXPECT_EQ(CellText(ValueCol, rows[i]), c.Value);
    EXPECT_EQ(CellText(GainCol, rows[i]), c.Gain);
    EXPECT_EQ(CellText(PctGainCol, rows[i]), c.PctGain);
    EXPECT_EQ(CellText(ChangeCol, rows[i]), c.Change);
    EXPECT_EQ(CellText(VChangeCol, rows[i]), c.VChange);
  }
  // 12,070 + 36,000 - 5,000 - 2,000 + 120,000 = 161,070.00; the values sum to 165,828.81.
  const GridRowData& total = rows.back();
  ASSERT_TRUE(total.IsTotal);
  EXPECT_EQ(CellText(CostCol, total), "161,070.00");
  EXPECT_EQ(CellText(ValueCol, total), "165,828.81");
  EXPECT_EQ(CellText(GainCol, total), "+4,758.81");
  EXPECT_EQ(CellText(PctGainCol, total), "+2.95%");
  EXPECT_EQ(CellText(VChangeCol, total), "+1,737.81");
  EXPECT_EQ(total.TotalLeftOut, 1);

  // Shorts alone: 21.20 gained on 7,000.00 at stake.
  ASSERT_TRUE(CollectRows({cases[2].Row, cases[3].Row}, rows));
  EXPECT_EQ(CellText(GainCol, rows.back()), "+21.20");
  EXPECT_EQ(CellText(PctGainCol, rows.back()), "+0.30%");
  EXPECT_EQ(rows.back().TotalLeftOut, 0);

  // The stored change is what every reader (the quote server too) gets, and the portfolio
  // values are the grid's sums.
  StockQuote q;
  {
    LockHold hold(AddSnapLock, "TEST");
    ASSERT_GE(GetStockQuote("PMNOISE", q), 0);
  }
  EXPECT_EQ(q.Change, static_cast<double>(4.35f));
  EXPECT_EQ(HoldingValue(35.5, 346.89f) + HoldingValue(3, 12345.67f), 12314.60 + 37037.01);
}

// Worked by hand: amounts are rounded to the cent, percentages divided from the exact figures.
TEST(PortfolioMath, PercentagesFromExactFiguresCommissionsHalfAway) {
  Seed("PXTINY", 344.46f, 340.0f, 100.0f);
  Seed("PXPENNY", 0.0062f, 0.006f, 100.0f);
  Seed("PXCOMA", 10.5f, 10.0f, 100.0f);
  Seed("PXCOMB", 2.5f, 2.5f, 100.0f);
  Seed("PXTIE", 8.0004f, 8.0f, 100.0f);  // a change of 0.0004 on 8: exactly 0.005 %
  auto withCommission = [](const char* symbol, double shares, double base, double commission) {
    PortRowRec r = Row(symbol, shares, base);
    r.Commission = commission;
    return r;
  };
  struct Case {
    PortRowRec Row;
    const char *Comm, *Cost, *Value, *Gain, *PctGain;
  };
  const Case cases[] = {
      // 0.001 x 100 = 0.10 at stake; 0.001 x 344.46 = 0.34446: 0.24446 / 0.10 is 244.46 %,
      // though the rounded 0.24 on 0.10 would say 240 %.
      {Row("PXTINY", 0.001, 100), "", "0.10", "0.34", "+0.24", "+244.46%"},
      // 0.1 x 0.005 = 0.0005 at stake shows as 0.00, but is no zero: 0.1 x 0.0062 = 0.00062,
      // and 0.00012 / 0.0005 is 24 %.
      {Row("PXPENNY", 0.1, 0.005), "", "0.00", "0.00", "0.00", "+24.00%"},
      // 10 x 10 + 1.005 = 101.005: 101.01; 105.00 - 101.01 = 3.99; 3.995 / 101.005 is 3.955...%.
      {withCommission("PXCOMA", 10, 10, 1.005), "1.01", "101.01", "105.00", "+3.99", "+3.96%"},
      // 100 x 2 + 0.015 = 200.015: 200.02; 250.00 - 200.02 = 49.98; 49.985 / 200.015 is 24.99...%.
      {withCommission("PXCOMB", 100, 2, 0.015), "0.02", "200.02", "250.00", "+49.98", "+24.99%"},
  };
  std::vector<PortRowRec> portRows;
  for (const Case& c : cases) portRows.push_back(c.Row);
  portRows.push_back(Row("PXTIE"));
  std::vector<GridRowData> rows;
  ASSERT_TRUE(CollectRows(portRows, rows));
  ASSERT_EQ(rows.size(), std::size(cases) + 2);
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.Row.Symbol);
    EXPECT_EQ(CellText(CommCol, rows[i]), c.Comm);
    EXPECT_EQ(CellText(CostCol, rows[i]), c.Cost);
    EXPECT_EQ(CellText(ValueCol, rows[i]), c.Value);
    EXPECT_EQ(CellText(GainCol, rows[i]), c.Gain);
    EXPECT_EQ(CellText(PctGainCol, rows[i]), c.PctGain);
    EXPECT_EQ(CellSign(PctGainCol, rows[i]), 1);
  }
  // % Change from the exact change: 0.0004 / 8 is 0.005 %, half away from zero 0.01 %.
  EXPECT_EQ(CellText(PctChangeCol, rows[4]), "+0.01%");
  // 10.5 on 10.0 is 5 %; no change on 2.5 is 0 %.
  EXPECT_EQ(CellText(PctChangeCol, rows[2]), "+5.00%");
  EXPECT_EQ(CellText(PctChangeCol, rows[3]), "0.00%");

  // TOTAL sums the rows as shown: 0.10 + 0.00 + 101.01 + 200.02 = 301.13 at cost and
  // 0.34 + 0.00 + 105.00 + 250.00 = 355.34 in value; its % Gain comes from the exact sums,
  // 355.34508 - 301.1205 = 54.22458 on 301.1205: 18.0076 %, not 54.21 / 301.13 = 18.0022 %.
  const GridRowData& total = rows.back();
  ASSERT_TRUE(total.IsTotal);
  EXPECT_EQ(CellText(CostCol, total), "301.13");
  EXPECT_EQ(CellText(ValueCol, total), "355.34");
  EXPECT_EQ(CellText(GainCol, total), "+54.21");
  EXPECT_EQ(CellText(PctGainCol, total), "+18.01%");

  // Every money column rounds half away from zero.
  EXPECT_EQ(MoneyText(-1.005), "-1.01");
  EXPECT_EQ(MoneyText(2.675), "2.68");
}
