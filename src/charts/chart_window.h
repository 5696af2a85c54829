#pragma once
// The intraday chart window: one per symbol, a price chart over a bottom chart, redrawn by
// message 1263 (wParam 0 new snapshots only, 1 everything).
#include <QEvent>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "charts/chart_params.h"
#include "charts/chart_redraw.h"
#include "core/button_form.h"
#include "core/locks.h"

class QAction;
class QLabel;
class QMenu;
class QPainter;
class QPrinter;
class QSplitter;
class TChart;

constexpr int MsgChartRedraw = 1263;
constexpr int WmSysCommand = 274;

// The chart's links to parts of the program that sit above it; unset entries do nothing.
struct ChartHookTable {
  // The main window's pop-up commands, run for the symbol.
  std::function<void(const std::string& symbol)> IslandClick, SeeNewsClick, HistoryClick;
  // The main window's pop-up menu definition: caption and command text of each entry.
  std::function<std::vector<std::pair<std::string, std::string>>()> PopupMenuEntries;
  std::function<void(const std::string& url)> OpenURL;  // default: the desktop's handler
  std::function<bool()> StreamingActive;
  std::function<void(const std::string& symbol)> RestartSymbol;
  std::function<void()> ShowStocks;
  std::function<std::string(const std::string& symbol)> PortNameForSymbol;
  // A portfolio's value, change, change percent, high and low; false when unknown.
  std::function<bool(const std::string& symbol, std::array<double, 5>& values)> PortfolioValues;
  // Questions and dialogs; tests replace them. Defaults show the real dialogs.
  std::function<bool(QWidget* parent, const std::string& text, const std::string& caption)> AskYesNo;
  std::function<std::optional<int>(QWidget* parent, int minutes)> AskCustomMinutes;
  std::function<bool(QWidget* parent, const std::string& caption)> RunIndicatorPicker;
  // The export's file name as the user gave it (empty: cancelled), and a message to the user.
  std::function<std::string(QWidget* parent, const std::string& suggested)> AskExportFileName;
  std::function<void(QWidget* parent, const std::string& text, const std::string& caption)> Tell;
};

extern ChartHookTable ChartHooks;

// "CHRT": held by every walk over the open chart windows.
extern MyCriticalSection ChartLock;

class TdlgChart : public TButtonForm {
public:
  explicit TdlgChart(const std::string& symbol, QWidget* parent = nullptr);
  ~TdlgChart() override;

  const std::string Symbol;
  bool NoVolume = false;
  ChartSettings Settings;

  // Window messages.
  void PostUpdate();  // 1263, wParam 0
  void PostRedraw();  // 1263, wParam 1
  bool wmHandleMessages(int msg, int command);
  void msgRedraw(bool full);

  void ApplySettings();
  void UpdateMenus();
  void UpdateLegends();
  void UpdateCaptionAndHint();
  void FormResize();
  void Splitter1Moved();
  // Takes the settings that "Sync All Charts" copies.
  void TakeSettingsFrom(const TdlgChart& other);
  std::string BuildChartParams() const;
  void SetDefaultClick();
  void ResearchClick();
  void popSelectIndClick();
  void ExportChartData1Click();
  void PrinterSetup1Click();
  void PrintChart1Click();
  // Paints the heading and both charts into a page rectangle.
  void PrintTo(QPainter& p, const QRect& page) const;
  // The research address for an entry's command text; empty when not an http(s) address.
  static std::string ResearchAddress(const std::string& command, const std::string& symbol);
  // The caption's period suffix (see ::PeriodText).
  static std::string PeriodText(int period, int customMinutes);

  TChart* PriceChart = nullptr;
  TChart* VolChart = nullptr;
  QWidget* MainPan = nullptr;
  QWidget* Panel1 = nullptr;
  QSplitter* Splitter1 = nullptr;
  QLabel* panNoData = nullptr;
  std::array<QLabel*, 6> lbLegend{};  // [1..5]
  QMenu* Pop = nullptr;
  QAction *Island = nullptr, *SeeNewsFor = nullptr, *HistoricalChartsFor = nullptr, *Research = nullptr,
          *N1 = nullptr, *popVol = nullptr, *popShowBidAsk = nullptr, *popSelectInd = nullptr,
          *popLegend = nullptr, *PopAllDay = nullptr, *popShow10 = nullptr, *popShow30 = nullptr,
          *popShow1h = nullptr, *popShow2h = nullptr, *PopShowCustTP = nullptr, *popClear = nullptr,
          *ExportChartData1 = nullptr, *SyncAllGraphs = nullptr, *PrinterSetup1 = nullptr,
          *PrintChart1 = nullptr, *SetDefault = nullptr;

  int RedrawCount() const { return redrawCount_; }

protected:
  bool event(QEvent* e) override;
  void showEvent(QShowEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

private:
  void FormShow();
  void BuildMenu();
  void AddToChart(bool full);
  void ClearChartData();
  void SyncAll();
  void ApplyRedraw(const RedrawResult& r);
  void ApplyAxes(const RedrawResult& r);
  RedrawEnv CurrentEnv() const;
  std::string HintText() const;

  ChartRedraw redraw_;
  bool shown_ = false;
  bool inRedraw_ = false;
  bool pending_ = false;
  bool pendingFull_ = false;
  std::string reportedError_;
  int redrawCount_ = 0;
  bool adjustingSplit_ = false;
  std::unique_ptr<QPrinter> printer_;  // set up by "Printer Setup...", used by "Print Chart"
};

// The open chart windows (main thread).
std::vector<TdlgChart*> OpenChartWindows();
// Brings the symbol's chart to the front, or opens one; nullptr when ChartLock was not had.
TdlgChart* OpenChart(const std::string& symbol);
// The chart unit's start, run by the charts' installer at program start: writes "ChartU Init"
// to the log once.
void InitChartUnit();
void CloseAllCharts();
// The chart pulse: message 1263 with wParam 0 to every open chart (any thread).
void PulseCharts();
