#include "mainwin/main_form.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "charts/chart_window.h"
#include "core/ad_locations.h"
#include "core/branding.h"
#include "core/button_form.h"
#include "core/chart_cache.h"
#include "core/url_launch.h"
#include "core/dumps.h"
#include "core/indices.h"
#include "core/locks.h"
#include "core/log.h"
#include "core/market_clock.h"
#include "core/pending.h"
#include "core/portfolios.h"
#include "core/program_files.h"
#include "core/program_state.h"
#include "core/settings.h"
#include "core/settings_file.h"
#include "core/symbols.h"
#include "core/text_helpers.h"
#include "core/user_notices.h"
#include "core/window_place.h"
#include "grid/grid_columns.h"
#include "grid/grid_views.h"
#include "grid/stock_grid.h"
#include "mainwin/features.h"
#include "mainwin/index_strip.h"
#include "mainwin/menu_defs.h"
#include "mainwin/startup.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "prefs/prefs_dialog.h"
#include "retrieval/fund_thread.h"
#include "retrieval/http_engine.h"
#include "retrieval/site_files.h"
#include "streaming/quote_server.h"
#include "windows/browser/browser_control.h"

TmForm* mForm = nullptr;

namespace {

// Used when the program folder has no menu files.
const char* const DefaultMenuText =
    "&File|&Refresh Quotes|REFRESH\n"
    "&File|&Print Portfolio...|PRINT\n"
    "&File|-|\n"
    "&File|E&xit|EXIT\n"
    "&View|&Preferences...|PREFS\n"
    "&View|&Views...|PREFS.........4\n"
    "&View|&News Options...|PREFS.........9\n"
    "&View|&Watch List|WATCHLIST\n"
    "&Charts|&Chart of Current Symbol|CHART\n"
    "&Charts|C&lose All Charts|CLOSECHARTS\n"
    "&Help|Check for &Updates...|UPDATE\n"
    "&Help|&About...|ABOUT\n";
const char* const DefaultPopMenuText =
    "Intraday Chart|CHART\n"
    "See News|NEWS\n"
    "Historical Charts|HISTORY\n"
    "Prophet Charts|PROPHET\n"
    "Level II|ISLAND\n";

// Answers a command of the menu files (which the update site ships) for a window this program
// does not have.
std::string NoWindowText(const char* what) { return std::string("This program has no ") + what + " window."; }

std::string ReadMenuFile(const char* name, const char* fallback) {
  std::string text, why;
  const FileRead read = ReadFileChecked(ProgDir + name, text, &why);
  if (read == FileRead::Ok) return text;
  if (read == FileRead::Unreadable)
    AddUserNotice(std::string("The parameter file ") + name + " cannot be read (" + why + "); the built-in menu is used.");
  return fallback;
}

}  // namespace

bool SystemTimeJumped(int64_t prevUtcMs, int64_t prevTickMs, int64_t nowUtcMs, int64_t nowTickMs, int toleranceMs) {
  if (prevUtcMs == 0 && prevTickMs == 0) return false;
  const int64_t drift = (nowUtcMs - prevUtcMs) - (nowTickMs - prevTickMs);
  return drift > toleranceMs || drift < -toleranceMs;
}

