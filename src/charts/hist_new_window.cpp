#include "charts/hist_new_window.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>

#include <algorithm>
#include <filesystem>

#include "ads/banner/ad_banner.h"
#include "charts/hist_banner_row.h"
#include "charts/hist_cache.h"
#include "charts/hist_chart_view.h"
#include "core/log.h"
#include "core/market_clock.h"
#include "core/program_state.h"
#include "core/settings_file.h"
#include "core/url_launch.h"
#include "core/window_place.h"

StringList HistNewWindows;

TFrmHistNew* FindProphetWindow(const std::string& symbol) {
  return static_cast<TFrmHistNew*>(FindHistChartForm(HistNewWindows, symbol));
}

void OpenProphetWindow(const std::string& symbol) {
  OpenHistChartForm(symbol, "Prophet Graphs", HistNewWindows, [](const std::string& s) { return new TFrmHistNew(s); });
}

TFrmHistNew::TFrmHistNew(const std::string& symbol, QWidget* parent) : HistChartForm('$', parent) {
  Symbol = symbol;
  Params = ReadPropParams(ParamList);
  Image1->InverseLineColour = false;
  BuildControls();
  ShowLookupButton = true;
  ShowHelpButton = true;
}

TFrmHistNew::~TFrmHistNew() {
  ShutdownFetch();
  const int i = HistNewWindows.IndexOf(Symbol);
  if (i >= 0 && HistNewWindows.Objects(i) == this) HistNewWindows.Delete(i);
}

void TFrmHistNew::BuildControls() {
  auto* logo = new HistClickable<QLabel>("Prophet\nCharts", this);
  logo->OnClick = [this] { ProphetPicClick(); };
  ProphetPic = logo;
  ProphetPic->setFixedSize(86, 61);
  ProphetPic->setAlignment(Qt::AlignCenter);
  ProphetPic->setCursor(Qt::PointingHandCursor);
  ProphetPic->setStyleSheet("QLabel { background: #5a2d82; color: white; font-weight: bold; border: 1px solid #2e1245; }");
  PanAd = new QWidget(this);
  PanAd->setFixedSize(470, 62);
  Banner = CreateAdBanner(3, PanAd, 468, 60, false);
  if (Banner) Banner->move(1, 1);
  MakeClickLabels(PanAd, Banner, true);
  auto* top = new QHBoxLayout;
  top->setSpacing(2);
  top->addWidget(ProphetPic);
  top->addWidget(BannerRow);
  top->addStretch();

  cmbPrice = new QComboBox(this);
  cmbBack = new QComboBox(this);
  cmbMovAve = new QComboBox(this);
  cmbPeriod = new QComboBox(this);
  cmbFreq = new QComboBox(this);
  ckLog = new QCheckBox("Log Scale", this);
  dfVal = new QLineEdit(this);
  dfVal->setMaxLength(11);
  dfStock = new QLineEdit(this);
  pbTop = new QPushButton("Top Indicators", this);
  pbBottom = new QPushButton("Bottom Indicators", this);
  Edit1 = new QLineEdit(Panel1);
  Edit1->setReadOnly(true);
  Edit1->hide();
  PopupTop = new QMenu(this);
  PopupBottom = new QMenu(this);

  // Each row keeps the designed widths while it fits and shares a shortfall evenly; a button
  // never gets narrower than its caption.
  auto row = [this](std::initializer_list<std::pair<QWidget*, int>> items) {
    auto* h = new QHBoxLayout;
    h->setSpacing(4);
    for (const auto& [w, width] : items) {
      if (width > 0) {
        const int least = qobject_cast<QAbstractButton*>(w) ? w->sizeHint().width() : width / 2;
        w->setMinimumWidth(least);
        w->setMaximumWidth(std::max(width, least));
        h->addWidget(w, width);
      } else {
        h->addWidget(w);
      }
    }
    h->addStretch(1);
    return h;
  };
  auto label = [this](const char* text) { return new QLabel(text, this); };
  dfName->setFixedWidth(70);
  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(4, 0, 4, 4);
  root->setSpacing(3);
  root->addLayout(top);
  root->addLayout(row({{label("Stock"), 0}, {dfName, 0}, {label("Style"), 0}, {cmbPrice, 110}, {ckLog, 0},
                       {label("Colors"), 0}, {cmbBack, 110}, {pbGet, 0}}));
  root->addLayout(row({{label("Moving Average"), 0}, {cmbMovAve, 110}, {label("MA Values"), 0}, {dfVal, 70},
                       {pbTop, 110}, {pbBottom, 120}}));
  root->addLayout(row({{label("Period"), 0}, {cmbPeriod, 100}, {label("Frequency"), 0}, {cmbFreq, 90},
                       {label("Compare With:"), 0}, {dfStock, 130}}));
  Panel1->setMinimumSize(200, 100);
  root->addWidget(Panel1, 1);
  setMinimumWidth(564);
  resize(540 + 24, 450);

  connect(pbGet, &QPushButton::clicked, this, [this] { pbGetClick(); });
  connect(cmbPeriod, &QComboBox::activated, this, [this] { cmbPeriodClick(); });
  connect(cmbMovAve, &QComboBox::activated, this, [this] { dfValExit(); });
  connect(dfVal, &QLineEdit::editingFinished, this, [this] { dfValExit(); });
  connect(dfName, &QLineEdit::editingFinished, this, [this] { dfNameExit(); });
  connect(pbTop, &QPushButton::clicked, this, [this] { PopMenu(PopupTop, pbTop, true); });
  connect(pbBottom, &QPushButton::clicked, this, [this] { PopMenu(PopupBottom, pbBottom, false); });
}

