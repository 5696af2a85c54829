#include "charts/chart_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMainWindow>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPainter>
#include <QPrinter>
#include <QPointer>
#include <QPrinterInfo>
#include <QScreen>
#include <QSplitter>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <mutex>

#include "charts/chart_caption.h"
#include "charts/chart_colors.h"
#include "charts/chart_widget.h"
#include "charts/custom_period_dialog.h"
#include "charts/pick_indicator_dialog.h"
#include "core/add_snap.h"
#include "core/error_report.h"
#include "core/indices.h"
#include "core/log.h"
#include "core/market_clock.h"
#include "core/pending.h"
#include "core/program_state.h"
#include "core/settings.h"
#include "core/settings_file.h"
#include "core/stock_table.h"
#include "core/text_helpers.h"
#include "platform/messages.h"
#include "platform/string_list.h"
#include "core/window_place.h"

ChartHookTable ChartHooks;
MyCriticalSection ChartLock("CHRT");

namespace {

// The window list itself is guarded by a plain mutex that is never held while messages are
// processed, so that a closing window always leaves the list and the pulse never posts to a
// freed window.
std::mutex chartsMutex;
std::vector<TdlgChart*> openCharts;

// Axis label patterns: the price axes (wide or for prices below 0.1) and the bottom axes.
constexpr const char* PriceLeftFormat = "#,##0.00000";
constexpr const char* PriceRightFormat = "###,###,##0.000000";
constexpr const char* SmallPriceFormat = "#.0###";
constexpr const char* BottomFormat = "###,##0.#####";

// Thousands separators, no decimals.
std::string Grouped(double v) { return FormatFloatPattern("#,##0", v); }

bool IsPortfolioSymbol(const std::string& s) { return !s.empty() && std::isdigit(static_cast<unsigned char>(s.back())); }

// A yes/no question through the hook, else in a box.
bool AskYes(QWidget* parent, const std::string& text, const std::string& caption) {
  if (ChartHooks.AskYesNo) return ChartHooks.AskYesNo(parent, text, caption);
  ++ModalDepth;
  const bool yes = QMessageBox::question(parent, QString::fromStdString(caption), QString::fromStdString(text),
                                         QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
  --ModalDepth;
  return yes;
}

}  // namespace

TdlgChart::TdlgChart(const std::string& symbol, QWidget* parent)
    : TButtonForm(parent, Qt::Window),
      Symbol(symbol),
      redraw_({}, {}) {
  setWindowTitle("Intraday Chart");
  setAttribute(Qt::WA_DeleteOnClose);
  setMinimumSize(10, 70);
  ShowLookupButton = true;
  LookupButtonDown = false;
  ShowHelpButton = true;
  HelpButtonDown = false;
  LookupButton()->setToolTip("Look up a symbol");
  HelpButton()->setToolTip("Help");
  resize(Settings.Width, Settings.Height);

  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  MainPan = new QWidget(this);
  outer->addWidget(MainPan);
  MainPan->installEventFilter(this);
  Panel1 = new QWidget(MainPan);
  auto* inner = new QVBoxLayout(Panel1);
  inner->setContentsMargins(0, 0, 0, 0);
  Splitter1 = new QSplitter(Qt::Vertical, Panel1);
  Splitter1->setHandleWidth(7);
  Splitter1->setChildrenCollapsible(false);
  inner->addWidget(Splitter1);
  PriceChart = new TChart(Splitter1);
  VolChart = new TChart(Splitter1);
  PriceChart->setMinimumHeight(15);
  VolChart->setMinimumHeight(15);
  Splitter1->addWidget(PriceChart);
  Splitter1->addWidget(VolChart);
  QObject::connect(Splitter1, &QSplitter::splitterMoved, this, [this](int, int) { Splitter1Moved(); });

  std::array<PlotSeries*, 8> price{};
  for (int i = 0; i < 8; ++i) {
    ChartLineSeries* s = PriceChart->AddSeries();
    s->PenWidth = i == 0 ? 2 : 1;
    price[static_cast<size_t>(i)] = s;
  }
  std::array<PlotSeries*, 3> bottom{};
  for (int i = 0; i < 3; ++i) {
    ChartLineSeries* s = VolChart->AddSeries();
    s->PenWidth = i == 0 ? 1 : 2;
    bottom[static_cast<size_t>(i)] = s;
  }
  redraw_ = ChartRedraw(price, bottom);

  for (TChart* c : {PriceChart, VolChart}) {
    c->BottomAxis.DateTime = true;
    c->BottomAxis.DateTimeFormat = "h:mm";
    c->setContextMenuPolicy(Qt::CustomContextMenu);
    c->setToolTipDuration(65500);
    QObject::connect(c, &QWidget::customContextMenuRequested, this,
                     [this, c](const QPoint& pos) { Pop->popup(c->mapToGlobal(pos)); });
  }
  PriceChart->LeftAxis.Title = PriceChart->RightAxis.Title = "Price";
  PriceChart->LeftAxis.ValueFormat = PriceLeftFormat;
  PriceChart->RightAxis.ValueFormat = PriceRightFormat;
  auto label = [this](double value, const std::string& text) -> std::string {
    if (text.find(':') != std::string::npos) return text;
    std::string plain;
    for (char ch : text)
      if (ch != ',') plain += ch;
    double v = value;
    std::from_chars(plain.data(), plain.data() + plain.size(), v);
    return NoVolume ? FormatPrice(v) : Trim(FormatPriceFraction(v));
  };
  PriceChart->LeftAxis.LabelFormatter = label;
  PriceChart->RightAxis.LabelFormatter = label;
  VolChart->LeftAxis.Title = VolChart->RightAxis.Title = "Volume (K/Min)";
  VolChart->LeftAxis.ValueFormat = VolChart->RightAxis.ValueFormat = BottomFormat;
  VolChart->BottomAxis.Title = "Time";

  for (int k = 1; k <= 5; ++k) {
    auto* l = new QLabel(MainPan);
    QFont f = l->font();
    f.setBold(true);
    l->setFont(f);
    l->setAttribute(Qt::WA_TranslucentBackground);
    l->setStyleSheet("color: white; background: transparent;");
    l->hide();
    lbLegend[static_cast<size_t>(k)] = l;
  }
  panNoData = new QLabel("Not Enough Data", MainPan);
  {
    QFont f = panNoData->font();
    f.setBold(true);
    panNoData->setFont(f);
  }
  panNoData->setAlignment(Qt::AlignCenter);
  panNoData->setStyleSheet("color: yellow; background: #000080; padding: 6px;");
  panNoData->adjustSize();
  panNoData->hide();
  BuildMenu();
}

TdlgChart::~TdlgChart() {
  std::lock_guard<std::mutex> g(chartsMutex);
  openCharts.erase(std::remove(openCharts.begin(), openCharts.end(), this), openCharts.end());
}

void TdlgChart::BuildMenu() {
  Pop = new QMenu(this);
  auto item = [this](const char* text, int command) {
    QAction* a = Pop->addAction(QString::fromUtf8(text));
    if (command) QObject::connect(a, &QAction::triggered, this, [this, command] { wmHandleMessages(WmSysCommand, command); });
    addAction(a);  // shortcuts work without the menu open
    return a;
  };
  Island = item("Island Level II for ...", 0);
  Island->setShortcut(QKeySequence("Ctrl+I"));
  QObject::connect(Island, &QAction::triggered, this, [this] {
    if (ChartHooks.IslandClick) ChartHooks.IslandClick(Symbol);
  });
  SeeNewsFor = item("See News For...", 0);
  SeeNewsFor->setShortcut(QKeySequence("Ctrl+N"));
  QObject::connect(SeeNewsFor, &QAction::triggered, this, [this] {
    if (ChartHooks.SeeNewsClick) ChartHooks.SeeNewsClick(Symbol);
  });
  HistoricalChartsFor = item("Historical Charts For...", 0);
  HistoricalChartsFor->setShortcut(QKeySequence("Ctrl+H"));
  QObject::connect(HistoricalChartsFor, &QAction::triggered, this, [this] {
    if (ChartHooks.HistoryClick) ChartHooks.HistoryClick(Symbol);
  });
  Research = item("Research for ..", 0);
  QObject::connect(Research, &QAction::triggered, this, [this] { ResearchClick(); });
  N1 = Pop->addSeparator();
  popVol = item("Hide &Bottom Chart", 1000);
  popShowBidAsk = item("Hide &Bid/Ask", 1007);
  popSelectInd = item("Select Indicators", 0);
  QObject::connect(popSelectInd, &QAction::triggered, this, [this] { popSelectIndClick(); });
  popLegend = item("Hide Legend", 1009);
  popLegend->setVisible(false);
  Pop->addSeparator();
  PopAllDay = item("Show &All Day", 1001);
  popShow10 = item("Show &10 min", 1002);
  popShow30 = item("Show &30 min", 1006);
  popShow1h = item("Show 1 &Hour", 1003);
  popShow2h = item("Show &2 Hours", 1004);
  PopShowCustTP = item("Enter Time Period...", 1010);
  for (QAction* a : {PopAllDay, popShow10, popShow30, popShow1h, popShow2h, PopShowCustTP}) a->setCheckable(true);
  Pop->addSeparator();
  popClear = item("&Clear the Chart", 1008);
  ExportChartData1 = item("Export Data", 0);
  ExportChartData1->setVisible(false);
  QObject::connect(ExportChartData1, &QAction::triggered, this, [this] { ExportChartData1Click(); });
  Pop->addSeparator();
  SyncAllGraphs = item("&Sync All Charts", 1005);
  Pop->addSeparator()->setVisible(false);
  PrinterSetup1 = item("Printer Setup...", 0);
  PrinterSetup1->setVisible(false);
  QObject::connect(PrinterSetup1, &QAction::triggered, this, [this] { PrinterSetup1Click(); });
  PrintChart1 = item("Print Chart", 0);
  PrintChart1->setVisible(false);
  QObject::connect(PrintChart1, &QAction::triggered, this, [this] { PrintChart1Click(); });
  Pop->addSeparator();
  SetDefault = item("Set as Default", 0);
  QObject::connect(SetDefault, &QAction::triggered, this, [this] { SetDefaultClick(); });
}

void TdlgChart::showEvent(QShowEvent* e) {
  TButtonForm::showEvent(e);
  if (!shown_) {
    shown_ = true;
    FormShow();
  }
}

void TdlgChart::FormShow() {
  Research->setShortcut(QKeySequence("Ctrl+Shift+R"));
  ExportChartData1->setVisible(DebugOn.load());
  NoVolume = IsIndexSymbol(Symbol) || IsPortfolioSymbol(Symbol);
  if (NoVolume) {
    for (QAction* a : {HistoricalChartsFor, SeeNewsFor, Island, Research, N1}) a->setVisible(false);
  } else {
    HistoricalChartsFor->setText(QString::fromStdString("Historical Charts For " + Symbol + "..."));
    SeeNewsFor->setText(QString::fromStdString("See News For " + Symbol + "..."));
    Island->setText(QString::fromStdString("Island Level II for " + Symbol + "..."));
    Research->setText(QString::fromStdString("Research for " + Symbol + "..."));
    Island->setVisible(Symbol.size() >= 4);
  }
  Settings.SetIndicatorDefaults(NoVolume);
  Settings.CustomMinutes = 10;
  Settings.Left = x();
  Settings.Top = y();
  Settings.Width = width();
  Settings.Height = height();
  bool ownLine = false;
  if (IniFile_) {
    const std::string def = Ini().ReadString("ChartsDefault", "DEF", "");
    const std::string line = Ini().ReadString("Charts", Symbol, def);
    ownLine = line != def;
    ParseChartParams(line, ownLine, NoVolume, Settings);
  }
  ClampChartSettings(Settings, NoVolume);
  if (const QScreen* sc = screen()) {
    const QRect avail = sc->availableGeometry();
    Settings.Width = std::min(Settings.Width, avail.width());
    Settings.Height = std::min(Settings.Height, avail.height());
  }
  setGeometry(Settings.Left, Settings.Top, Settings.Width, Settings.Height);
  // A chart without a place of its own opens cascaded from the others, not on top of them.
  if (!ownLine) CascadeWindow(this);
  VolChart->setVisible(Settings.ShowBottom);
  if (NoVolume || !Settings.ShowBidAsk) {
    PriceChart->Series(1).Active = false;
    PriceChart->Series(2).Active = false;
  }
  EnsureOnScreen(this);
  UpdateMenus();
  ApplySettings();
  RefreshCaptionButtons();
  Panel1->hide();
  FormResize();
  PostUpdate();
}

void TdlgChart::PostUpdate() { PostWindowMessage(this, MsgChartRedraw, 0, 0); }
void TdlgChart::PostRedraw() { PostWindowMessage(this, MsgChartRedraw, 1, 1); }

bool TdlgChart::event(QEvent* e) {
  if (e->type() == WindowMessageEvent::EventType) {
    auto* m = static_cast<WindowMessageEvent*>(e);
    if (m->Msg == MsgChartRedraw) {
      msgRedraw(m->WParam != 0);
      return true;
    }
  }
  return TButtonForm::event(e);
}

bool TdlgChart::eventFilter(QObject* watched, QEvent* e) {
  if (watched == MainPan && e->type() == QEvent::Resize) FormResize();
  return TButtonForm::eventFilter(watched, e);
}

void TdlgChart::msgRedraw(bool full) {
  // A lock wait or an error dialog processes messages: a pulse arriving meanwhile is kept
  // for afterwards instead of starting a second redraw inside the first.
  if (inRedraw_) {
    pending_ = true;
    pendingFull_ = pendingFull_ || full;
    return;
  }
  inRedraw_ = true;
  try {
    AddToChart(full);
  } catch (const std::exception& e) {
    WriteLog(std::string("Chart redraw error: ") + e.what());
  } catch (...) {
    WriteLog("Chart redraw error");
  }
  inRedraw_ = false;
  if (pending_) {
    const bool f = pendingFull_;
    pending_ = pendingFull_ = false;
    PostWindowMessage(this, MsgChartRedraw, f ? 1 : 0, f ? 1 : 0);
  }
}

RedrawEnv TdlgChart::CurrentEnv() const {
  RedrawEnv env;
  env.FilterPercent = LiveSettings.Filter;
  env.ShowFractions = ShowFractions;
  env.PortfolioPercent = NoVolume && IsPortfolioSymbol(Symbol) && LiveSettings.PortChart == "%";
  const QFontMetrics fm(PriceChart->font());
  const QRect plot = PriceChart->PlotRect(PriceChart->rect(), fm);
  env.PriceHeight = plot.height();
  env.PriceWidth = plot.width();
  env.TextHeight = fm.height();
  return env;
}

void TdlgChart::AddToChart(bool full) {
  ++redrawCount_;
  StockInfoType* rec = StockTable.FindRecord(Symbol);
  std::optional<StockSnapshotSource> src;
  if (rec) src.emplace(rec);
  const RedrawResult r = redraw_.AddToChart(full, src ? &*src : nullptr, Settings, NoVolume, CurrentEnv());
  if (r.Skipped) return;
  ApplyRedraw(r);
  if (!r.Error.empty()) {
    WriteLog(r.ErrorPosition + ": " + r.Error);
    // A persisting fault shows its report once, not on every pulse.
    if (reportedError_ != r.Error) {
      reportedError_ = r.Error;
      ShowErrorReport(r.Error, r.ErrorPosition);
    }
  }
}

void TdlgChart::ApplyRedraw(const RedrawResult& r) {
  if (r.RebuildLegends) UpdateLegends();
  UpdateMenus();
  ApplyAxes(r);
  for (int i = 0; i < 8; ++i) PriceChart->Series(i).Active = r.PriceActive[static_cast<size_t>(i)];
  for (int i = 0; i < 3; ++i) VolChart->Series(i).Active = r.BottomActive[static_cast<size_t>(i)];
  if (r.Error.empty()) UpdateCaptionAndHint();
  panNoData->setVisible(r.NoData);
  panNoData->raise();
  Panel1->show();
  PriceChart->show();
}

void TdlgChart::ApplyAxes(const RedrawResult& r) {
  for (ChartAxis* a : {&PriceChart->LeftAxis, &PriceChart->RightAxis}) {
    a->SetMinMax(r.PriceAxisMin, r.PriceAxisMax);
    a->Increment = r.PriceIncrement;
  }
  PriceChart->LeftAxis.ValueFormat = r.SmallPriceFormat ? SmallPriceFormat : PriceLeftFormat;
  PriceChart->RightAxis.ValueFormat = r.SmallPriceFormat ? SmallPriceFormat : PriceRightFormat;
  for (ChartAxis* a : {&VolChart->LeftAxis, &VolChart->RightAxis}) {
    a->SetMinMax(r.BottomAxisMin, r.BottomAxisMax);
    a->Increment = r.BottomIncrement;
    if (!r.BottomTitle.empty()) a->Title = r.BottomTitle;
  }
  PriceChart->BottomAxis.SetMinMax(r.TimeAxisMin, r.TimeAxisMax);
  VolChart->BottomAxis.SetMinMax(r.TimeAxisMin, r.TimeAxisMax);
  PriceChart->update();
  VolChart->update();
}

std::string TdlgChart::PeriodText(int period, int customMinutes) { return ::PeriodText(period, customMinutes); }

void TdlgChart::UpdateCaptionAndHint() {
  std::string caption;
  if (NoVolume && IsPortfolioSymbol(Symbol)) {
    const std::string name = ChartHooks.PortNameForSymbol ? ChartHooks.PortNameForSymbol(Symbol) : Symbol;
    caption = ChartCaption(ChartKind::Portfolio, name, redraw_.LastPrice, LiveSettings.PortChart == "%",
                           Settings.Period, Settings.CustomMinutes);
  } else if (NoVolume) {
    caption = ChartCaption(ChartKind::Index, GetIndexName(Symbol), redraw_.LastPrice, false, Settings.Period,
                           Settings.CustomMinutes);
  } else {
    caption = ChartCaption(ChartKind::Stock, Symbol, redraw_.LastPrice, false, Settings.Period, Settings.CustomMinutes);
  }
  const QString q = QString::fromStdString(caption);
  if (windowTitle() != q) {
    setWindowTitle(q);
    RefreshCaptionButtons();
  }
  const QString hint = LiveSettings.Hints ? QString::fromStdString(HintText()) : QString();
  if (PriceChart->toolTip() != hint) {
    if (underMouse()) QToolTip::hideText();
    PriceChart->setToolTip(hint);
    VolChart->setToolTip(hint);
  }
}

std::string TdlgChart::HintText() const {
  std::vector<std::string> lines;
  if (NoVolume && IsPortfolioSymbol(Symbol)) {
    std::array<double, 5> v{};
    if (!ChartHooks.PortfolioValues || !ChartHooks.PortfolioValues(Symbol, v)) return "";
    lines = {windowTitle().toStdString(), "  Value: $" + Grouped(v[0]),
             " Change: $" + Grouped(v[1]) + "(" + FixedText(v[2], 2) + "%)", "   High: $" + Grouped(v[3]),
             "    Low: $" + Grouped(v[4])};
  } else if (NoVolume) {
    LockHold hold(IdxListLock, "CHHINT", true);
    if (!hold) return "";
    const auto it = std::find_if(IndexList.begin(), IndexList.end(),
                                 [&](const IndexSnapType& x) { return SameText(x.Symbol, Symbol); });
    if (it == IndexList.end()) return "";
    lines = {it->Name, " Value: " + FixedText(it->Value, 2), "Change: " + FixedText(it->Change, 2)};
  } else {
    StockInfoType* rec = StockTable.FindRecord(Symbol);
    if (!rec) return "";
    LockHold hold(AddSnapLock, "CHHINT", true);
    if (!hold) return "";
    const QuoteFields& q = rec->Quote;
    lines = {Symbol,
             "  Last:" + FormatPriceFraction(q.Last),
             "   Bid:" + FormatPriceFraction(q.Bid),
             "   Ask:" + FormatPriceFraction(q.Ask),
             "  High:" + FormatPriceFraction(q.High),
             "   Low:" + FormatPriceFraction(q.Low),
             "Change:" + FormatPriceFraction(double(q.Last) - double(q.PrevClose)),
             "   Vol:" + Grouped(q.Volume)};
  }
  std::string out;
  for (size_t i = 0; i < lines.size(); ++i) out += (i ? "\r\n" : "") + lines[i];
  return out;
}

void TdlgChart::UpdateMenus() {
  popVol->setText(Settings.ShowBottom ? "Hide &Bottom Chart" : "Show &Bottom Chart");
  popLegend->setText(Settings.ShowLegend ? "Hide Legend" : "Show Legend");
  popShowBidAsk->setText(Settings.ShowBidAsk ? "Hide &Bid/Ask" : "Show &Bid/Ask");
  PopAllDay->setChecked(Settings.Period == PeriodAllDay);
  popShow10->setChecked(Settings.Period == Period10Min);
  popShow30->setChecked(Settings.Period == Period30Min);
  popShow1h->setChecked(Settings.Period == Period1Hour);
  popShow2h->setChecked(Settings.Period == Period2Hours);
  PopShowCustTP->setChecked(Settings.Period == PeriodCustom);
}

void TdlgChart::UpdateLegends() {
  const bool left = LiveSettings.AxL;
  const int startX = left ? 60 : 2;
  const int limit = MainPan->width() - (left ? 5 : 65);
  int x = startX, y = 0;
  for (int k = 1; k <= 5; ++k) {
    QLabel* l = lbLegend[static_cast<size_t>(k)];
    const std::string& name = Settings.IndName[k];
    if (name == IndNone || !Settings.IndicatorsOn) {
      l->hide();
      continue;
    }
    const std::string n = FormatPrice(Settings.IndParam[0][k]);
    std::string text;
    if (name == "SMA") text = "SMA(" + n + ")";
    else if (name == "EMA") text = "EMA(" + n + ")";
    else if (name == "Bollinger High") text = "BHi(" + n + ")";
    else if (name == "Bollinger Low") text = "BLo(" + n + ")";
    else if (name == "Horiz. Line") text = "HL(" + n + ")";
    else text = "PVT";
    l->setText(QString::fromStdString(text));
    l->setStyleSheet(QString("color: %1; background: transparent;")
                         .arg(ToQColor(LiveSettings.Ind[static_cast<size_t>(k - 1)]).name()));
    l->adjustSize();
    if (x + l->width() > limit && x != startX) {
      x = startX;
      y += l->height();
    }
    l->move(x, y);
    l->show();
    l->raise();
    x += l->width() + 10;
  }
}

void TdlgChart::ApplySettings() {
  const GlobVars& g = LiveSettings;
  PriceChart->Series(0).PenWidth = g.PriceThick;
  for (int i = 1; i <= 2; ++i) PriceChart->Series(i).PenWidth = g.BidThick;
  for (int i = 3; i < 8; ++i) PriceChart->Series(i).PenWidth = g.IndThick;
  ApplyChartColors(PriceChart, g.AxL, g.Gradient, g.BackClr, g.GradStart, g.GradEnd, g.PriceClr, g.AxisClr, g.TextClr);
  ApplyChartColors(VolChart, g.AxL, g.Gradient, g.BackClr, g.GradEnd, g.GradStart, g.VolClr, g.AxisClr, g.TextClr);
  const VertAxisSide side = g.AxL ? VertAxisSide::Left : VertAxisSide::Right;
  for (TChart* c : {PriceChart, VolChart})
    for (int i = 0; i < c->SeriesCount(); ++i) c->Series(i).Axis = side;
  PriceChart->Series(1).Color = ToQColor(g.BidClr);
  PriceChart->Series(2).Color = ToQColor(g.AskClr);
  for (int k = 0; k < 5; ++k) PriceChart->Series(k + 3).Color = ToQColor(g.Ind[static_cast<size_t>(k)]);
  VolChart->Series(1).Color = ToQColor(g.Ind[0]);
  VolChart->Series(2).Color = ToQColor(g.Ind[1]);
  if (!g.Hints) {
    PriceChart->setToolTip(QString());
    VolChart->setToolTip(QString());
  }
  UpdateLegends();
}

void TdlgChart::FormResize() {
  const int h = MainPan->height();
  Panel1->setGeometry(0, 0, MainPan->width(), h);
  if (Settings.ShowBottom) {
    const int ph = static_cast<int>(h * Settings.SplitRatio);
    adjustingSplit_ = true;
    Splitter1->setSizes({ph, std::max(h - ph - Splitter1->handleWidth(), 15)});
    adjustingSplit_ = false;
  }
  panNoData->adjustSize();
  panNoData->move((MainPan->width() - panNoData->width()) / 2, (h - panNoData->height()) / 2);
  // The caption buttons sit over the price chart's top edge: its plot starts below them.
  int top = 0;
  for (const QToolButton* b : {LookupButton(), HelpButton()})
    if (b && !b->isHidden()) top = std::max(top, b->geometry().bottom() + 1);
  PriceChart->TopMargin = top;
  UpdateLegends();
  // Margins and steps are in pixels: a new size gets its own axes at once.
  if (const std::optional<RedrawResult> r = redraw_.Rescale(Settings, NoVolume, CurrentEnv())) ApplyAxes(*r);
  PriceChart->update();
}

void TdlgChart::Splitter1Moved() {
  if (adjustingSplit_ || MainPan->height() <= 0) return;
  Settings.SplitRatio = std::clamp(static_cast<float>((PriceChart->height() + 0.01) / MainPan->height()), 0.1f, 0.9f);
  FormResize();
}

bool TdlgChart::wmHandleMessages(int msg, int command) {
  if (msg != WmSysCommand) return false;
  bool handled = true;
  try {
    switch (command) {
      case 1000:
        Settings.ShowBottom = !Settings.ShowBottom;
        VolChart->setVisible(Settings.ShowBottom);
        FormResize();
        break;
      case 1001: case 1002: case 1003: case 1004: case 1006:
        Settings.Period = command;
        PostRedraw();
        break;
      case 1005:
        SyncAll();
        break;
      case 1007:
        Settings.ShowBidAsk = !Settings.ShowBidAsk;
        PriceChart->Series(1).Active = PriceChart->Series(2).Active = Settings.ShowBidAsk && !NoVolume;
        PostRedraw();
        break;
      case 1008:
        ClearChartData();
        break;
      case 1009:
        Settings.ShowLegend = !Settings.ShowLegend;
        break;
      case 1010: {
        Settings.Period = PeriodCustom;
        std::optional<int> minutes;
        if (ChartHooks.AskCustomMinutes) {
          minutes = ChartHooks.AskCustomMinutes(this, Settings.CustomMinutes);
        } else {
          TdlgCustTP dlg(this);
          minutes = dlg.Ask(Settings.CustomMinutes);
        }
        if (minutes) Settings.CustomMinutes = std::clamp(*minutes, 1, 1440);
        PostRedraw();
        break;
      }
      default:
        handled = false;
    }
  } catch (const std::exception& e) {
    WriteLog(std::string("Chart command error: ") + e.what());
  }
  UpdateMenus();
  return handled;
}

void TdlgChart::ClearChartData() {
  if (!AskYes(this, "Do you really want to destroy all accumulated data for this chart?", "Clear Stock Data")) return;
  if (StockInfoType* rec = StockTable.FindRecord(Symbol)) {
    if (rec->Values.Lock("HANDLE")) {
      rec->Values.Clear(50);
      rec->FirstTime.store(-1.0);
      rec->Values.Unlock();
    }
    if (ChartHooks.StreamingActive && ChartHooks.StreamingActive() && ChartHooks.RestartSymbol)
      ChartHooks.RestartSymbol(Symbol);
  }
  DumpLoadTime.store(0);
  PostRedraw();
  if (ChartHooks.ShowStocks) ChartHooks.ShowStocks();
  for (int list : {4, 2, 1}) AddPendingSymbol(list, Symbol);
}

void TdlgChart::TakeSettingsFrom(const TdlgChart& o) {
  Settings.ShowBottom = o.Settings.ShowBottom;
  VolChart->setVisible(Settings.ShowBottom);
  Settings.ShowLegend = o.Settings.ShowLegend;
  Settings.SplitRatio = o.Settings.SplitRatio;
  resize(o.width(), o.height());
  Settings.Period = o.Settings.Period;
  Settings.CustomMinutes = o.Settings.CustomMinutes;
  if (!NoVolume) {
    Settings.ShowBidAsk = o.Settings.ShowBidAsk;
    PriceChart->Series(1).Active = PriceChart->Series(2).Active = Settings.ShowBidAsk;
    for (int i = 3; i < 8; ++i) PriceChart->Series(i).Active = false;
  }
  Settings.IndicatorsOn = o.Settings.IndicatorsOn;
  for (int slot = 1; slot <= IndSlots; ++slot) {
    const std::string& name = o.Settings.IndName[slot];
    if (NoVolume && IsVolumeIndicator(name)) continue;
    Settings.IndName[slot] = name;
    for (int r = 0; r < 3; ++r) Settings.IndParam[r][slot] = o.Settings.IndParam[r][slot];
  }
  FormResize();
  Panel1->hide();
  PostRedraw();
}

void TdlgChart::SyncAll() {
  LockHold hold(ChartLock, "8");
  if (!hold) return;
  std::vector<TdlgChart*> charts = OpenChartWindows();
  for (auto it = charts.rbegin(); it != charts.rend(); ++it)
    if (*it != this && !SameText((*it)->Symbol, Symbol)) (*it)->TakeSettingsFrom(*this);
}

std::string TdlgChart::BuildChartParams() const {
  ChartSettings s = Settings;
  // The restored place, also while maximised (as the client area, which the chart opens with).
  const QRect g = NormalGeometry(*this).translated(geometry().topLeft() - pos());
  s.Left = g.x();
  s.Top = g.y();
  s.Width = g.width();
  s.Height = g.height();
  return ::BuildChartParams(s, LocalNow());
}

void TdlgChart::SetDefaultClick() {
  if (IniFile_) Ini().WriteString("ChartsDefault", "DEF", BuildChartParams());
}

std::string TdlgChart::ResearchAddress(const std::string& command, const std::string& symbol) {
  return ChartResearchAddress(command, symbol);
}

void TdlgChart::ResearchClick() {
  if (!ChartHooks.PopupMenuEntries) return;
  for (const auto& [caption, command] : ChartHooks.PopupMenuEntries()) {
    if (UpperCase(caption).find("RESEARCH") == std::string::npos) continue;
    const std::string url = ResearchAddress(command, Symbol);
    if (url.empty()) {
      WriteLog("Research address refused: " + command);
      continue;
    }
    if (ChartHooks.OpenURL)
      ChartHooks.OpenURL(url);
    else
      QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
  }
}

void TdlgChart::popSelectIndClick() {
  std::string name = Symbol;
  if (IsPortfolioSymbol(Symbol) && ChartHooks.PortNameForSymbol) name = ChartHooks.PortNameForSymbol(Symbol);
  const std::string caption = "Technical Indicators for " + name;
  PickIndOn = Settings.IndicatorsOn;
  PickAllowVolume = !NoVolume;
  for (int slot = 1; slot <= IndSlots; ++slot) {
    PickIndName[slot] = Settings.IndName[slot];
    for (int r = 0; r < 3; ++r) PickIndParam[r][slot] = Settings.IndParam[r][slot];
  }
  bool ok;
  ++ModalDepth;
  if (ChartHooks.RunIndicatorPicker) {
    ok = ChartHooks.RunIndicatorPicker(this, caption);
  } else {
    TdlgPickInd dlg(this);
    dlg.setWindowTitle(QString::fromStdString(caption));
    ok = dlg.exec() == QDialog::Accepted;
  }
  --ModalDepth;
  if (!ok) return;
  Settings.IndicatorsOn = PickIndOn;
  for (int slot = 1; slot <= IndSlots; ++slot) {
    Settings.IndName[slot] = PickIndName[slot];
    for (int r = 0; r < 3; ++r) Settings.IndParam[r][slot] = PickIndParam[r][slot];
  }
  ClampChartSettings(Settings, NoVolume);
  PostRedraw();
}

void TdlgChart::ExportChartData1Click() {
  const std::string suggested = ProgDir + Symbol + ".csv";
  std::string name;
  if (ChartHooks.AskExportFileName) {
    name = ChartHooks.AskExportFileName(this, suggested);
  } else {
    QFileDialog ask(this, "Export Collected Data", QString::fromStdString(suggested),
                    "Comma-separated files (*.csv);;All Files (*.*)");
    ask.setAcceptMode(QFileDialog::AcceptSave);
    ask.setDefaultSuffix("csv");  // so the replace question is about the file written
    ++ModalDepth;
    const bool accepted = ask.exec() == QDialog::Accepted && !ask.selectedFiles().isEmpty();
    --ModalDepth;
    if (accepted) name = ask.selectedFiles().front().toStdString();
  }
  if (name.empty()) return;
  // A name without an extension gets the default one.
  if (QFileInfo(QString::fromStdString(name)).suffix().isEmpty()) {
    if (name.back() == '.') name.pop_back();
    name += ".csv";
    // Whoever asked for the name asked about it as typed, not about this file.
    if (QFileInfo::exists(QString::fromStdString(name))) {
      if (!AskYes(this, name + " already exists.\nDo you want to replace it?", "Export Collected Data")) return;
    }
  }
  auto tell = [this](const std::string& text, const std::string& caption) {
    if (ChartHooks.Tell)
      ChartHooks.Tell(this, text, caption);
    else if (caption == "Export Finished")
      QMessageBox::information(this, QString::fromStdString(caption), QString::fromStdString(text));
    else
      QMessageBox::warning(this, QString::fromStdString(caption), QString::fromStdString(text));
  };
  if (ExportTicksCsv(Symbol, name))
    tell("Data saved in comma-separated format to file \"" + name + "\".", "Export Finished");
  else
    tell("The data could not be saved to file \"" + name + "\".", "Export Failed");
}

void TdlgChart::PrintTo(QPainter& p, const QRect& page) const {
  QFont f("MS Sans Serif");
  f.setPointSize(12);
  p.setFont(f);
  const QFontMetrics fm(f);
  p.setPen(Qt::black);
  p.drawText(page.left(), page.top() + fm.ascent(), "Intraday Chart: " + windowTitle());
  const int top = page.top() + fm.height() * 2;
  const int avail = page.height() - (top - page.top());
  const int ph = PriceChart->height(), vh = VolChart->isVisible() ? VolChart->height() : 0;
  const int total = std::max(ph + vh, 1);
  const int priceBand = avail * ph / total;
  PriceChart->Render(p, QRect(page.left(), top, page.width(), priceBand));
  if (vh > 0) VolChart->Render(p, QRect(page.left(), top + priceBand, page.width(), avail - priceBand));
}

void TdlgChart::PrinterSetup1Click() {
  if (!printer_) printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
  // The printer and its options, kept for "Print Chart" (the page set-up dialog refuses a
  // machine without a native printer; this one offers printing to a file there).
  QPrintDialog dlg(printer_.get(), this);
  dlg.setWindowTitle("Printer Setup");
  ++ModalDepth;
  dlg.exec();
  --ModalDepth;
}

void TdlgChart::PrintChart1Click() {
  if (!printer_) printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
  QPrinter& printer = *printer_;
  if (QPrinterInfo::defaultPrinter().isNull() && printer.outputFileName().isEmpty()) {
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(ProgDir + "chart.pdf"));
  }
  QPainter p;
  if (!p.begin(&printer)) return;
  const QRect page = printer.pageLayout().paintRectPixels(printer.resolution()).translated(
      -printer.pageLayout().paintRectPixels(printer.resolution()).topLeft());
  p.scale(printer.resolution() / 96.0, printer.resolution() / 96.0);
  const double inv = 96.0 / printer.resolution();
  PrintTo(p, QRect(0, 0, static_cast<int>(page.width() * inv), static_cast<int>(page.height() * inv)));
  p.end();
}

