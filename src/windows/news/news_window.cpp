#include "windows/news/news_window.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <QWindow>

#include <algorithm>
#include <cmath>

#include "ads/gif/anim_gif.h"
#include "ads/gif/anim_image_control.h"
#include "core/ad_locations.h"
#include "core/branding.h"
#include "core/button_form.h"
#include "core/gif_hooks.h"
#include "core/error_report.h"
#include "core/locks.h"
#include "core/log.h"
#include "core/market_clock.h"
#include "core/news.h"
#include "core/pending.h"
#include "core/program_state.h"
#include "core/settings.h"
#include "core/settings_file.h"
#include "core/stock_table.h"
#include "core/symbols.h"
#include "core/text_helpers.h"
#include "core/url_launch.h"
#include "prefs/prefs_dialog.h"
#include "retrieval/news_thread.h"
#include "windows/browser/browser_control.h"
#include "windows/browser/browser_nav_bar.h"
#include "windows/news/news_images.h"
#include "windows/news/news_logic.h"
#include "windows/web/browser_window.h"
#include "core/window_place.h"
#include "windows/web/url_launcher.h"

QPointer<TfrmNews> frmNews;

namespace {

constexpr int kObjectRole = Qt::UserRole + 1;
const QColor kDarkBlue(0, 0, 128), kSilver(192, 192, 192), kGreen(0, 128, 0), kLime(0, 255, 0);

// A widget that lays its children out itself.
class LayoutHost : public QWidget {
public:
  explicit LayoutHost(QWidget* parent) : QWidget(parent) {}
  std::function<void()> OnResize;

protected:
  void resizeEvent(QResizeEvent*) override {
    if (OnResize) OnResize();
  }
};

// An image control that reports clicks.
class ClickableImage : public TGifImageControl {
public:
  explicit ClickableImage(QWidget* parent) : TGifImageControl(parent) { setCursor(Qt::PointingHandCursor); }
  std::function<void()> OnClick;

protected:
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && OnClick) OnClick();
  }
};

// The symbol list: red for the symbol being fetched, a bulb for unread news.
class SymbolDelegate : public QStyledItemDelegate {
public:
  explicit SymbolDelegate(TfrmNews* form) : QStyledItemDelegate(form), form_(form) {}

  QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override { return {60, 14}; }

  void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const bool selected = option.state & QStyle::State_Selected;
    const QString text = index.data(Qt::DisplayRole).toString();
    const bool fetching = !fetching_.empty() && text.toStdString() == fetching_;
    p->save();
    p->fillRect(option.rect, selected ? kDarkBlue : kSilver);
    p->setPen(fetching ? QColor(255, 0, 0) : (selected ? Qt::white : Qt::black));
    p->setFont(option.font);
    p->drawText(option.rect.adjusted(2, 0, -10, 0), Qt::AlignLeft | Qt::AlignVCenter, text);
    const int object = index.data(kObjectRole).toInt();
    if (form_->HasNewNews(object))
      DrawNewsBulb(*p, option.rect.right() - 8, option.rect.top(), form_->NowTime - form_->NewestUnread(object));
    p->restore();
  }

  // Read once per repaint pass by the window, never while painting (it takes a lock).
  std::string fetching_;

private:
  TfrmNews* form_;
};

// The headline grid: the read tick in column 0, plain text elsewhere.
class HeadlineDelegate : public QStyledItemDelegate {
public:
  explicit HeadlineDelegate(TfrmNews* form) : QStyledItemDelegate(form), form_(form) {}

  void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const bool selected = option.state & QStyle::State_Selected;
    const QRect r = option.rect;
    p->save();
    if (index.column() == 0) {
      p->fillRect(r, selected ? kDarkBlue : Qt::white);
      const int entry = index.row();
      if (entry < form_->ReadMarks.Count() && form_->ReadMarks[entry] == "Y") {
        const int h = r.height() - 6, x0 = r.left() + 1, y0 = r.center().y();
        p->setRenderHint(QPainter::Antialiasing);
        p->setPen(QPen(selected ? kLime : kGreen, 2));
        const QPoint mid(x0 + h / 2, y0 + h / 2);
        p->drawLine(QPoint(x0 + 1, y0 + 1), mid);
        p->drawLine(QPoint(x0 + h, y0 - h / 2), mid);
      }
    } else {
      p->fillRect(r, selected ? kDarkBlue : Qt::white);
      p->setPen(selected ? Qt::white : Qt::black);
      p->setFont(option.font);
      p->drawText(r.adjusted(2, 0, -2, 0), Qt::AlignLeft | Qt::AlignVCenter,
                  p->fontMetrics().elidedText(index.data().toString(), Qt::ElideRight, r.width() - 4));
    }
    p->restore();
  }

private:
  TfrmNews* form_;
};

// Hands a taken banner location its controls; false when no location was taken.
bool AttachBannerControls(int location, QWidget* image, TAnimGif* gif, QWidget* host, QLabel* blurb1,
                          QLabel* blurb2) {
  if (location <= 0) return false;
  std::lock_guard lock(AdLock);
  AdLocImage[location] = image;
  AdLocGif[location] = gif;
  AdLocHost[location] = host;
  AdLocBlurb1[location] = blurb1;
  AdLocBlurb2[location] = blurb2;
  return true;
}

QPushButton* Button(QWidget* parent, const char* text, const char* hint = nullptr) {
  auto* b = new QPushButton(QString::fromUtf8(text), parent);
  if (hint) b->setToolTip(hint);
  b->setAutoDefault(false);
  return b;
}

int TextWidth(const QFontMetrics& fm, const char* text) {
  return fm.horizontalAdvance(QString::fromUtf8(text));
}

}  // namespace