TmForm::TmForm() {
  WriteLog("MainForm Create");
  setWindowTitle(QString::fromStdString(Branding.ProgFullName));
  CallbackMsg = RegisterWindowMessage("VNCallback");
  BuildWindow();
  RestorePlacement();
  ReloadMenus();
  FillHotKeys();

  // Chart windows reach the main window through these.
  ChartHooks.IslandClick = [this](const std::string& s) {
    PopupSymbol = s;
    popIslandClick();
  };
  ChartHooks.SeeNewsClick = [this](const std::string& s) {
    PopupSymbol = s;
    PopSeeNewsClick();
  };
  ChartHooks.HistoryClick = [this](const std::string& s) {
    PopupSymbol = s;
    popHistoryClick();
  };
  ChartHooks.PopupMenuEntries = [] {
    std::vector<std::pair<std::string, std::string>> out;
    for (int i = 0; i < PopCaptions.Count(); ++i) out.emplace_back(PopCaptions[i], PopCommands[i]);
    return out;
  };
  ChartHooks.ShowStocks = [this] {
    if (Grid) Grid->ShowStocks();
  };
  ChartHooks.StreamingActive = [] { return MainHooks.StreamingActive && MainHooks.StreamingActive(); };
  ChartHooks.PortNameForSymbol = [](const std::string& symbol) {
    LockHold hold(PortLock, "PORTNAME", true);
    if (hold)
      for (const PortType& p : PortList)
        if (SameText(p.Id, symbol)) return p.Name;
    return symbol;
  };
  ChartHooks.PortfolioValues = [](const std::string& symbol, std::array<double, 5>& v) {
    LockHold hold(PortLock, "PORTVALS", true);
    if (!hold) return false;
    for (const PortType& p : PortList)
      if (SameText(p.Id, symbol)) {
        v = {p.Value, p.Change, p.ChangePercent, p.High, p.Low};
        return true;
      }
    return false;
  };
  // A click on the main banner first brings the quote pane forward and redraws the index strip.
  MainBannerClickSteps = [this] {
    Grid->setFocus();
    Strip->update();
  };
  GridHooks.OpenChart = [this](const std::string& s) { OpenChart(s); };
  GridHooks.SelectNewsSymbol = [this](const std::string& s) {
    PopupSymbol = s;
    PopSeeNewsClick();
  };
  GridHooks.Popup = [this](const std::string& symbol, const QPoint& at) { ShowPopMenu(symbol, at); };
  SetPendingHandler(1, [this](const std::string& symbols) {
    if (!Grid || symbols.empty()) return;
    // Streamed index quotes reach the strip when they reach the grid.
    std::vector<std::string> indices;
    for (const std::string& s : SplitPendingText(symbols))
      if (IsIndexSymbol(s)) indices.push_back(s);
    if (!indices.empty()) UpdateIndexList(indices);
    Grid->ShowStocks(symbols);
  });

  // The local quote server's listener exists from the start; the settings switch it on. Without
  // the handles for it the program runs without it.
  try {
    QuoteServer = std::make_unique<VNServer>();
  } catch (const std::exception& e) {
    serverStartError_ = std::string("Quote server could not start: ") + e.what();
    WriteLog(serverStartError_, 0);
  }

  chart_ = std::make_unique<ChartThread>([] { PulseCharts(); });
  chart_->Start();
  scroll_ = std::make_unique<ScrollThread>();
  scroll_->Start();
  Strip->Source = [this] { return scroll_ ? scroll_->Snapshot() : ScrollThread::State{}; };
  fetch_ = std::make_unique<FetchThread>();
  fetch_->OnDone = [this](const FetchOutcome& o) { FetchDone(o); };
  fetch_->Start(true);
  MainHooks.FetchNow = [this] { FetchNow(); };
  MainHooks.CancelReportFetch = [this] {
    if (fetch_) fetch_->CancelReportPass();
  };

  // Every feature fills its own hooks.
  InstallFeatures(this);
  if (MainHooks.BuildBanners) MainHooks.BuildBanners(this, mainLayout_);

  Timer1 = new QTimer(this);
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
  Timer1->start(500);
  RefreshTimer = new QTimer(this);
  connect(RefreshTimer, &QTimer::timeout, this, [this] { RefreshTimerTimer(); });
  lastUtc_ = NowUtcMs();
  lastTick_ = TickMs();
}

TmForm::~TmForm() {
  if (!closed_) close();
  GridHooks = {};
  GlobalHotKeys = {};
  SetPendingHandler(1, {});
  ChartHooks.IslandClick = ChartHooks.SeeNewsClick = ChartHooks.HistoryClick = nullptr;
  ChartHooks.ShowStocks = nullptr;
  UninstallFeatures();
  if (mForm == this) mForm = nullptr;
}

void TmForm::BuildWindow() {
  auto* central = new QWidget(this);
  auto* lay = new QVBoxLayout(central);
  mainLayout_ = lay;
  lay->setContentsMargins(2, 2, 2, 2);
  Strip = new IndexStrip(central);
  lay->addWidget(Strip);
  auto* bar = new QHBoxLayout;
  bar->addWidget(new QLabel("Portfolio:", central));
  cmbPortfolio = new QComboBox(central);
  cmbPortfolio->setMinimumContentsLength(20);
  bar->addWidget(cmbPortfolio);
  pbRefresh = new QPushButton("&Refresh", central);
  bar->addWidget(pbRefresh);
  bar->addStretch();
  lay->addLayout(bar);
  Grid = new TStockGrid(central);
  lay->addWidget(Grid, 1);
  setCentralWidget(central);
  lbStatus = new QLabel(this);
  lbStream = new QLabel(this);
  statusBar()->addWidget(lbStatus, 1);
  lbProblem = new QLabel(this);
  lbProblem->setStyleSheet("color: #b00000");
  lbProblem->hide();
  statusBar()->addPermanentWidget(lbProblem);
  statusBar()->addPermanentWidget(lbStream);
  PopMenu = new QMenu(this);
  connect(pbRefresh, &QPushButton::clicked, this, [this] { pbRefreshClick(); });
  connect(cmbPortfolio, &QComboBox::activated, this, [this](int i) { cmbPortfolioChange(i); });
}

