#pragma once
// Where a new window opens: at the place it was given, kept wholly on the available screen area.
#include <QRect>

class QWidget;

enum class WindowPlace {
  Given,    // keep the window's own position; only move it (and shrink it) onto the screen
  Cascade,  // no position of its own: the next cascade place below the main window's menu bar
};

// Call once a new window has its size and position, before or after it is shown. The window's
// frame counts; a frame not known yet (before the window manager framed it) is checked again
// once the window is shown. A window already shown is not cascaded again. Returns the window.
QWidget* KeepOnScreen(QWidget* window, WindowPlace place = WindowPlace::Given);
// Moves the window to the next cascade place below the main window's menu bar (the primary
// screen's corner without one) and marks it, so later windows cascade one step further while it
// is shown. For a window that learns only when shown whether it has a place of its own.
void CascadeWindow(QWidget* window);

// Puts the window's frame's top-left corner at place, as pos() gave it when the place was
// saved: at once, and again once the window manager has framed the window (a position given
// before that is taken for the client area's, so the window would creep by its frame at each
// reopening). Call before the window is first shown, or from its first show event.
void PlaceFrameAt(QWidget* window, const QPoint& place);

// Keeps a window above its owner only (transient for it), not above every program, so a dialog
// opened later comes above both; the owner does not own the window, so closing it frees nothing.
void KeepAbove(QWidget* window, QWidget* owner);
// KeepAbove the program's main window, when one is shown.
void KeepAboveMainWindow(QWidget* window);

// A window's place and size as pos() and size() give them while it is a normal window (the
// frame's top-left, the client area's size), also while it is maximised, full-screen or minimised:
// the place it returns to when restored, which is what a window saves for its next open.
QRect NormalGeometry(const QWidget& window);

// The frame rectangle moved (and shrunk when larger) so it lies inside the available area.
QRect FitInside(const QRect& frame, const QRect& available);
// The n-th cascade place (from 0) for a frame of that size, stepping from origin and starting
// over where the next step would leave the available area.
QPoint CascadePlace(int n, const QSize& frame, const QPoint& origin, const QRect& available);
