#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QDir>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QSpinBox>
#include <QMessageBox>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QAbstractButton>
#include <QPushButton>

#include <csignal>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <set>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <filesystem>
#include <thread>

#include "charts/chart_window.h"
#include "core/add_snap.h"
#include "core/button_form.h"
#include "core/main_hooks.h"
#include "core/indices.h"
#include "core/locks.h"
#include "core/pending.h"
#include "core/log.h"
#include "core/market_clock.h"
#include "core/portfolios.h"
#include "core/program_state.h"
#include "core/settings.h"
#include "core/settings_file.h"
#include "core/sites.h"
#include "grid/grid_columns.h"
#include "grid/grid_views.h"
#include "grid/stock_grid.h"
#include "mainwin/main_form.h"
#include "mainwin/main_threads.h"
#include "mainwin/menu_defs.h"
#include "mainwin/startup.h"
#include "platform/ini_file.h"
#include "platform/messages.h"
#include "prefs/prefs_dialog.h"

namespace {

std::string Slurp(const std::string& path) {
  std::string s;
  ReadWholeFile(path, s);
  return s;
}

void PumpUntil(const std::function<bool()>& done, int rounds = 500) {
  for (int i = 0; i < rounds && !done(); ++i) WaitAndPump(10);
}

// Two portfolios on disk, the second one current.
void WritePortfolios() {
  std::vector<PortType> ports(2);
  ports[0].Name = "First";
  ports[0].Id = "PORT1";
  ports[0].Rows.push_back({"AAA", 10, 5, 0, 0, 0, "", {}});
  ports[1].Name = "Second";
  ports[1].Id = "PORT2";
  ports[1].Rows.push_back({"XYZ", 0, 0, 0, 0, 0, "", {}});
  ports[1].Rows.push_back({"QQQ", 0, 0, 0, 0, 0, "", {}});
  ASSERT_TRUE(WriteFileAtomic(ProgDir + "PORT.DAT", FormatPortText(ports)));
  Ini().WriteInteger("Stocks", "CurPort", 2);
}

// Stuck inside its work until the test lets it go: its terminate flag and the wake-up are
// ignored, as by a worker blocked in a call that cannot be cancelled.
class StuckThread : public Thread {
public:
  ~StuckThread() override {
    Let();
    Stop(-1);
  }
  void AwaitStuck() {
    std::unique_lock lock(m_);
    cv_.wait(lock, [&] { return stuck_; });
  }
  void Let() {
    {
      std::lock_guard lock(m_);
      released_ = true;
    }
    cv_.notify_all();
  }
  std::atomic<int> Wakes{0};

protected:
  void Execute() override {
    std::unique_lock lock(m_);
    stuck_ = true;
    cv_.notify_all();
    cv_.wait(lock, [&] { return released_; });
  }

private:
  std::mutex m_;
  std::condition_variable cv_;
  bool stuck_ = false, released_ = false;
};

}  // namespace

TEST(MenuFiles, EntriesKeywordsAndArguments) {
  auto pop = ParsePopMenu(
      "// comment\n\nChart|CHART.........\n-|\nResearch Here|RESEARCH......http://h/q?s=##STOCKS##\nbroken line\n");
  ASSERT_EQ(pop.size(), 3u);
  EXPECT_EQ(pop[1].Caption, "-");
  EXPECT_EQ(CommandKeyword(pop[0].Command), "CHART");
  EXPECT_EQ(CommandKeyword(pop[2].Command), "RESEARCH");
  EXPECT_EQ(CommandArgument(pop[2].Command), "http://h/q?s=##STOCKS##");
  auto menu = ParseMainMenu("&File|E&xit|EXIT\n&View|Views|PREFS.........4\nno menu here|X\n");
  ASSERT_EQ(menu.size(), 2u);
  EXPECT_EQ(menu[1].Menu, "&View");
  EXPECT_EQ(CommandArgument(menu[1].Command), "4");
  EXPECT_EQ(MakeCommand("PREFS", "9"), "PREFS.........9");
  // The shipped files parse.
  EXPECT_GE(ParsePopMenu(Slurp(DefaultDataDir("/nonexistent") + "/popmenu.par")).size(), 4u);
}