TfrmNews::TfrmNews(QWidget* owner) : QWidget(owner, Qt::Window) {
  // FormCreate.
  setWindowTitle("News!");
  resize(DesignWidth, DesignHeight);
  setFocusPolicy(Qt::StrongFocus);
  if (!HaveIE4) LiveSettings.NewsBrowserOff = true;

  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  panSymb = new QWidget(this);
  panSymb->setFixedWidth(66);
  auto* symbLayout = new QVBoxLayout(panSymb);
  symbLayout->setContentsMargins(0, 0, 0, 0);
  lbSymb = new QListWidget(panSymb);
  lbSymb->setUniformItemSizes(true);
  lbSymb->setItemDelegate(new SymbolDelegate(this));
  lbSymb->setStyleSheet("QListWidget { background: silver; }");
  QFont small = lbSymb->font();
  small.setPixelSize(11);
  lbSymb->setFont(small);
  lbSymb->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  lbSymb->installEventFilter(this);
  symbLayout->addWidget(lbSymb);
  layout->addWidget(panSymb);

  PanSplit = new QSplitter(Qt::Vertical, this);
  PanSplit->setHandleWidth(5);
  PanSplit->setChildrenCollapsible(false);
  PanSplit->setStyleSheet("QSplitter::handle { background: yellow; }");
  layout->addWidget(PanSplit, 1);

  auto* news = new LayoutHost(PanSplit);
  panNews = news;
  tbNews = new QTableWidget(1, 4, panNews);
  tbNews->setItemDelegate(new HeadlineDelegate(this));
  tbNews->setHorizontalHeaderLabels({"R", "Date/Time", "Heading", "Source"});
  tbNews->verticalHeader()->hide();
  tbNews->verticalHeader()->setDefaultSectionSize(tbNews->fontMetrics().height() + 6);
  tbNews->horizontalHeader()->setStyleSheet(
      "QHeaderView::section { background: silver; color: black; font-weight: bold; border: 1px solid gray; }");
  tbNews->horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
  tbNews->setSelectionBehavior(QAbstractItemView::SelectRows);
  tbNews->setSelectionMode(QAbstractItemView::ExtendedSelection);
  tbNews->setEditTriggers(QAbstractItemView::NoEditTriggers);
  // Tab leaves the table for the buttons; the arrows move among the headlines.
  tbNews->setTabKeyNavigation(false);
  tbNews->setWordWrap(false);
  tbNews->setShowGrid(true);
  tbNews->setContextMenuPolicy(Qt::CustomContextMenu);
  tbNews->viewport()->installEventFilter(this);
  {
    const QFontMetrics fm(tbNews->font());
    tbNews->setColumnWidth(0, TextWidth(fm, " R ") + 6);
    tbNews->setColumnWidth(1, TextWidth(fm, " Feb 28, 1999 12:99 "));
    tbNews->setColumnWidth(3, TextWidth(fm, "Reuters News Age"));
  }

  pbSelAll = Button(panNews, "Select &All");
  pbMarkRead = Button(panNews, "Mark &Read");
  pbNoBulb = Button(panNews, "No Bulbs", "Remove ALL bulbs");
  pbMarkNotRead = Button(panNews, "Mark &NOT Read");
  pbForce = Button(panNews, "Refresh", "Refresh news for this symbol.");
  pbForceAll = Button(panNews, "Refresh All", "Refresh news for all symbols.");
  pbSetNews = Button(panNews, "Preferences");
  pbDetail = Button(panNews, "&Detail");
  pbClose = Button(panNews, "Close");
  pbClose->hide();
  txtNoNews = new QLabel("   No News Found  ", panNews);
  {
    QFont f = txtNoNews->font();
    f.setPixelSize(16);
    f.setBold(true);
    txtNoNews->setFont(f);
  }
  txtNoNews->setStyleSheet("QLabel { background: yellow; border: 1px solid black; color: black; }");
  txtNoNews->adjustSize();
  txtNoNews->hide();

  // The banner row.
  panAd = new QWidget(panNews);
  panAd->setFixedSize(468, 60);
  auto* banner = new ClickableImage(panAd);
  banner->setGeometry(0, 0, 468, 60);
  banner->OnClick = [this] { BannerAdClick(); };
  BannerAd = banner;
  ClickLabL = new QLabel("Keep this program free", panNews);
  ClickLabR = new QLabel("Click on sponsors' banners!", panNews);
  for (QLabel* l : {ClickLabL, ClickLabR}) {
    l->setWordWrap(true);
    l->setAlignment(Qt::AlignCenter);
    l->setFixedWidth(70);
    l->setFixedHeight(44);
  }
  ClickPicL = NewBannerArrowLabel(panNews, true);
  ClickPicR = NewBannerArrowLabel(panNews, false);
  bannerGif_ = new TAnimGif();
  SetGifDithering(bannerGif_);
  BannerAd->SetPicture(bannerGif_);
  if (HasAdsForLocation(2)) {
    bannerLocation_ = RegisterAdLocation(2);
    AttachBannerControls(bannerLocation_, BannerAd, bannerGif_, panAd, ClickLabL, ClickLabR);
  }
  const QScreen* screen = QGuiApplication::primaryScreen();
  SideAdsWanted = ShowAds && screen && screen->geometry().width() >= 800;
  for (int i = 1; i <= 6; ++i) {
    if (!SideAdsWanted || !HasAdsForLocation(47 + i)) continue;
    SideBanner& s = side_[static_cast<size_t>(i)];
    s.Gif = new TAnimGif();
    SetGifDithering(s.Gif);
    s.Panel = new QWidget(panNews);
    const bool big = i == 3 || i == 4;
    s.Panel->setFixedSize(big ? 120 : 88, big ? 60 : 31);
    auto* image = new ClickableImage(s.Panel);
    image->setGeometry(s.Panel->rect());
    image->SetPicture(s.Gif);
    s.Image = image;
    s.Location = RegisterAdLocation(47 + i);
    if (AttachBannerControls(s.Location, image, s.Gif, s.Panel, ClickLabL, ClickLabR)) {
      std::lock_guard lock(AdLock);
      AdLocBlocked[s.Location] = false;
      AdLocShowTime[s.Location] = 0;
    }
    const int location = s.Location;
    image->OnClick = [location] { OpenAdLink(location); };
  }
  news->OnResize = [this] { FormResize(); };

  // The browser pane.
  lowerPane = new QWidget(PanSplit);
  auto* lower = new QVBoxLayout(lowerPane);
  lower->setContentsMargins(0, 0, 0, 0);
  lower->setSpacing(0);
  NavPan = new TBrowserNavBar(lowerPane);
  NavPan->SetReadOnlyAddress(true);
  lower->addWidget(NavPan);
  auto* ie = new LayoutHost(lowerPane);
  panIE = ie;
  auto* ieLayout = new QVBoxLayout(panIE);
  ieLayout->setContentsMargins(0, 0, 0, 0);
  lower->addWidget(panIE, 1);
  PanTop = new QWidget(panIE);
  PanTop->setFixedSize(102, 19);
  SpinImg = new ChainSpinner(PanTop);
  PanTop->hide();
  WB = CreateBrowserControl(panIE);
  if (WB) {
    ieLayout->addWidget(WB);
    WB->HomeUrl = Branding.CompURL;
    WB->OnNavigateComplete2 = [this](const std::string& url, bool ok) { WBNavigateComplete2(url, ok); };
  }
  NavPan->Attach(WB);
  ie->OnResize = [this] { PanTop->move(panIE->width() - PanTop->width() - 3, 3); };
  PanSplit->addWidget(panNews);
  PanSplit->addWidget(lowerPane);
  connect(PanSplit, &QSplitter::splitterMoved, this, [this](int pos, int) { Splitter1Moved(pos); });

  // Settings.
  if (IniFile_) {
    const std::string split = Ini().ReadString("News", "NSPLIT", "50");
    char* end = nullptr;
    const double v = std::strtod(split.c_str(), &end);
    SplitPercent = (end && end != split.c_str() && std::isfinite(v)) ? ClampSplitPercent(v) : 50.0;
    const QRect avail = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    const int w = Ini().ReadInteger("News", "NWINW", DesignWidth);
    const int h = Ini().ReadInteger("News", "NWINH", DesignHeight);
    const int x = Ini().ReadInteger("News", "NWINX", (avail.width() - w) / 2);
    const int y = Ini().ReadInteger("News", "NWINY", (avail.height() - h) / 2);
    setGeometry(x, y, std::clamp(w, 300, std::max(300, avail.width())), std::clamp(h, 200, std::max(200, avail.height())));
    if (Trim(Ini().ReadString("News", "NSTATE", "NO")) == "MX") setWindowState(Qt::WindowMaximized);
  }
  ApplyPaneLayout();

  Timer1 = new QTimer(this);
  Timer1->setInterval(500);
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
  Timer1->start();

  PopupMenu1 = new QMenu(this);
  popShowDetail = PopupMenu1->addAction("Show Detail");
  PopupMenu1->setDefaultAction(popShowDetail);
  popShowDetailInIE = PopupMenu1->addAction("Open in New Window");
  popCopyAddress = PopupMenu1->addAction("Copy URL Address");
  popMarkRead = PopupMenu1->addAction("Mark All Read");
  PopupMenu1->addSeparator();
  popRefOne = PopupMenu1->addAction("Refresh News for Stock");
  popRefAll = PopupMenu1->addAction("Refresh News for All Stocks");
  connect(popShowDetail, &QAction::triggered, this, [this] { pbDetailClick(pbDetail); });
  connect(popShowDetailInIE, &QAction::triggered, this, [this] { pbDetailClick(nullptr); });
  connect(popCopyAddress, &QAction::triggered, this, [this] { popCopyAddressClick(); });
  connect(popMarkRead, &QAction::triggered, this, [this] { popMarkReadClick(); });
  connect(popRefOne, &QAction::triggered, this, [this] { pbForceClick(pbForce); });
  connect(popRefAll, &QAction::triggered, this, [this] { pbForceClick(pbForceAll); });
  connect(tbNews, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    PopupMenu1Popup();
    PopupMenu1->popup(tbNews->viewport()->mapToGlobal(at));
  });

  // Another symbol made current by the keyboard is chosen as a click chooses it. A click makes
  // its item current before it selects it: the click itself chooses. The window's own changes
  // of the current item call lbSymbClick themselves, with the list's signals blocked.
  connect(lbSymb, &QListWidget::currentItemChanged, this, [this](QListWidgetItem* now) {
    if (now && now->isSelected() && UpperCase(Trim(now->text().toStdString())) != CurrentSymbol) lbSymbClick();
  });
  connect(lbSymb, &QListWidget::itemClicked, this, [this] { lbSymbClick(); });
  connect(tbNews, &QTableWidget::cellDoubleClicked, this, [this] {
    if (!txtNoNews->isVisible()) pbDetailClick(pbDetail);
  });
  connect(pbSelAll, &QPushButton::clicked, this, [this] { pbSelAllClick(); });
  connect(pbMarkRead, &QPushButton::clicked, this, [this] { pbMarkReadClick(); });
  connect(pbMarkNotRead, &QPushButton::clicked, this, [this] { pbMarkNotReadClick(); });
  connect(pbNoBulb, &QPushButton::clicked, this, [this] { pbNoBulbClick(); });
  connect(pbForce, &QPushButton::clicked, this, [this] { pbForceClick(pbForce); });
  connect(pbForceAll, &QPushButton::clicked, this, [this] { pbForceClick(pbForceAll); });
  connect(pbSetNews, &QPushButton::clicked, this, [this] { pbSetNewsClick(); });
  connect(pbDetail, &QPushButton::clicked, this, [this] { pbDetailClick(pbDetail); });
  connect(pbClose, &QPushButton::clicked, this, [this] { close(); });

  Notice = [this](const std::string& text) {
    ++ModalDepth;
    QMessageBox::information(this, "News", QString::fromStdString(text));
    --ModalDepth;
  };
  ConfirmClearBulbs = [](QWidget* parent) {
    return QMessageBox::question(parent, "Clear Bulbs",
                                 "Are you sure you want to clear all \"new news\" bulbs on all stocks?",
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
  };
}

