#include "charts/hist_form.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "ads/banner/ad_banner.h"
#include "ads/gif/gif_whole.h"
#include "charts/hist_banner_row.h"
#include "charts/hist_cache.h"
#include "charts/hist_chart_view.h"
#include "charts/hist_query.h"
#include "charts/hist_thread.h"
#include "core/banner_arrow.h"
#include "core/market_clock.h"
#include "core/program_state.h"
#include "platform/string_list.h"
#include "core/window_place.h"

HistStampFor MakeHistStampFor() {
  // Read once: the stale pass asks for every file of the cache.
  const TDateTime now = MarketNow();
  const HistSiteParams h = ReadHistParams(ParamList);
  const PropSiteParams p = ReadPropParams(ParamList);
  std::vector<std::string> intraday;
  // Names carry the code as a name part, so compare in that form.
  for (int i = 0; i < h.PeriodCode.Count(); ++i)
    if (h.IsShortPeriod(h.PeriodCode[i])) intraday.push_back(HistNamePart(h.PeriodCode[i]));
  for (int i = 0; i < p.PeriodCode.Count() && i < p.PeriodShort; ++i) intraday.push_back(HistNamePart(p.PeriodCode[i]));
  return [now, intraday](const std::string& period) {
    const bool isIntraday = std::find(intraday.begin(), intraday.end(), period) != intraday.end();
    return isIntraday ? HistIntradayStamp(now) : HistDailyStamp(now);
  };
}

HistChartForm::HistChartForm(char threadTag, QWidget* parent)
    : TButtonForm(parent, Qt::Window), thread_(std::make_unique<THistThread>(threadTag)) {
  setAttribute(Qt::WA_DeleteOnClose);
  Panel1 = new QWidget(this);
  Panel1->setObjectName("Panel1");
  Image1 = new HistChartView(Panel1);
  Image1->OnLinesChanged = [this] { LinesChanged(); };
  panFetching = new QLabel(Panel1);
  panFetching->setAlignment(Qt::AlignCenter);
  panFetching->setAutoFillBackground(true);
  QFont bold = panFetching->font();
  bold.setBold(true);
  panFetching->setFont(bold);
  panFetching->hide();
  pbPanelBut = new QPushButton("&Cancel", Panel1);
  pbPanelBut->hide();
  QObject::connect(pbPanelBut, &QPushButton::clicked, this, [this] { pbPanelButClick(); });
  pbClearLines = new QPushButton("Clear Lines", Panel1);
  pbClearLines->hide();
  QObject::connect(pbClearLines, &QPushButton::clicked, this, [this] { pbClearLinesClick(); });
  dfName = new QLineEdit(this);
  dfName->setMaxLength(10);
  dfName->setStyleSheet("QLineEdit { background: yellow; color: black; font-weight: bold; }");
  pbGet = new QPushButton("&Draw Chart", this);
  Panel1->installEventFilter(this);
  // Delete reaches the window whatever control has the focus (lists and buttons included); an
  // edit field keeps the key for itself by overriding the shortcut.
  auto* deleteKey = new QShortcut(QKeySequence(Qt::Key_Delete), this);
  deleteKey->setContext(Qt::WindowShortcut);
  QObject::connect(deleteKey, &QShortcut::activated, this, [this] { FormKeyDown(Qt::Key_Delete); });

  QPointer<HistChartForm> self(this);
  thread_->OnDone = [self](int serial) {
    if (self) self->FetchDone(serial);
  };
  thread_->Start(true);
}

HistChartForm::~HistChartForm() {
  ShutdownFetch();
}

void HistChartForm::ShutdownFetch() {
  if (thread_) thread_->Shutdown();
  pending_ = nullptr;
  queued_.reset();
}

void HistChartForm::ShowNotice(const std::string& text, bool error, const std::string& button) {
  panFetching->setText(QString::fromStdString(text));
  QPalette pal = panFetching->palette();
  pal.setColor(QPalette::Window, error ? QColor(255, 0, 0) : QColor(0, 128, 0));
  pal.setColor(QPalette::WindowText, Qt::white);
  panFetching->setPalette(pal);
  panFetching->show();
  panFetching->raise();
  pbPanelBut->setText(QString::fromStdString(button));
  pbPanelBut->setVisible(!button.empty());
  pbPanelBut->raise();
  PlacePanelControls();
}

void HistChartForm::HideNotices() {
  panFetching->hide();
  pbPanelBut->hide();
}

std::string HistChartForm::NoticeText() const { return panFetching->text().toStdString(); }
bool HistChartForm::NoticeShown() const { return !panFetching->isHidden(); }

