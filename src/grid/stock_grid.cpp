#include "grid/stock_grid.h"

#include <QAbstractTableModel>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QSignalBlocker>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>

#include <algorithm>
#include <condition_variable>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "core/branding.h"
#include "core/locks.h"
#include "core/log.h"
#include "core/mini_chart.h"
#include "core/news.h"
#include "core/sites.h"
#include "core/symbols.h"
#include "grid/grid_cells.h"
#include "grid/grid_columns.h"
#include "grid/grid_views.h"
#include "platform/messages.h"
#include "platform/string_list.h"
#include "platform/thread.h"

GridHookTable GridHooks;
std::string PopupSymbol;

namespace {
// A row's cells in one string, each cell its sign mark ('+', '-' or ' ') and its text ended by
// '\x1f': a grid of a million rows costs one allocation per row, not one per cell.
constexpr char CellEnd = '\x1f';

void AppendCell(std::string& row, std::string_view text, int sign) {
  row += sign > 0 ? '+' : sign < 0 ? '-' : ' ';
  row += text;
  row += CellEnd;
}

// The cell's text and sign; empty and 0 past the row's cells.
std::string_view CellOf(std::string_view row, size_t col, int* sign = nullptr) {
  size_t start = 0;
  for (size_t c = 0; c < col; ++c) {
    const size_t end = row.find(CellEnd, start);
    if (end == std::string_view::npos) return {};
    start = end + 1;
  }
  const size_t end = row.find(CellEnd, start);
  if (start >= row.size() || end == std::string_view::npos) return {};
  if (sign) *sign = row[start] == '+' ? 1 : row[start] == '-' ? -1 : 0;
  return row.substr(start + 1, end - start - 1);
}
}  // namespace

struct TStockGrid::FillResult {
  std::vector<std::string> Rows;  // cells as CellOf reads them
  std::vector<double> Ages;
  std::vector<int> News;
  std::vector<std::string> Symbols;
  // Per row its index in the portfolio rows it came from (TotalSource: the TOTAL row): a symbol
  // held in two rows names two rows, so a partial fill finds its rows by this, not by symbol.
  std::vector<size_t> Sources;
  int TotalLeftOut = 0;
};

namespace {
constexpr size_t TotalSource = static_cast<size_t>(-1);
}

struct TStockGrid::FillRequest {
  bool All = true;
  std::vector<std::string> Symbols;  // when not All
  std::shared_ptr<const std::vector<PortRowRec>> Rows;
  int SortKind = -1;
  bool Down = false;
  std::array<int, ColKindCount> Cols{};
  int ColCount = 0;
  int64_t ReceivedSince = AnyQuote;
};

// The texts the view shows; the title row is the header.
class GridModel : public QAbstractTableModel {
public:
  using QAbstractTableModel::QAbstractTableModel;
  std::vector<std::string> Titles;
  std::vector<int> Kinds;   // per grid column
  std::vector<int> Styles;  // per grid column
  std::vector<std::string> Rows;  // per row its cells (CellOf)
  std::vector<std::string> Symbols;
  std::vector<double> NewsAges;
  std::vector<int> NewNews;
  std::vector<size_t> Sources;  // FillResult::Sources of the rows shown
  std::shared_ptr<const std::vector<PortRowRec>> From;  // the portfolio rows they came from

