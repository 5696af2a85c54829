#pragma once
// The historical chart window of chart site 2: the twin of the site-1 window with the "PROP"
// vocabulary, a resizable chart whose size the site draws to, indicator flag strings, date
// tokens in the query and always the program's own banners. One window per symbol.
#include <string>

#include "charts/hist_form.h"
#include "charts/hist_query.h"

class AdBanner;
class QCheckBox;
class QComboBox;
class QMenu;

extern StringList HistNewWindows;

class TFrmHistNew : public HistChartForm {
public:
  explicit TFrmHistNew(const std::string& symbol, QWidget* parent = nullptr);
  ~TFrmHistNew() override;

  QLabel* ProphetPic = nullptr;
  QWidget* PanAd = nullptr;
  AdBanner* Banner = nullptr;
  QComboBox *cmbPrice = nullptr, *cmbBack = nullptr, *cmbMovAve = nullptr, *cmbPeriod = nullptr, *cmbFreq = nullptr;
  QCheckBox* ckLog = nullptr;
  QLineEdit *dfVal = nullptr, *dfStock = nullptr, *Edit1 = nullptr;
  QPushButton *pbTop = nullptr, *pbBottom = nullptr;
  QMenu *PopupTop = nullptr, *PopupBottom = nullptr;

  std::string TopFlags, BottomFlags;  // flag characters, ascending
  PropSiteParams Params;
  StringList FreqNames, FreqCodes;  // the frequency lists of the current period

  void FormShow();
  void pbGetClick();
  void cmbPeriodClick();
  void dfValExit();
  void dfNameExit() override;
  void SaveWindowState() override;
  std::string GetCacheName(TDateTime& stamp) const;
  PropChoices CurrentChoices() const;
  // A click on a menu item of the upper (top) or lower indicators, by its caption.
  void UpperPop(const std::string& caption);
  void BottomPop(const std::string& caption);
  void RefreshMenus();
  void ProphetPicClick();

protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void PanelResized() override;
  void TryAgainClick() override { pbGetClick(); }

private:
  void BuildControls();
  void PopMenu(QMenu* menu, QPushButton* button, bool top);
  bool shown_ = false;
};

void OpenProphetWindow(const std::string& symbol);
TFrmHistNew* FindProphetWindow(const std::string& symbol);
