#include "windows/news/web_news_install.h"

#include "core/main_hooks.h"
#include "windows/news/news_window.h"
#include "windows/web/web_install.h"

void InstallWebAndNews(QWidget* mainWindow) {
  InstallWeb(mainWindow);
  MainHooks.OpenNews = [](const std::string& symbol) { OpenNewsWindow(symbol); };
  WhenMainWindowCloses(mainWindow, [] {
    if (frmNews) frmNews->close();
  });
}
