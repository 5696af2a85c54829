#include "streaming/client/book_window.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <vector>

#include "ads/banner/ad_banner.h"
#include "core/program_state.h"
#include "core/settings_file.h"
#include "core/text_helpers.h"
#include "platform/messages.h"
#include "platform/string_list.h"
#include "streaming/client/zeruv_streamer.h"
#include "core/window_place.h"

namespace {

constexpr intptr_t FadeMessage = 1112;
constexpr std::array<TColor, 8> FadeA = {0, 32768, 39168, 43520, 47872, 52224, 58880, 60928};
constexpr std::array<TColor, 8> FadeB = {0, 47872, 52224, 56576, 60928, 61440, 62976, 65280};

std::vector<QPointer<TfrmIStream>> openBooks;

// The level bar: the model's bar rows as coloured pieces.
class BookBar : public QWidget {
public:
  BookBar(const BookModel& model, QWidget* parent) : QWidget(parent), model_(model) { setMinimumHeight(14); }
  bool Ready = false;

protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    int markX = -1;
    const std::vector<BookBarSegment> pieces =
        Ready ? BookBarSegments(model_.Bar, width(), markX) : std::vector<BookBarSegment>{{0, width(), BookGrey}};
    for (const BookBarSegment& s : pieces) p.fillRect(s.X, 0, s.Width, height(), ToQColor(s.Color));
    if (markX >= 0) p.fillRect(markX, 0, 3, height(), Qt::black);
  }

private:
  const BookModel& model_;
};

QFrame* MakeLight(QWidget* parent) {
  auto* f = new QFrame(parent);
  f->setFixedSize(14, 14);
  f->setFrameShape(QFrame::Box);
  f->setAutoFillBackground(true);
  return f;
}

}  // namespace

TfrmIStream::TfrmIStream(QWidget* parent) : QWidget(parent, Qt::Window) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle("Island Book Streamer");
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  Pan = new QWidget(this);
  outer->addWidget(Pan);
  auto* pan = new QVBoxLayout(Pan);
  auto* top = new QHBoxLayout;
  Label1 = new QLabel("Symbol", Pan);
  top->addWidget(Label1);
  dfSymb = new QLineEdit(Pan);
  dfSymb->setMaximumWidth(90);
  dfSymb->setMinimumWidth(dfSymb->fontMetrics().horizontalAdvance("WWWWWW") + 8);
  top->addWidget(dfSymb);
  Bx1 = new QGroupBox("Last Match", Pan);
  auto* b1 = new QHBoxLayout(Bx1);
  lbPrice = new QLabel(Bx1);
  lbTime = new QLabel(Bx1);
  // Room for the widest texts, so a new value never comes in clipped.
  lbPrice->setMinimumWidth(lbPrice->fontMetrics().horizontalAdvance("0000.000") + 4);
  lbTime->setMinimumWidth(lbTime->fontMetrics().horizontalAdvance("00:00:00") + 4);
  b1->addWidget(lbPrice);
  b1->addWidget(lbTime);
  Bx2 = new QGroupBox("Today's Activity", Pan);
  auto* b2 = new QHBoxLayout(Bx2);
  lbOrders = new QLabel(Bx2);
  lbVolume = new QLabel(Bx2);
  b2->addWidget(lbOrders);
  b2->addWidget(lbVolume);
  top->addWidget(Bx1);
  top->addWidget(Bx2);
  top->addStretch();
  Lab1 = new QLabel(Pan);
  top->addWidget(Lab1);
  Ind = MakeLight(Pan);
  IndH = MakeLight(Pan);
  top->addWidget(Ind);
  top->addWidget(IndH);
  pbStart = new QPushButton("Start", Pan);
  top->addWidget(pbStart);
  pan->addLayout(top);

  tbBA = new QTableWidget(2, 5, Pan);
  tbBA->setHorizontalHeaderLabels({"Bid Vol", "Bid Price", "", "Ask Vol", "Ask Price"});
  tbBA->verticalHeader()->hide();
  tbBA->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tbBA->setSelectionMode(QAbstractItemView::NoSelection);
  tbBA->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  tbBA->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Fixed);
  tbBA->setColumnWidth(2, 18);
  pan->addWidget(tbBA, 1);
  ColorPan = new QFrame(Pan);
  ColorPan->setFrameShape(QFrame::Panel);
  ColorPan->setFrameShadow(QFrame::Sunken);
  auto* bar = new QVBoxLayout(ColorPan);
  bar->setContentsMargins(1, 1, 1, 1);
  ColorBar = new BookBar(book_, ColorPan);
  bar->addWidget(ColorBar);
  pan->addWidget(ColorPan);

  auto* bottom = new QHBoxLayout;
  pbFontUp = new QPushButton("A-", Pan);
  pbFontDown = new QPushButton("A+", Pan);
  bottom->addWidget(pbFontUp);
  bottom->addWidget(pbFontDown);
  bottom->addStretch();
  if (ShowAds)
    for (int kind : {60, 61})
      if (AdBanner* b = CreateAdBanner(kind, Pan, 90, 33)) bottom->addWidget(b);
  pan->addLayout(bottom);

  Timer1 = new QTimer(this);
  Timer1->setInterval(100);
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
  timeouts_ = new QTimer(this);
  timeouts_->setInterval(500);
  connect(timeouts_, &QTimer::timeout, this, [this] {
    if (streamer_) streamer_->CheckTimeouts();
  });
  timeouts_->start();
  connect(pbStart, &QPushButton::clicked, this, [this] { pbStartClick(); });
  connect(pbFontUp, &QPushButton::clicked, this, [this] { pbFontUpClick(); });
  connect(pbFontDown, &QPushButton::clicked, this, [this] { pbFontDownClick(); });
  connect(dfSymb, &QLineEdit::editingFinished, this, [this] { dfSymbExit(); });
  connect(tbBA, &QTableWidget::cellClicked, this, [this](int r, int c) { tbBAClick(r, c); });
  SetLight(Ind, BookGrey);
  SetLight(IndH, BookGrey);

  int w = 520, h = 420;
  if (IniFile_) {
    w = Ini().ReadInteger("IslandSt", "NWINW", w);
    h = Ini().ReadInteger("IslandSt", "NWINH", h);
  }
  resize(std::clamp(w, 200, 4000), std::clamp(h, 150, 4000));

  streamer_ = std::make_shared<TZeruvStreamer>();
  streamer_->window = this;
  streamer_->LoadSite("IsldStr.Par");
  openBooks.emplace_back(this);
}