TfrmNews::~TfrmNews() {
  FormClose();
}

void TfrmNews::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (shown_) return;
  shown_ = true;
  FormShow();
}

void TfrmNews::FormShow() {
  if (!bannerLoaded_) {
    bannerLoaded_ = true;
    bannerGif_->Assign(DefaultBannerImage());
  }
  BuildSymbolList();
  ShowHeadlines();
  FormResize();
}

void TfrmNews::BuildSymbolList() {
  // The table is walked only under its lock; when it is busy the list is built on a later tick.
  std::vector<std::string> symbols;
  {
    LockHold table(StockListLock, "NewsForm", true);
    if (!table) {
      listPending_ = true;
      return;
    }
    const int count = StockTable.Count();
    for (int i = 0; i < count; ++i) {
      const std::string& s = StockTable.Strings(i);
      if (IsValidSymbol(s)) symbols.push_back(s);
    }
  }
  listPending_ = false;
  std::string ignored;
  TakeHandOver(NewsHandOver, ignored, true);  // only changes after this moment are handed over
  newestUnread_.assign(std::min<size_t>(symbols.size(), SymbolBitCount), 0.0);
  SymbolBits[NewsSymbolBits].reset();
  for (size_t n = 0; n < symbols.size() && n < SymbolBitCount; ++n) {
    TDateTime lastCheck = 0, unread = 0;
    const int flag = GetNewsInfo(symbols[n], lastCheck, unread);
    newestUnread_[n] = unread;
    SymbolBits[NewsSymbolBits][n] = flag != 0;
  }
  // Items keep their number in the table's order; they are added in sorted order, which the
  // list's sorting then keeps.
  std::vector<int> order(symbols.size());
  for (size_t n = 0; n < order.size(); ++n) order[n] = static_cast<int>(n);
  std::sort(order.begin(), order.end(), [&](int a, int b) { return symbols[a] < symbols[b]; });
  lbSymb->setUpdatesEnabled(false);
  lbSymb->setSortingEnabled(false);
  lbSymb->clear();
  items_.clear();
  lastRepainted_ = nullptr;
  for (int n : order) {
    auto* item = new QListWidgetItem(QString::fromStdString(symbols[static_cast<size_t>(n)]));
    item->setData(kObjectRole, n);
    lbSymb->addItem(item);
    items_[symbols[static_cast<size_t>(n)]] = item;
  }
  lbSymb->setSortingEnabled(true);
  lbSymb->setUpdatesEnabled(true);
  if (!CurrentSymbol.empty()) {
    auto it = items_.find(CurrentSymbol);
    const QSignalBlocker block(lbSymb);
    if (it != items_.end()) lbSymb->setCurrentItem(it->second);
  }
}

