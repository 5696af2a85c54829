#include "charts/hist_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>

#include <filesystem>

#include "ads/banner/ad_banner.h"
#include "ads/gif/anim_gif.h"
#include "ads/gif/anim_image_control.h"
#include "charts/hist_ad.h"
#include "charts/hist_banner_row.h"
#include "charts/hist_cache.h"
#include "charts/hist_chart_view.h"
#include "core/gif_hooks.h"
#include "core/log.h"
#include "core/market_clock.h"
#include "core/program_state.h"
#include "core/settings_file.h"
#include "core/text_helpers.h"
#include "core/url_launch.h"
#include "core/window_place.h"

StringList HistWindows;
std::string SiteIdCache;

namespace {

struct MenuItem {
  const char* caption;
  int64_t bit;
};
// -1: a separator.
constexpr MenuItem TopItems[] = {{"MA Envelopes", 4},  {"Bollinger Bands", 8}, {"Parabolic SAR", 16},
                                 {"Volume By Price", 32}, {"Price Channel", 128}, {"", -1},
                                 {"Show Splits", 1024}, {"Show Earnings", 2048}, {"Show Dividends", 4096},
                                 {"A/D Line", 512}};
constexpr MenuItem BottomItems[] = {
    {"Volume", 1},          {"Volume+", 268435456},        {"RSI", 2},
    {"MACD", 4},            {"OBV", 8},                    {"Fast Stochastic", 16},
    {"Slow Stochastic", 32}, {"ROC", 128},                 {"Williams %R", 256},
    {"Money Flow", 512},    {"Vol Accumulation", 4096},    {"Volatility Fast", 8192},
    {"Volatility Slow", 16384}, {"Ult Oscillator", 131072}, {"Short Interest", 1073741824},
    {"Rolling EPS", 67108864}, {"P/E Ratio", 16777216},    {"P/E Ranges", 8388608},
    {"Rolling Divident", 134217728}, {"Yield", 33554432}, {"Up/Down Ratio", 262144},
    {"Arms Index (TRIN)", 524288}, {"A/D Line (Breadth)", 1048576}, {"A/D Line (Daily)", 2097152},
    {"% Compare", 4194304}, {"Momentum", 65536}};

uint32_t ParseFlags(const std::string& text) {
  try {
    return static_cast<uint32_t>(std::stoll(Trim(text)));
  } catch (...) {
    return 0;
  }
}

std::string SymbolsDatPath() { return ProgDir + "symbols.dat"; }

}  // namespace

TfrmHist* FindHistWindow(const std::string& symbol) {
  return static_cast<TfrmHist*>(FindHistChartForm(HistWindows, symbol));
}

void OpenHistoryWindow(const std::string& symbol) {
  OpenHistChartForm(symbol, "History Graphs", HistWindows, [](const std::string& s) { return new TfrmHist(s); });
}

TfrmHist::TfrmHist(const std::string& symbol, QWidget* parent) : HistChartForm('#', parent) {
  Symbol = symbol;
  Params = ReadHistParams(ParamList);
  OurAds = Params.OurAds;
  BuildControls();
  BuildMenus();
  ShowLookupButton = true;
  ShowHelpButton = true;
  if (!OurAds) {
    adGif_ = std::make_unique<TAnimGif>();
    SetGifDithering(adGif_.get());
    AdPic->SetPicture(adGif_.get());
    adThread_ = std::make_unique<TAdThread>();
    adThread_->AdSite = Params.AdSite;
    adThread_->AdPath = Params.AdPath;
    adThread_->ImageSite = Params.AdImageSite;
    QPointer<TfrmHist> self(this);
    adThread_->OnAd = [self](const SiteAd& ad, const std::string& gif) {
      if (self) self->ApplySiteAd(ad.Link, ad.ImagePath, gif);
    };
    adThread_->Start(true);
  }
}

TfrmHist::~TfrmHist() {
  if (adThread_) adThread_->Shutdown();
  ShutdownFetch();
  if (AdPic) AdPic->SetPicture(nullptr);
  if (adGif_) adGif_->StopPainters();
  const int i = HistWindows.IndexOf(Symbol);
  if (i >= 0 && HistWindows.Objects(i) == this) HistWindows.Delete(i);
}

