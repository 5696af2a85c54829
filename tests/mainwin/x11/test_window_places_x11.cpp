// The program's windows on a real X server with a window manager (openbox): where they reopen,
// their states, and how the window manager stacks them against the main window, each other and
// other programs.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QScreen>
#include <QTest>
#include <QTableWidget>
#include <QTimer>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "charts/chart_window.h"
#include "charts/hist_new_window.h"
#include "charts/hist_test_site.h"
#include "charts/hist_window.h"
#include "common/private_x_server.h"
#include "common/program_folder_env.h"
#include "common/x11_other_program.h"
#include "core/program_state.h"
#include "core/settings.h"
#include "core/settings_file.h"
#include "platform/window_stacking.h"
#include "prefs/prefs_dialog.h"
#include "windows/browser/browser_control.h"
#include "windows/browser/browser_environment.h"
#include "windows/dialogs/login_dialog.h"
#include "windows/news/news_window.h"

namespace {
// What the browser engine needs before the application object exists.
class BrowserEngineEnvironment : public ::testing::Environment {
public:
  void SetUp() override {
    PrepareBrowserEnvironment();
    // The engine draws through OpenGL (Mesa's software one on this server), as on a desktop;
    // without it the engine finds no way to draw. This is also what makes Qt build a window anew
    // when the browser pane first comes into it.
    setenv("QT_XCB_GL_INTEGRATION", "xcb_glx", 1);
  }
};
}  // namespace

// The X server and its window manager first, then the engine's settings: the application object
// is made on them.
[[maybe_unused]] static auto* xServer = ::testing::AddGlobalTestEnvironment(new PrivateXServerEnvironment(true));
[[maybe_unused]] static auto* engine = ::testing::AddGlobalTestEnvironment(new BrowserEngineEnvironment);
[[maybe_unused]] static auto* env = ::testing::AddGlobalTestEnvironment(new ProgramFolderEnvironment("test_mainwin_x11"));

namespace {

// Waits until done (at most ms; the window manager frames and restacks later on a busy machine).
bool Settle(const std::function<bool()>& done, int ms = 15000) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > ms) return false;
    QTest::qWait(20);
  }
  return true;
}

// The window manager has put its frame around the window.
bool Framed(const QWidget* w) { return w->isVisible() && w->frameGeometry() != w->geometry(); }

// Whether the display server stacks, above `below`, a window whose outer rectangle contains
// the point (global coordinates).
bool StackedAboveAt(const QWidget* below, const QPoint& point) {
  std::vector<QRect> above;
  if (!WindowsStackedAbove(below, above)) return false;
  for (const QRect& r : above)
    if (r.contains(point)) return true;
  return false;
}
bool StackedAbove(const QWidget* below, const QWidget* w) {
  return StackedAboveAt(below, w->frameGeometry().center());
}

xcb_connection_t* Connection() {
  static xcb_connection_t* c = xcb_connect(PrivateXServerEnvironment::Display().c_str(), nullptr);
  return c;
}

// The actions the window manager allows on a window.
std::vector<xcb_atom_t> AllowedActions(const QWidget* w) {
  xcb_connection_t* c = Connection();
  std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> r(
      xcb_get_property_reply(c, xcb_get_property(c, 0, static_cast<xcb_window_t>(w->winId()), XAtom(c, "_NET_WM_ALLOWED_ACTIONS"),
                                                 XCB_ATOM_ATOM, 0, 64), nullptr),
      &std::free);
  if (!r) return {};
  const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(r.get()));
  return std::vector<xcb_atom_t>(atoms, atoms + xcb_get_property_value_length(r.get()) / 4);
}

// The window that has the keyboard on the display server.
xcb_window_t InputFocus() {
  std::unique_ptr<xcb_get_input_focus_reply_t, decltype(&std::free)> r(
      xcb_get_input_focus_reply(Connection(), xcb_get_input_focus(Connection()), nullptr), &std::free);
  return r ? r->focus : static_cast<xcb_window_t>(XCB_NONE);
}