TEST(RefreshCycle, GroupsTemplatesActiveHoursAndClockJumps) {
  EXPECT_EQ(GroupSymbols("A, B,C,,D,E", 2), (std::vector<std::string>{"A,B", "C,D", "E"}));
  EXPECT_EQ(GroupSymbols("A,B", 0), (std::vector<std::string>{"A", "B"}));
  EXPECT_TRUE(GroupSymbols("", 5).empty());
  EXPECT_EQ(FillRequestTemplate("/q?s=##STOCKS##&x=1", "BRK A,T&T"), "/q?s=BRK+A,T%26T&x=1");

  HTTPSite site;
  site.ActiveHours = "09:30-16:00";
  site.ActiveDays = "12345";
  const TDateTime monday = EncodeDate(2024, 6, 3);
  EXPECT_TRUE(SiteActiveAt(site, monday + EncodeTime(9, 30, 0, 0)));
  EXPECT_FALSE(SiteActiveAt(site, monday + EncodeTime(9, 29, 0, 0)));
  EXPECT_FALSE(SiteActiveAt(site, monday + 5 + EncodeTime(12, 0, 0, 0)));  // Saturday
  site.ActiveHours = "22:00-02:00";  // across midnight
  EXPECT_TRUE(SiteActiveAt(site, monday + EncodeTime(1, 0, 0, 0)));
  EXPECT_FALSE(SiteActiveAt(site, monday + EncodeTime(12, 0, 0, 0)));

  EXPECT_FALSE(SystemTimeJumped(1000000, 500, 1001000, 1500));
  EXPECT_TRUE(SystemTimeJumped(1000000, 500, 1000000 + 3600000, 1500));
  EXPECT_TRUE(SystemTimeJumped(1000000, 500, 990000, 1500));
}

TEST(MainWindow, StartsOnTheCurrentPortfolioAndSavesAScreenshot) {
  WritePortfolios();
  const TDateTime now = MarketNow();
  for (int i = 0; i < 30; ++i) {
    SnapData s;
    s.Symbol = "XYZ";
    s.Last = 41.0f + static_cast<float>(i % 7) * 0.25f;
    s.PrevClose = 40.0f;
    s.Volume = 150000.0f * static_cast<float>(i + 1);
    s.MarketDate = now;
    s.QuoteTime = now - (30 - i) / 1440.0;
    AddSnap(s);
  }
  SnapData q;
  q.Symbol = "QQQ";
  q.Last = 380.5f;
  q.PrevClose = 382.0f;
  q.Bid = 380.4f;
  q.Ask = 380.6f;
  q.Volume = 2.5e7f;
  q.MarketDate = q.QuoteTime = now;
  AddSnap(q);
  ClockSynced = true;
  {
    TmForm form;
    mForm = &form;
    form.show();
    PumpUntil([&] { return form.SettingsLoaded(); });
    ASSERT_TRUE(form.SettingsLoaded());
    EXPECT_EQ(CurPortIndex, 2);
    EXPECT_EQ(form.cmbPortfolio->currentText().toStdString(), "Second");
    PumpUntil([&] { return !form.Grid->Busy() && form.Grid->RowCount() == 3; });
    ASSERT_EQ(form.Grid->RowCount(), 3);
    EXPECT_EQ(form.Grid->Cells(form.Grid->GridCol[SymCol], 1), "XYZ");
    EXPECT_EQ(form.Grid->Cells(form.Grid->GridCol[SymCol], 2), "QQQ");
    const std::string dir = std::string(VN_BINARY_DIR) + "/screenshots";
    QDir().mkpath(QString::fromStdString(dir));
    WaitAndPump(100);
    EXPECT_TRUE(form.grab().save(QString::fromStdString(dir + "/main_window.png")));
    EXPECT_EQ(form.Grid->Cells(form.Grid->GridCol[ChangeCol], 2), "-1.5");

    // No site is installed here: a refresh says so instead of fetching.
    form.pbRefreshClick();
    EXPECT_EQ(form.StatusText(), "No quote site is installed");

    // Choosing the first portfolio shows it.
    form.cmbPortfolioChange(0);
    PumpUntil([&] { return !form.Grid->Busy() && form.Grid->Cells(0, 1) == "AAA"; });
    EXPECT_EQ(form.Grid->Cells(form.Grid->GridCol[SymCol], 1), "AAA");
    EXPECT_EQ(form.cmbPortfolio->currentText().toStdString(), "First");

    // The streaming notices arrive through the registered message.
    PostWindowMessage(&form, CallbackMsg, 3, 65280);
    WaitAndPump(20);
    EXPECT_EQ(form.StreamStates[3], 65280);
    form.close();
    mForm = nullptr;
  }
  IniFile ini(ProgDir + "STOCKS.INI");
  EXPECT_EQ(ini.ReadString("Stocks", "CurPort", ""), "1");
  EXPECT_EQ(ini.ReadString("Stocks", "CurView", ""), "Default");
  EXPECT_NE(Slurp(ProgDir + "PORT.DAT").find("Second|PORT2"), std::string::npos);
  ShuttingDown = false;
}

