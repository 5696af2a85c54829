#include "windows/dialogs/debug_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QShowEvent>
#include <QPointer>
#include <QTimer>

#include "core/error_report.h"
#include "core/log.h"
#include "core/program_state.h"
#include "retrieval/http_engine.h"
#include "windows/dialogs/dialog_messages.h"
#include "windows/dialogs/quit_watch.h"

QPointer<TfrmDebug> frmDebug;

namespace {
constexpr int DrainIntervalMs = 20;
constexpr int RequestListEvery = 25;  // drain ticks between refreshes of the request list
constexpr size_t LinesPerChunk = 500;
}  // namespace

TfrmDebug::TfrmDebug(QWidget* parent) : QWidget(parent, Qt::Window), queue_(std::make_shared<DebugLineQueue>(QueueCapacity)) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle("frmDebug");
  ListBox1 = new QPlainTextEdit(this);
  ListBox1->setReadOnly(true);
  ListBox1->setLineWrapMode(QPlainTextEdit::NoWrap);
  ListBox1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  ListBox1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  ListBox1->setUndoRedoEnabled(false);
  TLB = new QListWidget(this);
  Label1 = new QLabel(this);
  Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Button1 = new QPushButton("Save Log", this);
  CheckBox1 = new QCheckBox("Log to File", this);
  SpeedButton1 = new QPushButton("Stop Scroll", this);

  // The design: trace box and request list side by side, the buttons in a row below.
  resize(820, 460);
  ListBox1->setGeometry(0, 0, 559, 412);
  TLB->setGeometry(560, 0, 260, 412);
  Label1->setGeometry(560, 413, 260, 46);
  Button1->setGeometry(6, 420, 100, 30);
  CheckBox1->setGeometry(120, 420, 120, 30);
  SpeedButton1->setGeometry(250, 420, 110, 30);
  FormCreate();

  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  connect(CheckBox1, &QCheckBox::clicked, this, [this] { CheckBox1Click(); });
  connect(SpeedButton1, &QPushButton::clicked, this, [this] { SpeedButton1Click(); });
  drain_ = new QTimer(this);
  connect(drain_, &QTimer::timeout, this, [this] {
    if (ProgramQuitting()) {
      close();
      return;
    }
    DrainQueue();
    if (++ticks_ % RequestListEvery == 0) RefreshRequestList();
  });
}

TfrmDebug::~TfrmDebug() { Withdraw(); }

void TfrmDebug::FormCreate() {
  BottomMargin = height() - ListBox1->geometry().bottom() - 1;
  RightMargin = width() - TLB->x();
  CheckBox1->setChecked(DebugToFile);
}

void TfrmDebug::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  FormShow();
}

void TfrmDebug::FormShow() {
  if (published_) return;
  published_ = true;
  frmDebug = this;
  std::weak_ptr<DebugLineQueue> queue = queue_;
  // Called under the log's lock from any thread: only queues the line.
  SetDebugWindowSink([queue](const std::string& line) {
    if (auto q = queue.lock()) q->Push(line);
  });
  drain_->start(DrainIntervalMs);
  RefreshRequestList();
  ShowCounters();
}

void TfrmDebug::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  FormResize();
}

void TfrmDebug::FormResize() {
  if (RightMargin == 0) return;  // before FormCreate
  const int tlbLeft = std::max(2, width() - RightMargin);
  const int traceHeight = std::max(20, height() - BottomMargin);
  TLB->setGeometry(tlbLeft, 0, std::max(1, width() - tlbLeft), traceHeight);
  ListBox1->setGeometry(0, 0, tlbLeft - 1, traceHeight);
  Label1->setGeometry(tlbLeft, traceHeight + 1, TLB->width(), Label1->height());
  for (QWidget* b : {static_cast<QWidget*>(Button1), static_cast<QWidget*>(CheckBox1), static_cast<QWidget*>(SpeedButton1)})
    b->move(b->x(), traceHeight + 8);
}

