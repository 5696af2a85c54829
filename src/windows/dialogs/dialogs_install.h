#pragma once
// Small windows: symbol look-up, site login, time sync, debug log, survey, about box.
class QWidget;

// Fills this feature's hooks; the main window calls it once at start.
void InstallDialogs(QWidget* mainWindow);
