#include "platform/window_stacking.h"

#include <QGuiApplication>
#include <QWidget>
#include <QWindow>

#ifdef VN_HAVE_XCB
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace {

template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T>
Reply<T> Take(T* reply) {
  return Reply<T>(reply, &std::free);
}

}  // namespace
#endif

bool SetWindowOwner(const QWidget* window, const QWidget* owner) {
#ifdef VN_HAVE_XCB
  if (!window || !owner || !qGuiApp) return false;
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  xcb_connection_t* c = x11 ? x11->connection() : nullptr;
  const QWidget* top = window->window();
  const QWidget* own = owner->window();
  if (!c || !top->windowHandle() || !own->windowHandle() || top == own) return false;
  const auto id = static_cast<xcb_window_t>(own->winId());
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, static_cast<xcb_window_t>(top->winId()), XCB_ATOM_WM_TRANSIENT_FOR,
                      XCB_ATOM_WINDOW, 32, 1, &id);
  xcb_flush(c);
  return true;
#else
  (void)window;
  (void)owner;
  return false;
#endif
}

bool WindowsStackedAbove(const QWidget* widget, std::vector<QRect>& above) {
  above.clear();
#ifdef VN_HAVE_XCB
  if (!widget || !qGuiApp) return false;
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  xcb_connection_t* c = x11 ? x11->connection() : nullptr;
  const QWidget* top = widget->window();
  if (!c || !top->windowHandle()) return false;

  // Our window's ancestor that is a child of the root: the window manager's frame, or the
  // window itself when nobody reparented it.
  xcb_window_t ours = static_cast<xcb_window_t>(top->winId());
  xcb_window_t root = XCB_WINDOW_NONE;
  for (int depth = 0; depth < 32; ++depth) {
    auto tree = Take(xcb_query_tree_reply(c, xcb_query_tree(c, ours), nullptr));
    if (!tree) return false;
    root = tree->root;
    if (tree->parent == root || tree->parent == XCB_WINDOW_NONE) break;
    ours = tree->parent;
  }
  auto tree = Take(xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr));
  if (!tree) return false;
  // Children come bottom first.
  const xcb_window_t* children = xcb_query_tree_children(tree.get());
  const int count = xcb_query_tree_children_length(tree.get());
  int first = count;
  for (int i = 0; i < count; ++i)
    if (children[i] == ours) first = i + 1;

  // All requests first, then the replies: one round trip for every window above ours.
  std::vector<xcb_get_window_attributes_cookie_t> attributes;
  std::vector<xcb_get_geometry_cookie_t> geometry;
  for (int i = first; i < count; ++i) {
    attributes.push_back(xcb_get_window_attributes(c, children[i]));
    geometry.push_back(xcb_get_geometry(c, children[i]));
  }
  const qreal ratio = top->windowHandle()->devicePixelRatio() > 0 ? top->windowHandle()->devicePixelRatio() : 1.0;
  for (size_t i = 0; i < attributes.size(); ++i) {
    auto a = Take(xcb_get_window_attributes_reply(c, attributes[i], nullptr));
    auto g = Take(xcb_get_geometry_reply(c, geometry[i], nullptr));
    // Unmapped windows and input-only ones hide nothing.
    if (!a || !g || a->map_state != XCB_MAP_STATE_VIEWABLE || a->_class == XCB_WINDOW_CLASS_INPUT_ONLY) continue;
    const int border = 2 * g->border_width;
    above.emplace_back(qRound(g->x / ratio), qRound(g->y / ratio), qRound((g->width + border) / ratio),
                       qRound((g->height + border) / ratio));
  }
  return true;
#else
  (void)widget;
  return false;
#endif
}