  int rowCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() ? 0 : static_cast<int>(Rows.size());
  }
  int columnCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() ? 0 : static_cast<int>(Titles.size());
  }
  QVariant data(const QModelIndex& index, int role) const override {
    const auto r = static_cast<size_t>(index.row()), c = static_cast<size_t>(index.column());
    if (r >= Rows.size() || c >= Titles.size()) return {};
    switch (role) {
      case Qt::DisplayRole: {
        const std::string_view text = CellOf(Rows[r], c);
        return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
      }
      case Qt::TextAlignmentRole: {
        const int k = Kinds[c];
        const bool left = k == SymCol || k == NameCol || k == NoteCol || k == TickCol || k == FundText1Col ||
                          k == FundText2Col;
        return QVariant::fromValue(Qt::AlignVCenter | (left ? Qt::AlignLeft : Qt::AlignRight));
      }
      case Qt::ForegroundRole: {
        int s = 0;
        if (!(Styles[c] & StyleSignColors)) return {};
        CellOf(Rows[r], c, &s);
        if (s > 0) return QColor(0, 128, 0);
        if (s < 0) return QColor(192, 0, 0);
        return {};
      }
      case Qt::FontRole: {
        if (!(Styles[c] & StyleBold)) return {};
        QFont f;
        f.setBold(true);
        return f;
      }
      default: return {};
    }
  }
  QVariant headerData(int section, Qt::Orientation o, int role) const override {
    if (o == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < static_cast<int>(Titles.size()))
      return QString::fromStdString(Titles[static_cast<size_t>(section)]);
    return QAbstractTableModel::headerData(section, o, role);
  }
  void Changed(int row, int col) { emit dataChanged(index(row, col), index(row, col)); }
  void Reset(const std::function<void()>& fn) {
    beginResetModel();
    fn();
    endResetModel();
  }
};

namespace {

// Draws the pictures of the chart and news columns.
class GridDelegate : public QStyledItemDelegate {
public:
  GridDelegate(GridModel* model, QObject* parent) : QStyledItemDelegate(parent), model_(model) {}
  void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QStyledItemDelegate::paint(p, option, index);
    const auto r = static_cast<size_t>(index.row()), c = static_cast<size_t>(index.column());
    if (r >= model_->Symbols.size() || c >= model_->Kinds.size()) return;
    const int kind = model_->Kinds[c];
    const std::string& sym = model_->Symbols[r];
    if (kind == ChartCol && IsChartSymbol(sym)) {
      p->save();
      DrawMiniChart(sym, *p, option.rect.adjusted(2, 2, -2, -2), 0);
      p->restore();
    } else if (kind == NewsCol && model_->NewNews[r] && model_->NewsAges[r] >= 0) {
      p->save();
      DrawNewsBulb(*p, option.rect.center().x() - 4, option.rect.center().y() - 6, model_->NewsAges[r]);
      p->restore();
    }
  }

private:
  GridModel* model_;
};

std::vector<std::string> SplitSymbols(const std::string& text) {
  std::vector<std::string> out;
  std::string cur;
  auto flush = [&] {
    std::string t = Trim(cur);
    if (!t.empty()) AddUniqueSymbol(out, t);
    cur.clear();
  };
  for (char c : text) {
    if (c == '|' || c == ',') flush();
    else cur += c;
  }
  flush();
  return out;
}

}  // namespace