void TfrmHist::BuildControls() {
  auto* top = new QHBoxLayout;
  top->setSpacing(2);
  auto* logo = new HistClickable<QLabel>("Charts", this);
  logo->OnClick = [this] { BCImageClick(); };
  BCImage = logo;
  BCImage->setFixedSize(60, 65);
  BCImage->setAlignment(Qt::AlignCenter);
  BCImage->setCursor(Qt::PointingHandCursor);
  BCImage->setStyleSheet("QLabel { background: #1c3d6e; color: white; font-weight: bold; border: 1px solid #0d2040; }");
  top->addWidget(BCImage);
  AdPanel = new QWidget(this);
  AdPanel->setFixedSize(470, 62);
  if (OurAds) {
    Banner = CreateAdBanner(3, AdPanel, 468, 60, false);
    if (Banner) Banner->move(1, 1);
    MakeClickLabels(AdPanel, Banner, false);
  } else {
    auto* pic = new HistClickable<TGifImageControl>(AdPanel);
    pic->OnClick = [this] { AdImageClick(); };
    pic->setGeometry(1, 1, 468, 60);
    pic->setCursor(Qt::PointingHandCursor);
    AdPic = pic;
    MakeClickLabels(AdPanel, nullptr, false, "Please support", "our sponsors");
  }
  top->addWidget(BannerRow);
  top->addStretch();

  auto label = [this](const char* text) { return new QLabel(text, this); };
  cmbPrice = new QComboBox(this);
  cmbBack = new QComboBox(this);
  cmbMovAve = new QComboBox(this);
  cmbPeriod = new QComboBox(this);
  cmbFreq = new QComboBox(this);
  cmbIndex = new QComboBox(this);
  dfVal = new QLineEdit(this);
  dfVal->setMaxLength(11);
  dfStock = new QLineEdit(this);
  dfStock->setMaxLength(10);
  pbTop = new QPushButton("Top Indicators", this);
  pbBottom = new QPushButton("Bottom Indicators", this);

  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(4);
  grid->setVerticalSpacing(2);
  grid->addWidget(label("Stock"), 0, 0);
  grid->addWidget(dfName, 0, 1);
  grid->addWidget(label("Price Display"), 0, 2);
  grid->addWidget(cmbPrice, 0, 3);
  grid->addWidget(label("Backgnd"), 0, 4);
  grid->addWidget(cmbBack, 0, 5);
  grid->addWidget(pbGet, 0, 6, 1, 2);
  grid->addWidget(label("Moving   Average"), 1, 0);
  grid->addWidget(cmbMovAve, 1, 1);
  grid->addWidget(label("MA Values"), 1, 2);
  grid->addWidget(dfVal, 1, 3);
  grid->addWidget(pbTop, 1, 4, 1, 2);
  grid->addWidget(pbBottom, 1, 6, 1, 2);
  grid->addWidget(label("Time Period:"), 2, 0);
  grid->addWidget(cmbPeriod, 2, 1);
  grid->addWidget(label("Frequency"), 2, 2);
  grid->addWidget(cmbFreq, 2, 3);
  grid->addWidget(label("Compare w/Index"), 2, 4);
  grid->addWidget(cmbIndex, 2, 5);
  grid->addWidget(label("& Stock"), 2, 6);  // no buddy: shown as written
  grid->addWidget(dfStock, 2, 7);
  dfName->setFixedWidth(70);
  dfStock->setFixedWidth(60);

  Panel1->setFixedSize(520, 300);
  Image1->setGeometry(0, 0, 520, 300);
  // The band reads the pixel at (2, 2); dark chart styles get a colour of their own.
  Image1->BandPixel = QPoint(2, 2);
  Image1->BandColour = [this]() -> std::optional<QColor> {
    switch (cmbBack->currentIndex()) {
      case 6: return QColor(0xC0, 0xC0, 0xC0);
      case 0:
      case 2:
      case 5: return QColor(Qt::red);
      default: return std::nullopt;
    }
  };
  PlacePanelControls();

  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(6, 0, 6, 6);
  root->setSpacing(3);
  root->addLayout(top);
  root->addLayout(grid);
  root->addWidget(Panel1, 0, Qt::AlignHCenter);
  root->setSizeConstraint(QLayout::SetFixedSize);

  connect(pbGet, &QPushButton::clicked, this, [this] { pbGetClick(); });
  connect(cmbPeriod, &QComboBox::activated, this, [this] {
    cmbPeriodClick();
    UpdateDrawButton();
  });
  connect(cmbMovAve, &QComboBox::activated, this, [this] { dfValExit(); });
  connect(dfVal, &QLineEdit::editingFinished, this, [this] { dfValExit(); });
  connect(dfName, &QLineEdit::editingFinished, this, [this] { dfNameExit(); });
  for (QComboBox* c : {cmbPrice, cmbBack, cmbFreq, cmbIndex})
    connect(c, &QComboBox::activated, this, [this] { UpdateDrawButton(); });
  connect(pbTop, &QPushButton::clicked, this, [this] { PopMenu(PopupTop, pbTop, true); });
  connect(pbBottom, &QPushButton::clicked, this, [this] { PopMenu(PopupBottom, pbBottom, false); });
}

