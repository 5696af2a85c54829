#pragma once
// What a grid row shows: the data of one portfolio row collected from the symbol table, the
// text of each column kind, and the order of rows when sorted by a column.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/add_snap.h"
#include "core/portfolios.h"
#include "core/text_helpers.h"

// No quote is too old.
inline constexpr int64_t AnyQuote = INT64_MIN;

struct GridRowData {
  std::string Symbol;
  bool Separator = false;  // a row of dashes
  bool IsTotal = false;    // the "TOTAL" row, always last
  bool HasQuote = false;
  StockQuote Quote;
  std::string TickMark;
  bool HasFund = false;
  FundQuote Fund;
  bool HasRow = false;  // portfolio fields present
  PortRowRec Row;
  int NewNews = 0;
  double NewsAgeDays = -1;  // age of the newest unread headline; -1 when none
  // Sums of the TOTAL row; a row holding shares without a quote counts in neither sum and is
  // counted in TotalLeftOut.
  double TotalCost = 0, TotalValue = 0, TotalVChange = 0;
  ExactMoney TotalExactCost, TotalExactValue;  // the same before rounding, for its % Gain
  int TotalLeftOut = 0;
};

// Collects the rows of these portfolio rows from the symbol table and adds the "TOTAL" row
// when any row holds shares. The quotes are read under AddSnapLock, tried without waiting;
// false (out untouched) when a writer holds it. A quote the program received before the tick
// receivedSince (TickMs; one loaded from the last run's dump always) counts as none, so a
// report prints no old quote as if current.
bool CollectRows(const std::vector<PortRowRec>& rows, std::vector<GridRowData>& out, bool addTotal = true,
                 int64_t receivedSince = AnyQuote);
void AddTotalRow(std::vector<GridRowData>& rows);

// The text a column kind shows for a row.
std::string CellText(int kind, const GridRowData& row);
// +1 when the kind's value rose for the row, -1 when it fell, 0 otherwise (for sign colours).
int CellSign(int kind, const GridRowData& row);

// Volumes as "12,345", "123.4K", "12.35M", "1.23B".
std::string VolumeText(double volume);
// Amounts with grouping and two decimals ("-1,234.50").
std::string MoneyText(double amount);

// Reads a cell text as a number: grouping commas, "$", "%", "+" and blanks are ignored, a
// K, M or B ending multiplies by a thousand, a million or a billion, fractions ("25 1/2") are
// read. False when the text is no number.
bool ParseSortNumber(std::string_view text, double& value);
// Numbers compare as numbers and come before texts; texts compare without regard to case.
int CompareCellTexts(std::string_view a, std::string_view b);
// Orders rows by the column kind, from the largest down when down is set. Rows with an empty
// text follow the others and the "TOTAL" row stays last; equal rows keep their order.
void SortRows(std::vector<GridRowData>& rows, int kind, bool down);
// The same order for rows given by their texts of the sorted kind (total: the row is the
// "TOTAL" row): the row indexes in their new order.
std::vector<size_t> SortOrder(const std::vector<std::string>& texts, const std::vector<char>& total, bool down);
