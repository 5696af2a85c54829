#pragma once
// The browser control on Qt WebEngine. Only this library sees the engine's headers; windows use
// BrowserControl and CreateBrowserControl.
#include <QUrl>

#include <memory>

#include "windows/browser/browser_control.h"

class QWebEngineView;
class BrowserPage;

class WebEngineBrowserControl final : public BrowserControl {
public:
  explicit WebEngineBrowserControl(QWidget* parent);
  ~WebEngineBrowserControl() override;

  void Navigate(const std::string& url, bool typed = false) override;
  std::string LocationURL() const override;
  std::string LocationName() const override;
  bool Busy() const override;
  bool HasDocument() const override;
  void GoBack() override;
  void GoForward() override;
  bool CanGoBack() const override;
  bool CanGoForward() const override;
  void Stop() override;
  void DocumentHtml(std::function<void(const std::string& html)> done) override;
  void DocumentText(std::function<void(const std::string& text)> done) override;
  void Print(QPrinter* printer, std::function<void(bool ok)> done) override;
  void PrintToPdf(const std::string& path, std::function<void(bool ok)> done,
                  const QPageLayout* layout = nullptr) override;
  void Find(const std::string& text, bool backward, std::function<void(bool found)> done) override;

private:
  friend class BrowserPage;
  // The engine's question before the main document moves: our scheme rule, then the host's.
  bool AcceptMainFrame(const QUrl& url);
  // Reports back and forward when they changed since the last report.
  void CheckCommandState();
  // Wraps a host callback so that it never runs once this control is gone.
  template <typename T>
  std::function<void(T)> Guard(std::function<void(T)> done);

  QWebEngineView* view_;
  BrowserPage* page_;
  bool busy_ = false;
  bool hasDocument_ = false;
  bool canBack_ = false, canForward_ = false;
  QUrl typed_;  // the address the user typed, allowed once whatever its scheme
  std::function<void(bool)> printDone_;
  std::function<void(bool)> pdfDone_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
