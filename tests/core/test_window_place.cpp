#include <gtest/gtest.h>

#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QScreen>

#include "core/window_place.h"
#include "platform/messages.h"

TEST(WindowPlace, NewWindowsLieOnTheAvailableScreenAndCascadeBelowTheMainMenu) {
  const QRect screen(0, 0, 800, 600);
  EXPECT_EQ(FitInside(QRect(-50, 500, 300, 200), screen), QRect(0, 400, 300, 200));
  EXPECT_EQ(FitInside(QRect(700, -20, 300, 200), screen), QRect(500, 0, 300, 200));
  EXPECT_EQ(FitInside(QRect(10, 10, 1000, 900), screen), screen);
  EXPECT_EQ(FitInside(QRect(264, 154, 300, 200), screen), QRect(264, 154, 300, 200));
  EXPECT_EQ(CascadePlace(0, QSize(300, 200), QPoint(0, 40), screen), QPoint(0, 40));
  EXPECT_EQ(CascadePlace(1, QSize(300, 200), QPoint(0, 40), screen), QPoint(28, 68));
  // Where the next step would leave the screen, the cascade starts over.
  EXPECT_EQ(CascadePlace(13, QSize(300, 200), QPoint(0, 40), screen), QPoint(0, 40));

  const QRect avail = QGuiApplication::primaryScreen()->availableGeometry();
  auto onScreen = [&](const QWidget& w) { return avail.contains(w.frameGeometry()); };
  QWidget off;
  off.setGeometry(avail.right() - 100, avail.bottom() - 50, 400, 300);
  KeepOnScreen(&off);
  off.show();
  WaitAndPump(20);
  EXPECT_TRUE(onScreen(off)) << off.frameGeometry().x() << "," << off.frameGeometry().y();
  EXPECT_EQ(off.size(), QSize(400, 300));
  QWidget huge;
  huge.setGeometry(avail.left(), avail.top(), avail.width() + 300, avail.height() + 200);
  KeepOnScreen(&huge)->show();
  WaitAndPump(20);
  EXPECT_TRUE(onScreen(huge));
  QWidget given;
  given.setGeometry(264, 154, 200, 150);
  KeepOnScreen(&given)->show();
  WaitAndPump(20);
  EXPECT_EQ(given.geometry(), QRect(264, 154, 200, 150));

  QMainWindow main;
  main.menuBar()->addMenu("File");
  main.setGeometry(avail.left() + 10, avail.top() + 10, 500, 400);
  main.show();
  WaitAndPump(20);
  const int menuBottom = main.menuBar()->mapToGlobal(QPoint(0, main.menuBar()->height())).y();
  QWidget first, second;
  for (QWidget* w : {&first, &second}) {
    w->resize(300, 200);
    KeepOnScreen(w, WindowPlace::Cascade)->show();
    WaitAndPump(20);
    EXPECT_GE(w->frameGeometry().top(), menuBottom);
    EXPECT_TRUE(onScreen(*w));
  }
  EXPECT_EQ(second.frameGeometry().topLeft() - first.frameGeometry().topLeft(), QPoint(28, 28));
  // Shown again, a cascaded window stays where it is (cascading it anew would step it past the
  // other one).
  const QPoint at = first.pos();
  KeepOnScreen(&first, WindowPlace::Cascade);
  EXPECT_EQ(first.pos(), at);
}

TEST(WindowPlace, NormalGeometryIsTheRestoredPlaceWhileMaximised) {
  const QRect avail = QGuiApplication::primaryScreen()->availableGeometry();
  const QRect normal(avail.left() + 40, avail.top() + 30, 300, 200);
  // Maximised after it was shown, and maximised before it was ever shown.
  QWidget shown, hidden;
  shown.setGeometry(normal);
  shown.show();
  WaitAndPump(20);
  // As pos() and size() give it: the frame's corner, the client area's size.
  const QRect expected(shown.pos(), shown.size());
  shown.showMaximized();
  hidden.setGeometry(normal);
  hidden.setWindowState(Qt::WindowMaximized);
  hidden.show();
  for (QWidget* w : {&shown, &hidden}) {
    for (int i = 0; i < 100 && w->size() == normal.size(); ++i) WaitAndPump(20);
    ASSERT_TRUE(w->isMaximized());
    EXPECT_NE(w->size(), normal.size());  // the screen's
    EXPECT_EQ(NormalGeometry(*w), expected);
  }
  shown.showNormal();
  for (int i = 0; i < 100 && shown.size() != normal.size(); ++i) WaitAndPump(20);
  EXPECT_EQ(NormalGeometry(shown), expected);
  // A window never shown, and a child, give their geometry as it stands.
  QWidget never;
  never.setGeometry(normal);
  EXPECT_EQ(NormalGeometry(never).size(), normal.size());
  QWidget child(&shown);
  child.setGeometry(5, 6, 70, 80);
  EXPECT_EQ(NormalGeometry(child), QRect(5, 6, 70, 80));
}