void TFrmHistNew::PanelResized() {
  Image1->setGeometry(0, 0, Panel1->width(), Panel1->height());
  Edit1->setGeometry(0, Panel1->height() - 22, Panel1->width(), 22);
}

void TFrmHistNew::RefreshMenus() {
  auto fill = [](QMenu* menu, const StringList& list, const StringList& flagList, const std::string& flags,
                 const char* prefix) {
    if (menu->actions().size() != list.Count()) {
      menu->clear();
      for (int i = 0; i < list.Count(); ++i) {
        QAction* a = menu->addAction(QString::fromStdString(list[i]));
        a->setObjectName(QString::fromStdString(prefix + std::to_string(i)));
        a->setCheckable(true);
      }
    }
    const auto actions = menu->actions();
    for (int i = 0; i < actions.size(); ++i) {
      const std::string flag = i < flagList.Count() ? flagList[i] : std::string();
      actions[i]->setChecked(!flag.empty() && flags.find(flag[0]) != std::string::npos);
    }
  };
  fill(PopupTop, Params.UpperList, Params.UpperFlag, TopFlags, "UpInd");
  fill(PopupBottom, Params.LowerList, Params.LowerFlag, BottomFlags, "LowInd");
}

void TFrmHistNew::UpperPop(const std::string& caption) {
  const int i = Params.UpperList.IndexOf(caption);
  if (i >= 0 && i < Params.UpperFlag.Count() && !Params.UpperFlag[i].empty()) ToggleFlag(TopFlags, Params.UpperFlag[i][0]);
  RefreshMenus();
}

void TFrmHistNew::BottomPop(const std::string& caption) {
  const int i = Params.LowerList.IndexOf(caption);
  if (i >= 0 && i < Params.LowerFlag.Count() && !Params.LowerFlag[i].empty())
    ToggleFlag(BottomFlags, Params.LowerFlag[i][0]);
  RefreshMenus();
}

void TFrmHistNew::PopMenu(QMenu* menu, QPushButton* button, bool top) {
  PopMenuLoop(
      menu, button,
      [this, top](QAction* a) {
        if (top) UpperPop(a->text().toStdString());
        else BottomPop(a->text().toStdString());
      },
      [this] { RefreshMenus(); });
}

void TFrmHistNew::showEvent(QShowEvent* event) {
  HistChartForm::showEvent(event);
  if (shown_) return;
  shown_ = true;
  FormShow();
  FirstActivate = false;
}