void TmForm::RestorePlacement() {
  // The first size follows the screen, centred on it; a stored place and size win.
  if (const QScreen* sc = screen()) {
    const QRect avail = sc->availableGeometry();
    const QSize size(std::min(avail.width(), std::max(900, avail.width() * 4 / 5)),
                     std::min(avail.height(), std::max(560, avail.height() * 4 / 5)));
    setGeometry(QRect(QPoint(0, 0), size).translated(avail.center() - QRect(QPoint(0, 0), size).center()));
  }
  if (IniFile_) {
    auto& ini = Ini();
    const int w = ini.ReadInteger("MainForm", "Width", 0), h = ini.ReadInteger("MainForm", "Height", 0);
    if (w >= 200 && h >= 150 && w <= 20000 && h <= 20000)
      setGeometry(ini.ReadInteger("MainForm", "Left", x()), ini.ReadInteger("MainForm", "Top", y()), w, h);
    if (ini.ReadYesNo("MainForm", "Maximized", false)) setWindowState(windowState() | Qt::WindowMaximized);
  }
  KeepOnScreen(this);
}

void TmForm::SavePlacement() {
  auto& ini = Ini();
  const QRect r = isMaximized() || isMinimized() ? normalGeometry() : geometry();
  if (r.width() <= 0 || r.height() <= 0) return;
  ini.WriteInteger("MainForm", "Left", r.x());
  ini.WriteInteger("MainForm", "Top", r.y());
  ini.WriteInteger("MainForm", "Width", r.width());
  ini.WriteInteger("MainForm", "Height", r.height());
  ini.WriteYesNo("MainForm", "Maximized", isMaximized());
}

void TmForm::FillHotKeys() {
  GlobalHotKeys.PortfolioBox = [this] {
    cmbPortfolio->setFocus();
    cmbPortfolio->showPopup();
  };
  GlobalHotKeys.SiteBox = [this] { SayInBox(NoWindowText("quote site box")); };
  GlobalHotKeys.RefreshInterval = [this] { OptionsClick(PrefsTabRefresh); };
  GlobalHotKeys.Preferences = [this] { OptionsClick(0); };
  GlobalHotKeys.WatchList = [this] { RunCommand("WATCHLIST"); };
  GlobalHotKeys.Refresh = [this] { pbRefreshClick(); };
  GlobalHotKeys.Help = [this] { ShowProgramHelp(this); };
  GlobalHotKeys.ShowDebugWindow = [] {
    if (MainHooks.ShowDebugWindow) MainHooks.ShowDebugWindow();
  };
  GlobalHotKeys.CreateDebugWindow = [this] {
    if (MainHooks.CreateDebugWindow) MainHooks.CreateDebugWindow();
    else NotAvailable("The debug log window");
  };
}

void TmForm::ReloadMenus() {
  // A menu file without entries (emptied by a full disk) gives the built-in menus: a main window
  // always has its menus, with Exit.
  auto pop = ParsePopMenu(ReadMenuFile("popmenu.par", DefaultPopMenuText));
  if (pop.empty()) {
    WriteLog("popmenu.par holds no menu entries; the built-in pop-up menu is used");
    pop = ParsePopMenu(DefaultPopMenuText);
  }
  PopCaptions.Clear();
  PopCommands.Clear();
  PopMenu->clear();
  for (const MenuEntry& e : pop) {
    PopCaptions.Add(e.Caption);
    PopCommands.Add(e.Command);
    if (e.Caption == "-") {
      PopMenu->addSeparator();
      continue;
    }
    const std::string cmd = e.Command;
    // The row right-clicked, whatever a re-sort did to the grid while the menu was open.
    QAction* a = PopMenu->addAction(QString::fromStdString(e.Caption), this, [this, cmd] {
      PopupSymbol = popSymbol_;
      RunCommand(cmd);
    });
    a->setData(CommandNeedsSymbol(cmd));
  }
  menuBar()->clear();
  std::map<std::string, QMenu*> menus;
  auto entries = ParseMainMenu(ReadMenuFile("menu.par", DefaultMenuText));
  if (entries.empty()) {
    WriteLog("menu.par holds no menu entries; the built-in menus are used");
    entries = ParseMainMenu(DefaultMenuText);
  }
  WriteLog("Menus: " + std::to_string(entries.size()) + " menu bar entries, " + std::to_string(pop.size()) +
           " pop-up entries");
  for (const MenuEntry& e : entries) {
    QMenu*& m = menus[UpperCase(e.Menu)];
    if (!m) m = menuBar()->addMenu(QString::fromStdString(e.Menu));
    if (e.Caption == "-") {
      m->addSeparator();
      continue;
    }
    const std::string cmd = e.Command;
    m->addAction(QString::fromStdString(e.Caption), this, [this, cmd] { RunCommand(cmd); });
  }
}

void TmForm::ShowPopMenu(const std::string& symbol, const QPoint& at) {
  if (!PopMenu) return;
  // A row without a symbol of its own offers only the commands that need none.
  const bool hasSymbol = IsChartSymbol(symbol);
  popSymbol_ = symbol;
  for (QAction* a : PopMenu->actions())
    if (!a->isSeparator()) a->setEnabled(hasSymbol || !a->data().toBool());
  PopMenu->popup(at);
}

