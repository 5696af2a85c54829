#pragma once
// The web part of the feature: the URL launcher's hooks, the web login and the browser window.
#include <functional>

class QWidget;

// Fills UrlHooks and MainHooks.WebLogin; the browser window closes with the main window.
void InstallWeb(QWidget* mainWindow);
// Runs fn once the main window has closed for good (not when a close was refused).
void WhenMainWindowCloses(QWidget* mainWindow, std::function<void()> fn);