void TFrmHistNew::FormShow() {
  Image1->Lines().ResetDrag();
  dfName->setText(QString::fromStdString(Symbol));
  HideNotices();
  if (HistNewWindows.IndexOf(Symbol) < 0) HistNewWindows.Add(Symbol, this);
  setWindowTitle(QString::fromStdString("Prophet Graphs for " + Symbol));
  RefreshCaptionButtons();
  FillHistCombo(cmbPeriod, Params.PeriodList);
  FillHistCombo(cmbFreq, Params.FreqList);
  FreqNames = Params.FreqList;
  FreqCodes = Params.FreqCode;
  FillHistCombo(cmbMovAve, Params.MovAveList);
  FillHistCombo(cmbPrice, Params.PriceList);
  FillHistCombo(cmbBack, Params.StyleList);
  RefreshMenus();

  const std::string def = IniFile_ ? Ini().ReadString("Prophet", "Default", PropDefaultState) : PropDefaultState;
  const std::string state = IniFile_ ? Ini().ReadString("Prophet", Symbol, def) : def;
  const std::vector<std::string> f = SplitStateFields(state);
  auto number = [&](size_t i, int& out) {
    if (i >= f.size()) return false;
    try {
      out = std::stoi(f[i]);
      return true;
    } catch (...) {
      return false;
    }
  };
  int left = 0, topPos = 0, width = 0, height = 0;
  if (number(0, left) && number(1, topPos)) PlaceFrameAt(this, QPoint(left, topPos));
  if (number(12, width) && number(13, height)) resize(std::max(width, minimumWidth()), std::max(height, 200));
  SelectHistCode(cmbPrice, Params.PriceCode, HistStateField(f, 2, "1"));
  SelectHistCode(cmbBack, Params.StyleCode, HistStateField(f, 3, "10"));
  SelectHistCode(cmbMovAve, Params.MovAveCode, HistStateField(f, 4, "0"));
  SelectHistCode(cmbPeriod, Params.PeriodCode, HistStateField(f, 5, "9"));
  dfStock->setText(QString::fromStdString(HistStateField(f, 7, "")));
  BottomFlags = Trim(HistStateField(f, 8, "0"));
  TopFlags = Trim(HistStateField(f, 9, "0"));
  dfVal->setText(QString::fromStdString(HistStateField(f, 10, "9")));
  ckLog->setChecked(HistStateField(f, 11, "N") == "Y");
  RefreshMenus();
  cmbPeriodClick();
  const int freq = FreqCodes.IndexOf(HistStateField(f, 6, "1"));
  cmbFreq->setCurrentIndex(freq >= 0 && freq < cmbFreq->count() ? freq : (cmbFreq->count() ? 0 : -1));
  ShownFile.clear();
  Image1->setGeometry(0, 0, Panel1->width(), Panel1->height());
  TDateTime stamp;
  DrawCachedChart(GetCacheName(stamp));
  EnsureOnScreen(this);
}

void TFrmHistNew::cmbPeriodClick() {
  const QString freq = cmbFreq->currentText();
  const bool intraday = cmbPeriod->currentIndex() >= 0 && cmbPeriod->currentIndex() < Params.PeriodShort;
  FreqNames = intraday ? Params.FreqShortD : Params.FreqLongD;
  FreqCodes = intraday ? Params.FreqShort : Params.FreqLong;
  FillHistCombo(cmbFreq, FreqNames);
  SelectHistText(cmbFreq, freq);
}

void TFrmHistNew::dfValExit() {
  const std::string code = HistCodeOf(cmbMovAve, Params.MovAveCode);
  dfVal->setText(QString::fromStdString(NormalisePropMaValues(code, dfVal->text().toStdString())));
}

PropChoices TFrmHistNew::CurrentChoices() const {
  PropChoices c;
  c.Symbol = Symbol;
  c.PeriodCode = HistCodeOf(cmbPeriod, Params.PeriodCode);
  const int f = FreqNames.IndexOf(cmbFreq->currentText().toStdString());
  c.FreqCode = f >= 0 && f < FreqCodes.Count() ? FreqCodes[f] : "-1";
  c.PriceCode = HistCodeOf(cmbPrice, Params.PriceCode);
  c.StyleCode = HistCodeOf(cmbBack, Params.StyleCode);
  c.MaCode = HistCodeOf(cmbMovAve, Params.MovAveCode);
  c.MaValues = dfVal->text().toStdString();
  c.CompareText = UpperCase(dfStock->text().toStdString());
  c.TopFlags = TopFlags;
  c.BottomFlags = BottomFlags;
  c.LogScale = ckLog->isChecked();
  c.Width = Image1->width();
  c.Height = Image1->height();
  return c;
}