int TfrmNews::ItemObject(const QListWidgetItem* item) {
  return item ? item->data(kObjectRole).toInt() : -1;
}

TDateTime TfrmNews::NewestUnread(int object) const {
  return object >= 0 && static_cast<size_t>(object) < newestUnread_.size() ? newestUnread_[static_cast<size_t>(object)] : 0;
}

bool TfrmNews::HasNewNews(int object) const {
  return object >= 0 && object < SymbolBitCount && SymbolBits[NewsSymbolBits][static_cast<size_t>(object)];
}

void TfrmNews::SelectSymbol(const std::string& symbol) {
  const std::string s = UpperCase(Trim(symbol));
  if (s == CurrentSymbol) return;
  auto it = items_.find(s);
  {
    const QSignalBlocker block(lbSymb);
    if (it == items_.end()) {
      lbSymb->clearSelection();
      lbSymb->setCurrentRow(-1);
    } else {
      lbSymb->setCurrentItem(it->second);
    }
  }
  lbSymbClick();
}

int TfrmNews::CurrentEntry() const {
  const int row = tbNews->currentRow();
  return row >= 0 && row < Ids.Count() && !txtNoNews->isVisible() ? row : -1;
}

void TfrmNews::lbSymbClick() {
  int step = 1;
  try {
    std::string keepId;
    const int entry = CurrentEntry();
    if (tbNews->isVisible() && entry >= 0 && tbNews->selectionModel()->isRowSelected(entry, {})) keepId = Ids[entry];
    const std::string previous = CurrentSymbol;
    step = 2;
    QListWidgetItem* item = lbSymb->currentItem();
    if (!item || !item->isSelected()) {
      CurrentSymbol.clear();
      for (StringList* l : {&Titles, &Links, &Sources, &DateTexts, &Extras, &ReadMarks, &Ids}) l->Clear();
      UpdateCaption("");
    } else {
      CurrentSymbol = UpperCase(Trim(item->text().toStdString()));
      GetNewsItems(CurrentSymbol, Titles, Links, Sources, DateTexts, Extras, ReadMarks, Ids);
      UpdateCaption(CurrentSymbol);
    }
    step = 3;
    ShowHeadlines();
    step = 5;
    if (!CurrentSymbol.empty()) {
      SetNewsFlag(CurrentSymbol, 0);
      for (int list = 1; list <= PendingListCount; ++list) AddPendingSymbol(list, CurrentSymbol);
      if (item) {
        const int object = ItemObject(item);
        if (object >= 0 && object < SymbolBitCount) SymbolBits[NewsSymbolBits][static_cast<size_t>(object)] = false;
      }
    }
    step = 6;
    tbNews->clearSelection();
    // The grid always has a current headline, as a row-select grid does: the one chosen before
    // when it is still listed, else the first, so Detail opens a story at once.
    int at = keepId.empty() || previous != CurrentSymbol ? -1 : Ids.IndexOf(keepId);
    if (at < 0 && Ids.Count() > 0) at = 0;
    if (at >= 0) {
      tbNews->selectRow(at);
      tbNews->setCurrentCell(at, 0, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    step = 7;
    tbNews->viewport()->update();
    lbSymb->viewport()->update();
    FormResize();
  } catch (const std::exception& e) {
    ShowErrorReport(std::string(e.what()) + " " + std::to_string(step), " SymbolClick");
  }
}

void TfrmNews::ShowHeadlines() {
  const bool none = Titles.Count() == 0;
  tbNews->clearSelection();
  if (none) {
    tbNews->setRowCount(1);
    for (int c = 0; c < 4; ++c) tbNews->setItem(0, c, new QTableWidgetItem());
    tbNews->setCurrentCell(-1, -1);
    for (QPushButton* b : {pbSelAll, pbMarkRead, pbMarkNotRead, pbDetail}) b->hide();
    txtNoNews->setVisible(!CurrentSymbol.empty());
    if (txtNoNews->isVisible()) txtNoNews->raise();
  } else {
    const int n = Titles.Count();
    tbNews->setUpdatesEnabled(false);
    tbNews->setRowCount(n);
    for (int r = 0; r < n; ++r) {
      tbNews->setItem(r, 0, new QTableWidgetItem());
      tbNews->setItem(r, 1, new QTableWidgetItem(QString::fromStdString(DateTexts[r])));
      tbNews->setItem(r, 2, new QTableWidgetItem(QString::fromStdString(Titles[r])));
      tbNews->setItem(r, 3, new QTableWidgetItem(QString::fromStdString(Sources[r])));
    }
    tbNews->setUpdatesEnabled(true);
    FitHeadingColumn();
    tbNews->scrollToTop();
    txtNoNews->hide();
    for (QPushButton* b : {pbSelAll, pbMarkRead, pbMarkNotRead, pbDetail}) b->show();
  }
}

void TfrmNews::UpdateCaption(const std::string& symbol) {
  if (symbol.empty()) {
    setWindowTitle("News");
    return;
  }
  TDateTime lastCheck = 0, unread = 0;
  GetNewsInfo(symbol, lastCheck, unread);
  setWindowTitle(QString::fromStdString(NewsCaption(symbol, lastCheck, unread)));
}

void TfrmNews::FitHeadingColumn() {
  const int rowH = tbNews->verticalHeader()->defaultSectionSize();
  const int visibleRows = rowH > 0 ? (tbNews->viewport()->height() / rowH) : 0;
  const bool fit = visibleRows >= tbNews->rowCount();
  const int w = HeadingColumnWidth(tbNews->width(), tbNews->columnWidth(0), tbNews->columnWidth(1),
                                   tbNews->columnWidth(3), tbNews->verticalScrollBar()->sizeHint().width(), fit);
  tbNews->setColumnWidth(2, w);
}

void TfrmNews::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  FormResize();
}

void TfrmNews::FormResize() {
  // The buttons' room decides how small the headline pane and the window may get.
  QPushButton* const buttons[HeadlineButtonCount] = {pbSelAll, pbMarkRead, pbMarkNotRead, pbNoBulb,
                                                     pbForce,  pbForceAll, pbSetNews,     pbDetail};
  HeadlineButtonWidths natural{}, compact{};
  for (int i = 0; i < HeadlineButtonCount; ++i) {
    QString caption = buttons[i]->text();
    caption.remove('&');
    natural[i] = buttons[i]->sizeHint().width();
    compact[i] = std::min(natural[i], buttons[i]->fontMetrics().horizontalAdvance(caption) + 12);
  }
  const int bh = pbSelAll->sizeHint().height();
  const int rowH = tbNews->verticalHeader()->defaultSectionSize();
  const int gridMin = tbNews->horizontalHeader()->sizeHint().height() + 2 * rowH + 2 * tbNews->frameWidth();
  const int adRow = SideAdsWanted ? 64 : 0;
  panNews->setMinimumSize(HeadlineButtonsMinWidth(compact) + 4, gridMin + HeadlinePaneHeightBesidesGrid(2, bh, 2, adRow));

  const int total = PanSplit->height();
  const int top = HeadlinePaneHeight(total, SplitPercent, PanSplit->handleWidth(), !NoBrowserPane, panNews->minimumHeight());
  if (total > 0) {
    const QSignalBlocker block(PanSplit);
    PanSplit->setSizes({top, NoBrowserPane ? 0 : std::max(0, total - top - PanSplit->handleWidth())});
  }
  const int w = panNews->width(), h = panNews->height();
  HeadlineButtonPlaces places = PlaceHeadlineButtons(natural, compact, 2, w - 2, 0, bh, 2);
  const int gridH = std::max(10, h - HeadlinePaneHeightBesidesGrid(places.Rows, bh, 2, adRow));
  tbNews->setGeometry(2, 2, std::max(10, w - 5), gridH);
  const int by = 2 + gridH + 2;
  for (int i = 0; i < HeadlineButtonCount; ++i) buttons[i]->setGeometry(places.X[i], by + places.Y[i], places.W[i], bh);
  txtNoNews->move(2 + (tbNews->width() - txtNoNews->width()) / 2, 2 + (tbNews->height() - txtNoNews->height()) / 2);
  panIE->update();
  PanTop->move(panIE->width() - PanTop->width() - 3, 3);
  LayoutBannerRow();
  FitHeadingColumn();
  // While the banner row shows, the window keeps room for it; otherwise its layout decides.
  if (panAd->isVisible() && layout()) setMinimumSize(layout()->minimumSize().expandedTo(QSize(555, 185)));
}

void TfrmNews::LayoutBannerRow() {
  const bool show = SideAdsWanted;
  panAd->setVisible(show);
  if (!show) {
    for (QWidget* wdg : {static_cast<QWidget*>(ClickLabL), static_cast<QWidget*>(ClickLabR),
                         static_cast<QWidget*>(ClickPicL), static_cast<QWidget*>(ClickPicR)})
      wdg->hide();
    for (SideBanner& s : side_)
      if (s.Panel) s.Panel->hide();
    return;
  }
  auto width = [&](int i) { return side_[static_cast<size_t>(i)].Panel ? side_[static_cast<size_t>(i)].Panel->width() : 0; };
  BannerRowWidths widths;
  widths.Banner = panAd->width();
  widths.Labels = 2 * (ClickLabL->width() + ClickPicL->width());
  widths.LeftPair = std::max(width(1), width(2));
  widths.Place3 = width(3);
  widths.Place4 = width(4);
  widths.RightPair = std::max(width(5), width(6));
  const BannerRowShown shown = FitBannerRow(widths, panNews->width() - 4);
  const int w = panNews->width(), y = panNews->height() - 65;
  auto setPanel = [&](int i, bool on, int x, int yy) {
    SideBanner& s = side_[static_cast<size_t>(i)];
    if (!s.Panel) return;
    s.Panel->setVisible(on);
    if (on) s.Panel->move(x, yy);
  };
  int lx = 2;
  if (shown.LeftPair) {
    setPanel(1, true, lx, y);
    setPanel(2, true, lx, y + 32);
    lx += widths.LeftPair + widths.Gap;
  } else {
    setPanel(1, false, 0, 0);
    setPanel(2, false, 0, 0);
  }
  setPanel(3, shown.Place3, lx, y);
  if (shown.Place3) lx += widths.Place3 + widths.Gap;
  int rx = w - 2;
  if (shown.RightPair) {
    rx -= widths.RightPair;
    setPanel(5, true, rx, y);
    setPanel(6, true, rx, y + 32);
    rx -= widths.Gap;
  } else {
    setPanel(5, false, 0, 0);
    setPanel(6, false, 0, 0);
  }
  if (shown.Place4) {
    rx -= widths.Place4;
    setPanel(4, true, rx, y);
    rx -= widths.Gap;
  } else {
    setPanel(4, false, 0, 0);
  }
  const int middle = shown.Labels ? widths.Banner + widths.Labels + 2 * widths.Gap : widths.Banner;
  int mx = lx + std::max(0, (rx - lx - middle) / 2);
  for (QWidget* wdg : {static_cast<QWidget*>(ClickLabL), static_cast<QWidget*>(ClickLabR),
                       static_cast<QWidget*>(ClickPicL), static_cast<QWidget*>(ClickPicR)})
    wdg->setVisible(shown.Labels);
  if (shown.Labels) {
    ClickLabL->move(mx, y + 4);
    ClickPicL->move(mx + ClickLabL->width(), y + 4 + ClickLabL->height() - ClickPicL->height());
    mx += ClickLabL->width() + ClickPicL->width() + widths.Gap;
  }
  panAd->move(mx, y);
  mx += widths.Banner + widths.Gap;
  if (shown.Labels) {
    ClickPicR->move(mx, y + 4 + ClickLabR->height() - ClickPicR->height());
    ClickLabR->move(mx + ClickPicR->width(), y + 4);
  }
}

void TfrmNews::Splitter1Moved(int pos) {
  const int h = PanSplit->height();
  if (h <= 0) return;
  SplitPercent = ClampSplitPercent(pos * 100.0 / h);
  FormResize();
}

void TfrmNews::ApplyPaneLayout() {
  NoBrowserPane = !WB || LiveSettings.NewsTwoPanes || LiveSettings.NewsBrowserOff;
  lowerPane->setVisible(!NoBrowserPane);
  if (QSplitterHandle* handle = PanSplit->handle(1)) handle->setVisible(!NoBrowserPane);
}

std::vector<int> TfrmNews::SelectedEntries() const {
  std::vector<int> out;
  if (txtNoNews->isVisible()) return out;
  for (const QModelIndex& i : tbNews->selectionModel()->selectedRows())
    if (i.row() < Ids.Count()) out.push_back(i.row());
  std::sort(out.begin(), out.end());
  return out;
}

void TfrmNews::pbSelAllClick() {
  if (Ids.Count() > 0 && !txtNoNews->isVisible()) tbNews->selectAll();
}

void TfrmNews::MarkSelected(bool read) {
  for (int r : SelectedEntries()) {
    ReadMarks.SetString(r, read ? "Y" : "N");
    MarkNewsItem(CurrentSymbol, std::atoi(Ids[r].c_str()), read);
  }
  tbNews->viewport()->update();
}

void TfrmNews::pbMarkReadClick() {
  MarkSelected(true);
}

void TfrmNews::pbMarkNotReadClick() {
  MarkSelected(false);
}

void TfrmNews::popMarkReadClick() {
  for (int r = 0; r < ReadMarks.Count() && r < Ids.Count(); ++r) {
    ReadMarks.SetString(r, "Y");
    MarkNewsItem(CurrentSymbol, std::atoi(Ids[r].c_str()), true);
  }
  tbNews->viewport()->update();
}

void TfrmNews::pbDetailClick(QObject* sender) {
  std::string mark = "Mark 16";
  try {
    const int r = CurrentEntry();
    if (r < 0) return;
    ReadMarks.SetString(r, "Y");
    MarkNewsItem(CurrentSymbol, std::atoi(Ids[r].c_str()), true);
    tbNews->viewport()->update();
    const std::string link = Trim(Links[r]);
    mark = "Mark 17.1";
    // Checked before anything starts: a link that cannot open would leave the spinner running.
    const std::string target = WebAddress(link);
    if (target.empty()) {
      if (Notice)
        Notice(link.empty() ? "This headline has no link to open."
                            : "The headline's link \"" + link.substr(0, 200) + "\" is not a web address, so it is not opened.");
      return;
    }
    mark = "Mark 17";
    if (sender && !NoBrowserPane && WB) {
      PanTop->show();
      PanTop->raise();
      SpinImg->SetAnimate(true);
      WB->Navigate(target);
      if (!WB->Busy()) WBNavigateComplete2(WB->LocationURL(), false);  // refused: no load will end
      return;
    }
    mark = "Mark 18";
    if (sender && !LiveSettings.NewsBrowserOff && OpenInBrowserWindow(link, this)) return;
    OpenURL(link);
  } catch (const std::exception& e) {
    ShowErrorReport(std::string(e.what()) + " " + mark, " DetailClick");
  }
}

void TfrmNews::WBNavigateComplete2(const std::string& url, bool) {
  SpinImg->SetAnimate(false);
  PanTop->hide();
  NavPan->dfAddress->setText(QString::fromStdString(url));
  NavPan->RefreshState();
}

void TfrmNews::PopupMenu1Popup() {
  popShowDetailInIE->setVisible(!NoBrowserPane);
}

void TfrmNews::popCopyAddressClick() {
  const int r = CurrentEntry();
  if (r >= 0 && r < Links.Count()) QGuiApplication::clipboard()->setText(QString::fromStdString(Links[r]));
}

void TfrmNews::pbForceClick(QPushButton* sender) {
  if (!sender) return;
  sender->setEnabled(false);
  std::vector<std::string> symbols;
  if (sender == pbForceAll) {
    symbols.reserve(static_cast<size_t>(lbSymb->count()));
    for (int i = 0; i < lbSymb->count(); ++i) symbols.push_back(lbSymb->item(i)->text().toStdString());
  } else if (!CurrentSymbol.empty()) {
    symbols.push_back(CurrentSymbol);
  }
  if (!symbols.empty()) {
    // One hold for the whole batch: what the list holds is looked up once, in a set.
    LockHold hold(NfrcLock, "NewsForce", true);
    if (hold) PrependForceSymbols(NewsForceList, symbols);
    else WriteLog("News refresh: the force list was busy; " + std::to_string(symbols.size()) + " symbols not queued");
  }
  sender->setEnabled(true);
}

void TfrmNews::pbNoBulbClick() {
  if (!ConfirmClearBulbs || !ConfirmClearBulbs(this)) return;
  for (int i = 0; i < lbSymb->count(); ++i) {
    const std::string s = lbSymb->item(i)->text().toStdString();
    SetNewsFlag(s, 0);
    for (int list = 1; list <= PendingListCount; ++list) AddPendingSymbol(list, s);
  }
  // The window's own list goes dark at once, as the grids do.
  SymbolBits[NewsSymbolBits].reset();
  std::fill(newestUnread_.begin(), newestUnread_.end(), 0.0);
  lbSymb->viewport()->update();
}

void TfrmNews::pbSetNewsClick() {
  RunPreferences(this, PrefsTabNews);
  ApplyPaneLayout();
  FormResize();
}

void TfrmNews::BannerAdClick() {
  if (MainBannerClickSteps) MainBannerClickSteps();
  if (bannerLocation_ > 0) OpenAdLink(bannerLocation_);
}

void TfrmNews::RefreshSymbol(QListWidgetItem* item, const std::string& symbol) {
  const int object = ItemObject(item);
  TDateTime lastCheck = 0, unread = 0;
  const int flag = GetNewsInfo(symbol, lastCheck, unread);
  if (object >= 0 && static_cast<size_t>(object) < newestUnread_.size()) {
    newestUnread_[static_cast<size_t>(object)] = unread;
    SymbolBits[NewsSymbolBits][static_cast<size_t>(object)] = flag != 0;
  }
  lbSymb->update(lbSymb->indexFromItem(item));
  ++handOverRepaints_;
  lastRepainted_ = item;
  if (symbol == CurrentSymbol) {
    if (flag != 0) lbSymbClick();
    else UpdateCaption(CurrentSymbol);
  }
}

void TfrmNews::Timer1Timer() {
  if (closed_) return;
  ++tick_;
  if (bannerLocation_ > 0 && panAd->isVisible()) UpdateAdLocationFlags(bannerLocation_, panAd);
  for (SideBanner& s : side_)
    if (s.Location > 0 && s.Panel) UpdateAdLocationFlags(s.Location, s.Panel);
  if (++resizeCount_ == 2) FitHeadingColumn();
  if (tick_ % 5 != 0) return;
  NavPan->RefreshState();
  NowTime = MarketNow();
  static_cast<SymbolDelegate*>(lbSymb->itemDelegate())->fetching_ = NewsFetchSymbol();
  // A news round that found nothing new is handed over to nobody, but it was a check: the
  // caption says when the shown symbol was last checked.
  if (!CurrentSymbol.empty()) UpdateCaption(CurrentSymbol);
  if (listPending_) {
    BuildSymbolList();
    if (listPending_) return;
  }
  std::string text;
  if (!TakeHandOver(NewsHandOver, text, true) || text.empty()) {
    lbSymb->viewport()->update();
    return;
  }
  if (lastRepainted_) lbSymb->update(lbSymb->indexFromItem(lastRepainted_));
  for (const std::string& s : HandOverSymbols(text)) {
    auto it = items_.find(s);
    if (it != items_.end()) RefreshSymbol(it->second, s);
  }
}

void TfrmNews::keyPressEvent(QKeyEvent* event) {
  const bool ctrlOrAlt = event->modifiers() & (Qt::ControlModifier | Qt::AltModifier);
  if (event->key() == Qt::Key_A && ctrlOrAlt) {
    pbSelAllClick();
    return;
  }
  if (event->key() == Qt::Key_F4 && !(event->modifiers() & Qt::AltModifier)) {
    pbForceClick(pbForce);
    return;
  }
  int key = event->key();
  HandleGlobalHotKey(key, event->modifiers());
  if (key != 0) QWidget::keyPressEvent(event);
}

bool TfrmNews::event(QEvent* e) {
  // When the browser pane first draws, Qt makes the window anew for the graphics card; the new
  // one would come up normal and the window forget it was maximised ("NSTATE" = "MX").
  if (e->type() == QEvent::WinIdChange && internalWinId() && windowHandle() &&
      windowHandle()->windowStates() != windowState())
    windowHandle()->setWindowStates(windowState());
  return QWidget::event(e);
}

bool TfrmNews::eventFilter(QObject* object, QEvent* event) {
  if (object == lbSymb && event->type() == QEvent::Wheel && lbSymb->hasFocus()) {
    const int delta = static_cast<QWheelEvent*>(event)->angleDelta().y();
    const int row = lbSymb->currentRow();
    const int next = delta > 0 ? row - 1 : row + 1;
    if (delta != 0 && next >= 0 && next < lbSymb->count()) {
      {
        const QSignalBlocker block(lbSymb);
        lbSymb->setCurrentRow(next);
      }
      lbSymbClick();
    }
    return true;
  }
  if (object == tbNews->viewport() && event->type() == QEvent::MouseButtonPress) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() == Qt::RightButton) {
      const int row = tbNews->rowAt(mouse->position().toPoint().y());
      if (row >= 0 && row < Ids.Count() && !txtNoNews->isVisible()) {
        tbNews->clearSelection();
        tbNews->selectRow(row);
        tbNews->setCurrentCell(row, 0, QItemSelectionModel::Select | QItemSelectionModel::Rows);
      }
    }
  }
  return QWidget::eventFilter(object, event);
}