TEST(MainWindow, PulseReachesOnlyOpenChartsWhileTheyComeAndGo) {
  std::atomic<int> pulses{0};
  auto pulser = std::make_unique<ChartThread>(
      [&] {
        PulseCharts();
        ++pulses;
      },
      1);
  pulser->Start();
  TdlgChart* keep = OpenChart("KEEP");
  ASSERT_NE(keep, nullptr);
  const int before = keep->RedrawCount();
  for (int i = 0; i < 40; ++i) {
    TdlgChart* c = OpenChart("GONE" + std::to_string(i % 3));
    ASSERT_NE(c, nullptr);
    WaitAndPump(2);
    c->close();  // freed on close, while the pulse keeps posting
    WaitAndPump(2);
  }
  PumpUntil([&] { return pulses > 60; });
  WaitAndPump(50);
  EXPECT_GT(keep->RedrawCount(), before);
  std::unique_ptr<Thread> t = std::move(pulser);
  EXPECT_TRUE(StopOwnedThread(t, "ChartThread", 5000));
  CloseAllCharts();
  WaitAndPump(20);
  EXPECT_TRUE(OpenChartWindows().empty());
}

TEST(MainWindow, ShutDownEndsWithinItsBoundsWhenAThreadDoesNotCooperate) {
  LogOn = true;
  StartLog();
  {
    // The bound the window gives its fetch worker, with a wake-up that cannot reach it.
    std::unique_ptr<Thread> stuck = std::make_unique<StuckThread>();
    auto* raw = static_cast<StuckThread*>(stuck.get());
    stuck->Start();
    raw->AwaitStuck();
    const ShutdownBoundTable saved = ShutdownBounds;
    ShutdownBounds.FetchMs = 50;
    EXPECT_FALSE(StopOwnedThread(stuck, "FetchThread", ShutdownBounds.FetchMs, [raw] { ++raw->Wakes; }));
    ShutdownBounds = saved;
    EXPECT_EQ(stuck, nullptr);
    EXPECT_EQ(raw->Wakes.load(), 1);
    EXPECT_NE(Slurp(ProgDir + "stocks.log").find("FetchThread did not end within 50 ms"), std::string::npos);
    // Set aside, not freed: once let go it is joined and freed by the release.
    raw->Let();
    EXPECT_EQ(ReleaseOverrunThreads(60000), 0);
  }

  // Closing the window stops its own threads and still writes the settings and portfolios.
  WritePortfolios();
  ShuttingDown = false;
  std::filesystem::remove(ProgDir + "SDATA.DMP");
  std::filesystem::remove(ProgDir + "SNEWS.DMP");
  {
    TmForm form;
    form.show();
    PumpUntil([&] { return form.SettingsLoaded(); });
    ASSERT_NE(form.Fetcher(), nullptr);
    form.close();
    EXPECT_EQ(form.Fetcher(), nullptr);
    EXPECT_EQ(form.Pulser(), nullptr);
  }
  EXPECT_NE(Slurp(ProgDir + "stocks.log").find("Main window closed"), std::string::npos);
  // The collected data is kept for the next start.
  EXPECT_TRUE(std::filesystem::exists(ProgDir + "SDATA.DMP"));
  EXPECT_TRUE(std::filesystem::exists(ProgDir + "SNEWS.DMP"));
  EXPECT_TRUE(std::filesystem::exists(ProgDir + "PORT.DAT"));
  EXPECT_EQ(IniFile(ProgDir + "STOCKS.INI").ReadString("Stocks", "CurPort", ""), "2");
  ShuttingDown = false;
  LogOn = false;
}

TEST(MainWindow, SettingsFromThePreferencesReachTheGridAndOpenCharts) {
  WritePortfolios();
  Ini().WriteString("Views", "Two", "SymCol,LastCol");
  {
    TmForm form;
    form.show();
    PumpUntil([&] { return form.SettingsLoaded(); });
    TdlgChart* chart = OpenChart("REAP");
    ASSERT_NE(chart, nullptr);
    PumpUntil([&] { return chart->RedrawCount() > 0; });
    const int before = chart->RedrawCount();
    LoadViews();
    LiveSettings.CurView = "Two";
    PostWindowMessage(&form, MsgReapplySettings, 0, 0);
    PumpUntil([&] { return form.Grid->ColCount() == 2 && chart->RedrawCount() > before; });
    EXPECT_EQ(form.Grid->ColCount(), 2);
    EXPECT_GT(chart->RedrawCount(), before);
    form.close();
    EXPECT_TRUE(OpenChartWindows().empty() || (WaitAndPump(20), OpenChartWindows().empty()));
  }
  LiveSettings.CurView = "Default";
  Ini().EraseSection("Views");
  ShuttingDown = false;
}

