#pragma once
// What the display server knows of the windows stacked above one of ours. Under X11 these are
// the root window's children above our top-level window (or above the frame the window manager
// put around it), windows of other programs included. Wayland and the offscreen platform do not
// tell a client about other clients' windows.
#include <QRect>

#include <vector>

class QWidget;

// The outer rectangles, in Qt's global coordinates, of the viewable windows stacked above the
// top-level window of `widget`. False when the display server cannot tell (then `above` is
// empty and the caller falls back on what it knows of its own windows).
bool WindowsStackedAbove(const QWidget* widget, std::vector<QRect>& above);

// Tells the display server that the shown top-level window belongs to owner's window
// (WM_TRANSIENT_FOR under X11), so the window manager keeps it above that window and no other.
// Qt says so only for dialogs and tools, and clears it whenever it shows a plain window: call it
// once the window is shown. False where it cannot be said (not X11).
bool SetWindowOwner(const QWidget* window, const QWidget* owner);
