#pragma once
// Web pages and news: the URL launcher, the browser window, the web login and the news window.
class QWidget;

// Fills this feature's hooks; the main window calls it once at start.
void InstallWebAndNews(QWidget* mainWindow);
