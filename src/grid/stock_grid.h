#pragma once
// The quote grid: a thin view over the texts that its row-filling thread computes from the
// symbol table (grid_cells.h), laid out by a GlobVars record and the current view.
#include <QTableView>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/portfolios.h"
#include "core/settings.h"
#include "grid/grid_cells.h"

class QLabel;
class GridModel;
class GridRowThread;

// Links to the windows above the grid; unset entries do nothing.
struct GridHookTable {
  std::function<void(const std::string& symbol)> OpenChart;
  // The news window's SelectSymbol, for a double click on a symbol with news.
  std::function<void(const std::string& symbol)> SelectNewsSymbol;
  // A right click: the main window shows its pop-up menu there.
  std::function<void(const std::string& symbol, const QPoint& globalPos)> Popup;
};
extern GridHookTable GridHooks;

// The symbol the main window's pop-up commands act on (main thread); empty: the grid's
// current symbol. A chart window sets it before it calls those commands.
extern std::string PopupSymbol;

class TStockGrid : public QTableView {
public:
  explicit TStockGrid(QWidget* owner = nullptr);
  ~TStockGrid() override;

  GlobVars* Layout;                // the layout record it draws from (default LiveSettings)
  std::array<int, ColKindCount> GridCol{};  // grid column of each kind, -1 when not shown
  int PortNumber = 1;              // the grid's portfolio, from 1
  int SortCol = -1;                // the kind sorted by, -1: no sorting
  bool SortDown = false;           // set: rows from the largest value down
  std::atomic<bool> Filling{false};  // the row-filling thread is at work
  QLabel* Label = nullptr;         // for measuring text
  int Mode = 0;                    // 1: compact (some kinds hidden)
  // Quotes received before this tick (TickMs), and those of the last run, show as none.
  int64_t ReceivedSince = AnyQuote;
  int TotalLeftOut = 0;            // rows the last fill left out of TOTAL (no quote)

  // The string grid: column count, row count (with the title row) and texts.
  int ColCount() const;
  int RowCount() const;
  std::string Cells(int col, int row) const;
  // The kind shown in a grid column; -1 when none.
  int KindAt(int col) const;

  void PlaceColumns();
  void ApplyLayout(bool resort);
  // Refills the grid's symbol list from its portfolio; its symbols as a comma list, no duplicates.
  void GetPort(std::string& symbols);
  // Sets the grid's rows directly (grids that show no portfolio).
  void SetRows(std::vector<PortRowRec> rows);
  // Fills the rows of these symbols ("|A||B|" or "A,B"; empty: all of the grid's rows).
  void ShowStocks(const std::string& symbols = std::string());
  // Sorts by a grid column (-1 turns sorting off). A click on the sorted column turns the
  // direction round unless force is set.
  void SortByColumn(int column, bool force, bool click);
  void OpenChart(const std::string& symbol);
  // The symbol of the current row; empty when none.
  std::string CurrentSymbol() const;
  // Fills requested and not yet shown.
  bool Busy() const;
  // Asks again for a fill that was given up because the quotes were being written; the
  // housekeeping timer calls it. True when one was waiting.
  bool RetryDroppedFill();
  std::atomic<int> FillsApplied{0};  // fills handed over to the view

protected:
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void contextMenuEvent(QContextMenuEvent* e) override;

private:
  friend class GridRowThread;
  struct FillRequest;
  struct FillResult;
  void ApplyFill(const FillRequest& req, FillResult& result);
  // Returns the rows whose texts it changed in place (a full fill that brings another row count
  // resets the model and fits the columns itself).
  std::vector<size_t> ApplyRows(const FillRequest& req, FillResult& result);
  // Sets the grid's column widths from the layout record; a kind without a stored width (0)
  // fits its title and its widest text.
  void ApplyColumnWidths();
  // Widens the columns without a stored width to fit their texts. Widths only grow, so after a
  // partial fill only the rows it changed are measured (changed); else every row is.
  void FitColumns(const std::vector<size_t>* changed = nullptr);
  int FitWidth(int kind, int col, const std::vector<size_t>* changed = nullptr) const;
  std::string SymbolAt(int row) const;

  GridModel* model_ = nullptr;
  bool layingOut_ = false;  // widths set by the grid itself are not the user's
  std::unique_ptr<GridRowThread> thread_;
  std::mutex rowsMutex_;
  // The grid's list of symbols, under rowsMutex_; shared with the fills that use it.
  std::shared_ptr<const std::vector<PortRowRec>> rows_;
};