void TfrmNews::closeEvent(QCloseEvent* event) {
  FormClose();
  event->accept();
  // Gone for the openers at once: a news command before the deferred delete makes a new window.
  if (frmNews == this) frmNews = nullptr;
  deleteLater();
}

void TfrmNews::ReleaseBanners() {
  auto release = [](int& location, TAnimGif*& gif, TGifImageControl* image, QWidget* panel) {
    if (panel) panel->hide();
    if (location > 0) {
      UnregisterAdLocation(location);  // forgets the controls under the ad lock
      location = 0;
    }
    if (image) image->SetPicture(nullptr);
    if (gif) {
      gif->StopPainters();
      delete gif;
      gif = nullptr;
    }
  };
  for (SideBanner& s : side_) release(s.Location, s.Gif, s.Image, s.Panel);
  release(bannerLocation_, bannerGif_, BannerAd, panAd);
}

void TfrmNews::FormClose() {
  if (closed_) return;
  closed_ = true;
  Timer1->stop();
  SpinImg->SetAnimate(false);
  ReleaseBanners();
  if (IniFile_ && shown_) {
    Ini().BeginBatch();
    const bool maximised = isMaximized();
    Ini().WriteString("News", "NSTATE", maximised ? "MX" : "NO");
    const QRect g = maximised ? normalGeometry() : geometry();
    Ini().WriteInteger("News", "NWINX", g.x());
    Ini().WriteInteger("News", "NWINY", g.y());
    Ini().WriteInteger("News", "NWINW", g.width());
    Ini().WriteInteger("News", "NWINH", g.height());
    if (!NoBrowserPane) Ini().WriteFloat("News", "NSPLIT", SplitPercent);
    Ini().EndBatch();
  }
}

void OpenNewsWindow(const std::string& symbol) {
  if (!frmNews) frmNews = new TfrmNews(nullptr);
  if (frmNews->isMinimized()) frmNews->showNormal();
  KeepOnScreen(frmNews);
  // Above the main window, not above other programs.
  KeepAboveMainWindow(frmNews);
  frmNews->show();
  frmNews->raise();
  frmNews->activateWindow();
  frmNews->SelectSymbol(symbol);
}
