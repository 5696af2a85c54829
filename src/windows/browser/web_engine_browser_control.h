#pragma once
// The browser control on Qt WebEngine. Only this library sees the engine's headers; windows use
// BrowserControl and CreateBrowserControl.
#include "windows/browser/browser_control.h"

class QWebEngineView;

class WebEngineBrowserControl final : public BrowserControl {
public:
  explicit WebEngineBrowserControl(QWidget* parent);

  void Navigate(const std::string& url) override;
  std::string LocationURL() const override;
  std::string LocationName() const override;
  bool Busy() const override;

private:
  QWebEngineView* view_;
  bool busy_ = false;
};
