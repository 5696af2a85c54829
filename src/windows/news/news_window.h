#pragma once
// The news window: the symbols with a bulb for unread news on the left, the chosen symbol's
// headlines on the right and, below them, the article in the built-in browser.
#include <QPointer>
#include <QWidget>

#include <array>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/datetime.h"
#include "platform/string_list.h"

class BrowserControl;
class ChainSpinner;
class QAction;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QMenu;
class QPushButton;
class QSplitter;
class QTableWidget;
class QTimer;
class TAnimGif;
class TBrowserNavBar;
class TGifImageControl;

class TfrmNews : public QWidget {
public:
  explicit TfrmNews(QWidget* owner = nullptr);
  ~TfrmNews() override;

  // Lists the symbol's headlines (trimmed, upper-cased); the same symbol again does nothing,
  // one not listed clears the selection.
  void SelectSymbol(const std::string& symbol);

  // Components.
  QWidget* panSymb;
  QListWidget* lbSymb;
  QSplitter* PanSplit;
  QWidget* panNews;
  QTableWidget* tbNews;
  QPushButton *pbSelAll, *pbMarkRead, *pbNoBulb, *pbMarkNotRead, *pbForce, *pbForceAll, *pbSetNews, *pbDetail,
      *pbClose;
  QLabel* txtNoNews;
  QWidget* panAd;
  TGifImageControl* BannerAd;
  QLabel *ClickLabL, *ClickLabR, *ClickPicL, *ClickPicR;
  QWidget* lowerPane;  // the navigation bar and the browser, below the splitter
  TBrowserNavBar* NavPan;
  QWidget* panIE;
  QWidget* PanTop;
  ChainSpinner* SpinImg;
  BrowserControl* WB = nullptr;
  QTimer* Timer1;
  QMenu* PopupMenu1;
  QAction *popShowDetail, *popShowDetailInIE, *popCopyAddress, *popMarkRead, *popRefOne, *popRefAll;

  // One entry per listed headline, parallel by position; grid row i shows entry i.
  StringList Titles, Links, Sources, DateTexts, Extras, ReadMarks, Ids;
  std::string CurrentSymbol;
  double SplitPercent = 50;
  bool NoBrowserPane = false;
  bool SideAdsWanted = false;
  TDateTime NowTime = 0;

  // Handlers.
  void FormShow();
  void FormClose();
  void FormResize();
  void lbSymbClick();
  void pbSelAllClick();
  void pbMarkReadClick();
  void pbMarkNotReadClick();
  // sender: pbDetail (the pane or the browser window) or nullptr (always the outside browser).
  void pbDetailClick(QObject* sender);
  // sender: pbForce (this symbol) or pbForceAll (every listed symbol).
  void pbForceClick(QPushButton* sender);
  void pbNoBulbClick();
  void pbSetNewsClick();
  void BannerAdClick();
  void Splitter1Moved(int pos);
  void Timer1Timer();
  void PopupMenu1Popup();
  void popCopyAddressClick();
  void popMarkReadClick();
  void UpdateCaption(const std::string& symbol);
  void FitHeadingColumn();
  void ApplyPaneLayout();
  void WBNavigateComplete2(const std::string& url, bool ok);

  // The grid's current headline (0-based entry), -1 when none.
  int CurrentEntry() const;
  // The newest-unread date and the new-news bit of a listed symbol's number.
  TDateTime NewestUnread(int object) const;
  bool HasNewNews(int object) const;
  // The symbol-list item's number (its place in the list at load time).
  static int ItemObject(const QListWidgetItem* item);
  // Repaints of symbol items done by the hand-over, for tests.
  int HandOverRepaints() const { return handOverRepaints_; }
  // Tells the user why a headline's link was not opened; tests answer it.
  std::function<void(const std::string& text)> Notice;
  // The question "Clear Bulbs"; tests answer it.
  std::function<bool(QWidget* parent)> ConfirmClearBulbs;
  // The symbol table was busy at show time: the list is built on a later tick.
  bool SymbolListPending() const { return listPending_; }

  static constexpr int DesignWidth = 629;
  static constexpr int DesignHeight = 460;

protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* object, QEvent* event) override;
  bool event(QEvent* e) override;

private:
  struct SideBanner {
    QWidget* Panel = nullptr;
    TGifImageControl* Image = nullptr;
    TAnimGif* Gif = nullptr;
    int Location = 0;
  };

  void BuildSymbolList();
  void ShowHeadlines();
  void MarkSelected(bool read);
  void RefreshSymbol(QListWidgetItem* item, const std::string& symbol);
  void LayoutBannerRow();
  void ReleaseBanners();
  std::vector<int> SelectedEntries() const;

  bool shown_ = false;
  bool closed_ = false;
  bool listPending_ = false;
  bool bannerLoaded_ = false;
  int tick_ = 0;
  int resizeCount_ = 0;
  int handOverRepaints_ = 0;
  QListWidgetItem* lastRepainted_ = nullptr;
  std::unordered_map<std::string, QListWidgetItem*> items_;
  std::vector<TDateTime> newestUnread_;  // by item number, at most SymbolBitCount
  TAnimGif* bannerGif_ = nullptr;
  int bannerLocation_ = 0;
  std::array<SideBanner, 7> side_{};  // places 1..6
};

// The one news window, null while none is open.
extern QPointer<TfrmNews> frmNews;
// Opens the news window (creating it, or restoring it when minimised) and selects the symbol.
void OpenNewsWindow(const std::string& symbol);
