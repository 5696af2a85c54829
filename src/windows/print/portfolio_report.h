#pragma once
// The portfolio report: per ticked portfolio a centred title block and one table in the
// columns of the chosen view, filled from a hidden quote grid and recorded on a page printer.
//
// The report's own column names and the grid kinds they are:
//   ValCol = ValueCol, LastVolCol = LastSizeCol, NumTradesCol = TradesCol; EarnCol, PECol,
//   MktCapCol, DvndCol and YieldCol are the numeric fundamentals Fund1Col..Fund7Col (which
//   value sits where is the fundamentals site's choice, so all seven are right-aligned);
//   AvgTradeCol, AvgVolCol, VolPCol and ExchCol have no grid column and never appear.
#include <atomic>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "windows/print/page_printer.h"
#include "windows/print/print_settings.h"

class TStockGrid;

// What the print dialog hands to the report: the ticked names in list order, the view and the
// dialog's settings (sort title and direction, font size, cell spacing, margins, new page).
struct ReportChoices {
  std::vector<std::string> Portfolios;
  std::string View = "Default";
  PrintDialogSettings Options;
};

// Kinds printed right-aligned in data rows.
bool IsRightAlignedKind(int kind);
// The kind whose text is the second value of a split column: "Gain" with "% Gain", "Value
// Change" with "% Change"; -1 for a kind that is not split.
int SplitPartnerKind(int kind);
// A margin up-down's position in inches (10 gives 0.5833).
double MarginInches(int position);
// Kinds whose text comes from the symbol's quote.
bool IsQuoteKind(int kind);
// What a row whose quote could not be fetched shows in its first quote cell.
inline constexpr const char* NoQuoteText = "No quote";

// One portfolio's table as the grid shows it, ready to be measured.
struct ReportInput {
  std::string PortName;
  std::vector<int> Kinds;                          // printed columns, in grid order
  std::vector<std::vector<std::string>> Cells;     // per data row, per printed column
  std::vector<std::vector<std::string>> Partners;  // the same for the second value of split kinds
};
// How a table is measured and fitted. Widths are whole device pixels (a text's width rounded
// up, so it always fits its cell) and reach the page printer in its measure unit.
struct ReportSizing {
  std::function<double(const std::string& text, bool bold)> Measure;  // device pixels
  std::function<double(int pixels)> ToUnit;                           // the measure unit
  int Pad = 0;        // added to every column and to both parts of split columns
  int SepWidth = 4;   // a gap column, before the pad
  int Available = 0;  // the printable width; 0: unbounded
};
struct ReportTable {
  std::vector<TableCell> Header;
  std::string HeaderFormat;
  std::vector<std::vector<TableCell>> Rows;
  std::vector<std::string> RowFormats;
  int Width = 0;  // device pixels
  // False when even the narrowest form of the table is wider than the available width; Scale
  // is then the factor that form must shrink by.
  bool Fits = true;
  double Scale = 1;
};
// Lays out the header and data rows. Each column is as wide as its widest text (its title
// never wraps); when the columns exceed the available width, columns with long texts narrow
// down to their longest word (a free text's to at most a third of the width), so their texts
// wrap in the cell; numbers never break.
ReportTable BuildReportTable(const ReportInput& input, const ReportSizing& sizing);

class TPortfolioReport {
public:
  // The printer's font and cell spacing now are the ones every report and every title block
  // start from, so the same choices always give the same pages.
  TPortfolioReport(TPagePrinter& printer, TStockGrid& grid)
      : pp_(printer), grid_(grid), baseFont_(printer.Font()), basePadX_(printer.PadCellX), basePadY_(printer.PadCellY) {}
  // Records every ticked portfolio (or the "Pick portfolio(s) to print." page) and shows page 1.
  // Throws what recording throws; the recording is ended either way. False when a report was
  // running already (the event processing of its waits let a second one in).
  bool GeneratePreview(const ReportChoices& choices);
  // Appends one portfolio; false when no portfolio has that name (nothing is printed).
  bool PrintPortfolio(const std::string& name, const ReportChoices& choices);
  // Applies the view to the grid's layout record and places its columns; the kinds shown.
  std::vector<int> LayoutView(const std::string& view);
  bool Running() const { return running_; }

  const std::atomic<bool>* Cancel = nullptr;  // ends the waits for quotes and for the grid
  int FillTimeoutMs = 25000;
  int QuoteTimeoutMs = 25000;

  // The number of the portfolio with exactly this name and its row count; 0 when none.
  static int FindPortfolio(const std::string& name, size_t& rows);

  // The symbols (upper-cased) that have no quote in the symbol table that the program received
  // at or after the tick receivedSince (TickMs).
  static std::set<std::string> WithoutQuote(const std::vector<std::string>& symbols, int64_t receivedSince);

private:
  // Has the main window's fetch worker fetch these now and waits for it (bounded).
  void FetchQuotes(const std::set<std::string>& symbols);
  void FillGrid(int portNumber, size_t expectedRows);
  TPagePrinter& pp_;
  TStockGrid& grid_;
  QFont baseFont_;
  double basePadX_;
  int basePadY_;
  bool running_ = false;
  int64_t receivedSince_ = 0;
};