TEST(MainWindow, HousekeepingRedrawsAGridFillGivenUpUnderLoad) {
  WritePortfolios();
  {
    TmForm form;
    form.show();
    PumpUntil([&] { return form.SettingsLoaded(); });
    PumpUntil([&] { return !form.Grid->Busy() && form.Grid->RowCount() == 3; });
    SnapData s;
    s.Symbol = "QQQ";
    s.Last = 390.25f;
    s.PrevClose = 382.0f;
    s.MarketDate = s.QuoteTime = MarketNow();
    ASSERT_GE(AddSnap(s), 0);
    {
      // The streaming thread is writing: the fill gives up.
      LockHold writer(AddSnapLock, "TEST");
      form.Grid->ShowStocks();
      PumpUntil([&] { return !form.Grid->Busy(); });
    }
    auto last = [&] { return form.Grid->Cells(form.Grid->GridCol[LastCol], 2); };
    EXPECT_NE(last(), "390.25");
    form.Timer1Timer();
    PumpUntil([&] { return !form.Grid->Busy() && last() == "390.25"; });
    EXPECT_EQ(last(), "390.25");

    // A streamed index quote reaches the strip when it reaches the grid.
    s.Symbol = "$IDXS";
    s.Last = 4321.5f;
    ASSERT_GE(AddSnap(s), 0);
    ASSERT_TRUE(AddPendingSymbol(1, "$IDXS"));
    form.Timer1Timer();
    {
      LockHold hold(IdxListLock, "TEST");
      ASSERT_EQ(IndexList.size(), 1u);
      EXPECT_EQ(IndexList[0].Symbol, "$IDXS");
      EXPECT_DOUBLE_EQ(IndexList[0].Value, 4321.5);
      IndexList.clear();
    }
    form.close();
  }
  ShuttingDown = false;
}

TEST(MainWindow, SizePlaceColumnWidthsAndSortOutliveARestart) {
  WritePortfolios();
  {
    TmForm form;
    form.show();
    PumpUntil([&] { return form.SettingsLoaded(); });
    PumpUntil([&] { return !form.Grid->Busy(); });
    form.setGeometry(40, 50, 677, 455);
    TStockGrid& g = *form.Grid;
    g.horizontalHeader()->resizeSection(g.GridCol[LastCol], 151);
    g.SortByColumn(g.GridCol[VolCol], false, true);
    g.SortByColumn(g.GridCol[VolCol], false, true);  // the other way round
    PumpUntil([&] { return !g.Busy(); });
    // The preferences' OK lays the grid out anew from the settings record.
    PostWindowMessage(&form, MsgReapplySettings, 0, 0);
    WaitAndPump(50);
    PumpUntil([&] { return !g.Busy(); });
    EXPECT_EQ(g.columnWidth(g.GridCol[LastCol]), 151);
    form.close();
  }
  ShuttingDown = false;
  {
    TmForm form;
    form.show();
    PumpUntil([&] { return form.SettingsLoaded(); });
    PumpUntil([&] { return !form.Grid->Busy(); });
    EXPECT_EQ(form.geometry().size(), QSize(677, 455));
    EXPECT_EQ(form.geometry().topLeft(), QPoint(40, 50));
    TStockGrid& g = *form.Grid;
    EXPECT_EQ(g.columnWidth(g.GridCol[LastCol]), 151);
    EXPECT_EQ(g.SortCol, VolCol);
    EXPECT_TRUE(g.SortDown);
    form.close();
  }
  ShuttingDown = false;
  Ini().EraseSection("MainForm");
  Ini().DeleteKey("Stocks", "SortCol");
  LiveSettings = GlobVars();
  LoadGlobVars(LiveSettings);
}

TEST(MainWindow, PopupCommandsNeedARowWithASymbol) {
  EXPECT_TRUE(CommandNeedsSymbol("CHART........."));
  EXPECT_TRUE(CommandNeedsSymbol("RESEARCH......http://h/?s=##STOCKS##"));
  EXPECT_FALSE(CommandNeedsSymbol("URL...........http://h/"));
  EXPECT_FALSE(CommandNeedsSymbol("REFRESH"));
  ASSERT_TRUE(WriteFileAtomic(ProgDir + "popmenu.par", "Chart|CHART\n-|\nNews|NEWS\nRefresh|REFRESH\n"));
  {
    TmForm form;
    auto enabled = [&] {
      std::string out;
      for (QAction* a : form.PopMenu->actions())
        if (!a->isSeparator()) out += a->isEnabled() ? "Y" : "N";
      return out;
    };
    for (const char* none : {"", "-----", "$CASH", "TOTAL", "total"}) {
      GridHooks.Popup(none, QPoint(10, 10));
      EXPECT_EQ(enabled(), "NNY") << none;
      form.PopMenu->hide();
    }
    GridHooks.Popup("IBM", QPoint(10, 10));
    EXPECT_EQ(enabled(), "YYY");
    form.PopMenu->hide();
    form.close();
  }
  std::filesystem::remove(ProgDir + "popmenu.par");
  ShuttingDown = false;
}

