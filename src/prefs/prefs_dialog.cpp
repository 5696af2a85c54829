#include "prefs/prefs_dialog.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include "core/button_form.h"
#include "core/chart_cache.h"
#include "core/log.h"
#include "core/program_state.h"
#include "core/settings_file.h"
#include "core/sites.h"
#include "grid/grid_columns.h"

int OptionsOpen = 0;
int CurPrefsTab = 0;
PrefsHookTable PrefsHooks;

namespace {
void PaintSwatch(QPushButton* b, TColor c) {
  QPixmap pm(16, 12);
  pm.fill(ToQColor(c));
  b->setIcon(QIcon(pm));
}
}  // namespace

TdlgPref::TdlgPref(QWidget* owner) : QDialog(owner) {
  setWindowTitle("Preferences");
  WorkSettings = LiveSettings;
  Views.Load();
  Pages = new QTabWidget(this);
  Pages->addTab(ViewsPage(), "Views");
  Pages->addTab(ChartsPage(), "Charts");
  Pages->addTab(NewsPage(), "News");
  Pages->addTab(MiscPage(), "Misc");
  tags_ = {PrefsTabViews, PrefsTabCharts, PrefsTabNews, PrefsTabMisc};
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    if (pbOKClick()) accept();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* lay = new QVBoxLayout(this);
  lay->addWidget(Pages);
  lay->addWidget(buttons);
  Pages->setCurrentIndex(PageOfTag(CurPrefsTab == PrefsTabRefresh ? PrefsTabMisc : CurPrefsTab));
  if (CurPrefsTab == PrefsTabRefresh) seRefresh->setFocus();
  int cur = Views.IndexOf(WorkSettings.CurView);
  SelectView(cur < 0 ? 0 : cur);
  resize(560, 440);
}

int TdlgPref::PageOfTag(int tag) const {
  for (size_t i = 0; i < tags_.size(); ++i)
    if (tags_[i] == tag) return static_cast<int>(i);
  return 0;
}

QWidget* TdlgPref::ViewsPage() {
  auto* page = new QWidget;
  lbViews = new QListWidget(page);
  lbColumns = new QListWidget(page);
  dfViewName = new QLineEdit(page);
  dfViewName->setMaxLength(255);
  pbAddView = new QPushButton("&Add View", page);
  pbDeleteView = new QPushButton("&Delete View", page);
  pbColUp = new QPushButton("Move &Up", page);
  pbColDown = new QPushButton("Move Do&wn", page);
  auto* grid = new QGridLayout(page);
  grid->addWidget(new QLabel("Views (the selected view is shown):", page), 0, 0);
  grid->addWidget(new QLabel("Columns of the view:", page), 0, 1);
  grid->addWidget(lbViews, 1, 0);
  grid->addWidget(lbColumns, 1, 1, 3, 1);
  auto* nameRow = new QHBoxLayout;
  nameRow->addWidget(dfViewName);
  nameRow->addWidget(pbAddView);
  grid->addLayout(nameRow, 2, 0);
  grid->addWidget(pbDeleteView, 3, 0);
  auto* moveRow = new QHBoxLayout;
  moveRow->addWidget(pbColUp);
  moveRow->addWidget(pbColDown);
  grid->addLayout(moveRow, 4, 1);
  connect(lbViews, &QListWidget::currentRowChanged, this, [this](int row) {
    if (row >= 0 && row != selected_) SelectView(row);
  });
  connect(pbAddView, &QPushButton::clicked, this, [this] { AddViewClick(); });
  connect(pbDeleteView, &QPushButton::clicked, this, [this] { DeleteViewClick(); });
  connect(pbColUp, &QPushButton::clicked, this, [this] { MoveColumn(-1); });
  connect(pbColDown, &QPushButton::clicked, this, [this] { MoveColumn(1); });
  return page;
}

bool TdlgPref::ColumnsAcceptable() {
  if (selected_ < 0 || selected_ >= Views.Count()) return true;
  ViewColumns cols;
  for (int i = 0; i < lbColumns->count(); ++i)
    if (lbColumns->item(i)->checkState() == Qt::Checked) cols.push_back({lbColumns->item(i)->data(Qt::UserRole).toInt(), 0});
  const std::string problem = ViewColumnsProblem(cols);
  if (problem.empty()) return true;
  Notice(problem);
  return false;
}

