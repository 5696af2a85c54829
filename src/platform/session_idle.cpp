#include "platform/session_idle.h"

#include <QGuiApplication>

#ifdef VN_HAVE_XCB_SCREENSAVER
#include <QtGui/qguiapplication_platform.h>
#include <xcb/screensaver.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#endif

std::optional<int64_t> SessionIdleMs() {
#ifdef VN_HAVE_XCB_SCREENSAVER
  if (!qGuiApp) return std::nullopt;
  // Qt's own connection (libxcb is thread-safe, so the ad thread may ask too).
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  xcb_connection_t* c = x11 ? x11->connection() : nullptr;
  if (!c || xcb_connection_has_error(c)) return std::nullopt;
  const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_screensaver_id);
  if (!ext || !ext->present) return std::nullopt;
  const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  if (!screen) return std::nullopt;
  std::unique_ptr<xcb_screensaver_query_info_reply_t, decltype(&std::free)> info(
      xcb_screensaver_query_info_reply(c, xcb_screensaver_query_info(c, screen->root), nullptr), &std::free);
  if (!info) return std::nullopt;
  return static_cast<int64_t>(info->ms_since_user_input);
#else
  return std::nullopt;
#endif
}