void TmForm::BringToFront() {
  if (isMinimized()) showNormal();
  show();
  raise();
  activateWindow();
}

void TmForm::showEvent(QShowEvent* e) {
  QMainWindow::showEvent(e);
  // The first activation loads the settings; the window is on screen by then.
  if (!settingsLoaded_) QTimer::singleShot(0, this, [this] { LoadSettings(); });
}

void TmForm::LoadSettings() {
  if (settingsLoaded_ || closed_) return;
  settingsLoaded_ = true;
  WriteLog("Loading settings");
  auto& ini = Ini();
  HaveIE4 = BrowserControlAvailable();
  ApplyChartCache();
  LoadDumps();
  LoadViews();
  ApplyView(LiveSettings.CurView, LiveSettings);

  // The quote site: the one named in the settings, else the default (or first) site found.
  SiteFile = ini.ReadString("Stocks", "SiteFile", "");
  if (SiteFile.empty() || !IsSafeRelativeName(SiteFile)) {
    RebuildSiteLists();
    SiteFile.clear();
    for (int i = 0; i < SiteCodes.Count() && SiteFile.empty(); ++i) {
      HTTPSite probe;
      std::string err;
      LoadSiteFile(SiteCodes[i], probe, nullptr, err);
      if (err.empty() && probe.IsDefault) SiteFile = SiteCodes[i];
    }
    if (SiteFile.empty() && SiteCodes.Count()) SiteFile = SiteCodes[0];
  }
  if (!SiteFile.empty()) {
    auto site = std::make_shared<HTTPSite>();
    std::string error;
    LoadSiteFile(SiteFile, *site, nullptr, error);
    if (error.empty()) {
      CurSite = site;
    } else {
      siteProblem_ = "Quote site file " + SiteFile + " did not load: " + error;
      WriteLog(siteProblem_, 0);
    }
  }

  portsLoaded_ = LoadPortfolios();
  {
    LockHold hold(PortLock, "LOADSET");
    if (hold) {
      CurPortIndex = ini.ReadInteger("Stocks", "CurPort", 1);
      if (CurPortIndex < 1 || CurPortIndex > PortCount()) CurPortIndex = 1;
    }
  }
  RefreshSecs = std::max(ini.ReadInteger("Stocks", "RefreshSecs", 20), RefreshFloor(CurSite ? CurSite->MinRefresh : 0));

  if (QuoteServer) QuoteServer->LoadSettings();
  std::string serverProblem = serverStartError_;
  if (QuoteServer && !QuoteServer->LastError().empty()) {
    serverProblem = "Quote server could not listen on port " + std::to_string(QuoteServer->Listener().Port) + ": " +
                    QuoteServer->LastError();
    WriteLog(serverProblem, 0);
  }
  if (!serverProblem.empty()) {
    // Beside the status line, which each fetch pass rewrites.
    lbProblem->setText(QString::fromStdString(serverProblem));
    lbProblem->show();
  }
  if (MainHooks.ResetAdTimers) MainHooks.ResetAdTimers();
  AdSettingsChanged();

  Grid->SortCol = std::clamp(ini.ReadInteger("Stocks", "SortCol", -1), -1, ColKindCount - 1);
  Grid->SortDown = ini.ReadYesNo("Stocks", "SortDown", false);
  EnsureOnScreen(this);
  FillPortfolioBox();
  ShowCurrentPortfolio();
  RefreshTimer->start(RefreshSecs * 1000);
  dumpSchedule_ = DumpSaveSchedule(TickMs());
  // The first pass comes at once, not one interval after the start.
  QTimer::singleShot(0, this, [this] { pbRefreshClick(); });
  SetStatus(!serverProblem.empty() ? serverProblem
            : CurSite               ? "Quote site: " + CurSite->Name
                                    : NoSiteText());
  if (!Switches.HtmlFile.empty()) WriteLog("HTML file " + Switches.HtmlFile);
  if (!NewsSourceFile().empty()) {
    news_ = std::make_unique<NewsThreadType>();
    news_->Start();
  }
  // The usage step, the quiet update run and the survey hang on its hooks.
  fund_ = std::make_unique<GetFundThread>();
  fund_->Start();
  ShowUserNotices();
}

void TmForm::ShowUserNotices() {
  const std::vector<std::string> notices = TakeUserNotices();
  if (notices.empty()) return;
  std::string text;
  for (const std::string& n : notices) text += (text.empty() ? "" : "\n\n") + n;
  lastNotice_ = text;
  SetStatus(notices.back());
  ShowBoxOver(this, QMessageBox::Warning, Branding.ProgFullName, text);
}

