#pragma once
// Self-update: the update run, the update window and the reminder.
class QWidget;

// Fills this feature's hooks; the main window calls it once at start.
void InstallSelfUpdate(QWidget* mainWindow);