TEST(MainWindow, DamagedPortfolioLinesAreToldInABoxThatDoesNotBlock) {
  ASSERT_TRUE(WriteFileAtomic(ProgDir + "PORT.DAT", "Mine|PORT1||IBM;1;2;0;0;0;\r\nBroken|PORT2||IBM;ten\r\n"));
  {
    TmForm form;
    form.show();
    PumpUntil([&] { return form.SettingsLoaded(); });
    EXPECT_NE(form.LastNotice().find("could not be read (line 2)"), std::string::npos) << form.LastNotice();
    QMessageBox* box = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* b = qobject_cast<QMessageBox*>(w); b && b->isVisible()) box = b;
    ASSERT_NE(box, nullptr);
    EXPECT_FALSE(box->isModal());
    const std::string dir = std::string(VN_BINARY_DIR) + "/screenshots";
    QDir().mkpath(QString::fromStdString(dir));
    EXPECT_TRUE(box->grab().save(QString::fromStdString(dir + "/damaged_portfolio_notice.png")));
    form.close();  // closes with the box still open
  }
  std::string kept;
  ASSERT_TRUE(ReadWholeFile(ProgDir + "PORT.DAT", kept));
  EXPECT_NE(kept.find("Broken|PORT2||IBM;ten"), std::string::npos);
  ShuttingDown = false;
}

// A save that fails when the user closes the window is said in a box at once, before it goes.
TEST(MainWindow, ASaveThatFailsAtTheUsersCloseIsSaidInABox) {
  TmForm form;
  form.show();
  PumpUntil([&] { return form.SettingsLoaded(); });
  RefreshSecs = 37;  // a change the close must write
  std::string said;
  bool clicked = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || clicked) return;
    said = box->text().toStdString();
    clicked = true;
    QTest::mouseClick(static_cast<QWidget*>(box->button(QMessageBox::Ok)), Qt::LeftButton);
  });
  poll.start(20);
  // A file-size limit the settings file is over: its write fails, the program goes on.
  const auto old = std::signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  rlimit tiny = saved;
  tiny.rlim_cur = 8;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tiny), 0);
  form.close();
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, old);
  poll.stop();
  EXPECT_TRUE(clicked) << "no box";
  EXPECT_NE(said.find("Could not write the collected data and the settings in " + ProgDir + ": "), std::string::npos)
      << said;
  EXPECT_NE(said.find("; STOCKS.INI could not be written (File too large)."), std::string::npos) << said;
  EXPECT_FALSE(std::filesystem::exists(ProgDir + "save-failed.txt"));
  ShuttingDown = false;
}

