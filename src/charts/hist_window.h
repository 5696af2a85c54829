#pragma once
// The historical chart window of chart site 1: the user's choices become the site's query, the
// site draws the chart as a GIF, the window caches and shows it with trend lines over it.
// Before the first chart the site's own identifier of the symbol is looked up and kept in
// symbols.dat. One window per symbol.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "charts/hist_form.h"
#include "charts/hist_query.h"
#include "platform/string_list.h"

class AdBanner;
class QComboBox;
class QMenu;
class TAdThread;
class TAnimGif;
class TGifImageControl;

// The symbols of the open site-1 windows, each with its window as object.
extern StringList HistWindows;
// The look-up cache (the text of symbols.dat once a window has read it).
extern std::string SiteIdCache;

class TfrmHist : public HistChartForm {
public:
  explicit TfrmHist(const std::string& symbol, QWidget* parent = nullptr);
  ~TfrmHist() override;

  QLabel* BCImage = nullptr;
  QWidget* AdPanel = nullptr;
  TGifImageControl* AdPic = nullptr;  // the chart site's banner (without OurAds)
  AdBanner* Banner = nullptr;  // our own banner (with OurAds), null when no ad serves kind 3
  QComboBox *cmbPrice = nullptr, *cmbBack = nullptr, *cmbMovAve = nullptr, *cmbPeriod = nullptr,
            *cmbFreq = nullptr, *cmbIndex = nullptr;
  QLineEdit *dfVal = nullptr, *dfStock = nullptr;
  QPushButton *pbTop = nullptr, *pbBottom = nullptr;
  QMenu *PopupTop = nullptr, *PopupBottom = nullptr;

  std::string SidParam;
  uint32_t TopFlags = 0, BottomFlags = 0;
  bool OurAds = true;
  std::string AdLink, AdImage;
  std::string LastQuery;  // the last chart query sent
  HistSiteParams Params;

  void FormShow();
  void FormActivate();
  void pbGetClick();
  void cmbPeriodClick();
  void dfValExit();
  void dfNameExit() override;
  void SaveWindowState() override;
  void UpdateDrawButton();
  // The chart site's identifier of the symbol (the part before a "."): from the cache, or
  // looked up; then(id) gets it, "ERR" when the page has none, empty when cancelled.
  void LookupSiteId(std::string symbol, const std::string& statusText, bool quiet,
                    std::function<void(const std::string& id)> then);
  // The cache name of the current choices and its stamp.
  std::string GetCacheName(TDateTime& stamp) const;
  HistChoices CurrentChoices() const;
  // A click on an indicator of the pop-up menus.
  void ToggleTopFlag(uint32_t bit);
  void ToggleBottomFlag(uint32_t bit);
  // The menus' check marks and enabled items as the flags and period say.
  void RefreshMenus();
  void AdImageClick();
  void BCImageClick();

protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void RetryClick() override;
  void TryAgainClick() override;

private:
  void BuildControls();
  void BuildMenus();
  void PopMenu(QMenu* menu, QPushButton* button, bool top);
  void FetchChart(const std::string& compareId);
  void ResumeBanner();
  void ApplySiteAd(const std::string& link, const std::string& image, const std::string& gif);
  std::unique_ptr<TAnimGif> adGif_;
  std::unique_ptr<TAdThread> adThread_;
  bool shown_ = false;
};

// Opens the window of the symbol, or brings its open one forward. A symbol that is not valid
// is refused with a message.
void OpenHistoryWindow(const std::string& symbol);
// The open window of the symbol, or null.
TfrmHist* FindHistWindow(const std::string& symbol);