void TdlgChart::closeEvent(QCloseEvent* e) {
  // A dialog of this chart (picker, period, printer, file, question) runs its own loop further
  // down the stack; freeing the chart under it would free the dialog too. The dialog is ended
  // first, and the chart closes once that loop has returned.
  bool dialogOpen = false;
  for (QDialog* d : findChildren<QDialog*>())
    if (d->isVisible()) {
      d->reject();
      dialogOpen = true;
    }
  if (dialogOpen) {
    QTimer::singleShot(0, this, [this] { close(); });
    e->ignore();
    return;
  }
  try {
    if (DebugOn) WriteDebugLog("Closing Chart " + Symbol);
    // The restored place is saved as it stands: a window made normal here would still have the
    // maximised size until the window system answered.
    if (DebugOn) WriteDebugLog("saving chart params " + Symbol);
    SaveChartParams(Symbol, BuildChartParams());
    if (DebugOn) WriteDebugLog("deleting crop " + Symbol);
    if (DebugOn) WriteDebugLog("Done " + Symbol);
  } catch (const std::exception& ex) {
    ShowErrorReport(ex.what(), "Chart FormClose Error");
  }
  e->accept();
}

std::vector<TdlgChart*> OpenChartWindows() {
  std::lock_guard<std::mutex> g(chartsMutex);
  return openCharts;
}