// Computes the grid's texts off the main thread and hands them over by Synchronize.
class GridRowThread : public Thread {
public:
  explicit GridRowThread(TStockGrid* grid) : grid_(grid) { Name = "GridRows"; }
  void Request(TStockGrid::FillRequest req) {
    {
      std::lock_guard lock(m_);
      if (pending_ && !req.All && !pending_->All) {
        // Two partial requests merge; a full one covers any partial one.
        for (auto& s : req.Symbols) pending_->Symbols.push_back(s);
        pending_->Rows = std::move(req.Rows);
        pending_->SortKind = req.SortKind;
        pending_->Down = req.Down;
        pending_->Cols = req.Cols;
        pending_->ColCount = req.ColCount;
        pending_->ReceivedSince = req.ReceivedSince;
      } else if (!pending_ || req.All) {
        pending_ = std::move(req);
      } else {
        pending_->Rows = std::move(req.Rows);
      }
    }
    cv_.notify_all();
  }
  void Wake() {
    // Under m_, so that a waiter between its check and its wait cannot miss the wake-up.
    std::lock_guard lock(m_);
    cv_.notify_all();
  }
  bool HasPending() {
    std::lock_guard lock(m_);
    return pending_.has_value();
  }
  // The fills given up since the last call, merged into one (empty symbols: all rows).
  std::optional<std::vector<std::string>> TakeDropped() {
    std::lock_guard lock(m_);
    std::optional<std::vector<std::string>> out;
    out.swap(dropped_);
    return out;
  }

protected:
  void Execute() override {
    while (!Terminated()) {
      std::optional<TStockGrid::FillRequest> req;
      {
        std::unique_lock lock(m_);
        cv_.wait_for(lock, std::chrono::milliseconds(250), [&] { return pending_.has_value() || Terminated(); });
        if (Terminated()) break;
        if (!pending_) continue;
        req = std::move(pending_);
        pending_.reset();
        grid_->Filling = true;
      }
      try {
        Fill(*req);
      } catch (const std::exception& ex) {
        WriteLog(std::string("Grid fill error: ") + ex.what());
      }
      grid_->Filling = false;
      // Wakes a main-thread wait on the fill, so it ends on completion rather than at its next look.
      PostToMainThread([] {});
    }
  }

private:
  void Fill(const TStockGrid::FillRequest& req) {
    static const std::vector<PortRowRec> noRows;
    const std::vector<PortRowRec>& rows = req.Rows ? *req.Rows : noRows;
    std::unordered_set<std::string> wanted;  // upper-cased symbols of a partial fill
    for (const std::string& sym : req.Symbols) wanted.insert(UpperCase(sym));
    auto isWanted = [&](const std::string& sym) { return wanted.count(UpperCase(sym)) > 0; };
    if (!req.All && std::none_of(rows.begin(), rows.end(), [&](const PortRowRec& r) { return isWanted(r.Symbol); }))
      return;
    std::vector<int> kindOf(static_cast<size_t>(std::max(0, req.ColCount)), -1);
    for (int k = 0; k < ColKindCount; ++k) {
      const int col = req.Cols[static_cast<size_t>(k)];
      if (col >= 0 && col < req.ColCount) kindOf[static_cast<size_t>(col)] = k;
    }
    const bool sorting = req.All && req.SortKind >= 0;
    TStockGrid::FillResult res;
    std::vector<std::string> sortTexts;
    std::vector<char> sortTotal;
    auto add = [&](const GridRowData& r, size_t source) {
      std::string cells;
      for (int kind : kindOf) AppendCell(cells, kind >= 0 ? CellText(kind, r) : std::string(), kind >= 0 ? CellSign(kind, r) : 0);
      res.Rows.push_back(std::move(cells));
      res.Ages.push_back(r.NewsAgeDays);
      res.News.push_back(r.NewNews);
      res.Symbols.push_back(r.Symbol);
      res.Sources.push_back(source);
      if (sorting) {
        sortTotal.push_back(r.IsTotal || SameText(r.Symbol, "TOTAL"));
        sortTexts.push_back(sortTotal.back() ? std::string() : CellText(req.SortKind, r));
      }
    };
    // In slices, so a large portfolio never holds every row's quote data at once; the TOTAL
    // row sums every row, also in a partial fill.
    constexpr size_t Slice = 4096;
    GridRowData total;
    total.Symbol = "TOTAL";
    total.IsTotal = true;
    bool held = false;
    std::vector<PortRowRec> slice;
    std::vector<GridRowData> data;
    for (size_t from = 0; from < rows.size(); from += Slice) {
      slice.assign(rows.begin() + static_cast<std::ptrdiff_t>(from),
                   rows.begin() + static_cast<std::ptrdiff_t>(std::min(rows.size(), from + Slice)));
      if (!CollectRows(slice, data, true, req.ReceivedSince)) {
        // Quotes busy: asked again on the next housekeeping tick, so the grid does not stay stale.
        std::lock_guard lock(m_);
        if (req.All || (dropped_ && dropped_->empty())) {
          dropped_ = std::vector<std::string>();
        } else {
          if (!dropped_) dropped_.emplace();
          for (const std::string& sym : req.Symbols) AddUniqueSymbol(*dropped_, sym);
        }
        return;
      }
      if (!data.empty() && data.back().IsTotal) {
        held = true;
        total.TotalCost += data.back().TotalCost;
        total.TotalValue += data.back().TotalValue;
        total.TotalExactCost = total.TotalExactCost + data.back().TotalExactCost;
        total.TotalExactValue = total.TotalExactValue + data.back().TotalExactValue;
        total.TotalVChange += data.back().TotalVChange;
        total.TotalLeftOut += data.back().TotalLeftOut;
        data.pop_back();
      }
      for (size_t i = 0; i < data.size(); ++i)
        if (req.All || isWanted(data[i].Symbol)) add(data[i], from + i);
    }
    if (held) add(total, TotalSource);
    res.TotalLeftOut = total.TotalLeftOut;
    if (sorting) {
      const std::vector<size_t> order = SortOrder(sortTexts, sortTotal, req.Down);
      TStockGrid::FillResult sorted;
      for (size_t i : order) {
        sorted.Rows.push_back(std::move(res.Rows[i]));
        sorted.Ages.push_back(res.Ages[i]);
        sorted.News.push_back(res.News[i]);
        sorted.Symbols.push_back(std::move(res.Symbols[i]));
        sorted.Sources.push_back(res.Sources[i]);
      }
      res = std::move(sorted);
    }
    Synchronize([&] { grid_->ApplyFill(req, res); });
  }