// The window the display server says a window belongs to (WM_TRANSIENT_FOR), 0 when none.
xcb_window_t TransientFor(const QWidget* w) {
  xcb_connection_t* c = Connection();
  std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> r(
      xcb_get_property_reply(c, xcb_get_property(c, 0, static_cast<xcb_window_t>(w->winId()), XCB_ATOM_WM_TRANSIENT_FOR,
                                                 XCB_ATOM_WINDOW, 0, 1), nullptr),
      &std::free);
  if (!r || xcb_get_property_value_length(r.get()) < 4) return 0;
  return *static_cast<const xcb_window_t*>(xcb_get_property_value(r.get()));
}

// The news window maximised and closed (it says so in "NSTATE"), then opened again and framed.
void ReopenNewsMaximised() {
  frmNews->showMaximized();
  ASSERT_TRUE(Settle([&] { return frmNews->isMaximized() && Framed(frmNews); }));
  frmNews->close();
  Settle([&] { return frmNews.isNull(); });
  EXPECT_EQ(Ini().ReadString("News", "NSTATE", ""), "MX");
  OpenNewsWindow("IBM");
  ASSERT_TRUE(frmNews);
  ASSERT_TRUE(Settle([&] { return Framed(frmNews); }));
}

void ActivateMain(QMainWindow& main) {
  main.raise();
  main.activateWindow();
  Settle([&] { return main.isActiveWindow(); });
  QTest::qWait(200);  // the window manager restacks
}

void SaveScreen(const char* name) {
  const std::string dir = std::string(VN_BINARY_DIR) + "/screenshots";
  QDir().mkpath(QString::fromStdString(dir));
  QGuiApplication::primaryScreen()->grabWindow(0).save(QString::fromStdString(dir + "/" + name));
}

class WindowPlaces : public ::testing::Test {
protected:
  void SetUp() override {
    if (PrivateXServerEnvironment::Display().empty()) GTEST_SKIP() << "Xvfb is not installed";
    if (!PrivateXServerEnvironment::WindowManager()) GTEST_SKIP() << "no window manager (openbox) could start";
    setenv("VANTORA_NO_BROWSER", "1", 1);  // the news window without the engine
    main.setWindowTitle("Vantora");
    main.setCentralWidget(new QLabel("Main window"));
    main.setGeometry(0, 0, 1100, 800);
    main.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
  }
  void TearDown() override {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w != &main && w->isVisible()) w->close();
    for (int i = 0; i < 3; ++i) QApplication::processEvents();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  QMainWindow main;
};

}  // namespace