void TfrmDebug::DrainQueue(int budgetMs) {
  QElapsedTimer spent;
  spent.start();
  bool any = false;
  QScrollBar* bar = ListBox1->verticalScrollBar();
  const int keep = bar->value();
  do {
    std::vector<std::string> lines = queue_->Take(LinesPerChunk);
    if (lines.empty()) break;
    any = true;
    shown_ += lines.size();
    // More than the box may hold: it is emptied, and only the newest lines of this chunk stay.
    size_t from = 0;
    if (ListBox1->blockCount() + static_cast<int>(lines.size()) > MaxTraceLines) {
      ListBox1->clear();
      if (lines.size() > static_cast<size_t>(MaxTraceLines)) from = lines.size() - MaxTraceLines;
    }
    QString text;
    for (size_t i = from; i < lines.size(); ++i) {
      if (i > from) text += '\n';
      text += QString::fromStdString(lines[i]);
    }
    ListBox1->appendPlainText(text);
  } while (spent.elapsed() < budgetMs);
  if (!any) return;
  if (DebugScrollStopped) bar->setValue(std::min(keep, bar->maximum()));
  else bar->setValue(bar->maximum());
  ShowCounters();
}

void TfrmDebug::ShowCounters() {
  Label1->setText(QString("Lines: %1\nDropped: %2").arg(queue_->Received()).arg(queue_->Dropped()));
}

void TfrmDebug::RefreshRequestList() {
  QStringList now;
  for (const std::string& line : RunningHttpRequestList()) now << QString::fromStdString(line);
  QStringList shown;
  for (int i = 0; i < TLB->count(); ++i) shown << TLB->item(i)->text();
  if (now == shown) return;
  TLB->clear();
  TLB->addItems(now);
  for (int i = 0; i < TLB->count(); ++i) TLB->item(i)->setToolTip(TLB->item(i)->text());
}

void TfrmDebug::Button1Click() {
  const std::string path = ProgDir + "debug.log";
  const QString text = ListBox1->toPlainText();
  const std::string bytes = text.isEmpty() ? std::string() : text.toStdString() + "\n";
  if (!WriteFileAtomic(path, bytes)) {
    ShowErrorReport("The log could not be saved to " + path, "Save Log");
    return;
  }
  DialogMessage(this, "Log is saved to file " + path, "Log Saved");
}

void TfrmDebug::CheckBox1Click() { DebugToFile = CheckBox1->isChecked(); }

void TfrmDebug::SpeedButton1Click() {
  DebugScrollStopped = !DebugScrollStopped;
  SpeedButton1->setText(DebugScrollStopped ? "Allow Scroll" : "Stop Scroll");
}

void TfrmDebug::closeEvent(QCloseEvent* event) {
  FormClose();
  QWidget::closeEvent(event);
}

void TfrmDebug::FormClose() {
  DebugOn = false;  // closing the window ends debug mode
  Withdraw();
}

void TfrmDebug::Withdraw() {
  if (published_) {
    SetDebugWindowSink(nullptr);  // no writer is inside the sink once this returns
    published_ = false;
  }
  if (drain_) drain_->stop();
  queue_->Clear();
  if (frmDebug == this) frmDebug = nullptr;
}

namespace {
void BringToFront(TfrmDebug* w) {
  w->show();
  w->raise();
  w->activateWindow();
}

// The one debug window, made when there is none, with debug mode on.
TfrmDebug* DebugWindowOn(QWidget* owner) {
  if (!frmDebug) frmDebug = new TfrmDebug(owner);
  DebugOn = true;
  return frmDebug;
}
}  // namespace

void CreateDebugWindow(QWidget* owner) {
  BringToFront(DebugWindowOn(owner));
}

void OpenDebugWindowAtStart(QWidget* owner) {
  // Traced from now on; shown once the main window is up, so that it opens in front of it.
  QPointer<TfrmDebug> w = DebugWindowOn(owner);
  w->FormShow();
  QTimer::singleShot(0, w, [w] {
    if (w && DebugOn) BringToFront(w);
  });
}

void ShowDebugWindow() {
  if (!frmDebug) return;
  DebugOn = true;
  BringToFront(frmDebug);
}

bool HasDebugSwitch(const QStringList& arguments) {
  for (qsizetype i = 1; i < arguments.size(); ++i)
    if (arguments[i].compare("DEBUG", Qt::CaseInsensitive) == 0) return true;
  return false;
}