void TdlgPref::SelectView(int index) {
  // A view left with no column ticked is refused before another is shown.
  if (selected_ >= 0 && index != selected_ && !ColumnsAcceptable()) {
    QSignalBlocker block(lbViews);
    lbViews->setCurrentRow(selected_);
    return;
  }
  if (selected_ >= 0) StoreColumns();
  if (index < 0 || index >= Views.Count()) index = 0;
  selected_ = index;
  {
    QSignalBlocker block(lbViews);
    lbViews->clear();
    for (int i = 0; i < Views.Count(); ++i) lbViews->addItem(QString::fromStdString(Views.Name(i)));
    lbViews->setCurrentRow(index);
  }
  lbColumns->clear();
  std::array<bool, ColKindCount> listed{};
  auto addKind = [&](int kind, bool on, int style) {
    const std::string title = kind == SepCol ? "(Separator)" : ColTitles[static_cast<size_t>(kind)];
    auto* item = new QListWidgetItem(QString::fromStdString(title), lbColumns);
    item->setData(Qt::UserRole, kind);
    item->setData(Qt::UserRole + 1, style);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(on ? Qt::Checked : Qt::Unchecked);
    listed[static_cast<size_t>(kind)] = true;
  };
  for (const ViewColumn& c : Views.Columns(index)) addKind(c.Kind, true, c.Style);
  for (int k = 0; k < ColKindCount; ++k)
    if (!listed[static_cast<size_t>(k)]) addKind(k, false, k == ChangeCol || k == PctChangeCol ? StyleSignColors : 0);
  pbDeleteView->setEnabled(index > 0);
  WorkSettings.CurView = Views.Name(index);
}

void TdlgPref::StoreColumns() {
  if (selected_ < 0 || selected_ >= Views.Count()) return;
  ViewColumns cols;
  for (int i = 0; i < lbColumns->count(); ++i) {
    QListWidgetItem* item = lbColumns->item(i);
    if (item->checkState() == Qt::Checked)
      cols.push_back({item->data(Qt::UserRole).toInt(), item->data(Qt::UserRole + 1).toInt()});
  }
  Views.SetColumns(selected_, std::move(cols));
}

void TdlgPref::AddViewClick() {
  if (!ColumnsAcceptable()) return;
  StoreColumns();
  const std::string name = dfViewName->text().toStdString();
  const int at = Views.Add(name, selected_);
  if (at < 0) {
    Notice("\"" + name + "\" cannot be used as a view name.");
    return;
  }
  dfViewName->clear();
  selected_ = -1;
  SelectView(at);
}

void TdlgPref::DeleteViewClick() {
  if (selected_ <= 0) return;
  const int gone = selected_;
  selected_ = -1;  // its columns are not stored back
  Views.Delete(gone);
  SelectView(gone - 1);
}

void TdlgPref::MoveColumn(int delta) {
  const int row = lbColumns->currentRow();
  const int to = row + delta;
  if (row < 0 || to < 0 || to >= lbColumns->count()) return;
  QListWidgetItem* item = lbColumns->takeItem(row);
  lbColumns->insertItem(to, item);
  lbColumns->setCurrentRow(to);
}

QPushButton* TdlgPref::ColorButton(const char* caption, TColor* value) {
  auto* b = new QPushButton(caption);
  PaintSwatch(b, *value);
  connect(b, &QPushButton::clicked, this, [this, b, value] {
    ++ModalDepth;
    QColor c = QColorDialog::getColor(ToQColor(*value), this);
    --ModalDepth;
    if (!c.isValid()) return;
    *value = FromQColor(c);
    PaintSwatch(b, *value);
  });
  return b;
}

QWidget* TdlgPref::ChartsPage() {
  auto* page = new QWidget;
  GlobVars& g = WorkSettings;
  auto* grid = new QGridLayout(page);
  cbGradient = new QCheckBox("Gradient background", page);
  cbGradient->setChecked(g.Gradient);
  connect(cbGradient, &QCheckBox::toggled, this, [](bool on) { WorkSettings.Gradient = on; });
  cbAxL = new QCheckBox("Price axis on the left", page);
  cbAxL->setChecked(g.AxL);
  connect(cbAxL, &QCheckBox::toggled, this, [](bool on) { WorkSettings.AxL = on; });
  grid->addWidget(cbGradient, 0, 0);
  grid->addWidget(cbAxL, 0, 1);
  struct Named {
    const char* Caption;
    TColor* Value;
  };
  const Named colors[] = {{"Gradient Start", &g.GradStart}, {"Gradient End", &g.GradEnd}, {"Background", &g.BackClr},
                          {"Price", &g.PriceClr},           {"Bid", &g.BidClr},           {"Ask", &g.AskClr},
                          {"Volume", &g.VolClr},            {"Axes", &g.AxisClr},         {"Text", &g.TextClr},
                          {"Indicator 1", &g.Ind[0]},       {"Indicator 2", &g.Ind[1]},   {"Indicator 3", &g.Ind[2]},
                          {"Indicator 4", &g.Ind[3]},       {"Indicator 5", &g.Ind[4]}};
  int i = 0;
  for (const Named& n : colors) {
    grid->addWidget(ColorButton(n.Caption, n.Value), 1 + i / 3, i % 3);
    ++i;
  }
  auto spin = [&](int lo, int hi, int* value) {
    auto* s = new QSpinBox(page);
    s->setRange(lo, hi);
    s->setValue(*value);
    connect(s, &QSpinBox::valueChanged, this, [value](int v) { *value = v; });
    return s;
  };
  sePriceThick = spin(1, 10, &g.PriceThick);
  seBidThick = spin(1, 10, &g.BidThick);
  seIndThick = spin(1, 10, &g.IndThick);
  seFilter = spin(2, 100, &g.Filter);
  auto* form = new QFormLayout;
  form->addRow("Price line width", sePriceThick);
  form->addRow("Bid/ask line width", seBidThick);
  form->addRow("Indicator line width", seIndThick);
  form->addRow("Spike filter (%)", seFilter);
  grid->addLayout(form, 7, 0, 1, 3);
  return page;
}