void TfrmHist::BuildMenus() {
  PopupTop = new QMenu(this);
  PopupBottom = new QMenu(this);
  for (const MenuItem& m : TopItems) {
    if (m.bit < 0) {
      PopupTop->addSeparator();
      continue;
    }
    QAction* a = PopupTop->addAction(m.caption);
    a->setCheckable(true);
    a->setData(static_cast<qlonglong>(m.bit));
  }
  for (const MenuItem& m : BottomItems) {
    QAction* a = PopupBottom->addAction(m.caption);
    a->setCheckable(true);
    a->setData(static_cast<qlonglong>(m.bit));
  }
}

void TfrmHist::RefreshMenus() {
  const bool intraday = Params.IsShortPeriod(HistCodeOf(cmbPeriod, Params.PeriodCode));
  for (QAction* a : PopupTop->actions()) {
    if (a->isSeparator()) continue;
    const auto bit = static_cast<uint32_t>(a->data().toLongLong());
    a->setChecked(TopFlags & bit);
    if (bit & HistDailyOnlyTopBits) a->setEnabled(!intraday);
  }
  for (QAction* a : PopupBottom->actions()) a->setChecked(BottomFlags & static_cast<uint32_t>(a->data().toLongLong()));
}

void TfrmHist::ToggleTopFlag(uint32_t bit) {
  TopFlags ^= bit;
  RefreshMenus();
}

void TfrmHist::ToggleBottomFlag(uint32_t bit) {
  BottomFlags ^= bit;
  RefreshMenus();
}

void TfrmHist::PopMenu(QMenu* menu, QPushButton* button, bool top) {
  PopMenuLoop(
      menu, button,
      [this, top](QAction* a) {
        const auto bit = static_cast<uint32_t>(a->data().toLongLong());
        if (top) ToggleTopFlag(bit);
        else ToggleBottomFlag(bit);
      },
      [this] { RefreshMenus(); });
}

void TfrmHist::showEvent(QShowEvent* event) {
  HistChartForm::showEvent(event);
  if (shown_) return;
  shown_ = true;
  FormShow();
  QPointer<TfrmHist> self(this);
  QMetaObject::invokeMethod(this, [self] {
    if (self) self->FormActivate();
  }, Qt::QueuedConnection);
}