bool TmForm::SaveSettings(SaveReport* report) {
  if (!IniFile_) return true;
  auto& ini = Ini();
  ini.BeginBatch();
  if (settingsLoaded_) {
    ini.WriteInteger("Stocks", "CurPort", CurPortIndex);
    ini.WriteInteger("Stocks", "RefreshSecs", RefreshSecs);
    if (!SiteFile.empty()) ini.WriteString("Stocks", "SiteFile", SiteFile);
    ini.WriteInteger("Stocks", "SortCol", Grid->SortCol);
    ini.WriteYesNo("Stocks", "SortDown", Grid->SortDown);
    SavePlacement();
  }
  ini.EndBatch();
  SaveReport r;
  auto unsaved = [&](const char* what, const std::string& why) {
    r.Unsaved.emplace_back(what);
    r.Why.push_back(why);
  };
  std::string problem = ini.LastWriteProblem();
  SaveGlobVars(LiveSettings);
  if (problem.empty()) problem = ini.LastWriteProblem();
  if (!problem.empty()) unsaved("the settings", problem);
  if (std::string why; portsLoaded_ && !SavePortfolios(&why)) unsaved("the portfolios", why);
  // Each backup follows the file as it read whole at start, also when nothing changed.
  auto backup = [&](const std::string& why) { r.Backups += (r.Backups.empty() ? "" : " ") + why; };
  if (std::string why; !SettingsBackupFollows(&why)) backup(why);
  if (std::string why; portsLoaded_ && !PortBackupFollows(&why)) backup(why);
  const bool ok = r.Unsaved.empty();
  if (report) *report = std::move(r);
  return ok;
}

void TmForm::FillPortfolioBox() {
  QSignalBlocker block(cmbPortfolio);
  cmbPortfolio->clear();
  LockHold hold(PortLock, "PORTBOX");
  if (!hold) return;
  for (const PortType& p : PortList) cmbPortfolio->addItem(QString::fromStdString(p.Name));
  cmbPortfolio->setCurrentIndex(CurPortIndex - 1);
}

void TmForm::ShowCurrentPortfolio() {
  Grid->PortNumber = CurPortIndex;
  std::string symbols;
  Grid->GetPort(symbols);
  Grid->ApplyLayout(false);
  Grid->ShowStocks();
}

void TmForm::cmbPortfolioChange(int index) {
  {
    LockHold hold(PortLock, "PORTCHG");
    if (!hold || index < 0 || index >= PortCount()) return;
    CurPortIndex = index + 1;
  }
  {
    QSignalBlocker block(cmbPortfolio);
    cmbPortfolio->setCurrentIndex(index);
  }
  ShowCurrentPortfolio();
  pbRefreshClick();
}

void TmForm::SetStatus(const std::string& text) {
  status_ = text;
  lbStatus->setText(QString::fromStdString(text));
}

std::string TmForm::NoSiteText() const {
  return siteProblem_.empty() ? std::string("No quote site is installed") : siteProblem_;
}

void TmForm::NotAvailable(const std::string& what) { SetStatus(what + " is not available yet"); }

void TmForm::SayInBox(const std::string& text) {
  // A box, not the status line: the next refresh would overwrite that before anyone reads it.
  ShowBoxOver(this, QMessageBox::Information, Branding.ProgFullName, text);
}

void TmForm::pbRefreshClick() { StartFetchPass(); }

TmForm::PassStart TmForm::StartFetchPass() {
  if (closed_ || !fetch_) return PassStart::CannotRun;
  if (!CurSite) {
    SetStatus(NoSiteText());
    return PassStart::CannotRun;
  }
  if (!SiteActiveAt(*CurSite, MarketNow())) {
    SetStatus("The quote site is outside its active hours");
    return PassStart::CannotRun;
  }
  std::string id;
  {
    LockHold hold(PortLock, "REFRESH");
    if (!hold) return PassStart::CannotRun;
    if (const PortType* p = PortAt(CurPortIndex)) id = p->Id;
  }
  if (id.empty() && PendingListEmpty(ReportPendingList) && IndexSymbolsToFetch().empty()) return PassStart::CannotRun;
  if (!fetch_->StartPass(CurSite, id)) return PassStart::Running;
  SetStatus("Refreshing...");
  return PassStart::Started;
}

void TmForm::FetchNow() {
  // A running pass takes the report's symbols on its next pass, which follows at once, even when
  // it ends while we look. When no pass can run at all, nothing will fetch them: the report is
  // not left waiting for them.
  if (StartFetchPass() == PassStart::CannotRun) TakePendingSymbols(ReportPendingList);
}

void TmForm::RefreshTimerTimer() {
  pbRefreshClick();
  SaveCollectedDataIfDue();
}

void TmForm::SaveCollectedDataIfDue() {
  if (closed_ || !settingsLoaded_) return;
  TakeCollectedDataSave();
  const int64_t now = TickMs();
  // Copies beside each other would write over each other's files all session long.
  if (!dumpSchedule_.Due(now) || dumpSave_ || !AloneOnFolder()) return;
  dumpSchedule_.Started(now);
  dumpSave_ = std::make_unique<DumpSaveThread>();
  dumpSave_->Start();
}

