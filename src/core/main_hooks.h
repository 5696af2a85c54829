#pragma once
// The main window's links to the windows and services of the features that plug into it.
// Each feature's installer fills its own entries; an unset entry makes its command say that
// it is not available.
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/program_files.h"

class QMainWindow;
class QVBoxLayout;

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
  // Starts a fetch pass at once unless one runs; the pass also fetches the symbols queued on
  // pending list 8 (ReportPendingList) and removes them from it when it ends.
  std::function<void()> FetchNow;
  // The report stopped waiting (cancelled): the pass fetching its symbols ends at once.
  std::function<void()> CancelReportFetch;
  // Housekeeping duties of their subsystems.
  std::function<void()> UpdateReminder;    // TWUNeeded from LastWUNotify, WUInterval, NextWUReminder
  std::function<void()> SurveyReminder;
  std::function<void()> StreamingTimeoutCheck;
  std::function<void(bool start)> UpdateStreaming;  // starts or stops the streaming object
  std::function<bool()> StreamingActive;
  std::function<void()> FireAlertActions;
  std::function<void()> ResetAdTimers;
  std::function<void()> StopAds;
  // The program folder's files that carry a version, as updates install them, for the about box
  // (after its parameter files); unset, it lists only those.
  std::function<std::vector<ProgramFileVersion>()> VersionedFiles;
  // The streaming panel's text (the bandwidth); empty: the panel shows the threads' state.
  std::function<std::string()> StreamingPanelText;
  // The banner area: the ad feature adds the main banner and the ad panels to the window's
  // layout (above the grid) when it has ads for them; called once after the installers ran.
  std::function<void(QMainWindow* form, QVBoxLayout* layout)> BuildBanners;
  // Menu-command keywords that features add (e.g. "SURVEY"), called with the command's argument.
  std::map<std::string, std::function<void(const std::string& argument)>> Commands;
};
extern MainHookTable MainHooks;