void HistChartForm::PlacePanelControls() {
  const QSize size = Panel1->size();
  const QSize notice(std::min(size.width() - 20, 300), 30);
  panFetching->setGeometry((size.width() - notice.width()) / 2, size.height() / 2 - 40, notice.width(), notice.height());
  const QSize but = pbPanelBut->sizeHint().expandedTo(QSize(90, 0));
  pbPanelBut->setGeometry((size.width() - but.width()) / 2, size.height() / 2, but.width(), but.height());
  const QSize clear = pbClearLines->sizeHint();
  pbClearLines->setGeometry(size.width() - clear.width() - 4, 4, clear.width(), clear.height());
}

bool HistChartForm::DrawChart(const std::string& gif) {
  if (!Image1->ShowGif(gif)) return false;
  GifText = gif;
  return true;
}

bool HistChartForm::DrawCachedChart(const std::string& name) {
  std::string data;
  if (!ReadCachedChart(name, data) || !DrawChart(data)) return false;
  ShownFile = HistCachePath(name);
  return true;
}

void HistChartForm::StoreInCache(const std::string& data) {
  // Only charts that DrawChart showed come here, so they decoded already.
  ::StoreInCache(CacheName, data, MakeHistStampFor(), true);
}

void HistChartForm::Fetch(const std::string& host, int port, const std::string& path, const std::string& header,
                          std::function<void(const std::string&, bool)> then) {
  pending_ = std::move(then);
  pendingSerial_ = 0;
  queued_ = std::make_unique<Queued>(Queued{host, path, header, port});
  StartQueued();
}

void HistChartForm::StartQueued() {
  if (!queued_ || !pending_) return;
  int serial = 0;
  if (!thread_->Request(queued_->host, queued_->port, queued_->path, queued_->header, serial)) return;  // after the running one
  pendingSerial_ = serial;
  queued_.reset();
}

void HistChartForm::FetchDone(int serial) {
  std::string body;
  bool cancelled = false;
  if (serial == pendingSerial_ && pending_ && thread_->TakeResult(serial, body, cancelled)) {
    auto then = std::move(pending_);
    pending_ = nullptr;
    pendingSerial_ = 0;
    if (!cancelled && body.empty()) body = "ERR";
    then(body, cancelled);
  }
  StartQueued();
}

void HistChartForm::pbPanelButClick() {
  const std::string caption = pbPanelBut->text().toStdString();
  if (caption.find("ancel") != std::string::npos) {
    CancelFetch();
  } else if (caption.find("etry") != std::string::npos) {
    RetryClick();
  } else if (caption.find("Again") != std::string::npos) {
    TryAgainClick();
  }
}

void HistChartForm::MakeClickLabels(QWidget* panel, AdBanner* banner, bool arrows, const char* left,
                                    const char* right) {
  ClickLabL = new QLabel(left, this);
  ClickLabR = new QLabel(right, this);
  if (arrows) {
    ClickPicL = NewBannerArrowLabel(this, true);
    ClickPicR = NewBannerArrowLabel(this, false);
  }
  // Site 1's window keeps the width its controls give it, so its labels are narrower.
  BannerRow = new HistBannerRow(this, panel, ClickLabL, ClickLabR, ClickPicL, ClickPicR, arrows ? 150 : 110);
  SetBannerBlurbLabels(banner, ClickLabL, ClickLabR);
}

void HistChartForm::CancelFetch() {
  // The wait ends now; the thread's late answer is dropped.
  thread_->Cancel();
  queued_.reset();
  if (auto then = std::move(pending_)) {
    pending_ = nullptr;
    pendingSerial_ = -1;
    then(std::string(), true);
  }
}

void HistChartForm::pbClearLinesClick() { Image1->ClearLines(); }

void HistChartForm::LinesChanged() {
  pbClearLines->setVisible(Image1->Lines().LineCount() >= 1);
  pbClearLines->raise();
}

void HistChartForm::FormKeyDown(int key) {
  if (key != Qt::Key_Delete) return;
  // An edit field takes Delete itself; the lines stay.
  if (qobject_cast<QLineEdit*>(QApplication::focusWidget())) return;
  Image1->DeleteSelectedLine();
}

void FillHistCombo(QComboBox* combo, const StringList& names) {
  combo->clear();
  for (int i = 0; i < names.Count(); ++i) combo->addItem(QString::fromStdString(names[i]));
}

