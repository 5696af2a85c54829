#pragma once
// The embedded web browser as the windows see it. The engine behind it stays out of this header,
// so a window that hosts a browser compiles and links without it.
#include <QWidget>

#include <functional>
#include <string>

class BrowserControl : public QWidget {
public:
  // Called when a load of the main document ends: the address it ended at and whether it
  // succeeded (false for a network error, a refused connection or a stopped load).
  using NavigateCompleteHandler = std::function<void(const std::string& url, bool ok)>;

  explicit BrowserControl(QWidget* parent) : QWidget(parent) {}
  ~BrowserControl() override = default;

  // Starts loading Url (text as typed: "example.com" means http). Empty text does nothing.
  virtual void Navigate(const std::string& url) = 0;
  // The address of the document shown (after redirects); empty before the first load.
  virtual std::string LocationURL() const = 0;
  // The document's title, or its address when it has none.
  virtual std::string LocationName() const = 0;
  // True from Navigate until the load ends.
  virtual bool Busy() const = 0;

  // Hosts attach their handlers here; a handler may be left empty.
  NavigateCompleteHandler OnNavigateComplete2;

protected:
  // Calls a copy, so a handler may replace itself or close its window.
  void FireNavigateComplete2(const std::string& url, bool ok) {
    if (NavigateCompleteHandler handler = OnNavigateComplete2) handler(url, ok);
  }
};

// False when no browser can be made in this process (no GUI application object, the engine's
// helper process is missing, or VANTORA_NO_BROWSER is set): hosts then run without one.
bool BrowserControlAvailable();

// A new browser pane owned by Parent, or nullptr when none can be made ("no browser" is a legal
// state: the hosting window disables its navigation bar). GUI thread only.
BrowserControl* CreateBrowserControl(QWidget* parent);
