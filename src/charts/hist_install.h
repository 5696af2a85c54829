#pragma once
// Historical chart images: the chart-site windows behind the history commands.
class QWidget;

// Fills this feature's hooks; the main window calls it once at start.
void InstallHistCharts(QWidget* mainWindow);
