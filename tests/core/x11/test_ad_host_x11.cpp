// A banner's window on a real X server with a window manager: while another program's window
// is the active one, the banner's location counts as minimised, so it stops rotating.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QWidget>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>

#include "common/private_x_server.h"
#include "common/program_folder_env.h"
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

xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
  xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(strlen(name)), name), nullptr);
  const xcb_atom_t atom = r ? r->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
  std::free(r);
  return atom;
}

// Another program: a window of a client of its own, activated through the window manager as a
// click on it in a task bar would.
struct OtherProgram {
  xcb_connection_t* c = xcb_connect(PrivateXServerEnvironment::Display().c_str(), nullptr);
  xcb_window_t window = 0;

  OtherProgram() {
    if (xcb_connection_has_error(c)) return;
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 100, 100, 300, 200, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    xcb_map_window(c, window);
    xcb_flush(c);
  }
  ~OtherProgram() { xcb_disconnect(c); }

  void Activate() {
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    xcb_client_message_event_t e{};
    e.response_type = XCB_CLIENT_MESSAGE;
    e.format = 32;
    e.window = window;
    e.type = Atom(c, "_NET_ACTIVE_WINDOW");
    e.data.data32[0] = 2;  // from a pager: the user asked for it
    e.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(c, 0, screen->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&e));
    xcb_flush(c);
  }
};

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
  OtherProgram other;
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