std::string TFrmHistNew::GetCacheName(TDateTime& stamp) const {
  const PropChoices c = CurrentChoices();
  const TDateTime now = MarketNow();
  stamp = cmbPeriod->currentIndex() >= 0 && cmbPeriod->currentIndex() < Params.PeriodShort ? HistIntradayStamp(now)
                                                                                              : HistDailyStamp(now);
  return HistCacheName(std::to_string(c.Width) + "x" + std::to_string(c.Height), c.Symbol, stamp, c.PeriodCode,
                       PropCacheKey(c));
}

void TFrmHistNew::pbGetClick() {
  if (Fetching()) return;
  TDateTime stamp;
  const std::string name = GetCacheName(stamp);
  const double timeOfDay = MarketNow() - std::floor(MarketNow());
  const bool intraday = cmbPeriod->currentIndex() >= 0 && cmbPeriod->currentIndex() < Params.PeriodShort;
  const bool marketHours = timeOfDay >= 0.375 && timeOfDay < 0.6875;
  // During market hours an intraday chart always comes from the site.
  if (!(intraday && marketHours) && ShowCachedInstead(name)) return;
  dfName->setText(QString::fromStdString(Symbol));
  if (Params.Site.empty()) {
    ShowNotice(NoChartSiteText, true, "");
    return;
  }
  PropChoices c = CurrentChoices();
  for (const std::string& s : [&] {
         StringList l;
         l.SetCommaText(PropCompareList(c.CompareText));
         std::vector<std::string> v;
         for (int i = 0; i < l.Count(); ++i) v.push_back(l[i]);
         return v;
       }()) {
    if (!IsValidChartSymbol(s)) {
      ShowNotice("\"" + s + "\" is not a valid symbol", true, "");
      return;
    }
  }
  const std::string query = BuildPropQuery(Params, c, LocalNow());
  CacheName = name;
  Edit1->setText(QString::fromStdString(query));
  ShowNotice("Retrieving Chart...", false, "&Cancel");
  pbGet->setEnabled(false);
  setCursor(Qt::BusyCursor);
  QPointer<TFrmHistNew> self(this);
  Fetch(Params.Site, Params.Port, query, "Content-type: image/gif", [self](const std::string& body, bool cancelled) {
    if (!self || self->Closing) return;
    if (DebugOn.load()) WriteDebugLog("Prophet chart: " + std::to_string(body.size()) + " bytes");
    self->TakeChartBody(body, cancelled);
    self->pbGet->setEnabled(true);
  });
}

void TFrmHistNew::dfNameExit() {
  if (!SwitchSymbol(HistNewWindows)) return;
  setWindowTitle(QString::fromStdString("Prophet Graphs for " + Symbol));
  RefreshCaptionButtons();
  TDateTime stamp;
  DrawCachedChart(GetCacheName(stamp));
}

void TFrmHistNew::SaveWindowState() {
  if (!IniFile_ || Symbol.empty()) return;
  const int f = cmbFreq->currentIndex();
  const QRect place = NormalGeometry(*this);
  const std::vector<std::string> fields{std::to_string(place.x()),
                                        std::to_string(place.y()),
                                        HistCodeOf(cmbPrice, Params.PriceCode),
                                        HistCodeOf(cmbBack, Params.StyleCode),
                                        HistCodeOf(cmbMovAve, Params.MovAveCode),
                                        HistCodeOf(cmbPeriod, Params.PeriodCode),
                                        f >= 0 && f < FreqCodes.Count() ? FreqCodes[f] : "-1",
                                        dfStock->text().toStdString(),
                                        BottomFlags,
                                        TopFlags,
                                        dfVal->text().toStdString(),
                                        ckLog->isChecked() ? "Y" : "N",
                                        std::to_string(place.width()),
                                        std::to_string(place.height())};
  Ini().WriteString("Prophet", Symbol, JoinStateFields(fields));
}

void TFrmHistNew::ProphetPicClick() {
  if (Params.Home.empty()) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  OpenURL(Params.Home);
  QApplication::restoreOverrideCursor();
}

void TFrmHistNew::closeEvent(QCloseEvent* event) {
  Closing = true;
  setWindowTitle("TERMINATING");
  ShutdownFetch();
  SaveWindowState();
  const int i = HistNewWindows.IndexOf(Symbol);
  if (i >= 0 && HistNewWindows.Objects(i) == this) HistNewWindows.Delete(i);
  event->accept();
}