void TfrmHist::FormShow() {
  Image1->Lines().ResetDrag();
  // The look-up cache; a newer wipe order empties it.
  std::error_code ec;
  if (std::filesystem::exists(SymbolsDatPath(), ec)) {
    if (IniFile_ && SiteIdWipeDue(Params.WipeCache, Ini().ReadString("Stocks", "HISTWIPECACHE", ""))) {
      Ini().WriteString("Stocks", "HISTWIPECACHE", Trim(Params.WipeCache));
      SiteIdCache.clear();
      WriteFileAtomic(SymbolsDatPath(), "");
    } else {
      std::string text;
      if (ReadWholeFile(SymbolsDatPath(), text)) SiteIdCache = text;
    }
  } else {
    SiteIdCache.clear();
  }
  dfName->setText(QString::fromStdString(Symbol));
  HideNotices();
  if (HistWindows.IndexOf(Symbol) < 0) HistWindows.Add(Symbol, this);
  setWindowTitle(QString::fromStdString("History Graphs for " + Symbol));
  RefreshCaptionButtons();
  FillHistCombo(cmbPeriod, Params.PeriodList);
  FillHistCombo(cmbFreq, Params.FreqList);
  FillHistCombo(cmbIndex, Params.IndList);
  FillHistCombo(cmbMovAve, Params.MovAveList);
  FillHistCombo(cmbPrice, Params.PriceList);
  FillHistCombo(cmbBack, Params.StyleList);

  std::string def = IniFile_ ? Ini().ReadString("History", "Default", HistDefaultState) : HistDefaultState;
  const std::string state = IniFile_ ? Ini().ReadString("History", Symbol, def) : def;
  const std::vector<std::string> f = SplitStateFields(state);
  if (f.size() >= 2) {
    try {
      PlaceFrameAt(this, QPoint(std::stoi(f[0]), std::stoi(f[1])));
    } catch (...) {
    }
  }
  SelectHistCode(cmbPrice, Params.PriceCode, HistStateField(f, 2, "1"));
  SelectHistCode(cmbBack, Params.StyleCode, HistStateField(f, 3, "10"));
  SelectHistCode(cmbMovAve, Params.MovAveCode, HistStateField(f, 4, "0"));
  SelectHistCode(cmbPeriod, Params.PeriodCode, HistStateField(f, 5, "9"));
  SelectHistCode(cmbIndex, Params.IndCode, HistStateField(f, 7, "aaaaa:0"));
  dfStock->setText(QString::fromStdString(HistStateField(f, 8, "")));
  BottomFlags = ParseFlags(HistStateField(f, 9, "0"));
  TopFlags = ParseFlags(HistStateField(f, 10, "0"));
  dfVal->setText(QString::fromStdString(HistStateField(f, 11, "9")));
  cmbPeriodClick();
  const int freq = Params.FreqCode.IndexOf(HistStateField(f, 6, "1"));
  cmbFreq->setCurrentIndex(freq >= 0 && freq < cmbFreq->count() ? freq : (cmbFreq->count() ? 0 : -1));
  ShownFile.clear();
  TDateTime stamp;
  DrawCachedChart(GetCacheName(stamp));
  UpdateDrawButton();
  EnsureOnScreen(this);
}

void TfrmHist::FormActivate() {
  if (!FirstActivate || Closing) return;
  FirstActivate = false;
  pbGet->setEnabled(false);
  QPointer<TfrmHist> self(this);
  LookupSiteId(Symbol, "Getting Stock Info...", false, [self](const std::string& id) {
    if (!self || self->Closing) return;
    if (id.empty()) {
      self->close();  // cancelled
      return;
    }
    self->SidParam = id;
    if (id == "ERR") {
      if (self->Params.Site.empty() && self->Params.LookupSite.empty()) self->ShowNotice(NoChartSiteText, true, "");
      else self->ShowNotice("Error getting stock info.", true, "&Retry");
      self->UpdateDrawButton();
      return;
    }
    self->SidParam = "sid=" + id;
    self->HideNotices();
    self->UpdateDrawButton();
  });
}

