#include "core/window_place.h"

#include <QApplication>
#include <QEvent>
#include <QMainWindow>
#include <QMenuBar>
#include <QPointer>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QVariant>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace {

constexpr int CascadeStep = 28;
constexpr const char* CascadedProperty = "vnCascaded";

QScreen* ScreenFor(const QRect& frame) {
  if (QScreen* s = QGuiApplication::screenAt(frame.center())) return s;
  QScreen* best = QGuiApplication::primaryScreen();
  qint64 bestArea = 0;
  for (QScreen* s : QGuiApplication::screens()) {
    const QRect overlap = s->availableGeometry().intersected(frame);
    const qint64 area = static_cast<qint64>(overlap.width()) * overlap.height();
    if (!overlap.isEmpty() && area > bestArea) {
      bestArea = area;
      best = s;
    }
  }
  return best;
}

// The frame around the client area. Before a window manager framed the window it is not known:
// a title bar's height is allowed for where windows get frames.
QMargins FrameMargins(const QWidget* w) {
  const QRect g = w->geometry(), f = w->frameGeometry();
  QMargins m(g.left() - f.left(), g.top() - f.top(), f.right() - g.right(), f.bottom() - g.bottom());
  if (m.isNull() && !w->isVisible()) {
    const QString platform = QGuiApplication::platformName();
    if (platform == "xcb" || platform.startsWith("wayland"))
      m.setTop(w->style()->pixelMetric(QStyle::PM_TitleBarHeight) + 4);
  }
  return m;
}

void Fit(QWidget* w) {
  const QMargins m = FrameMargins(w);
  const QRect frame = w->geometry().marginsAdded(m);
  const QScreen* screen = ScreenFor(frame);
  if (!screen) return;
  const QRect fitted = FitInside(frame, screen->availableGeometry());
  if (fitted == frame) return;
  if (fitted.size() != frame.size())
    w->resize(std::max(w->minimumWidth(), fitted.width() - m.left() - m.right()),
              std::max(w->minimumHeight(), fitted.height() - m.top() - m.bottom()));
  // A window's position is its frame's.
  w->move(fitted.topLeft());
}

QWidget* MainWindowBeside(const QWidget* w) {
  for (QWidget* top : QApplication::topLevelWidgets())
    if (top != w && top->isVisible() && qobject_cast<QMainWindow*>(top)) return top;
  return nullptr;
}

// Checks the window again once it is shown and framed.
class RefitOnShow : public QObject {
public:
  explicit RefitOnShow(QWidget* w) : QObject(w) { w->installEventFilter(this); }

protected:
  bool eventFilter(QObject* watched, QEvent* e) override {
    if (e->type() == QEvent::Show) {
      QPointer<QWidget> w = static_cast<QWidget*>(watched);
      // The window manager frames it shortly after it is mapped.
      for (int ms : {0, 300})
        QTimer::singleShot(ms, w, [w] {
          if (w) Fit(w);
        });
      watched->removeEventFilter(this);
      deleteLater();
    }
    return false;
  }
};

}  // namespace

QRect FitInside(const QRect& frame, const QRect& available) {
  if (available.isEmpty()) return frame;
  QRect r = frame;
  r.setWidth(std::min(r.width(), available.width()));
  r.setHeight(std::min(r.height(), available.height()));
  r.moveLeft(std::clamp(r.left(), available.left(), available.right() - r.width() + 1));
  r.moveTop(std::clamp(r.top(), available.top(), available.bottom() - r.height() + 1));
  return r;
}

QPoint CascadePlace(int n, const QSize& frame, const QPoint& origin, const QRect& available) {
  const int roomX = available.right() + 1 - origin.x() - frame.width();
  const int roomY = available.bottom() + 1 - origin.y() - frame.height();
  const int places = std::max(0, std::min(roomX, roomY) / CascadeStep) + 1;
  const int k = std::max(n, 0) % places;
  return origin + QPoint(k * CascadeStep, k * CascadeStep);
}

void CascadeWindow(QWidget* w) {
  if (!w || !w->isWindow()) return;
  QPoint origin;
  QRect available;
  if (QWidget* main = MainWindowBeside(w)) {
    // Below the main window's menu bar, which a cascaded window never covers.
    const auto* mw = static_cast<QMainWindow*>(main);
    const int below = mw->menuWidget() ? mw->menuWidget()->height() : 0;
    origin = main->geometry().topLeft() + QPoint(0, below);
    available = ScreenFor(main->frameGeometry())->availableGeometry();
  } else if (const QScreen* s = QGuiApplication::primaryScreen()) {
    available = s->availableGeometry();
    origin = available.topLeft();
  } else {
    return;
  }
  int others = 0;
  for (QWidget* top : QApplication::topLevelWidgets())
    if (top != w && top->isVisible() && top->property(CascadedProperty).toBool()) ++others;
  w->setProperty(CascadedProperty, true);
  const QMargins m = FrameMargins(w);
  w->move(CascadePlace(others, w->size().grownBy(m), origin, available));
}

QWidget* KeepOnScreen(QWidget* window, WindowPlace place) {
  if (!window || !window->isWindow()) return window;
  if (place == WindowPlace::Cascade && !window->isVisible()) CascadeWindow(window);
  Fit(window);
  if (!window->isVisible()) new RefitOnShow(window);
  return window;
}

QRect NormalGeometry(const QWidget& w) {
  const QRect now(w.pos(), w.size());
  if (!w.isWindow() || !(w.windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen))) return now;
  // Qt keeps the client rectangle a window had before it was maximised; empty when it never had
  // one (a window maximised before it was ever shown keeps the size it was given).
  QRect normal = w.normalGeometry();
  if (!normal.isValid() || normal.isEmpty()) return now;
  // As pos(): the frame's corner, with the frame as the window has it now.
  const QPoint frameOffset = w.geometry().topLeft() - w.frameGeometry().topLeft();
  return QRect(normal.topLeft() - frameOffset, normal.size());
}

void KeepAbove(QWidget* window, QWidget* owner) {
  if (!window || !owner || owner->window() == window || !owner->window()->windowHandle()) return;
  window->winId();
  if (QWindow* own = window->windowHandle()) own->setTransientParent(owner->window()->windowHandle());
}

void KeepAboveMainWindow(QWidget* window) {
  if (QWidget* main = MainWindowBeside(window)) KeepAbove(window, main);
}
