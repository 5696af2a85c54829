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
#include <vector>

#include "core/main_hooks.h"
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
  // What the close's writes left undone: what was not written ("the settings", "the
  // portfolios") and why, and each backup that was left as it was, with what stood in its way.
  struct SaveReport {
    std::vector<std::string> Unsaved, Why;
    std::string Backups;
  };
  // False when the settings or the portfolios could not be written (a backup that was not
  // renewed is only reported).
  bool SaveSettings(SaveReport* report = nullptr);

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
  // Starts a fetch pass at once unless one runs (MainHooks.FetchNow).
  void FetchNow();
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
  // The grid's pop-up menu for a row's symbol.
  void ShowPopMenu(const std::string& symbol, const QPoint& at);
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
  QLabel* lbProblem = nullptr;  // a lasting problem, such as a quote server that could not listen
  IndexStrip* Strip = nullptr;
  std::unique_ptr<VNServer> QuoteServer;  // the local quote server
  std::array<intptr_t, 13> StreamStates{};  // per streaming thread: its last colour

  // The threads (empty after shut-down stopped them).
  FetchThread* Fetcher() const { return fetch_.get(); }
  ChartThread* Pulser() const { return chart_.get(); }
  // The last text shown in the status line.
  std::string StatusText() const { return status_; }
  void SetStatus(const std::string& text);
  // The fundamentals thread, from the settings load to shut-down.
  Thread* FundThread() const { return fund_.get(); }
  // Shows the queued user notices (damaged files found at start) in one box that does not
  // block; the last text shown, for the status line and tests.
  void ShowUserNotices();
  const std::string& LastNotice() const { return lastNotice_; }
  // Runs at the end of the close, once the settings are written.
  std::function<void()> AfterClose;
  // Set when the close comes from the session's end (a signal), not from the user: a save that
  // failed is then left for the next start to say, not said in a box nobody sees.
  bool SessionEnding = false;

protected:
  bool event(QEvent* e) override;
  void showEvent(QShowEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  // The keys shared with the other windows, also those its grid and boxes leave alone.
  void keyPressEvent(QKeyEvent* e) override;

private:
  void BuildWindow();
  // The window's size and position, kept in section "MainForm" of the settings.
  void RestorePlacement();
  void SavePlacement();
  void FillPortfolioBox();
  void ShowCurrentPortfolio();
  void NotAvailable(const std::string& what);
  // Tells the user in a small box over the main window.
  void SayInBox(const std::string& text);
  // Why no fetch can run for want of a site: the site file's load error when there was one.
  std::string NoSiteText() const;
  void FetchDone(const FetchOutcome& outcome);
  // Running: a pass runs already (it fetches what a report queued, on its next pass if need be).
  // CannotRun: none can (window closed, no site, outside its hours, portfolios locked, nothing
  // to fetch).
  enum class PassStart { Started, Running, CannotRun };
  PassStart StartFetchPass();
  void FillHotKeys();
  void CheckClock();
  // At a refresh-timer tick: starts a save of the collected data when one is due and none runs
  // (only a copy alone on the folder saves during the session).
  void SaveCollectedDataIfDue();
  // Takes the outcome of a save that has finished: a failure is logged, written into the note
  // save-failed.txt and said in a box (once a session).
  void TakeCollectedDataSave();

  bool settingsLoaded_ = false;
  bool portsLoaded_ = false;
  bool closed_ = false;
  bool sayingSaveFailure_ = false;
  bool loginNeeded_ = false;
  std::string status_;
  std::string popSymbol_;  // the symbol of the row the pop-up menu was opened on
  std::string lastNotice_;
  std::string serverStartError_;  // the local quote server could not be made
  std::string siteProblem_;       // why the quote site's file did not load
  double failingSince_ = 0;  // when passes began to bring no quotes (local time); 0: they do
  int64_t lastUtc_ = 0, lastTick_ = 0;
  std::unique_ptr<FetchThread> fetch_;
  std::unique_ptr<ChartThread> chart_;
  std::unique_ptr<ScrollThread> scroll_;
  std::unique_ptr<NewsThreadType> news_;  // only while a news source is installed
  std::unique_ptr<Thread> fund_;
  std::unique_ptr<DumpSaveThread> dumpSave_;  // only while a save of the collected data runs
  DumpSaveSchedule dumpSchedule_;
  bool dumpSaveFailureSaid_ = false;
  QVBoxLayout* mainLayout_ = nullptr;  // the strip, the chooser bar and the grid
};

extern TmForm* mForm;
