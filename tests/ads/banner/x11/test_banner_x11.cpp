// A banner under a real X server of the test's own: a window of another client (a second X
// connection, as another program would have) covering the banner counts as covering it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>
#include <QWindow>

#include <xcb/xcb.h>

#include <cstdlib>
#include <mutex>

#include "common/private_x_server.h"
#include "common/program_folder_env.h"
#include "core/ad_locations.h"
#include "platform/messages.h"

// The X server first: the application object is made on it.
[[maybe_unused]] static auto* xServer = ::testing::AddGlobalTestEnvironment(new PrivateXServerEnvironment);
[[maybe_unused]] static auto* env =
    ::testing::AddGlobalTestEnvironment(new ProgramFolderEnvironment("test_banner_x11"));

namespace {

// Another program's window: its own connection to the server.
class OtherClient {
public:
  OtherClient() : c_(xcb_connect(PrivateXServerEnvironment::Display().c_str(), nullptr)) {
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
    window_ = xcb_generate_id(c_);
    const uint32_t values[] = {screen->black_pixel};
    xcb_create_window(c_, XCB_COPY_FROM_PARENT, window_, screen->root, 0, 0, 10, 10, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL, values);
  }
  ~OtherClient() { xcb_disconnect(c_); }
  bool Ok() const { return !xcb_connection_has_error(c_); }

  // Placed at a global rectangle, raised and shown; returns once the server has done it.
  void Show(const QRect& r) {
    const uint32_t values[] = {uint32_t(r.x()), uint32_t(r.y()), uint32_t(r.width()), uint32_t(r.height()),
                               XCB_STACK_MODE_ABOVE};
    xcb_configure_window(c_, window_,
                         XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                             XCB_CONFIG_WINDOW_HEIGHT | XCB_CONFIG_WINDOW_STACK_MODE,
                         values);
    xcb_map_window(c_, window_);
    Sync();
  }
  void Hide() {
    xcb_unmap_window(c_, window_);
    Sync();
  }

private:
  void Sync() { free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr)); }
  xcb_connection_t* c_;
  xcb_window_t window_ = 0;
};

}  // namespace

TEST(BannerX11, AnotherProgramsWindowOverTheBannerCoversIt) {
  if (PrivateXServerEnvironment::Display().empty()) GTEST_SKIP() << "Xvfb is not installed";
  ASSERT_EQ(QGuiApplication::platformName(), "xcb");
  QWidget window;
  window.setGeometry(100, 100, 500, 100);
  auto* banner = new QWidget(&window);
  banner->setGeometry(10, 20, 468, 60);
  window.show();
  for (int i = 0; i < 500 && !(window.windowHandle() && window.windowHandle()->isExposed()); ++i) WaitAndPump(10);
  ASSERT_TRUE(window.windowHandle()->isExposed());
  const int location = RegisterAdLocation(1);
  ASSERT_GT(location, 0);
  {
    std::lock_guard lock(AdLock);
    AdSettings.BlockObscured = true;
    AdSettings.BlockPartObscured = true;
    AdSettings.ObscuredPerc = 40;
  }
  double hidden = 0;
  EXPECT_EQ(MeasureObscured(banner, hidden), 'V');

  OtherClient other;
  ASSERT_TRUE(other.Ok());
  const QRect onScreen(banner->mapToGlobal(QPoint(0, 0)), banner->size());
  other.Show(onScreen.adjusted(-5, -5, 5, 5));
  EXPECT_EQ(MeasureObscured(banner, hidden), 'C');
  UpdateAdLocationFlags(location, banner);
  {
    std::lock_guard lock(AdLock);
    EXPECT_TRUE(AdLocBlocked[location]);
  }

  // The left half covered: partly, about half hidden.
  other.Show(QRect(onScreen.topLeft() - QPoint(20, 20), QSize(onScreen.width() / 2 + 20, onScreen.height() + 40)));
  EXPECT_EQ(MeasureObscured(banner, hidden), 'P');
  EXPECT_NEAR(hidden, 50.0, 1.0);
  UpdateAdLocationFlags(location, banner);
  {
    std::lock_guard lock(AdLock);
    EXPECT_TRUE(AdLocBlocked[location]);
  }

  // Gone again; and a window of ours raised above the other client's window counts no more.
  other.Hide();
  EXPECT_EQ(MeasureObscured(banner, hidden), 'V');
  other.Show(onScreen);
  window.raise();
  for (int i = 0; i < 100 && MeasureObscured(banner, hidden) != 'V'; ++i) WaitAndPump(10);
  EXPECT_EQ(MeasureObscured(banner, hidden), 'V');
  UpdateAdLocationFlags(location, banner);
  {
    std::lock_guard lock(AdLock);
    EXPECT_FALSE(AdLocBlocked[location]);
  }
  UnregisterAdLocation(location);
}
