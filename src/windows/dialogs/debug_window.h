#pragma once
// The debug log window: the trace of WriteDebugLog, the running requests, saving the trace.
#include <QPointer>
#include <QWidget>

#include <memory>

#include "windows/dialogs/debug_line_queue.h"

class QCheckBox;
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTimer;

class TfrmDebug : public QWidget {
public:
  // The trace box is emptied once it would hold more lines than this.
  static constexpr int MaxTraceLines = 3000;
  // Lines waiting for the window; more are dropped and counted.
  static constexpr size_t QueueCapacity = 100000;

  explicit TfrmDebug(QWidget* parent = nullptr);
  ~TfrmDebug() override;

  QPlainTextEdit* ListBox1 = nullptr;
  QListWidget* TLB = nullptr;
  QLabel* Label1 = nullptr;
  QPushButton* Button1 = nullptr;
  QCheckBox* CheckBox1 = nullptr;
  QPushButton* SpeedButton1 = nullptr;

  int BottomMargin = 0;
  int RightMargin = 0;

  void FormCreate();
  void FormShow();
  void FormResize();
  void FormClose();
  void Button1Click();
  void CheckBox1Click();
  void SpeedButton1Click();

  // Moves waiting lines into the trace box (GUI thread), for at most about budgetMs.
  void DrainQueue(int budgetMs = 12);
  // Fills the side list from the request engine.
  void RefreshRequestList();
  const DebugLineQueue& Queue() const { return *queue_; }
  // Lines shown in the trace box since the window opened.
  uint64_t LinesShown() const { return shown_; }

protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

private:
  void Withdraw();
  void ShowCounters();
  std::shared_ptr<DebugLineQueue> queue_;
  QTimer* drain_ = nullptr;
  uint64_t shown_ = 0;
  int ticks_ = 0;
  bool published_ = false;
};

// The window while it exists.
extern QPointer<TfrmDebug> frmDebug;

// Shift+Ctrl+F2: creates the window when there is none, switches debug mode on and shows it in
// front.
void CreateDebugWindow(QWidget* owner);
// The "DEBUG" switch: creates the window and takes the trace at once, and shows it in front of
// the main window once the event loop runs (the main window is shown by then).
void OpenDebugWindowAtStart(QWidget* owner);
// F2: shows the window when it exists.
void ShowDebugWindow();
// True when the arguments hold the "DEBUG" switch (any case).
bool HasDebugSwitch(const QStringList& arguments);
