#pragma once
// The navigation bar that every window hosting a browser shows above it: back, forward, stop,
// home, print, find, the address and Go, with the buttons' states kept from the browser.
#include <QWidget>

#include <functional>
#include <string>

#include "windows/browser/browser_control.h"

class QLabel;
class QLineEdit;
class QPrinter;
class QPushButton;

class TBrowserNavBar : public QWidget {
public:
  explicit TBrowserNavBar(QWidget* parent);

  // The browser the bar drives (nullptr: every button stays disabled). The bar takes the
  // browser's command-state event; hosts keep their own navigate-complete handlers.
  void Attach(BrowserControl* browser);
  BrowserControl* Browser() const { return browser_; }
  // The news window's form: the address is read-only and Home and Go are hidden.
  void SetReadOnlyAddress(bool readOnly);

  QPushButton *pbNavLeft, *pbNavRight, *pbNavStop, *pbNavHome, *pbPrint, *pbFind, *pbGo;
  QLabel* lbAddress;
  QLineEdit* dfAddress;

  void pbNavLeftClick();
  void pbNavRightClick();
  void pbNavStopClick();
  void pbNavHomeClick();
  void pbGoClick();
  void pbPrintClick();
  void pbFindClick();
  // Back (2) or forward (1) became possible or impossible.
  void CommandStateChange(int command, bool enable);
  // From the host's timer: Stop while loading, Print and Find while a document is shown.
  void RefreshState();

  // The print dialog: sets up the printer; false when cancelled. Tests answer it.
  std::function<bool(QWidget* parent, QPrinter& printer)> ChoosePrinter;
  // The find dialog's question; tests answer it. Returns false when cancelled.
  std::function<bool(QWidget* parent, std::string& text)> AskFindText;
  // Told when a search found nothing or a print failed (a status line or a message box).
  std::function<void(const std::string& text)> Notice;

private:
  BrowserControl* browser_ = nullptr;
  std::string lastFind_;
};