void InitChartUnit() {
  static const bool logged = [] {
    WriteLog("ChartU Init");
    return true;
  }();
  (void)logged;
}

TdlgChart* OpenChart(const std::string& symbol) {
  if (symbol.empty()) return nullptr;
  LockHold hold(ChartLock, "OPEN");
  if (!hold) return nullptr;
  for (TdlgChart* c : OpenChartWindows()) {
    if (SameText(c->Symbol, symbol)) {
      c->showNormal();
      c->raise();
      c->activateWindow();
      return c;
    }
  }
  auto* c = new TdlgChart(UpperCase(symbol));
  {
    std::lock_guard<std::mutex> g(chartsMutex);
    openCharts.push_back(c);
  }
  KeepAboveMainWindow(c);
  KeepOnScreen(c);
  c->show();
  return c;
}

void CloseAllCharts() {
  std::vector<QPointer<TdlgChart>> charts;
  {
    LockHold hold(ChartLock, "CLOSE");
    for (TdlgChart* c : OpenChartWindows()) charts.emplace_back(c);
  }
  // Closing saves each chart's settings; the window leaves the list as it is freed. Closing one
  // processes events, which may free another, so each is checked again before use.
  for (const QPointer<TdlgChart>& c : charts)
    if (c) c->close();
}

void PulseCharts() {
  LockHold hold(ChartLock, "PULSE", true);
  if (!hold) return;
  std::lock_guard<std::mutex> g(chartsMutex);
  for (TdlgChart* c : openCharts) PostWindowMessage(c, MsgChartRedraw, 0, 0);
}