TfrmIStream::~TfrmIStream() { Shutdown(); }

void TfrmIStream::Shutdown() {
  if (closed_) return;
  closed_ = true;
  std::erase_if(openBooks, [this](const QPointer<TfrmIStream>& p) { return !p || p == this; });
  if (IniFile_) {
    const QRect place = NormalGeometry(*this);
    Ini().WriteInteger("IslandSt", "NWINW", place.width());
    Ini().WriteInteger("IslandSt", "NWINH", place.height());
  }
  if (streamer_) {
    streamer_->window = nullptr;  // nothing more is posted to a window on its way out
    streamer_->Stop();
    streamer_.reset();
  }
}

void TfrmIStream::closeEvent(QCloseEvent* e) {
  Shutdown();
  e->accept();
}

void TfrmIStream::SetLight(QFrame* light, TColor color) {
  QPalette pal = light->palette();
  pal.setColor(QPalette::Window, ToQColor(color));
  light->setPalette(pal);
}

void TfrmIStream::SetSymbol(const std::string& symbol) {
  const std::string before = symbol_;
  symbol_ = UpperCase(Trim(symbol));
  dfSymb->setText(QString::fromStdString(symbol_));
  tbBA->clearContents();
  tbBA->setRowCount(1);
  book_.Clear();
  if (symbol_ != before) {
    // Nothing of the old symbol stays beside the new one's name.
    book_.Reset();
    for (QLabel* label : {lbOrders, lbVolume, lbPrice, lbTime}) label->clear();
    setWindowTitle("Island Book Streamer");
  }
  static_cast<BookBar*>(ColorBar)->Ready = false;
  ColorBar->update();
  if (pbStart->text() == "Stop") {
    pbStart->setText("Start");
    pbStartClick();
  }
}

void TfrmIStream::dfSymbExit() {
  const std::string s = UpperCase(Trim(dfSymb->text().toStdString()));
  if (s.empty()) {
    dfSymb->setText(QString::fromStdString(symbol_));
    return;
  }
  dfSymb->setText(QString::fromStdString(s));
  if (s != symbol_) SetSymbol(s);
}

void TfrmIStream::pbStartClick() {
  if (!streamer_) return;
  if (pbStart->text() == "Start") {
    streamer_->Stop();
    // The login check processes events: the window may close meanwhile, the streamer stays.
    std::shared_ptr<TZeruvStreamer> keep = streamer_;
    QPointer<TfrmIStream> self(this);
    const bool started = !symbol_.empty() && keep->Start(symbol_);
    if (!self || closed_) return;
    // A start that failed leaves the button at "Start".
    if (started) pbStart->setText("Stop");
  } else {
    streamer_->Stop();
    pbStart->setText("Start");
  }
}

void TfrmIStream::tbBAClick(int row, int column) {
  int32_t id = -1;
  const QTableWidgetItem* item = tbBA->item(row, column);
  const bool filled = item && !item->text().isEmpty();
  if (filled && (column == 0 || column == 1) && row < static_cast<int>(book_.Bids.size()))
    id = book_.Bids[static_cast<size_t>(row)].Id;
  else if (filled && (column == 3 || column == 4) && row < static_cast<int>(book_.Asks.size()))
    id = book_.Asks[static_cast<size_t>(row)].Id;
  highlighted_ = id == highlighted_ ? -1 : id;
  FillGrid();
}

void TfrmIStream::pbFontUpClick() {
  QFont f = tbBA->font();
  f.setPointSize(std::max(4, f.pointSize() - 1));
  tbBA->setFont(f);
}

void TfrmIStream::pbFontDownClick() {
  QFont f = tbBA->font();
  f.setPointSize(std::min(36, f.pointSize() + 1));
  tbBA->setFont(f);
}

