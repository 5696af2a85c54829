// A banner's window on a real X server with a window manager: while another program's window
// is the active one, the banner's location counts as minimised, so it stops rotating.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QWidget>

#include <functional>
#include <mutex>

#include "common/private_x_server.h"
#include "common/program_folder_env.h"
#include "common/x11_other_program.h"
#include "core/ad_locations.h"

// The X server and its window manager first: the application object is made on it.
[[maybe_unused]] static auto* xServer =
    ::testing::AddGlobalTestEnvironment(new PrivateXServerEnvironment(true));
[[maybe_unused]] static auto* env =
    ::testing::AddGlobalTestEnvironment(new ProgramFolderEnvironment("test_core_ads_x11"));

namespace {

bool WaitUntil(const std::function<bool()>& done, int ms = 10000) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > ms) return false;
    QTest::qWait(20);
  }
  return true;
}

bool Minimized(int location) {
  std::lock_guard lock(AdLock);
  return AdLocMinimized[location];
}

}  // namespace

TEST(AdHostX11, AnotherProgramsActiveWindowStopsTheBannerUntilOursIsActiveAgain) {
  if (PrivateXServerEnvironment::Display().empty()) GTEST_SKIP() << "Xvfb is not installed";
  if (!PrivateXServerEnvironment::WindowManager()) GTEST_SKIP() << "no window manager (openbox) could start";
  ClearAdLocations();
  const int location = RegisterAdLocation(1);
  ASSERT_GT(location, 0);
  QWidget window;
  window.resize(500, 120);
  auto* host = new QWidget(&window);
  host->setGeometry(10, 10, 470, 62);
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  // The host's timer sees it once: shown and active, the banner is served.
  UpdateAdLocationFlags(location, host);
  EXPECT_FALSE(Minimized(location));

  // Another program's window takes the focus: the location turns minimised as that happens,
  // not only at the host's next timer tick.
  OtherProgram other(QRect(100, 100, 300, 200));
  ASSERT_NE(other.window, 0u);
  other.Activate();
  ASSERT_TRUE(WaitUntil([&] { return !window.isActiveWindow(); })) << "the window manager kept our window active";
  EXPECT_TRUE(WaitUntil([&] { return Minimized(location); }));
  UpdateAdLocationFlags(location, host);
  EXPECT_TRUE(Minimized(location));

  // Ours again: served again.
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  EXPECT_TRUE(WaitUntil([&] { return !Minimized(location); }));

  UnregisterAdLocation(location);
}