void TfrmHist::LookupSiteId(std::string symbol, const std::string& statusText, bool quiet,
                            std::function<void(const std::string&)> then) {
  symbol = symbol.substr(0, symbol.find('.'));
  std::string id;
  if (FindSiteId(SiteIdCache, symbol, id)) {
    then(id);
    return;
  }
  const std::string host = Params.LookupSite.empty() ? Params.Site : Params.LookupSite;
  if (host.empty()) {
    ShowNotice(NoChartSiteText, true, "");
    then("ERR");
    return;
  }
  setCursor(Qt::BusyCursor);
  ShowNotice(statusText, false, "&Cancel");
  QPointer<TfrmHist> self(this);
  Fetch(host, 80, "/quickchart/quickchart.asp?symb=" + UrlEncodeParam(symbol), "Content-type: text/html",
        [self, symbol, quiet, then](const std::string& page, bool cancelled) {
          if (!self || self->Closing) return;
          self->unsetCursor();
          if (cancelled) {
            then("");
            return;
          }
          if (!quiet) self->ResumeBanner();
          std::string id;
          if (page == "ERR" || !ParseSiteId(page, id)) {
            self->ShowNotice("Error getting stock info.", true, "&Retry");
            then("ERR");
            return;
          }
          AddSiteId(SiteIdCache, symbol, id);
          WriteFileAtomic(SymbolsDatPath(), SiteIdCache);
          then(id);
        });
}

HistChoices TfrmHist::CurrentChoices() const {
  HistChoices c;
  c.Symbol = Symbol;
  c.PeriodCode = HistCodeOf(cmbPeriod, Params.PeriodCode);
  // The frequency's code: its display text's place in the full frequency list.
  const int f = Params.FreqList.IndexOf(cmbFreq->currentText().toStdString());
  c.FreqCode = f >= 0 && f < Params.FreqCode.Count() ? Params.FreqCode[f] : "-1";
  c.PriceCode = HistCodeOf(cmbPrice, Params.PriceCode);
  c.StyleCode = HistCodeOf(cmbBack, Params.StyleCode);
  c.IndexCode = HistCodeOf(cmbIndex, Params.IndCode);
  c.MaCode = HistCodeOf(cmbMovAve, Params.MovAveCode);
  c.MaValues = dfVal->text().toStdString();
  c.CompareStock = UpperCase(Trim(dfStock->text().toStdString()));
  c.SidParam = SidParam;
  c.TopFlags = TopFlags;
  c.BottomFlags = BottomFlags;
  return c;
}

std::string TfrmHist::GetCacheName(TDateTime& stamp) const {
  const HistChoices c = CurrentChoices();
  const TDateTime now = MarketNow();
  stamp = Params.IsShortPeriod(c.PeriodCode) ? HistIntradayStamp(now) : HistDailyStamp(now);
  return HistCacheName("", c.Symbol, stamp, c.PeriodCode, HistCacheKey(c));
}

void TfrmHist::UpdateDrawButton() {
  dfName->setText(QString::fromStdString(Symbol));
  const bool ok = cmbPeriod->currentIndex() >= 0 && cmbFreq->currentIndex() >= 0 && cmbPrice->currentIndex() >= 0 &&
                  cmbBack->currentIndex() >= 0 && cmbIndex->currentIndex() >= 0 && cmbMovAve->currentIndex() >= 0;
  pbGet->setEnabled(ok && !Fetching());
  dfName->setEnabled(ok);
}

void TfrmHist::cmbPeriodClick() {
  const QString freq = cmbFreq->currentText();
  const bool intraday = Params.IsShortPeriod(HistCodeOf(cmbPeriod, Params.PeriodCode));
  FillHistCombo(cmbFreq, intraday ? Params.FreqShortD : Params.FreqLongD);
  SelectHistText(cmbFreq, freq);
  RefreshMenus();
}

void TfrmHist::dfValExit() {
  const std::string code = HistCodeOf(cmbMovAve, Params.MovAveCode);
  dfVal->setText(QString::fromStdString(NormaliseHistMaValues(code, dfVal->text().toStdString())));
}

void TfrmHist::pbGetClick() {
  if (Fetching()) return;
  TDateTime stamp;
  if (ShowCachedInstead(GetCacheName(stamp))) {
    ResumeBanner();
    return;
  }
  dfName->setText(QString::fromStdString(Symbol));
  if (Params.Site.empty()) {
    ShowNotice(NoChartSiteText, true, "");
    return;
  }
  const std::string stock = UpperCase(Trim(dfStock->text().toStdString()));
  if (!stock.empty() && !IsValidChartSymbol(stock)) {
    ShowNotice("\"" + stock + "\" is not a valid symbol", true, "");
    return;
  }
  pbGet->setEnabled(false);
  if (stock.empty()) {
    FetchChart("");
    return;
  }
  QPointer<TfrmHist> self(this);
  LookupSiteId(stock, "Getting Stock Info...", true, [self](const std::string& id) {
    if (!self || self->Closing) return;
    if (id.empty()) {  // cancelled
      self->HideNotices();
      self->UpdateDrawButton();
      return;
    }
    self->FetchChart(id);
  });
}