TEST(MainWindow, OpensWhollyOnScreenWithSharedKeysAndAPopupForTheRowClicked) {
  WritePortfolios();
  Ini().EraseSection("MainForm");
  const QRect avail = QGuiApplication::primaryScreen()->availableGeometry();
  {
    TmForm form;
    form.show();
    PumpUntil([&] { return form.SettingsLoaded(); });
    PumpUntil([&] { return !form.Grid->Busy() && form.Grid->RowCount() == 3; });
    // The first size follows the screen, and the window lies wholly on it.
    EXPECT_TRUE(avail.contains(form.frameGeometry())) << form.frameGeometry().width();
    EXPECT_GE(form.width(), avail.width() * 3 / 5);
    // So does the first chart.
    TdlgChart* chart = OpenChart("FRST");
    ASSERT_NE(chart, nullptr);
    WaitAndPump(50);
    EXPECT_TRUE(avail.contains(chart->frameGeometry()));
    CloseAllCharts();

    // The keys shared with the other windows work here too, wherever the focus is.
    std::string keys;
    GlobalHotKeys.CreateDebugWindow = [&] { keys += 'D'; };
    GlobalHotKeys.ShowDebugWindow = [&] { keys += 'd'; };
    GlobalHotKeys.Preferences = [&] { keys += 'M'; };
    GlobalHotKeys.Refresh = [&] { keys += 'R'; };
    form.Grid->setFocus();
    QTest::keyClick(form.Grid, Qt::Key_F2, Qt::ShiftModifier | Qt::ControlModifier);
    QTest::keyClick(form.Grid, Qt::Key_F2);
    QTest::keyClick(form.Grid, Qt::Key_M, Qt::ControlModifier);
    QTest::keyClick(form.cmbPortfolio, Qt::Key_F5);
    EXPECT_EQ(keys, "DdMR");

    // A right click on QQQ; the rows are sorted anew while the menu is open; "See News" still
    // acts on QQQ.
    std::string newsFor;
    MainHooks.OpenNews = [&](const std::string& s) { newsFor = s; };
    auto quote = [](const char* symbol, float last) {
      SnapData s;
      s.Symbol = symbol;
      s.Last = last;
      s.PrevClose = 40.0f;
      s.MarketDate = s.QuoteTime = MarketNow();
      ASSERT_GE(AddSnap(s), 0);
    };
    quote("XYZ", 10.0f);
    quote("QQQ", 20.0f);
    TStockGrid& g = *form.Grid;
    g.SortCol = LastCol;
    g.SortDown = true;
    g.ShowStocks();
    PumpUntil([&] { return !g.Busy(); });
    ASSERT_EQ(g.Cells(g.GridCol[SymCol], 1), "QQQ");
    const QPoint where = g.visualRect(g.model()->index(0, 0)).center();
    QContextMenuEvent right(QContextMenuEvent::Mouse, where, g.viewport()->mapToGlobal(where));
    QApplication::sendEvent(g.viewport(), &right);
    ASSERT_TRUE(form.PopMenu->isVisible());
    quote("XYZ", 9999.0f);
    g.ShowStocks();
    PumpUntil([&] { return !g.Busy() && g.Cells(g.GridCol[SymCol], 1) == "XYZ"; });
    QAction* news = nullptr;
    for (QAction* a : form.PopMenu->actions())
      if (a->text() == "See News") news = a;
    ASSERT_NE(news, nullptr);
    QTest::mouseClick(form.PopMenu, Qt::LeftButton, {}, form.PopMenu->actionGeometry(news).center());
    PumpUntil([&] { return !newsFor.empty(); }, 100);
    EXPECT_EQ(newsFor, "QQQ");
    form.close();
  }
  Ini().EraseSection("MainForm");
  Ini().DeleteKey("Stocks", "SortCol");
  Ini().DeleteKey("Stocks", "SortDown");
  ShuttingDown = false;
}