void TmForm::TakeCollectedDataSave() {
  if (!dumpSave_ || !dumpSave_->Finished()) return;
  const std::unique_ptr<DumpSaveThread> save = std::move(dumpSave_);
  save->WaitFor(-1);  // it has returned: this only joins
  if (save->Ok()) WriteLog("Collected data saved during the session");
  if (save->Ok() || save->Why().empty()) return;
  const std::string m = "The collected data could not be saved during the session in " + ProgDir + ": " + save->Why() + ".";
  WriteLog(m, 0);
  // Said again at the next start should this session not end with a good save.
  if (!SavesEnded(m)) WriteLog(std::string("The note ") + SaveFailedMarkerName + " could not be written either", 0);
  if (dumpSaveFailureSaid_) return;
  dumpSaveFailureSaid_ = true;
  ShowBoxOver(this, QMessageBox::Warning, Branding.ProgFullName, m);
}

void TmForm::FetchDone(const FetchOutcome& o) {
  if (closed_) return;
  // The caption tells when quotes last came; a pass that brought none leaves it alone.
  const bool brought = o.Requests > o.Failed && !o.Cancelled;
  const TDateTime now = LocalNow();
  if (brought) {
    failingSince_ = 0;
    setWindowTitle(QString::fromStdString(Branding.ProgFullName + " - Last Update: " + FormatDateTime("hh:nn:ss", now)));
  } else if (o.Failed && failingSince_ == 0) {
    failingSince_ = now;
  }
  if (o.Failed && !brought)
    SetStatus("Quote fetch failing since " + FormatDateTime("hh:nn:ss", failingSince_) + ": " + o.FailStatus);
  else if (o.Failed) SetStatus("Quote fetch failed: " + o.FailStatus);
  else SetStatus(o.Messages.empty() ? "Quotes updated" : Trim(o.Messages));
  // The site rejected the stored login: the housekeeping timer asks for another.
  if (o.FailStatus == "BADPASS") loginNeeded_ = true;
  // The strip and the grid take the pass's quotes together.
  UpdateIndexList(o.Symbols);
  Grid->ShowStocks();
}

void TmForm::CheckClock() {
  const int64_t utc = NowUtcMs(), tick = TickMs();
  if (SystemTimeJumped(lastUtc_, lastTick_, utc, tick) && ClockSynced) {
    ClockSynced = false;
    WriteLog("System time changed; Eastern time offset dropped");
  }
  lastUtc_ = utc;
  lastTick_ = tick;
}

void TmForm::Timer1Timer() {
  if (closed_) return;
  try {
    if (QuitRequested) {
      close();
      return;
    }
    CheckClock();
    TakeCollectedDataSave();
    if (MenuReloadRequested.exchange(false)) ReloadMenus();
    ShowPendingSymbols(1);
    if (Grid) Grid->RetryDroppedFill();
    if (MainHooks.StreamingTimeoutCheck) MainHooks.StreamingTimeoutCheck();
    if (MainHooks.FireAlertActions) MainHooks.FireAlertActions();
    if (loginNeeded_ && ModalDepth == 0 && !PassDlgExists) {
      loginNeeded_ = false;
      // A site whose login lives in the browser logs in there; others ask for name and password.
      if (CurSite && CurSite->WebLogin) {
        if (DoWebLogin()) pbRefreshClick();
      } else if (MainHooks.ShowLoginDialog) {
        MainHooks.ShowLoginDialog();
      } else {
        NotAvailable("The site login dialog");
      }
    }
    if (ModalDepth == 0 && !PassDlgExists) {
      if (MainHooks.UpdateReminder) MainHooks.UpdateReminder();
      if (MainHooks.SurveyReminder) MainHooks.SurveyReminder();
    }
    // The streaming panel: activity counts down between records.
    int act = StreamActivity.load();
    if (act > 0) StreamActivity.compare_exchange_strong(act, act - 1);
    const bool streaming = MainHooks.StreamingActive && MainHooks.StreamingActive();
    const std::string panel = MainHooks.StreamingPanelText ? MainHooks.StreamingPanelText() : std::string();
    if (!panel.empty()) lbStream->setText(QString::fromStdString(panel));
    else lbStream->setText(streaming ? (act > 0 ? "Streaming: data" : "Streaming: idle") : QString());
  } catch (const std::exception& ex) {
    WriteLog(std::string("Timer1 error: ") + ex.what());
  }
}

void TmForm::StreamCallback(intptr_t wParam, intptr_t lParam) {
  if (wParam == 0) {
    if (lParam == 1) UpdateStreaming();
    return;
  }
  if (wParam < 1 || wParam >= static_cast<intptr_t>(StreamStates.size())) return;
  StreamStates[static_cast<size_t>(wParam)] = lParam;
  int running = 0;
  for (size_t i = 1; i < StreamStates.size(); ++i)
    if (StreamStates[i] == 32768 || StreamStates[i] == 65280 || StreamStates[i] == 65535) ++running;
  lbStream->setText(running ? QString("Streaming: %1 running").arg(running) : QString("Streaming: stopped"));
}

