#pragma once
// TfrmIStream, "Island Book Streamer": the market-depth book of one symbol from its own
// streaming object (site file "IsldStr.Par"), whose book fields arrive as "VNCallback" messages.
#include <QWidget>

#include <memory>
#include <string>

#include "streaming/client/book_model.h"

class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QTimer;
class AdBanner;
class TZeruvStreamer;

class TfrmIStream : public QWidget {
public:
  explicit TfrmIStream(QWidget* parent = nullptr);
  ~TfrmIStream() override;

  void SetSymbol(const std::string& symbol);
  void dfSymbExit();
  void pbStartClick();
  void tbBAClick(int row, int column);
  void pbFontUpClick();
  void pbFontDownClick();
  void Timer1Timer();
  // One "VNCallback" notice: a status colour, a fade step, or a book snapshot to take.
  void Callback(intptr_t wParam, intptr_t lParam);

  const BookModel& Book() const { return book_; }
  const std::string& Symbol() const { return symbol_; }
  int32_t Highlighted() const { return highlighted_; }
  int FadeStep() const { return fadeStep_; }
  TZeruvStreamer* Streamer() const { return streamer_.get(); }

  QWidget* Pan = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Lab1 = nullptr;
  QGroupBox *Bx1 = nullptr, *Bx2 = nullptr;
  QFrame* ColorPan = nullptr;
  QLineEdit* dfSymb = nullptr;
  QPushButton* pbStart = nullptr;
  QFrame* Ind = nullptr;
  QFrame* IndH = nullptr;
  QTableWidget* tbBA = nullptr;
  QWidget* ColorBar = nullptr;
  QLabel *lbPrice = nullptr, *lbTime = nullptr, *lbOrders = nullptr, *lbVolume = nullptr;
  QPushButton *pbFontUp = nullptr, *pbFontDown = nullptr;
  QTimer* Timer1 = nullptr;

protected:
  bool event(QEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

private:
  void ShowSnapshot(BookModel snapshot);
  void FillGrid();
  void SetLight(QFrame* light, TColor color);
  void Shutdown();

  std::shared_ptr<TZeruvStreamer> streamer_;
  BookModel book_;
  std::string symbol_;
  int32_t highlighted_ = -1;
  int fadeStep_ = 0;
  QTimer* timeouts_ = nullptr;
  bool closed_ = false;
};

// Opens the book window for the symbol, reusing an open one.
TfrmIStream* OpenBookWindow(QWidget* owner, const std::string& symbol);