TEST(MainWindow, AQuoteServerPortThatIsTakenIsSaid) {
  const int taken = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(taken, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(taken, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(taken, 1), 0);
  socklen_t len = sizeof addr;
  ASSERT_EQ(::getsockname(taken, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  const int port = ntohs(addr.sin_port);
  Ini().WriteString("VNServer", "Active", "YES");
  Ini().WriteInteger("VNServer", "Port", port);
  {
    TmForm form;
    form.show();
    PumpUntil([&] { return form.SettingsLoaded(); });
    const std::string said = "Quote server could not listen on port " + std::to_string(port) + ": ";
    // In the status bar for good: the status line itself is rewritten by every pass.
    EXPECT_EQ(form.lbProblem->text().toStdString().rfind(said, 0), 0u) << form.lbProblem->text().toStdString();
    EXPECT_TRUE(form.lbProblem->isVisible());
    form.close();
  }
  ::close(taken);
  Ini().WriteString("VNServer", "Active", "NO");
  Ini().DeleteKey("VNServer", "Port");
  ShuttingDown = false;
}

TEST(MenuFiles, EveryWindowIsReachableFromTheShippedMenus) {
  std::set<std::string> keywords;
  for (const MenuEntry& e : ParseMainMenu(Slurp(DefaultDataDir("/nonexistent") + "/menu.par")))
    keywords.insert(CommandKeyword(e.Command));
  for (const MenuEntry& e : ParsePopMenu(Slurp(DefaultDataDir("/nonexistent") + "/popmenu.par")))
    keywords.insert(CommandKeyword(e.Command));
  for (const char* k : {"CHART", "NEWS", "HISTORY", "PROPHET", "ISLAND", "PRINT", "PREFS", "WATCHLIST", "UPDATE",
                        "ABOUT", "SURVEY", "REFRESH", "EXIT"})
    EXPECT_EQ(keywords.count(k), 1u) << k;
  // The demo runs a plain copy, so a second start hands over to it.
  const std::string demo = Slurp(std::string(VN_FIXTURES_DIR) + "/../../scripts/demo");
  ASSERT_NE(demo.find("/vantora\""), std::string::npos);
  EXPECT_EQ(demo.find("ALLOWDUP"), std::string::npos);
}

TEST(IndexStrip, ChangesTakeTheirIndexsDecimals) {
  EXPECT_EQ(IndexStripText({{"$DJI", "Industrial Average", 38650.26, 12.34}, {"$SPX", "", 5180.126, -3.456},
                            {"$X", "", 123.4567, 0.1}}),
            "Industrial Average 38650.3 (+12.3)   $SPX 5180.13 (-3.46)   $X 123.457 (+0.1)");
}

// Commands that cannot act say why in a box the next refresh does not overwrite: Level II on a
// short symbol, the watch list (menu and Ctrl+L) and the site box (Ctrl+S), windows this
// program does not have.
TEST(MainWindow, CommandsThatCannotActSayWhyInABox) {
  std::vector<PortType> ports(1);
  ports[0].Name = "Depth";
  ports[0].Id = "PORT1";
  for (const char* symbol : {"IBM", "ABCD"}) ports[0].Rows.push_back({symbol, 0, 0, 0, 0, 0, "", {}});
  ASSERT_TRUE(WriteFileAtomic(ProgDir + "PORT.DAT", FormatPortText(ports)));
  Ini().WriteInteger("Stocks", "CurPort", 1);
  TmForm form;
  form.show();
  PumpUntil([&] { return form.SettingsLoaded(); });
  TStockGrid& g = *form.Grid;
  PumpUntil([&] { return !g.Busy() && g.RowCount() == 3; });
  std::string island;
  MainHooks.OpenIsland = [&](const std::string& s) { island = s; };
  auto takeBox = [&]() -> std::string {
    WaitAndPump(20);
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
        const std::string text = box->text().toStdString();
        QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        WaitAndPump(20);
        return text;
      }
    return "";
  };
  // Picks an entry of a menu that is open, with the mouse.
  auto clickEntry = [](QMenu* menu, const QString& text) {
    PumpUntil([&] { return menu->isVisible(); }, 100);
    ASSERT_TRUE(menu->isVisible());
    for (QAction* a : menu->actions())
      if (a->text().remove('&') == text) {
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(a).center());
        return;
      }
    FAIL() << "no entry " << text.toStdString();
  };
  // Level II from the row's pop-up menu, as a user asks for it.
  auto levelTwoOn = [&](const std::string& symbol) {
    for (int r = 1; r < g.RowCount(); ++r) {
      if (g.Cells(g.GridCol[SymCol], r) != symbol) continue;
      const QPoint where = g.visualRect(g.model()->index(r - 1, 0)).center();
      QContextMenuEvent right(QContextMenuEvent::Mouse, where, g.viewport()->mapToGlobal(where));
      QApplication::sendEvent(g.viewport(), &right);
      clickEntry(form.PopMenu, "Level II");
      return;
    }
    FAIL() << "no row for " << symbol;
  };
  levelTwoOn("IBM");
  EXPECT_EQ(island, "");
  EXPECT_NE(takeBox().find("four or more characters; IBM is shorter"), std::string::npos);
  levelTwoOn("ABCD");
  EXPECT_EQ(island, "ABCD");
  EXPECT_EQ(takeBox(), "");

  g.setFocus();
  QTest::keyClick(&g, Qt::Key_L, Qt::ControlModifier);
  EXPECT_EQ(takeBox(), "This program has no watch list window.");
  QAction* view = nullptr;
  for (QAction* menu : form.menuBar()->actions())
    if (menu->menu())
      for (QAction* a : menu->menu()->actions())
        if (a->text().remove('&') == "Watch List") view = menu;
  ASSERT_NE(view, nullptr);
  QTest::mouseClick(form.menuBar(), Qt::LeftButton, {}, form.menuBar()->actionGeometry(view).center());
  clickEntry(view->menu(), "Watch List");
  EXPECT_EQ(takeBox(), "This program has no watch list window.");
  QTest::keyClick(&g, Qt::Key_S, Qt::ControlModifier);
  EXPECT_EQ(takeBox(), "This program has no quote site box window.");
  MainHooks.OpenIsland = nullptr;
  form.close();
}

// A quote or streaming site file that did not load says why in the status line, and a fetch
// pass does not turn that into "No quote site is installed".
TEST(MainWindow, ASiteFileThatDidNotLoadSaysWhyInTheStatusLine) {
  ShuttingDown = false;  // whatever window closed before
  const std::string siteBefore = Ini().ReadString("Stocks", "SiteFile", "");
  ASSERT_TRUE(WriteFileAtomic(ProgDir + "Broken.SDF", std::string(2 * 1024 * 1024, 'x')));
  Ini().WriteString("Stocks", "SiteFile", "Broken.SDF");
  Ini().WriteString("Stocks", "StreamFile", "Broken.SDF");
  {
    TmForm form;
    form.show();
    PumpUntil([&] { return form.SettingsLoaded(); });
    const std::string why = "Quote site file Broken.SDF did not load: file larger than 1 MB";
    EXPECT_EQ(form.StatusText(), why);
    QTest::mouseClick(form.pbRefresh, Qt::LeftButton);
    EXPECT_EQ(form.StatusText(), why);
    PumpUntil([&] { return form.lbStream->text().contains("Streaming site file Broken.SDF did not load"); });
    EXPECT_EQ(form.lbStream->text().toStdString(), "Streaming site file Broken.SDF did not load: file larger than 1 MB");
    form.close();
  }
  Ini().WriteString("Stocks", "SiteFile", siteBefore);
  Ini().DeleteKey("Stocks", "StreamFile");
  std::filesystem::remove(ProgDir + "Broken.SDF");
  ShuttingDown = false;
}

// The shared Ctrl/Alt letters act from whichever control has the focus, the portfolio box too
// (its type-ahead once took them); Alt with a control's own underlined letter stays the
// control's. Ctrl+E opens the preferences at the refresh interval, which the timer takes at once.
TEST(HotKeys, ActFromEveryControl) {
  InstallInputActivityFilter();  // as the program does at start
  WritePortfolios();
  TmForm form;
  form.show();
  form.activateWindow();
  PumpUntil([&] { return form.SettingsLoaded(); });
  std::string keys;
  GlobalHotKeys.PortfolioBox = [&] { keys += 'P'; };
  GlobalHotKeys.SiteBox = [&] { keys += 'S'; };
  GlobalHotKeys.Preferences = [&] { keys += 'M'; };
  GlobalHotKeys.WatchList = [&] { keys += 'L'; };
  GlobalHotKeys.Refresh = [&] { keys += 'R'; };
  const std::pair<int, char> letters[] = {{Qt::Key_P, 'P'}, {Qt::Key_S, 'S'}, {Qt::Key_M, 'M'}, {Qt::Key_L, 'L'}, {Qt::Key_R, 'R'}};
  for (QWidget* control : std::initializer_list<QWidget*>{form.cmbPortfolio, form.Grid, form.pbRefresh}) {
    SCOPED_TRACE(control->metaObject()->className());
    control->setFocus();
    PumpUntil([&] { return control->hasFocus(); }, 50);
    keys.clear();
    for (const auto& [key, mark] : letters) QTest::keyClick(control, key, Qt::ControlModifier);
    EXPECT_EQ(keys, "PSMLR");
    keys.clear();
    // Alt+R is the Refresh button's own underlined letter.
    for (const auto& [key, mark] : letters) QTest::keyClick(control, key, Qt::AltModifier);
    EXPECT_EQ(keys, "PSML");
  }
  GlobalHotKeys.Refresh = [] {};

  // Ctrl+E from the portfolio box: the preferences open with the interval focused; it says the
  // site's least interval and keeps to it; OK puts the new interval in force.
  auto site = std::make_shared<HTTPSite>();
  site->MinRefresh = 30;
  std::shared_ptr<HTTPSite> siteBefore = CurSite;
  CurSite = site;
  std::string focused, floorText;
  int minimum = 0;
  QTimer::singleShot(100, &form, [&] {
    auto* dlg = dynamic_cast<TdlgPref*>(QApplication::activeModalWidget());
    if (!dlg) return;
    focused = QApplication::focusWidget() == dlg->seRefresh ? "interval" : "other";
    minimum = dlg->seRefresh->minimum();
    floorText = dlg->lbRefreshFloor->text().toStdString();
    QTest::keyClick(dlg->seRefresh, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(dlg->seRefresh, "45");
    QTest::keyClick(dlg->seRefresh, Qt::Key_Return);
  });
  form.cmbPortfolio->setFocus();
  QTest::keyClick(form.cmbPortfolio, Qt::Key_E, Qt::ControlModifier);
  CurSite = siteBefore;
  EXPECT_EQ(focused, "interval");
  EXPECT_EQ(minimum, 30);
  EXPECT_EQ(floorText, "at least 30 s for this quote site");
  EXPECT_EQ(RefreshSecs.load(), 45);
  EXPECT_EQ(Ini().ReadInteger("Stocks", "RefreshSecs", 0), 45);
  PumpUntil([&] { return form.RefreshTimer->interval() == 45000; }, 100);
  EXPECT_EQ(form.RefreshTimer->interval(), 45000);
  EXPECT_TRUE(form.RefreshTimer->isActive());
  form.close();
  Ini().DeleteKey("Stocks", "RefreshSecs");
  RefreshSecs = 20;
  ShuttingDown = false;
}
