#pragma once
// The embedded web browser as the windows see it. The engine behind it stays out of this header,
// so a window that hosts a browser compiles and links without it.
#include <QWidget>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QPageLayout;
class QPrinter;

class BrowserControl : public QWidget {
public:
  // Called when a load of the main document ends: the address it ended at and whether it
  // succeeded (false for a network error, a refused connection or a stopped load).
  using NavigateCompleteHandler = std::function<void(const std::string& url, bool ok)>;
  // Asked before the main document goes to a new address (typed, a link, a form, a script);
  // false refuses it.
  using BeforeNavigateHandler = std::function<bool(const std::string& url)>;
  // Back (CommandBack) or forward (CommandForward) became possible or impossible.
  using CommandStateHandler = std::function<void(int command, bool enable)>;
  // The main document of a successful load is complete.
  using DocumentCompleteHandler = std::function<void(const std::string& url)>;

  static constexpr int CommandForward = 1;
  static constexpr int CommandBack = 2;

  explicit BrowserControl(QWidget* parent) : QWidget(parent) {}
  ~BrowserControl() override = default;

  // Starts loading Url (text as typed: "example.com" means http). Empty text does nothing.
  // Only http and https addresses are loaded, unless the user typed the address himself
  // (typed: a local file may be opened too). Pages can only lead on to http and https.
  virtual void Navigate(const std::string& url, bool typed = false) = 0;
  // The address of the document shown (after redirects); empty before the first load.
  virtual std::string LocationURL() const = 0;
  // The document's title, or its address when it has none.
  virtual std::string LocationName() const = 0;
  // True from Navigate until the load ends.
  virtual bool Busy() const = 0;
  // True once a document has loaded (the print, find and save commands have something to act on).
  virtual bool HasDocument() const = 0;

  virtual void GoBack() = 0;
  virtual void GoForward() = 0;
  virtual bool CanGoBack() const = 0;
  virtual bool CanGoForward() const = 0;
  virtual void Stop() = 0;
  // Navigates to HomeUrl; nothing when it is empty.
  void GoHome() {
    if (!HomeUrl.empty()) Navigate(HomeUrl);
  }

  // The document's markup (done gets it later, on the GUI thread; empty when there is none).
  virtual void DocumentHtml(std::function<void(const std::string& html)> done) = 0;
  // The document's visible text.
  virtual void DocumentText(std::function<void(const std::string& text)> done) = 0;
  // Prints the document to the printer (done(ok) when the pages went out). The printer must
  // live until done; when the control goes first, done is kept (not called) until the job ends,
  // so a printer held in it lives long enough.
  virtual void Print(QPrinter* printer, std::function<void(bool ok)> done) = 0;
  // Writes the document as a PDF file with its text (A4 portrait unless a layout is given).
  virtual void PrintToPdf(const std::string& path, std::function<void(bool ok)> done,
                          const QPageLayout* layout = nullptr) = 0;
  // Finds and highlights the next match of text (backward when asked); done(found).
  virtual void Find(const std::string& text, bool backward, std::function<void(bool found)> done) = 0;

  // The address GoHome goes to; the host sets it.
  std::string HomeUrl;

  // Hosts attach their handlers here; a handler may be left empty.
  NavigateCompleteHandler OnNavigateComplete2;
  BeforeNavigateHandler OnBeforeNavigate2;
  CommandStateHandler OnCommandStateChange;
  DocumentCompleteHandler OnDocumentComplete;

protected:
  // Each calls a copy, so a handler may replace itself or close its window.
  void FireNavigateComplete2(const std::string& url, bool ok) {
    if (NavigateCompleteHandler handler = OnNavigateComplete2) handler(url, ok);
  }
  bool FireBeforeNavigate2(const std::string& url) {
    if (BeforeNavigateHandler handler = OnBeforeNavigate2) return handler(url);
    return true;
  }
  void FireCommandStateChange(int command, bool enable) {
    if (CommandStateHandler handler = OnCommandStateChange) handler(command, enable);
  }
  void FireDocumentComplete(const std::string& url) {
    if (DocumentCompleteHandler handler = OnDocumentComplete) handler(url);
  }
};

// False when no browser can be made in this process (no GUI application object, the engine's
// helper process is missing, or VANTORA_NO_BROWSER is set): hosts then run without one.
bool BrowserControlAvailable();

// A new browser pane owned by Parent, or nullptr when none can be made ("no browser" is a legal
// state: the hosting window disables its navigation bar). GUI thread only.
BrowserControl* CreateBrowserControl(QWidget* parent);

// A cookie the browser holds.
struct BrowserCookie {
  std::string Domain;  // a leading "." marks a cookie for the domain and its subdomains
  std::string Path;
  std::string Name;
  std::string Value;
  bool Secure = false;
  bool HttpOnly = false;
  int64_t Expires = 0;  // seconds since 1970; 0 for a session cookie
};

// The cookies the browsers of this process hold now (all controls share one cookie jar,
// kept in memory only). GUI thread.
std::vector<BrowserCookie> BrowserCookies();
// Called on the GUI thread whenever a page sets a cookie (one handler; empty removes it).
void SetBrowserCookieHandler(std::function<void(const BrowserCookie& cookie)> handler);