void TmForm::UpdateStreaming() {
  if (MainHooks.UpdateStreaming) MainHooks.UpdateStreaming(!ShuttingDown);
}

bool TmForm::event(QEvent* e) {
  if (e->type() == WindowMessageEvent::EventType) {
    auto* m = static_cast<WindowMessageEvent*>(e);
    if (m->Msg == MsgReapplySettings) {
      ReapplySettings();
      return true;
    }
    if (CallbackMsg && m->Msg == CallbackMsg) {
      StreamCallback(m->WParam, m->LParam);
      return true;
    }
  }
  return QMainWindow::event(e);
}

void TmForm::ReapplySettings() {
  // A new interval counts from now.
  if (RefreshTimer->interval() != RefreshSecs * 1000) RefreshTimer->start(RefreshSecs * 1000);
  AdSettingsChanged();
  ApplyView(LiveSettings.CurView, LiveSettings);
  Grid->ApplyLayout(true);
  LockHold hold(ChartLock, "PREFS");
  if (!hold) return;
  for (TdlgChart* c : OpenChartWindows()) {
    c->ApplySettings();
    c->PostRedraw();
  }
}

void TmForm::OptionsClick(int tag) {
  RunPreferences(this, tag);
  PostWindowMessage(this, MsgReapplySettings, 0, 0);
}

std::string TmForm::TakeCommandSymbol() {
  std::string s = PopupSymbol.empty() ? Grid->CurrentSymbol() : PopupSymbol;
  PopupSymbol.clear();
  return s;
}

void TmForm::OpenChart(const std::string& symbol) {
  if (!IsChartSymbol(symbol)) return;
  ::OpenChart(symbol);
}

void TmForm::CloseChartsClick() { CloseAllCharts(); }

void TmForm::popHistoryClick() {
  std::string prophet = CurSite ? ParamValue(CurSite->Params, "PROPHETCHARTS", "") : "";
  if (prophet.empty()) prophet = ParamValue(ParamList, "PROPHETCHARTS", "NO");
  if (SameText(prophet, "YES")) {
    popProphetClick();
    return;
  }
  const std::string symbol = TakeCommandSymbol();
  if (MainHooks.OpenHistory) MainHooks.OpenHistory(symbol);
  else NotAvailable("The historical chart window");
}

void TmForm::popProphetClick() {
  const std::string symbol = TakeCommandSymbol();
  if (MainHooks.OpenProphet) MainHooks.OpenProphet(symbol);
  else NotAvailable("The historical chart window");
}

void TmForm::PopSeeNewsClick() {
  std::string symbol = TakeCommandSymbol();
  if (!IsValidSymbol(symbol)) symbol.clear();
  if (MainHooks.OpenNews) MainHooks.OpenNews(symbol);
  else NotAvailable("The news window");
}

void TmForm::popIslandClick() {
  std::string symbol = TakeCommandSymbol();
  symbol = symbol.substr(0, symbol.find(' '));
  if (!IsValidSymbol(symbol)) return;
  if (symbol.size() < 4) {
    SayInBox("Level II quotes are only available for symbols of four or more characters; " + symbol + " is shorter.");
    return;
  }
  if (MainHooks.OpenIsland) MainHooks.OpenIsland(symbol);
  else NotAvailable("The market-depth window");
}

void TmForm::PrintPortClick() {
  if (MainHooks.OpenPrintDialog) MainHooks.OpenPrintDialog();
  else NotAvailable("Portfolio printing");
}

bool TmForm::DoWebLogin() {
  if (!CurSite || !CurSite->WebLogin) return true;
  if (MainHooks.WebLogin) return MainHooks.WebLogin();
  NotAvailable("The browser login");
  return false;
}

void TmForm::RunCommand(const std::string& command) {
  const std::string key = CommandKeyword(command);
  const std::string arg = CommandArgument(command);
  if (key == "CHART") OpenChart(TakeCommandSymbol());
  else if (key == "NEWS") PopSeeNewsClick();
  else if (key == "HISTORY") popHistoryClick();
  else if (key == "PROPHET") popProphetClick();
  else if (key == "ISLAND") popIslandClick();
  else if (key == "RESEARCH" || key == "URL") {
    const std::string url = TdlgChart::ResearchAddress(command, TakeCommandSymbol());
    if (!url.empty()) OpenURL(url);
  } else if (key == "REFRESH") pbRefreshClick();
  else if (key == "PREFS") OptionsClick(std::atoi(Trim(arg).c_str()));
  else if (key == "CLOSECHARTS") CloseChartsClick();
  else if (key == "PRINT") PrintPortClick();
  else if (key == "EXIT") close();
  else if (key == "ABOUT") {
    if (MainHooks.OpenAbout) MainHooks.OpenAbout();
    else NotAvailable("The about box");
  } else if (key == "UPDATE") {
    if (MainHooks.OpenUpdate) MainHooks.OpenUpdate();
    else NotAvailable("The update window");
  } else if (key == "WATCHLIST") {
    if (MainHooks.OpenWatchList) MainHooks.OpenWatchList();
    else SayInBox(NoWindowText("watch list"));
  } else if (auto it = MainHooks.Commands.find(key); it != MainHooks.Commands.end() && it->second) {
    it->second(arg);
  } else {
    WriteLog("Unknown menu command " + command);
  }
}