QWidget* TdlgPref::NewsPage() {
  auto* page = new QWidget;
  cbNewsTwoPanes = new QCheckBox("Show the news window without its browser pane", page);
  cbNewsTwoPanes->setChecked(WorkSettings.NewsTwoPanes);
  connect(cbNewsTwoPanes, &QCheckBox::toggled, this, [](bool on) { WorkSettings.NewsTwoPanes = on; });
  cbNewsBrowserOff = new QCheckBox("Do not use the built-in browser", page);
  cbNewsBrowserOff->setChecked(WorkSettings.NewsBrowserOff);
  connect(cbNewsBrowserOff, &QCheckBox::toggled, this, [](bool on) { WorkSettings.NewsBrowserOff = on; });
  auto* lay = new QVBoxLayout(page);
  lay->addWidget(cbNewsTwoPanes);
  lay->addWidget(cbNewsBrowserOff);
  lay->addStretch();
  return page;
}

QWidget* TdlgPref::MiscPage() {
  auto* page = new QWidget;
  pbSync = new QPushButton("Synchronize Eastern Time...", page);
  connect(pbSync, &QPushButton::clicked, this, [this] { pbSyncClick(); });
  dfSymbol = new QLineEdit(page);
  pbLookup = new QPushButton("Symbol Lookup...", page);
  connect(pbLookup, &QPushButton::clicked, this, [this] { SymbolLookupClick(); });
  pbUpdate = new QPushButton("Check for Updates...", page);
  connect(pbUpdate, &QPushButton::clicked, this, [this] {
    if (PrefsHooks.OpenUpdate) PrefsHooks.OpenUpdate(this);
    else Notice("The update window is not available yet.");
  });
  const int floor = RefreshFloor(CurSite ? CurSite->MinRefresh : 0);
  seRefresh = new QSpinBox(page);
  seRefresh->setRange(floor, 86400);
  seRefresh->setSuffix(" s");
  seRefresh->setValue(std::max(floor, RefreshSecs.load()));
  lbRefreshFloor = new QLabel(QString("at least %1 s%2").arg(floor).arg(floor > 1 ? " for this quote site" : ""), page);
  auto* form = new QFormLayout(page);
  auto* refreshRow = new QHBoxLayout;
  refreshRow->addWidget(seRefresh);
  refreshRow->addWidget(lbRefreshFloor, 1);
  auto* refreshLabel = new QLabel("Refresh &interval", page);
  refreshLabel->setBuddy(seRefresh);
  form->addRow(refreshLabel, refreshRow);
  form->addRow(pbSync);
  auto* row = new QHBoxLayout;
  row->addWidget(dfSymbol);
  row->addWidget(pbLookup);
  form->addRow("Symbol", row);
  form->addRow(pbUpdate);
  return page;
}

void TdlgPref::Notice(const std::string& text) {
  if (PrefsHooks.Notice) {
    PrefsHooks.Notice(this, text);
    return;
  }
  ++ModalDepth;
  QMessageBox::information(this, "Preferences", QString::fromStdString(text));
  --ModalDepth;
}

void TdlgPref::pbSyncClick() {
  if (!PrefsHooks.OpenTimeSync) {
    Notice("The time synchronisation dialog is not available yet.");
    return;
  }
  ++ModalDepth;
  PrefsHooks.OpenTimeSync(this);
  --ModalDepth;
}

void TdlgPref::SymbolLookupClick() {
  if (!OpenSymbolLookup) {
    Notice("The symbol look-up dialog is not available yet.");
    return;
  }
  ++ModalDepth;
  const std::string symbol = OpenSymbolLookup(this);
  --ModalDepth;
  if (!symbol.empty()) dfSymbol->setText(QString::fromStdString(symbol));
}

bool TdlgPref::pbOKClick() {
  if (!ColumnsAcceptable()) return false;
  StoreColumns();
  Views.Commit(WorkSettings);
  LiveSettings = WorkSettings;
  SaveGlobVars(LiveSettings);
  SetRefreshSecs(seRefresh->value(), CurSite ? CurSite->MinRefresh : 0);
  ApplyChartCache();
  WriteLog("Preferences saved");
  return true;
}

void ApplyChartCache() {
  ChartCacheMB = 1;
  ChartCacheBytes = GetGifCacheSize();
}

bool RunPreferences(QWidget* owner, int tag) {
  OptionsOpen = 1;
  CurPrefsTab = tag;
  bool ok = false;
  ++ModalDepth;
  {
    TdlgPref dlg(owner);
    ok = dlg.exec() == QDialog::Accepted;
  }
  --ModalDepth;
  OptionsOpen = 0;
  return ok;
}
