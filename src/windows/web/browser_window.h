#pragma once
// The program's own browser window: the web login (modal, with its prompt panel) and the
// window that news articles and "CUSTOM" ads open in (modeless, one at a time in frmIE).
#include <QDialog>
#include <QPointer>

#include <string>

#include "windows/browser/browser_control.h"
#include "windows/browser/browser_nav_bar.h"

class QLabel;
class QPushButton;
class QTimer;

class TfrmIE : public QDialog {
public:
  explicit TfrmIE(QWidget* owner);
  ~TfrmIE() override;

  QWidget* TopPan;
  QLabel* MainLabel;
  QPushButton* pbLoggedIn;
  QPushButton* pbCancel;
  TBrowserNavBar* NavPan;
  BrowserControl* WB;  // nullptr when no browser can run here
  QLabel* NoBrowserLabel = nullptr;
  QTimer* Timer1;

  std::string StartUrl;      // opened when the window is first activated
  std::string LoggedInHost;  // host of the address when "Logged In" was pressed
  bool FreeOnClose = false;  // the modeless window frees itself when it closes

  // The prompt, shown as plain text.
  void SetPrompt(const std::string& text);
  // Opens an address from a page, an ad or a news file (http and https only).
  void Navigate(const std::string& url);

  void FormShow();
  void FormActivate();
  void FormResize();
  void Timer1Timer();
  void pbLoggedInClick();
  void pbCancelClick();
  void WBNavigateComplete2(const std::string& url, bool ok);
  void WBDocumentComplete(const std::string& url);
  bool WBBeforeNavigate2(const std::string& url);
  // Saves the window's place and the last page (WebLoginPage); runs once, however it closes.
  void FormClose();

  // The deadline for the page text when the window closes.
  static constexpr int PageTextDeadlineMs = 5000;

protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void done(int result) override;

private:
  bool shown_ = false;
  bool closed_ = false;
  std::string lastPage_;  // the markup of the last page that completed
};

// The browser window of the news window and the ad launcher; null when none is open.
extern QPointer<TfrmIE> frmIE;
// Opens the address in frmIE, creating it (prompt panel hidden) when none is open, and brings it
// to the front, also in front of the opener (a window that may stay on top of others). False
// when the address is not a web address.
bool OpenInBrowserWindow(const std::string& url, QWidget* opener = nullptr);

// The "Redirected URL" box.
class TfrmREDIR : public QDialog {
public:
  explicit TfrmREDIR(QWidget* owner);
  class QLineEdit* Edit1;
  QPushButton* pbOK;
  void pbOKClick() { accept(); }
};
// Shows the box with the address, modally.
void ShowRedirectedUrl(const std::string& url);