void TmForm::keyPressEvent(QKeyEvent* e) {
  int key = e->key();
  HandleGlobalHotKey(key, e->modifiers());
  if (key == 0) e->accept();
  else QMainWindow::keyPressEvent(e);
}

void TmForm::closeEvent(QCloseEvent* e) {
  if (closed_) {
    // The session ends while the box about a failed save waits: the box goes with the program.
    if (sayingSaveFailure_ && AfterClose) AfterClose();
    e->accept();
    return;
  }
  closed_ = true;
  ShuttingDown = true;
  WriteLog("Main window closing");
  Timer1->stop();
  RefreshTimer->stop();
  if (MainHooks.UpdateStreaming) MainHooks.UpdateStreaming(false);
  if (MainHooks.StopAds) MainHooks.StopAds();
  SetPendingHandler(1, {});
  if (QuoteServer) QuoteServer->SetActive(false);
  {
    std::unique_ptr<Thread> t = std::move(chart_);
    StopOwnedThread(t, "ChartThread", ShutdownBounds.OtherMs);
  }
  CloseAllCharts();
  {
    FetchThread* f = fetch_.get();
    std::unique_ptr<Thread> t = std::move(fetch_);
    StopOwnedThread(t, "FetchThread", ShutdownBounds.FetchMs, [f] { f->Cancel(); });
  }
  {
    Strip->Source = nullptr;
    std::unique_ptr<Thread> t = std::move(scroll_);
    StopOwnedThread(t, "ScrollThread", ShutdownBounds.ScrollMs);
  }
  {
    std::unique_ptr<Thread> t = std::move(news_);
    StopOwnedThread(t, "News", ShutdownBounds.OtherMs);
  }
  {
    std::unique_ptr<Thread> t = std::move(fund_);
    StopOwnedThread(t, "Fund", ShutdownBounds.OtherMs);
  }
  {
    // A save during the session ends (cancelled between records) before the close's own.
    std::unique_ptr<Thread> t = std::move(dumpSave_);
    StopOwnedThread(t, "DumpSave", ShutdownBounds.OtherMs);
  }
  // Only once the writers have stopped; and before the settings, as at every close.
  SaveReport saved;
  if (std::string why; settingsLoaded_ && !SaveDumps(&why)) {
    saved.Unsaved.emplace_back("the collected data");
    saved.Why.push_back(why);
  }
  {
    SaveReport r;
    SaveSettings(&r);
    saved.Unsaved.insert(saved.Unsaved.end(), r.Unsaved.begin(), r.Unsaved.end());
    saved.Why.insert(saved.Why.end(), r.Why.begin(), r.Why.end());
    saved.Backups = r.Backups;
  }
  auto joined = [](const std::vector<std::string>& parts, const char* sep, const char* last) {
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i) out += (i == 0 ? "" : i + 1 == parts.size() ? last : sep) + parts[i];
    return out;
  };
  const std::string unsaved = joined(saved.Unsaved, ", ", " and ");
  if (!unsaved.empty() || !saved.Backups.empty()) {
    // What was saved is said as saved: a backup left as it was loses nothing of the session.
    const std::string m =
        unsaved.empty() ? "The settings, portfolios and collected data were saved. " + saved.Backups
                        : "Could not write " + unsaved + " in " + ProgDir + ": " + joined(saved.Why, "; ", "; ") + "." +
                              (saved.Backups.empty() ? "" : " " + saved.Backups);
    WriteLog(m, 0);
    std::fprintf(stderr, "%s\n", m.c_str());
    // The next start says it too (best effort, a few bytes); when even that fails, the note
    // written at start still says the saves did not finish. A backup's obstacle is said by
    // every start while it stands.
    if (!unsaved.empty() && !SavesEnded(m))
      WriteLog(std::string("The note ") + SaveFailedMarkerName + " could not be written either", 0);
    if (!SessionEnding && !QuitRequested) {
      // The user closed the program and is there to read it before it is gone.
      sayingSaveFailure_ = true;
      QMessageBox box(unsaved.empty() ? QMessageBox::Warning : QMessageBox::Critical,
                      QString::fromStdString(Branding.ProgFullName), QString::fromStdString(m), QMessageBox::Ok, this);
      box.exec();
      sayingSaveFailure_ = false;
    }
  }
  if (unsaved.empty()) SavesEnded({});
  WriteLog("Main window closed");
  e->accept();
  if (AfterClose) AfterClose();
}