void TfrmHist::FetchChart(const std::string& compareId) {
  HistChoices c = CurrentChoices();
  c.CompareId = compareId;
  LastQuery = BuildHistQuery(Params, c);
  TDateTime stamp;
  CacheName = GetCacheName(stamp);
  ShowNotice("Retrieving Chart...", false, "&Cancel");
  setCursor(Qt::BusyCursor);
  QPointer<TfrmHist> self(this);
  Fetch(Params.Site, 80, LastQuery, "Content-type: image/gif", [self](const std::string& body, bool cancelled) {
    if (!self || self->Closing) return;
    if (DebugOn.load()) WriteDebugLog("History chart: " + std::to_string(body.size()) + " bytes");
    if (self->TakeChartBody(body, cancelled)) self->ResumeBanner();
    self->UpdateDrawButton();
  });
  pbGet->setEnabled(false);
}

void TfrmHist::RetryClick() {
  FirstActivate = true;
  FormActivate();
}

void TfrmHist::TryAgainClick() { pbGetClick(); }

void TfrmHist::dfNameExit() {
  if (!SwitchSymbol(HistWindows)) return;
  setWindowTitle(QString::fromStdString("History Graphs for " + Symbol));
  RefreshCaptionButtons();
  FirstActivate = true;
  FormActivate();
  TDateTime stamp;
  DrawCachedChart(GetCacheName(stamp));
  ResumeBanner();
}

void TfrmHist::SaveWindowState() {
  if (!IniFile_ || Symbol.empty()) return;
  const int f = cmbFreq->currentIndex();
  const QRect place = NormalGeometry(*this);
  const std::vector<std::string> fields{std::to_string(place.x()),
                                        std::to_string(place.y()),
                                        HistCodeOf(cmbPrice, Params.PriceCode),
                                        HistCodeOf(cmbBack, Params.StyleCode),
                                        HistCodeOf(cmbMovAve, Params.MovAveCode),
                                        HistCodeOf(cmbPeriod, Params.PeriodCode),
                                        f >= 0 && f < Params.FreqCode.Count() ? Params.FreqCode[f] : "-1",
                                        HistCodeOf(cmbIndex, Params.IndCode),
                                        dfStock->text().toStdString(),
                                        std::to_string(BottomFlags),
                                        std::to_string(TopFlags),
                                        dfVal->text().toStdString()};
  Ini().WriteString("History", Symbol, JoinStateFields(fields));
}

void TfrmHist::ResumeBanner() {
  if (adThread_ && !adThread_->Busy()) adThread_->RequestPass();
}

void TfrmHist::ApplySiteAd(const std::string& link, const std::string& image, const std::string& gif) {
  if (!adGif_ || Closing) return;
  try {
    adGif_->LoadFromMemory(reinterpret_cast<const uint8_t*>(gif.data()), gif.size());
  } catch (...) {
    return;  // the banner and its link stay as they were
  }
  ClickLabL->clear();
  ClickLabR->clear();
  AdLink = link;
  AdImage = image;
  AdPic->update();
}

void TfrmHist::AdImageClick() {
  if (AdLink.empty()) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  OpenURL(AdLink);
  QApplication::restoreOverrideCursor();
}

void TfrmHist::BCImageClick() {
  if (!Params.Home.empty()) OpenURL(Params.Home);
}

void TfrmHist::closeEvent(QCloseEvent* event) {
  Closing = true;
  setWindowTitle("TERMINATING");
  if (AdPic) AdPic->hide();
  if (adThread_) adThread_->Shutdown();
  ShutdownFetch();
  SaveWindowState();
  const int i = HistWindows.IndexOf(Symbol);
  if (i >= 0 && HistWindows.Objects(i) == this) HistWindows.Delete(i);
  event->accept();
}
