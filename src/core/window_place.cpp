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

#include "platform/window_stacking.h"

namespace {

constexpr int CascadeStep = 28;
constexpr const char* CascadedProperty = "vnCascaded";
constexpr const char* FramePlaceProperty = "vnFramePlace";
constexpr const char* RefitProperty = "vnRefitPending";

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
  // The window manager places a maximised window; moving it would make it normal again.
  if (w->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen | Qt::WindowMinimized)) return;
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

// A place given by PlaceFrameAt, put right once the window manager has framed the window (Qt
// takes a position given before that for the client area's).
void ApplyFramePlace(QWidget* w, bool last) {
  const QVariant place = w->property(FramePlaceProperty);
  if (!place.isValid()) return;
  const bool framed = !FrameMargins(w).isNull();
  if (!(w->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen | Qt::WindowMinimized)) &&
      w->pos() != place.toPoint())
    w->move(place.toPoint());
  if (framed || last) w->setProperty(FramePlaceProperty, QVariant());
}

// The window manager frames a window shortly after it is mapped; on a busy machine later.
void CheckWhenFramed(QWidget* window) {
  QPointer<QWidget> w = window;
  for (int ms : {0, 300, 1000})
    QTimer::singleShot(ms, w, [w, ms] {
      if (!w) return;
      ApplyFramePlace(w, ms == 1000);
      Fit(w);
    });
}

// Checks the window again once it is shown and framed.
class RefitOnShow : public QObject {
public:
  explicit RefitOnShow(QWidget* w) : QObject(w) {
    w->setProperty(RefitProperty, true);
    w->installEventFilter(this);
  }

protected:
  bool eventFilter(QObject* watched, QEvent* e) override {
    if (e->type() == QEvent::Show) {
      auto* w = static_cast<QWidget*>(watched);
      w->setProperty(RefitProperty, QVariant());
      CheckWhenFramed(w);
      watched->removeEventFilter(this);
      deleteLater();
    }
    return false;
  }
};

void RefitWhenShown(QWidget* w) {
  if (!w->isVisible() && !w->property(RefitProperty).toBool()) new RefitOnShow(w);
}

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
  RefitWhenShown(window);
  return window;
}

void PlaceFrameAt(QWidget* window, const QPoint& place) {
  if (!window || !window->isWindow()) return;
  window->move(place);
  if (window->isVisible() && !FrameMargins(window).isNull()) return;  // framed: the move is right
  window->setProperty(FramePlaceProperty, place);
  // From a show event: the window counts as shown already, but nobody has framed it yet.
  if (window->isVisible()) CheckWhenFramed(window);
  else RefitWhenShown(window);
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

namespace {
// Qt tells the window system the owner of dialogs and tools only, and clears it whenever it
// shows a plain window: it is said again each time the window has been shown. Qt also makes a
// window anew when a child that draws through the graphics card first comes into it (the news
// window's browser pane): the new one is told again too.
class OwnerOnShow : public QObject {
public:
  OwnerOnShow(QWidget* window, QWidget* owner) : QObject(window), window_(window), owner_(owner) {
    window->winId();
    window->installEventFilter(this);
    Follow();
    Apply();
  }
  void Apply() {
    if (window_ && owner_ && window_->isVisible()) SetWindowOwner(window_, owner_);
  }

protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == window_ && event->type() == QEvent::WinIdChange) {
      Follow();
      QTimer::singleShot(0, this, [this] { Apply(); });
    }
    return QObject::eventFilter(watched, event);
  }

private:
  // Hooks the window's present handle (once).
  void Follow() {
    QWindow* handle = window_ ? window_->windowHandle() : nullptr;
    if (!handle || handle == handle_ || !owner_) return;
    handle_ = handle;
    handle->setTransientParent(owner_->windowHandle());
    // Once the showing is over: Qt clears it on its way.
    connect(handle, &QWindow::visibleChanged, this, [this](bool shown) {
      if (shown) QTimer::singleShot(0, this, [this] { Apply(); });
    });
  }

  QPointer<QWidget> window_, owner_;
  QPointer<QWindow> handle_;
};
}  // namespace

void KeepAbove(QWidget* window, QWidget* owner) {
  if (!window || !owner || owner->window() == window || !owner->window()->windowHandle()) return;
  for (QObject* child : window->children())
    if (auto* old = dynamic_cast<OwnerOnShow*>(child)) delete old;
  new OwnerOnShow(window, owner->window());
}

void KeepAboveMainWindow(QWidget* window) {
  if (QWidget* main = MainWindowBeside(window)) KeepAbove(window, main);
}