  TStockGrid* grid_;
  std::mutex m_;
  std::condition_variable cv_;
  std::optional<TStockGrid::FillRequest> pending_;
  std::optional<std::vector<std::string>> dropped_;
};

TStockGrid::TStockGrid(QWidget* owner) : QTableView(owner), Layout(&LiveSettings) {
  GridCol.fill(-1);
  model_ = new GridModel(this);
  setModel(model_);
  setItemDelegate(new GridDelegate(model_, this));
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setWordWrap(false);
  verticalHeader()->hide();
  horizontalHeader()->setSectionsClickable(true);
  horizontalHeader()->setHighlightSections(false);
  connect(horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int col) { SortByColumn(col, false, true); });
  // A dragged column moves in the layout and the current view; the header itself keeps its
  // order, since the model's columns are laid out anew from the layout.
  horizontalHeader()->setSectionsMovable(true);
  connect(horizontalHeader(), &QHeaderView::sectionMoved, this, [this](int logical, int oldVisual, int newVisual) {
    QHeaderView* header = horizontalHeader();
    {
      const QSignalBlocker block(header);
      header->moveSection(newVisual, oldVisual);
    }
    if (MoveLayoutColumn(*Layout, KindAt(logical), KindAt(newVisual))) {
      if (Layout == &LiveSettings) SaveViews();
      ApplyLayout(false);
      ShowStocks();
    }
  });
  // A column the user widens keeps its width in the layout record, and so in the settings.
  connect(horizontalHeader(), &QHeaderView::sectionResized, this, [this](int logical, int, int size) {
    const int kind = KindAt(logical);
    if (layingOut_ || kind < 0 || kind == SepCol) return;
    Layout->ColWidth[static_cast<size_t>(kind)] = std::clamp(size, 8, 2000);
  });
  Label = new QLabel(this);
  Label->hide();
  thread_ = std::make_unique<GridRowThread>(this);
  thread_->Start();
}

TStockGrid::~TStockGrid() {
  // The thread may wait for the main thread in Synchronize; terminated, it gives that up.
  thread_->Terminate();
  thread_->Wake();
  thread_->WaitFor(-1);
}

int TStockGrid::ColCount() const { return model_->columnCount(); }
int TStockGrid::RowCount() const { return model_->rowCount() + 1; }

std::string TStockGrid::Cells(int col, int row) const {
  if (col < 0 || col >= ColCount() || row < 0 || row >= RowCount()) return {};
  if (row == 0) return model_->Titles[static_cast<size_t>(col)];
  return std::string(CellOf(model_->Rows[static_cast<size_t>(row - 1)], static_cast<size_t>(col)));
}

int TStockGrid::KindAt(int col) const {
  for (int k = 0; k < ColKindCount; ++k)
    if (GridCol[static_cast<size_t>(k)] == col) return k;
  return -1;
}