void TfrmIStream::Timer1Timer() {
  if (fadeStep_ > 0) PostWindowMessage(this, CallbackMsg, 0, FadeMessage);
  else Timer1->stop();
}

bool TfrmIStream::event(QEvent* e) {
  if (e->type() == WindowMessageEvent::EventType) {
    auto* m = static_cast<WindowMessageEvent*>(e);
    if (CallbackMsg && m->Msg == CallbackMsg) {
      Callback(m->WParam, m->LParam);
      return true;
    }
  }
  return QWidget::event(e);
}

void TfrmIStream::Callback(intptr_t wParam, intptr_t lParam) {
  if (wParam == 0) {
    if (lParam == FadeMessage && fadeStep_ >= 1) {
      SetLight(Ind, FadeA[static_cast<size_t>(fadeStep_)]);
      SetLight(IndH, FadeB[static_cast<size_t>(fadeStep_)]);
      --fadeStep_;
    }
    return;
  }
  if (wParam == 1) {
    fadeStep_ = 0;
    const TColor c = static_cast<TColor>(lParam);
    SetLight(Ind, c);
    SetLight(IndH, c == 65535 ? 39321 : c == 255 ? 65535 : c == 8421504 ? 12632256 : c);
    if (c == 65280) {
      fadeStep_ = 7;
      Timer1->start();
    }
    return;
  }
  // The threads hand over whole snapshots; the notice says the newest one waits.
  if (wParam != BookSnapshotNotice || !streamer_) return;
  if (std::optional<BookModel> snapshot = streamer_->TakeBookSnapshot()) ShowSnapshot(std::move(*snapshot));
}

void TfrmIStream::ShowSnapshot(BookModel snapshot) {
  book_ = std::move(snapshot);
  if (book_.SnapshotSeconds >= 0)
    setWindowTitle(QString::fromStdString(
        BookModel::CaptionWithTime(windowTitle().toStdString(), BookTime(book_.SnapshotSeconds))));
  lbOrders->setText(QString::fromStdString(book_.Orders));
  lbVolume->setText(QString::fromStdString(book_.Volume));
  lbPrice->setText(QString::fromStdString(book_.Price));
  lbTime->setText(QString::fromStdString(book_.Time));
  FillGrid();
  static_cast<BookBar*>(ColorBar)->Ready = true;
  ColorBar->update();
  setWindowTitle(QString::fromStdString(
      BookModel::CaptionWithRatio(windowTitle().toStdString(), book_.BidTotal, book_.AskTotal)));
  Callback(1, StreamNotice::Data);  // data arrived: the light pulses
}

void TfrmIStream::FillGrid() {
  const size_t rows = std::max(book_.Bids.size(), book_.Asks.size());
  tbBA->setRowCount(static_cast<int>(rows) + 1);
  auto put = [this](int row, int col, const std::string& text, TColor back, bool filled) {
    auto* item = new QTableWidgetItem(QString::fromStdString(text));
    item->setTextAlignment(Qt::AlignCenter);
    const bool navy = back == BookLevelColor(5);
    item->setBackground(filled ? ToQColor(back) : QColor(192, 192, 192));
    item->setForeground(navy ? QColor(192, 192, 192) : QColor(Qt::black));
    tbBA->setItem(row, col, item);
  };
  for (size_t r = 0; r <= rows; ++r) {
    const int row = static_cast<int>(r);
    const bool bid = r < book_.Bids.size() && r < book_.BidColors.size();
    const bool ask = r < book_.Asks.size() && r < book_.AskColors.size();
    put(row, 0, bid ? BookNumber(book_.Bids[r].Volume) : "", bid ? book_.BidColors[r] : 0, bid);
    put(row, 1, bid ? FormatPriceFraction(book_.Bids[r].Price) : "", bid ? book_.BidColors[r] : 0, bid);
    put(row, 3, ask ? BookNumber(book_.Asks[r].Volume) : "", ask ? book_.AskColors[r] : 0, ask);
    put(row, 4, ask ? FormatPriceFraction(book_.Asks[r].Price) : "", ask ? book_.AskColors[r] : 0, ask);
    std::string arrow;
    if (highlighted_ != -1 && bid && book_.Bids[r].Id == highlighted_) arrow = "\u25C0";
    else if (highlighted_ != -1 && ask && book_.Asks[r].Id == highlighted_) arrow = "\u25B6";
    auto* mid = new QTableWidgetItem(QString::fromStdString(arrow));
    mid->setTextAlignment(Qt::AlignCenter);
    mid->setForeground(QColor(Qt::black));
    tbBA->setItem(row, 2, mid);
  }
}

TfrmIStream* OpenBookWindow(QWidget* owner, const std::string& symbol) {
  TfrmIStream* w = nullptr;
  for (const QPointer<TfrmIStream>& p : openBooks)
    if (p) {
      w = p;
      break;
    }
  if (!w) w = new TfrmIStream(owner);
  KeepOnScreen(w, WindowPlace::Cascade);
  w->show();
  w->raise();
  w->activateWindow();
  w->SetSymbol(symbol);
  return w;
}
