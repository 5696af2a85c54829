#pragma once
// The preferences dialog: views, chart colours, news options and the miscellany page, edited
// on WorkSettings and taken into LiveSettings on OK.
#include <QDialog>

#include <array>
#include <functional>
#include <string>

#include "core/settings.h"
#include "platform/color.h"
#include "prefs/view_editor.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;
class QTabWidget;

// Set to 1 by the opener while the dialog is open.
extern int OptionsOpen;
// The tag of the page the dialog opens at.
extern int CurPrefsTab;

constexpr int PrefsTabViews = 4;
constexpr int PrefsTabCharts = 6;
constexpr int PrefsTabMisc = 8;
constexpr int PrefsTabNews = 9;
// The Misc page with the refresh interval focused (Ctrl/Alt+E).
constexpr int PrefsTabRefresh = 10;

// Dialogs of subsystems that arrive later; unset entries say that they are not available yet.
struct PrefsHookTable {
  std::function<void(QWidget* parent)> OpenTimeSync;
  std::function<void(QWidget* parent)> OpenUpdate;
  // Tests answer in place of the message box.
  std::function<void(QWidget* parent, const std::string& text)> Notice;
};
extern PrefsHookTable PrefsHooks;

class TdlgPref : public QDialog {
public:
  explicit TdlgPref(QWidget* owner);

  ViewEditor Views;
  QTabWidget* Pages = nullptr;
  // Views page.
  QListWidget* lbViews = nullptr;
  QListWidget* lbColumns = nullptr;  // every kind, checked when the view shows it, in view order
  QLineEdit* dfViewName = nullptr;
  QPushButton *pbAddView = nullptr, *pbDeleteView = nullptr, *pbColUp = nullptr, *pbColDown = nullptr;
  // News page.
  QCheckBox* cbNewsTwoPanes = nullptr;
  QCheckBox* cbNewsBrowserOff = nullptr;
  // Charts page.
  QCheckBox *cbGradient = nullptr, *cbAxL = nullptr;
  QSpinBox *sePriceThick = nullptr, *seBidThick = nullptr, *seIndThick = nullptr, *seFilter = nullptr;
  // Misc page.
  QPushButton* pbSync = nullptr;
  QPushButton* pbLookup = nullptr;
  QLineEdit* dfSymbol = nullptr;
  QPushButton* pbUpdate = nullptr;
  QSpinBox* seRefresh = nullptr;  // the refresh interval, seconds
  QLabel* lbRefreshFloor = nullptr;

  // The page index of a tag; 0 for an unknown tag.
  int PageOfTag(int tag) const;
  void SelectView(int index);
  // Takes the column list's checks and order into the selected view.
  void StoreColumns();
  // False, with a message to the user, when the listed view's ticked columns cannot be kept.
  bool ColumnsAcceptable();
  void AddViewClick();
  void DeleteViewClick();
  void MoveColumn(int delta);
  void pbSyncClick();
  void SymbolLookupClick();
  // Saves: the views, the edited settings into LiveSettings and the settings file, the chart
  // cache on again.
  // False when something the user entered was refused (the dialog stays open).
  bool pbOKClick();

private:
  QWidget* ViewsPage();
  QWidget* ChartsPage();
  QWidget* NewsPage();
  QWidget* MiscPage();
  QPushButton* ColorButton(const char* caption, TColor* value);
  void Notice(const std::string& text);
  std::array<int, 4> tags_{};
  int selected_ = -1;
};

// Opens the preferences modally at the page with that tag, as every opener does: OptionsOpen
// and CurPrefsTab set, ModalDepth raised around it. True when the user pressed OK.
bool RunPreferences(QWidget* owner, int tag);

// The chart cache is always on, at its one-megabyte limit: sets ChartCacheMB and
// ChartCacheBytes.
void ApplyChartCache();