void TStockGrid::PlaceColumns() {
  GridCol = PlaceGridColumns(*Layout, Mode, CurSite ? ParamValue(CurSite->Params, "NOCOLUMNS", "") : std::string());
}

void TStockGrid::ApplyLayout(bool resort) {
  PlaceColumns();
  int count = 0;
  for (int c : GridCol) count = std::max(count, c + 1);
  layingOut_ = true;
  model_->Reset([&] {
    model_->Titles.assign(static_cast<size_t>(count), std::string());
    model_->Kinds.assign(static_cast<size_t>(count), -1);
    model_->Styles.assign(static_cast<size_t>(count), 0);
    for (int k = 0; k < ColKindCount; ++k) {
      const int c = GridCol[static_cast<size_t>(k)];
      if (c < 0) continue;
      model_->Titles[static_cast<size_t>(c)] = ColTitles[static_cast<size_t>(k)];
      model_->Kinds[static_cast<size_t>(c)] = k;
      model_->Styles[static_cast<size_t>(c)] = Layout->ColStyle[static_cast<size_t>(k)];
    }
    // Texts of the old columns no longer fit; the next fill brings them.
    for (auto& r : model_->Rows) r.clear();
  });
  QFont f(QString::fromStdString(Layout->FontName), Layout->FontSize);
  f.setBold(Layout->FontStyle & 1);
  f.setItalic(Layout->FontStyle & 2);
  setFont(f);
  Label->setFont(f);
  verticalHeader()->setDefaultSectionSize(Layout->RowHeight);
  layingOut_ = false;
  ApplyColumnWidths();
  if (SortCol >= 0 && GridCol[static_cast<size_t>(SortCol)] < 0) SortCol = -1;
  if (resort) ShowStocks();
}

void TStockGrid::ApplyColumnWidths() {
  layingOut_ = true;
  for (int k = 0; k < ColKindCount; ++k) {
    const int c = GridCol[static_cast<size_t>(k)];
    const int stored = Layout->ColWidth[static_cast<size_t>(k)];
    if (c >= 0) setColumnWidth(c, k == SepCol ? 8 : stored > 0 ? stored : FitWidth(k, c));
  }
  layingOut_ = false;
}

int TStockGrid::FitWidth(int kind, int col, const std::vector<size_t>* changed) const {
  constexpr int Padding = 14;
  constexpr size_t MeasuredRows = 500;  // a long portfolio is not measured row by row at each fill
  int width = horizontalHeader()->sectionSizeHint(col);
  if (kind == ChartCol) return std::max(width, 80);
  if (kind == NewsCol) return std::max(width, 24);
  QFont f = font();
  f.setBold(f.bold() || (model_->Styles[static_cast<size_t>(col)] & StyleBold));
  const QFontMetrics metrics(f);
  const size_t rows = model_->Rows.size();
  auto measure = [&](size_t r) {
    const std::string_view text = CellOf(model_->Rows[r], static_cast<size_t>(col));
    if (!text.empty())
      width = std::max(width, metrics.horizontalAdvance(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))) + Padding);
  };
  if (changed) {
    // The same rows as below, so a partial fill never widens more than a full one would.
    for (size_t r : *changed)
      if (r < MeasuredRows || r + 1 == rows) measure(r);
    return std::min(width, 600);
  }
  for (size_t r = 0; r < rows && r < MeasuredRows; ++r) measure(r);
  if (rows > MeasuredRows) measure(rows - 1);  // the TOTAL row
  return std::min(width, 600);
}

void TStockGrid::FitColumns(const std::vector<size_t>* changed) {
  if (changed && changed->empty()) return;
  layingOut_ = true;
  for (int k = 0; k < ColKindCount; ++k) {
    const int c = GridCol[static_cast<size_t>(k)];
    if (c < 0 || k == SepCol || Layout->ColWidth[static_cast<size_t>(k)] > 0) continue;
    // Only wider: a column does not jump back and forth as its figures change.
    const int w = FitWidth(k, c, changed);
    if (w > columnWidth(c)) setColumnWidth(c, w);
  }
  layingOut_ = false;
}

