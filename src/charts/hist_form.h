#pragma once
// What the two historical chart windows share: the chart image with its trend lines, the
// progress notice with its Cancel / Retry / Try Again button, the fetch thread and the
// fetch-then-continue flow, the chart cache and the Delete key.
#include <QPointer>
#include <QMouseEvent>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/button_form.h"
#include "charts/hist_cache.h"
#include "platform/datetime.h"
#include "platform/string_list.h"

class AdBanner;
class HistBannerRow;
class HistChartView;
class QLabel;
class QLineEdit;
class QPushButton;
class THistThread;

// The stamp that a chart of a period (as named in the cache) can be as new as, on the market
// clock now; intraday periods of either site use the intraday rule.
HistStampFor MakeHistStampFor();

class HistChartForm : public TButtonForm {
public:
  HistChartForm(char threadTag, QWidget* parent);
  ~HistChartForm() override;

  std::string Symbol;
  std::string GifText;    // the chart now shown
  std::string ShownFile;  // the cache file now shown; empty when it came from the site
  std::string CacheName;  // the name of the chart being fetched
  bool FirstActivate = true;

  HistChartView* Image1 = nullptr;
  QWidget* Panel1 = nullptr;
  QLabel* panFetching = nullptr;
  QPushButton* pbPanelBut = nullptr;
  QPushButton* pbClearLines = nullptr;
  QLineEdit* dfName = nullptr;
  QPushButton* pbGet = nullptr;
  // The banner row's labels left and right of the banner panel: the program's own banner shows
  // its blurbs there; site 1's own banner asks for the user's support there. Site 2's window
  // has arrows beside them pointing at the banner (null in site 1's).
  QLabel* ClickLabL = nullptr;
  QLabel* ClickLabR = nullptr;
  QLabel* ClickPicL = nullptr;
  QLabel* ClickPicR = nullptr;
  // The banner panel with the labels and arrows around it.
  HistBannerRow* BannerRow = nullptr;

  // True while a fetch or look-up is under way.
  bool Fetching() const { return static_cast<bool>(pending_); }
  // The notice: green progress, red error; button caption empty hides the button.
  void ShowNotice(const std::string& text, bool error, const std::string& button);
  void HideNotices();
  std::string NoticeText() const;
  bool NoticeShown() const;

  // Shows the GIF bytes and keeps them in GifText; false when they do not decode.
  bool DrawChart(const std::string& gif);
  // Draws the cached chart of that name when there is one; its path becomes ShownFile.
  bool DrawCachedChart(const std::string& name);
  void StoreInCache(const std::string& data);

  // Writes the window's choices under its symbol.
  virtual void SaveWindowState() = 0;
  // The symbol typed into dfName takes effect.
  virtual void dfNameExit() = 0;
  // The look-up caption button's symbol: as if typed into dfName.
  void SymbolLookedUp(const std::string& symbol) override;

  void pbPanelButClick();
  // Makes ClickLabL and ClickLabR (and with arrows ClickPicL and ClickPicR) and BannerRow around
  // the panel, which the window then places; with the program's own banner the labels are its
  // location's blurb labels.
  void MakeClickLabels(QWidget* panel, AdBanner* banner, bool arrows, const char* left = "", const char* right = "");
  // Ends the wait for a running fetch or look-up now, as its Cancel button does.
  void CancelFetch();
  void pbClearLinesClick();
  // Delete removes the selected trend line unless an edit field has the focus.
  void FormKeyDown(int key);

protected:
  // The cached chart of that name instead of a fetch, when it is not the file shown already.
  bool ShowCachedInstead(const std::string& name);
  // A fetched chart's body: shown, stored and true; an error notice for what is not a GIF.
  bool TakeChartBody(const std::string& body, bool cancelled);
  // The common part of a typed symbol: false when nothing changes (unchanged, refused, or the
  // open window of that symbol brought forward); else a running fetch is cancelled, the state
  // saved, the symbol replaced in windows and the chart cleared.
  bool SwitchSymbol(StringList& windows);
  // Pops the menu below the button; each click goes to toggle and the menu pops again.
  void PopMenuLoop(QMenu* menu, QPushButton* button, const std::function<void(QAction*)>& toggle,
                   const std::function<void()>& refresh);
  bool Closing = false;
  // Fetches in the background and calls then(body, cancelled) on the main thread; the body is
  // "ERR" for a failure. A request while one runs waits for it.
  void Fetch(const std::string& host, int port, const std::string& path, const std::string& header,
             std::function<void(const std::string& body, bool cancelled)> then);
  // The answers of the notice button.
  virtual void RetryClick() {}
  virtual void TryAgainClick() {}
  // The notice and its button centred in the chart panel, Clear Lines at its top right.
  void PlacePanelControls();
  void ShutdownFetch();
  bool eventFilter(QObject* watched, QEvent* event) override;
  // The chart panel changed size.
  virtual void PanelResized() {}
  void LinesChanged();

private:
  void FetchDone(int serial);
  void StartQueued();
  std::unique_ptr<THistThread> thread_;
  std::function<void(const std::string&, bool)> pending_;
  int pendingSerial_ = 0;
  struct Queued {
    std::string host, path, header;
    int port = 80;
  };
  std::unique_ptr<Queued> queued_;
};

// "no chart site configured": the notice of a window whose site host is not set.
inline constexpr const char* NoChartSiteText = "no chart site configured";

class QComboBox;
class QMenu;
class QAction;

// A widget that reports a mouse press (logos, the site's banner image).
template <typename Base>
class HistClickable : public Base {
public:
  using Base::Base;
  std::function<void()> OnClick;

protected:
  void mousePressEvent(QMouseEvent*) override {
    if (OnClick) OnClick();
  }
};

// Field i of a window-state line, or the fallback when the line has fewer.
std::string HistStateField(const std::vector<std::string>& fields, size_t i, const char* fallback);
// The window of the symbol in the list of open windows, or null.
HistChartForm* FindHistChartForm(const StringList& windows, const std::string& symbol);
void BringForward(QWidget* window);
// Opens the window of a typed or chosen symbol, or brings its open window forward; a symbol
// that is not valid is refused with a message under the title.
void OpenHistChartForm(const std::string& symbol, const char* title, const StringList& windows,
                       const std::function<HistChartForm*(const std::string&)>& create);
// The list's items := the names.
void FillHistCombo(QComboBox* combo, const StringList& names);
// Selects the entry whose code equals code (the first entry when none does).
void SelectHistCode(QComboBox* combo, const StringList& codes, const std::string& code);
// The code of the chosen entry; "-1" when nothing is chosen.
std::string HistCodeOf(const QComboBox* combo, const StringList& codes);
// Selects the item with that text, else the first.
void SelectHistText(QComboBox* combo, const QString& text);
