#pragma once
// Historical chart images: the chart-site windows behind the history commands.
class QWidget;

// Fills the charts' hooks (and starts the chart unit); the main window calls it once at start.
void InstallHistCharts(QWidget* mainWindow);