void TStockGrid::GetPort(std::string& symbols) {
  std::vector<PortRowRec> rows;
  {
    LockHold hold(PortLock, "GRIDPORT");
    if (hold) {
      if (const PortType* p = PortAt(PortNumber)) rows = p->Rows;
    }
  }
  std::unordered_set<std::string> seen;  // upper-cased: a large portfolio is walked once
  symbols.clear();
  for (const PortRowRec& r : rows) {
    if (!IsChartSymbol(r.Symbol) || !seen.insert(UpperCase(r.Symbol)).second) continue;
    if (!symbols.empty()) symbols += ',';
    symbols += r.Symbol;
  }
  SetRows(std::move(rows));
}

void TStockGrid::SetRows(std::vector<PortRowRec> rows) {
  auto shared = std::make_shared<const std::vector<PortRowRec>>(std::move(rows));
  std::lock_guard lock(rowsMutex_);
  rows_ = std::move(shared);
}

void TStockGrid::ShowStocks(const std::string& symbols) {
  FillRequest req;
  {
    std::lock_guard lock(rowsMutex_);
    req.Rows = rows_;
  }
  req.Symbols = SplitSymbols(symbols);
  req.All = req.Symbols.empty();
  req.SortKind = SortCol;
  req.Down = SortDown;
  req.Cols = GridCol;
  req.ColCount = ColCount();
  req.ReceivedSince = ReceivedSince;
  thread_->Request(std::move(req));
}

bool TStockGrid::Busy() const {
  // The queued request first: the thread marks itself filling before it lets go of the queue,
  // so a request taken between the two looks is still seen as filling.
  return thread_->HasPending() || Filling.load();
}

bool TStockGrid::RetryDroppedFill() {
  const std::optional<std::vector<std::string>> dropped = thread_->TakeDropped();
  if (!dropped) return false;
  std::string symbols;
  for (const std::string& s : *dropped) symbols += "|" + s + "|";
  ShowStocks(symbols);
  return true;
}

void TStockGrid::SortByColumn(int column, bool force, bool click) {
  const int kind = column < 0 ? -1 : KindAt(column);
  if (kind < 0) {
    SortCol = -1;
  } else {
    if (click && kind == SortCol && !force) SortDown = !SortDown;
    SortCol = kind;
  }
  ShowStocks();
}