// Both history windows reopen exactly where they were closed, however often; the chart, both
// history windows and the news window stay above the main window when it is activated, and
// another program's window comes above the news window; the news window closed maximised
// reopens maximised.
TEST_F(WindowPlaces, ReopenWhereClosedAndStayAboveTheMainWindow) {
  ASSERT_TRUE(histtest::SetUpChartSite());
  struct Kind {
    const char* Name;
    std::function<void()> Open;
    std::function<QWidget*()> Find;
    QPoint Place;
  };
  const Kind kinds[] = {
      {"site 1", [] { OpenHistoryWindow("IBM"); }, []() -> QWidget* { return FindHistWindow("IBM"); }, QPoint(363, 274)},
      {"site 2", [] { OpenProphetWindow("IBM"); }, []() -> QWidget* { return FindProphetWindow("IBM"); }, QPoint(150, 90)},
  };
  for (const Kind& kind : kinds) {
    SCOPED_TRACE(kind.Name);
    for (int round = 0; round < 3; ++round) {
      kind.Open();
      QPointer<QWidget> w = kind.Find();
      ASSERT_NE(w, nullptr);
      ASSERT_TRUE(Settle([&] { return Framed(w); }));
      if (round == 0) {
        w->move(kind.Place);
        ASSERT_TRUE(Settle([&] { return w->frameGeometry().topLeft() == kind.Place; }));
      } else {
        Settle([&] { return w->frameGeometry().topLeft() == kind.Place; }, 3000);
        EXPECT_EQ(w->frameGeometry().topLeft(), kind.Place) << "reopening " << round;
      }
      if (round == 0 && kind.Place == QPoint(363, 274)) {
        // The fixed-size window cannot be maximised.
        const std::vector<xcb_atom_t> actions = AllowedActions(w);
        EXPECT_FALSE(actions.empty());
        for (const char* name : {"_NET_WM_ACTION_MAXIMIZE_HORZ", "_NET_WM_ACTION_MAXIMIZE_VERT"})
          EXPECT_EQ(std::count(actions.begin(), actions.end(), XAtom(Connection(), name)), 0) << name;
      }
      ActivateMain(main);
      EXPECT_TRUE(StackedAbove(&main, w)) << "round " << round;
      w->close();
      Settle([&] { return w.isNull() || !w->isVisible(); });
    }
  }

  TdlgChart* chart = OpenChart("IBM");
  ASSERT_NE(chart, nullptr);
  ASSERT_TRUE(Settle([&] { return Framed(chart); }));
  OpenNewsWindow("IBM");
  ASSERT_TRUE(frmNews);
  ASSERT_TRUE(Settle([&] { return Framed(frmNews); }));
  ActivateMain(main);
  EXPECT_TRUE(StackedAbove(&main, chart));
  EXPECT_TRUE(StackedAbove(&main, frmNews));
  SaveScreen("window_places_above_main.png");
  // Another program's window, activated, comes above the news window.
  OtherProgram other(QRect(0, 0, 400, 300));
  ASSERT_NE(other.window, 0u);
  other.Activate();
  ASSERT_TRUE(Settle([&] { return !main.isActiveWindow() && !frmNews->isActiveWindow(); }));
  EXPECT_TRUE(Settle([&] { return StackedAboveAt(frmNews, other.Centre()); }));
  chart->close();

  // The news window closed maximised opens maximised again, and says so at its next close; also
  // when its normal place reaches past the screen's edge (it is kept on the screen when restored).
  frmNews->setGeometry(900, 700, 600, 500);
  ASSERT_TRUE(Settle([&] { return frmNews->geometry().topLeft() == QPoint(900, 700); }));
  ReopenNewsMaximised();
  ASSERT_FALSE(HasFatalFailure());
  QTest::qWait(1200);
  EXPECT_TRUE(frmNews->isMaximized());
  SaveScreen("window_places_news_maximised.png");
  frmNews->close();
  Settle([&] { return frmNews.isNull(); });
  EXPECT_EQ(Ini().ReadString("News", "NSTATE", ""), "MX");
}

// With its browser pane live, the news window belongs to the main window and stays above it, also
// after clicks into its panes; closed maximised, it reopens maximised with the pane.
TEST_F(WindowPlaces, NewsWindowWithItsBrowserStaysAboveAndReopensMaximised) {
  unsetenv("VANTORA_NO_BROWSER");
  if (!BrowserControlAvailable()) GTEST_SKIP() << "the browser engine is not installed";
  HaveIE4 = true;
  LiveSettings.NewsTwoPanes = false;
  LiveSettings.NewsBrowserOff = false;
  Ini().WriteString("News", "NSTATE", "NO");
  Ini().WriteInteger("News", "NWINX", 200);
  Ini().WriteInteger("News", "NWINY", 150);
  Ini().WriteInteger("News", "NWINW", 629);
  Ini().WriteInteger("News", "NWINH", 460);
  // The engine's view has come into the pane: Qt has made the window anew for it by then.
  const auto paneDrawing = [] {
    for (const QWidget* w : frmNews->WB->findChildren<QWidget*>())
      if (w->inherits("QQuickWidget")) return true;
    return false;
  };
  OpenNewsWindow("IBM");
  ASSERT_TRUE(frmNews);
  ASSERT_NE(frmNews->WB, nullptr) << "the pane is live";
  ASSERT_TRUE(Settle([&] { return Framed(frmNews) && paneDrawing(); }));
  QTest::qWait(500);
  const auto owned = [&] { return TransientFor(frmNews) == static_cast<xcb_window_t>(main.winId()); };
  EXPECT_TRUE(Settle(owned));
  EXPECT_EQ(frmNews->geometry(), QRect(200, 150, 629, 460));
  // Clicks into the headlines and into the browser pane, as a user makes them.
  for (QWidget* target : {static_cast<QWidget*>(frmNews->tbNews->viewport()), static_cast<QWidget*>(frmNews->WB)}) {
    const QPoint at = target->mapTo(frmNews, target->rect().center());
    QTest::mouseClick(frmNews->windowHandle(), Qt::LeftButton, {}, at);
    QTest::qWait(300);
    ActivateMain(main);
    EXPECT_TRUE(Settle([&] { return StackedAbove(&main, frmNews); })) << "after a click on " << target->metaObject()->className();
    EXPECT_TRUE(owned()) << target->metaObject()->className();
  }
  SaveScreen("window_places_news_with_browser.png");

  ReopenNewsMaximised();
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_NE(frmNews->WB, nullptr);
  ASSERT_TRUE(Settle([&] { return paneDrawing(); }));
  QTest::qWait(1000);
  EXPECT_TRUE(frmNews->isMaximized());
  const QRect avail = frmNews->screen()->availableGeometry();
  EXPECT_GT(frmNews->frameGeometry().width(), avail.width() - 20) << frmNews->frameGeometry().width();
  EXPECT_GT(frmNews->frameGeometry().height(), avail.height() - 20) << frmNews->frameGeometry().height();
  ActivateMain(main);
  EXPECT_TRUE(Settle([&] { return StackedAbove(&main, frmNews); }));
  SaveScreen("window_places_news_with_browser_maximised.png");
  frmNews->close();
  Settle([&] { return frmNews.isNull(); });
}

