#pragma once
// Helpers shared by the dialog tests.
#include <QApplication>
#include <QDir>
#include <QMouseEvent>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <string>

// Saves the widget's picture as screenshots/<name>.png in the build folder.
inline bool SaveScreenshot(QWidget* w, const std::string& name) {
  const std::string dir = std::string(VN_BINARY_DIR) + "/screenshots";
  QDir().mkpath(QString::fromStdString(dir));
  return w->grab().save(QString::fromStdString(dir + "/" + name + ".png"));
}

// Runs fn on the event loop once the modal loop started (0 ms single shot).
inline void WhenModal(std::function<void()> fn) { QTimer::singleShot(0, std::move(fn)); }

// Delivers one left-button mouse event of the type to the widget's centre.
inline void SendMouse(QWidget* w, QEvent::Type type) {
  const QPointF at(w->width() / 2.0, w->height() / 2.0);
  QMouseEvent e(type, at, w->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}
