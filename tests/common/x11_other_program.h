#pragma once
// Another program on the private X server: a window of an X client of its own, which the window
// manager activates as a click on it in a task bar would. For tests of what the program does
// when the user turns to another program.
#include <xcb/xcb.h>

#include <QPoint>
#include <QRect>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/private_x_server.h"

inline xcb_atom_t XAtom(xcb_connection_t* c, const char* name) {
  std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> r(
      xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(strlen(name)), name), nullptr), &std::free);
  return r ? r->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

struct OtherProgram {
  xcb_connection_t* c = xcb_connect(PrivateXServerEnvironment::Display().c_str(), nullptr);
  xcb_window_t window = 0;
  xcb_screen_t* screen = nullptr;

  explicit OtherProgram(const QRect& place) : size_(place.size()) {
    if (xcb_connection_has_error(c)) return;
    screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, static_cast<int16_t>(place.x()),
                      static_cast<int16_t>(place.y()), static_cast<uint16_t>(place.width()),
                      static_cast<uint16_t>(place.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0,
                      nullptr);
    xcb_map_window(c, window);
    xcb_flush(c);
  }
  ~OtherProgram() { xcb_disconnect(c); }
  OtherProgram(const OtherProgram&) = delete;
  OtherProgram& operator=(const OtherProgram&) = delete;

  void Activate() {
    if (!screen) return;
    xcb_client_message_event_t e{};
    e.response_type = XCB_CLIENT_MESSAGE;
    e.format = 32;
    e.window = window;
    e.type = XAtom(c, "_NET_ACTIVE_WINDOW");
    e.data.data32[0] = 2;  // from a pager: the user asked for it
    e.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(c, 0, screen->root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&e));
    xcb_flush(c);
  }
  // The middle of its client area on the screen.
  QPoint Centre() {
    if (!screen) return QPoint(-1, -1);
    std::unique_ptr<xcb_translate_coordinates_reply_t, decltype(&std::free)> r(
        xcb_translate_coordinates_reply(c,
                                        xcb_translate_coordinates(c, window, screen->root,
                                                                  static_cast<int16_t>(size_.width() / 2),
                                                                  static_cast<int16_t>(size_.height() / 2)),
                                        nullptr),
        &std::free);
    return r ? QPoint(r->dst_x, r->dst_y) : QPoint(-1, -1);
  }

private:
  QSize size_;
};