// The preferences, opened while the news window is open, come above it and every other window
// of the program, with their buttons in reach.
TEST_F(WindowPlaces, ModalDialogOpensAboveTheNewsWindow) {
  OpenNewsWindow("IBM");
  ASSERT_TRUE(frmNews);
  ASSERT_TRUE(Settle([&] { return Framed(frmNews); }));
  frmNews->move(100, 100);
  QTest::qWait(300);
  bool seen = false, above = false;
  QTimer::singleShot(100, &main, [&] {
    auto* dlg = dynamic_cast<TdlgPref*>(QApplication::activeModalWidget());
    if (!dlg) return;
    seen = true;
    Settle([&] { return Framed(dlg); });
    QTest::qWait(300);
    above = StackedAbove(frmNews, dlg);
    SaveScreen("window_places_modal_over_news.png");
    QTest::keyClick(dlg, Qt::Key_Escape);
  });
  RunPreferences(&main, PrefsTabMisc);
  EXPECT_TRUE(seen);
  EXPECT_TRUE(above);
}

// The login dialog's timer never takes the keyboard from another program: with the dialog open
// and another X client given the focus, that client keeps it through the ticks of the timer.
class LoginDialog : public WindowPlaces {};

TEST_F(LoginDialog, RaisedWithoutTakingTheKeyboard) {
  auto site = std::make_shared<HTTPSite>();
  site->Name = "Fake Quotes";
  TdlgPass dlg(site, "FAKE.SDF", &main);
  bool ran = false;
  QTimer::singleShot(0, &dlg, [&] {
    struct Close {
      TdlgPass& d;
      ~Close() { d.reject(); }  // also when a step fails
    } close{dlg};
    ran = true;
    ASSERT_TRUE(Settle([&] { return Framed(&dlg) && dlg.isActiveWindow(); }));
    EXPECT_TRUE(StackedAbove(&main, &dlg));
    // The user turns to another program and types there.
    OtherProgram other(QRect(640, 80, 400, 300));
    ASSERT_NE(other.window, 0u);
    other.Activate();
    ASSERT_TRUE(Settle([&] { return InputFocus() == other.window; }));
    QTest::qWait(3500);  // three ticks
    EXPECT_EQ(InputFocus(), other.window) << "the dialog took the keyboard";
    EXPECT_EQ(QApplication::activeWindow(), nullptr);
    EXPECT_TRUE(StackedAboveAt(&dlg, other.Centre())) << "the dialog came over the other program";
    SaveScreen("login_dialog_other_program_active.png");
  });
  dlg.exec();
  EXPECT_TRUE(ran);
}
