#pragma once
// The main window for the program's lifetime: the current portfolio's grid with its chooser,
// the menus and pop-up menu from the menu files, the refresh cycle, the housekeeping timer and
// the threads it owns.
#include <QMainWindow>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "mainwin/main_threads.h"
#include "retrieval/news_thread.h"

class QComboBox;
class QLabel;
class QMenu;
class QPushButton;
class QTimer;
class QVBoxLayout;
class TStockGrid;
class IndexStrip;
class VNServer;

constexpr int MsgReapplySettings = 1264;

// Windows and services of subsystems that arrive later; an unset entry makes its command say
// that it is not available yet.
struct MainHookTable {
  std::function<void(const std::string& symbol)> OpenHistory;  // site-1 historical charts
  std::function<void(const std::string& symbol)> OpenProphet;  // site-2 historical charts
  std::function<void(const std::string& symbol)> OpenNews;     // news window, SelectSymbol
  std::function<void(const std::string& symbol)> OpenIsland;   // market-depth book
  std::function<void()> OpenPrintDialog;
  std::function<bool()> WebLogin;  // the browser login; true when it succeeded
  std::function<void()> OpenUpdate;
  std::function<void()> OpenAbout;
  std::function<void()> OpenWatchList;
  std::function<void()> ShowDebugWindow;
  std::function<void()> CreateDebugWindow;
  std::function<void()> ShowLoginDialog;   // the fetch worker met a rejected login
  // Housekeeping duties of their subsystems.
  std::function<void()> UpdateReminder;    // TWUNeeded from LastWUNotify, WUInterval, NextWUReminder
  std::function<void()> SurveyReminder;
  std::function<void()> StreamingTimeoutCheck;
  std::function<void(bool start)> UpdateStreaming;  // starts or stops the streaming object
  std::function<bool()> StreamingActive;
  std::function<void()> FireAlertActions;
  std::function<void()> ResetAdTimers;
  std::function<void()> StopAds;
  // The streaming panel's text (the bandwidth); empty: the panel shows the threads' state.
  std::function<std::string()> StreamingPanelText;
  // The banner area: the ad feature adds the main banner and the ad panels to the window's
  // layout (above the grid) when it has ads for them; called once after the installers ran.
  std::function<void(QMainWindow* form, QVBoxLayout* layout)> BuildBanners;
  // Menu-command keywords that features add (e.g. "SURVEY"), called with the command's argument.
  std::map<std::string, std::function<void(const std::string& argument)>> Commands;
};
extern MainHookTable MainHooks;


// True when the wall clock moved more than toleranceMs against the monotonic clock between
// two readings (the user or a time service changed the system time).
bool SystemTimeJumped(int64_t prevUtcMs, int64_t prevTickMs, int64_t nowUtcMs, int64_t nowTickMs,
                      int toleranceMs = 2000);

class TmForm : public QMainWindow {
public:
  TmForm();
  ~TmForm() override;
  // Restores and raises the window (a second start knocked).
  void BringToFront();

  // Loads every setting, the site definition, the portfolios; once, at the first activation.
  void LoadSettings();
  bool SettingsLoaded() const { return settingsLoaded_; }
  void SaveSettings();

  void OpenChart(const std::string& symbol);
  void CloseChartsClick();
  void popHistoryClick();
  void popProphetClick();
  void PopSeeNewsClick();
  void popIslandClick();
  void PrintPortClick();
  bool DoWebLogin();
  void StreamCallback(intptr_t wParam, intptr_t lParam);
  void UpdateStreaming();
  void pbRefreshClick();
  void RefreshTimerTimer();
  void Timer1Timer();  // the 500 ms housekeeping
  void cmbPortfolioChange(int index);
  // Opens the preferences at the page with that tag (0: the first page).
  void OptionsClick(int tag);
  // Re-applies the settings after the preferences (message 1264).
  void ReapplySettings();
  // Runs a command text of the menu files.
  void RunCommand(const std::string& command);
  void ReloadMenus();
  // PopupSymbol, else the grid's current symbol; PopupSymbol is used once.
  std::string TakeCommandSymbol();

  TStockGrid* Grid = nullptr;
  QComboBox* cmbPortfolio = nullptr;
  QPushButton* pbRefresh = nullptr;
  QMenu* PopMenu = nullptr;
  QTimer* RefreshTimer = nullptr;
  QTimer* Timer1 = nullptr;
  QLabel* lbStatus = nullptr;
  QLabel* lbStream = nullptr;
  IndexStrip* Strip = nullptr;
  std::unique_ptr<VNServer> QuoteServer;  // the local quote server
  int RefreshSeconds = 20;
  std::array<intptr_t, 13> StreamStates{};  // per streaming thread: its last colour

  // The threads (empty after shut-down stopped them).
  FetchThread* Fetcher() const { return fetch_.get(); }
  ChartThread* Pulser() const { return chart_.get(); }
  // The last text shown in the status line.
  std::string StatusText() const { return status_; }
  void SetStatus(const std::string& text);
  // The fundamentals thread, from the settings load to shut-down.
  Thread* FundThread() const { return fund_.get(); }

protected:
  bool event(QEvent* e) override;
  void showEvent(QShowEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

private:
  void BuildWindow();
  void FillPortfolioBox();
  void ShowCurrentPortfolio();
  void NotAvailable(const std::string& what);
  void FetchDone(const FetchOutcome& outcome);
  void FillHotKeys();
  void CheckClock();

  bool settingsLoaded_ = false;
  bool portsLoaded_ = false;
  bool closed_ = false;
  bool loginNeeded_ = false;
  std::string status_;
  int64_t lastUtc_ = 0, lastTick_ = 0;
  std::unique_ptr<FetchThread> fetch_;
  std::unique_ptr<ChartThread> chart_;
  std::unique_ptr<ScrollThread> scroll_;
  std::unique_ptr<NewsThreadType> news_;  // only while a news source is installed
  std::unique_ptr<Thread> fund_;
  QVBoxLayout* mainLayout_ = nullptr;  // the strip, the chooser bar and the grid
};

extern TmForm* mForm;
