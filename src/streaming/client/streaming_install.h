#pragma once
// Streaming quotes: the streaming objects, the main window's streaming panel and the book window.
class QWidget;

// Fills this feature's hooks; the main window calls it once at start.
void InstallStreaming(QWidget* mainWindow);
