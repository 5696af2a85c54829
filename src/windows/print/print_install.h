#pragma once
// Portfolio printing: the print dialog and the page recorder behind the Print command.
class QWidget;

// Fills this feature's hooks; the main window calls it once at start.
void InstallPrinting(QWidget* mainWindow);