void TStockGrid::ApplyFill(const FillRequest& req, FillResult& res) {
  // A layout change since the request made these texts stale; the next fill brings new ones.
  if (req.Cols != GridCol) return;
  if (!req.All && req.Rows != model_->From) {
    // The portfolio's rows changed since the rows shown were filled: place them all anew.
    ShowStocks();
    return;
  }
  ++FillsApplied;
  TotalLeftOut = res.TotalLeftOut;
  if (!req.All) {
    // Streamed quotes bring many small fills: the rows they left alone fit already.
    const std::vector<size_t> changed = ApplyRows(req, res);
    FitColumns(&changed);
    return;
  }
  // A full fill may order the rows anew: the selection follows its portfolio row, not its
  // position; its symbol when the portfolio's rows have changed.
  const QModelIndex current = currentIndex();
  const bool sameRows = req.Rows == model_->From;
  const auto at = static_cast<size_t>(current.row());
  const bool follow = current.isValid() && at < model_->Sources.size();
  const size_t source = follow ? model_->Sources[at] : 0;
  const std::string symbol = follow ? model_->Symbols[at] : std::string();
  ApplyRows(req, res);
  FitColumns();
  if (!follow) return;
  for (size_t r = 0; r < model_->Sources.size(); ++r) {
    if (sameRows ? model_->Sources[r] != source : !SameText(model_->Symbols[r], symbol)) continue;
    if (static_cast<int>(r) != currentIndex().row())
      selectionModel()->setCurrentIndex(model_->index(static_cast<int>(r), std::max(0, current.column())),
                                        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    break;
  }
}

std::vector<size_t> TStockGrid::ApplyRows(const FillRequest& req, FillResult& res) {
  std::vector<size_t> changed;
  if (req.All) model_->From = req.Rows;
  if (req.All && res.Rows.size() != model_->Rows.size()) {
    layingOut_ = true;
    model_->Reset([&] {
      model_->Rows = std::move(res.Rows);
      model_->NewsAges = std::move(res.Ages);
      model_->NewNews = std::move(res.News);
      model_->Symbols = std::move(res.Symbols);
      model_->Sources = std::move(res.Sources);
    });
    // A reset model may bring default widths back.
    ApplyColumnWidths();
    return changed;
  }
  // Same rows (or only the queued symbols' rows): repaint the cells whose text changed, and
  // the pictures, which change without a text. A partial fill's rows are found by the
  // portfolio row they came from, looked up once.
  std::unordered_map<size_t, size_t> rowOf;
  if (!req.All)
    for (size_t r = 0; r < model_->Sources.size(); ++r) rowOf.emplace(model_->Sources[r], r);
  for (size_t i = 0; i < res.Rows.size(); ++i) {
    size_t r = i;
    if (!req.All) {
      const auto it = rowOf.find(res.Sources[i]);
      if (it == rowOf.end()) continue;
      r = it->second;
    }
    const std::string old = std::move(model_->Rows[r]);
    const std::string& now = res.Rows[i];
    model_->Rows[r] = now;
    if (old != now) changed.push_back(r);
    const bool newsChanged = model_->NewNews[r] != res.News[i] || model_->NewsAges[r] != res.Ages[i];
    model_->NewNews[r] = res.News[i];
    model_->NewsAges[r] = res.Ages[i];
    const bool symChanged = model_->Symbols[r] != res.Symbols[i];
    model_->Symbols[r] = res.Symbols[i];
    model_->Sources[r] = res.Sources[i];
    for (size_t c = 0; c < model_->Titles.size(); ++c) {
      const int kind = c < model_->Kinds.size() ? model_->Kinds[c] : -1;
      const bool picture = kind == ChartCol || (kind == NewsCol && newsChanged);
      int oldSign = 0, newSign = 0;
      const bool textChanged = CellOf(old, c, &oldSign) != CellOf(now, c, &newSign) || oldSign != newSign;
      if (textChanged || picture || symChanged) model_->Changed(static_cast<int>(r), static_cast<int>(c));
    }
  }
  return changed;
}

std::string TStockGrid::SymbolAt(int row) const {
  if (row < 0 || static_cast<size_t>(row) >= model_->Symbols.size()) return {};
  return model_->Symbols[static_cast<size_t>(row)];
}

std::string TStockGrid::CurrentSymbol() const { return SymbolAt(currentIndex().row()); }

void TStockGrid::OpenChart(const std::string& symbol) {
  if (!IsChartSymbol(symbol)) return;
  if (GridHooks.OpenChart) GridHooks.OpenChart(symbol);
}

void TStockGrid::mouseDoubleClickEvent(QMouseEvent* e) {
  const QModelIndex at = indexAt(e->position().toPoint());
  if (!at.isValid()) return;
  const std::string sym = SymbolAt(at.row());
  const int kind = KindAt(at.column());
  const auto r = static_cast<size_t>(at.row());
  if (kind == NewsCol && r < model_->NewNews.size() && model_->NewNews[r]) {
    if (GridHooks.SelectNewsSymbol) GridHooks.SelectNewsSymbol(sym);
    return;
  }
  OpenChart(sym);
}

void TStockGrid::contextMenuEvent(QContextMenuEvent* e) {
  const QModelIndex at = indexAt(e->pos());
  if (at.isValid()) setCurrentIndex(at);
  const std::string sym = at.isValid() ? SymbolAt(at.row()) : std::string();
  PopupSymbol.clear();
  if (GridHooks.Popup) GridHooks.Popup(sym, e->globalPos());
}
