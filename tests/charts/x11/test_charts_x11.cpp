// A history window with a dialog opened over it, on a real X server of the test's own: the
// display server's stacking order puts the dialog above, and the screenshot shows the screen.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QVBoxLayout>

#include "charts/hist_window.h"
#include "common/private_x_server.h"
#include "common/program_folder_env.h"
#include "charts/hist_test_site.h"
#include "platform/window_stacking.h"

// The X server first: the application object is made on it.
[[maybe_unused]] static auto* xServer = ::testing::AddGlobalTestEnvironment(new PrivateXServerEnvironment);
[[maybe_unused]] static auto* env =
    ::testing::AddGlobalTestEnvironment(new ProgramFolderEnvironment("test_charts_x11"));

using namespace histtest;

TEST(HistWindowX11, ADialogOpenedOverTheHistoryWindowComesAbove) {
  if (PrivateXServerEnvironment::Display().empty()) GTEST_SKIP() << "Xvfb is not installed";
  ASSERT_TRUE(SetUpChartSite());
  QMainWindow main;
  main.setWindowTitle("Vantora");
  main.setCentralWidget(new QLabel("Main window"));
  main.setGeometry(0, 0, 1000, 700);
  main.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));

  OpenHistoryWindow("IBM");
  TfrmHist* w = FindHistWindow("IBM");
  ASSERT_NE(w, nullptr);
  w->move(120, 60);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
  ASSERT_TRUE(WaitFor([&] { return w->SidParam.rfind("sid=", 0) == 0 && !w->Fetching(); }));
  QTest::mouseClick(w->pbGet, Qt::LeftButton);
  ASSERT_TRUE(WaitFor([&] { return !w->Fetching() && !w->GifText.empty(); }));

  // A dialog of the main window, as the preferences are, opened and clicked.
  QDialog prefs(&main);
  prefs.setWindowTitle("Preferences");
  auto* lay = new QVBoxLayout(&prefs);
  lay->addWidget(new QLabel("A dialog opened over the history window"));
  lay->addWidget(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel));
  prefs.setGeometry(300, 250, 420, 160);
  prefs.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&prefs));
  prefs.raise();
  prefs.activateWindow();

  std::vector<QRect> above;
  ASSERT_TRUE(WaitFor([&] {
    QApplication::processEvents();
    return WindowsStackedAbove(w, above) && !above.empty();
  }, 5000));
  bool dialogAbove = false;
  for (const QRect& r : above) dialogAbove |= r.contains(prefs.geometry().center());
  EXPECT_TRUE(dialogAbove);

  const std::string dir = std::string(VN_BINARY_DIR) + "/screenshots";
  QDir().mkpath(QString::fromStdString(dir));
  EXPECT_TRUE(QGuiApplication::primaryScreen()->grabWindow(0, 0, 0, 1000, 700).save(
      QString::fromStdString(dir + "/hist_window_under_dialog.png")));
  prefs.close();
  w->close();
  for (int i = 0; i < 3; ++i) QApplication::processEvents();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