void SelectHistCode(QComboBox* combo, const StringList& codes, const std::string& code) {
  const int i = codes.IndexOf(code);
  combo->setCurrentIndex(i >= 0 && i < combo->count() ? i : (combo->count() > 0 ? 0 : -1));
}

std::string HistCodeOf(const QComboBox* combo, const StringList& codes) {
  const int i = combo->currentIndex();
  return i >= 0 && i < codes.Count() ? codes[i] : "-1";
}

void SelectHistText(QComboBox* combo, const QString& text) {
  const int i = combo->findText(text);
  combo->setCurrentIndex(i >= 0 ? i : (combo->count() > 0 ? 0 : -1));
}

bool HistChartForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Panel1 && event->type() == QEvent::Resize) {
    PanelResized();
    PlacePanelControls();
  }
  return TButtonForm::eventFilter(watched, event);
}

std::string HistStateField(const std::vector<std::string>& fields, size_t i, const char* fallback) {
  return i < fields.size() ? fields[i] : fallback;
}

HistChartForm* FindHistChartForm(const StringList& windows, const std::string& symbol) {
  const int i = windows.IndexOf(symbol);
  return i >= 0 ? static_cast<HistChartForm*>(windows.Objects(i)) : nullptr;
}

void BringForward(QWidget* window) {
  window->show();
  window->raise();
  window->activateWindow();
}

void OpenHistChartForm(const std::string& symbolIn, const char* title, const StringList& windows,
                       const std::function<HistChartForm*(const std::string&)>& create) {
  const std::string symbol = UpperCase(Trim(symbolIn));
  if (!IsValidChartSymbol(symbol)) {
    QMessageBox::warning(QApplication::activeWindow(), title,
                         QString::fromStdString(symbol.empty() ? std::string("Select a stock first.")
                                                               : "\"" + symbol + "\" is not a valid symbol."));
    return;
  }
  if (HistChartForm* open = FindHistChartForm(windows, symbol)) {
    BringForward(open);
    return;
  }
  HistChartForm* form = create(symbol);
  KeepOnScreen(form);
  KeepAboveMainWindow(form);
  form->show();
}

bool HistChartForm::ShowCachedInstead(const std::string& name) {
  const std::string path = HistCachePath(name);
  std::error_code ec;
  if (path.empty() || !std::filesystem::exists(path, ec) || SameText(path, ShownFile) || !DrawCachedChart(name))
    return false;
  HideNotices();
  return true;
}

bool HistChartForm::TakeChartBody(const std::string& body, bool cancelled) {
  unsetCursor();
  if (cancelled) {
    HideNotices();
    return false;
  }
  // A chart cut short would decode with its lower part blank: a failed fetch, never cached.
  if (!GifArrivedWhole(body) || !DrawChart(body)) {
    ShowNotice("Error Fetching Chart", true, "&Try Again");
    return false;
  }
  StoreInCache(body);
  // The chart shown is now the cached file: pressing again fetches it anew.
  ShownFile = HistCachePath(CacheName);
  HideNotices();
  return true;
}

bool HistChartForm::SwitchSymbol(StringList& windows) {
  const std::string text = UpperCase(Trim(dfName->text().toStdString()));
  dfName->setText(QString::fromStdString(Symbol));
  if (text.empty() || text == Symbol) return false;
  if (!IsValidChartSymbol(text)) {
    ShowNotice("\"" + text + "\" is not a valid symbol", true, "");
    return false;
  }
  if (HistChartForm* other = FindHistChartForm(windows, text); other && other != this) {
    BringForward(other);
    return false;
  }
  // A fetch for the old symbol is cancelled, as Cancel does.
  if (Fetching()) CancelFetch();
  SaveWindowState();
  const int i = windows.IndexOf(Symbol);
  if (i >= 0) windows.Delete(i);
  Symbol = text;
  windows.Add(Symbol, this);
  dfName->setText(QString::fromStdString(Symbol));
  Image1->ClearChart();
  GifText.clear();
  ShownFile.clear();
  HideNotices();
  return true;
}

void HistChartForm::PopMenuLoop(QMenu* menu, QPushButton* button, const std::function<void(QAction*)>& toggle,
                                const std::function<void()>& refresh) {
  const QPoint at = button->mapToGlobal(QPoint(0, button->height()));
  for (;;) {
    refresh();
    QAction* a = menu->exec(at);
    if (!a || Closing) break;
    toggle(a);
  }
}

void HistChartForm::SymbolLookedUp(const std::string& symbol) {
  dfName->setText(QString::fromStdString(symbol));
  dfNameExit();
}
