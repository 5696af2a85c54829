// The session's idle time on a real X server of the test's own: input that goes to another
// client, never to our windows, keeps the user active.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "common/private_x_server.h"
#include "common/program_folder_env.h"
#include "core/program_state.h"
#include "core/button_form.h"
#include "platform/session_idle.h"
#include "platform/string_list.h"

// The X server first: the application object is made on it.
[[maybe_unused]] static auto* xServer = ::testing::AddGlobalTestEnvironment(new PrivateXServerEnvironment);
[[maybe_unused]] static auto* env =
    ::testing::AddGlobalTestEnvironment(new ProgramFolderEnvironment("test_core_x11"));

TEST(SessionIdleX11, InputToAnotherClientKeepsTheUserActive) {
  if (PrivateXServerEnvironment::Display().empty()) GTEST_SKIP() << "Xvfb is not installed";
  if (!SessionIdleMs()) GTEST_SKIP() << "built without the X screen-saver extension";
  InstallInputActivityFilter();
  AdParams.Clear();
  AdParams.Add("INACTIVETIME=0.005");  // 300 ms
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  ASSERT_GE(*SessionIdleMs(), 700);
  EXPECT_TRUE(IsUserInactive());
  // Another client of the server tells it the user is there, as input to another program
  // does (the server's idle clock starts again); our windows see nothing.
  xcb_connection_t* other = xcb_connect(PrivateXServerEnvironment::Display().c_str(), nullptr);
  ASSERT_FALSE(xcb_connection_has_error(other));
  xcb_force_screen_saver(other, XCB_SCREEN_SAVER_RESET);
  std::free(xcb_get_input_focus_reply(other, xcb_get_input_focus(other), nullptr));  // done
  EXPECT_LT(*SessionIdleMs(), 300);
  EXPECT_FALSE(IsUserInactive());
  xcb_disconnect(other);
  AdParams.Clear();
}
