#include "windows/news/web_news_install.h"

#include "core/log.h"
#include "core/main_hooks.h"
#include "core/program_state.h"
#include "windows/news/news_window.h"
#include "windows/web/web_install.h"

void InstallWebAndNews(QWidget* mainWindow) {
  InstallWeb(mainWindow);
  if (LogOn) WriteLog("NewsForm Init");
  MainHooks.OpenNews = [](const std::string& symbol) { OpenNewsWindow(symbol); };
  WhenMainWindowCloses(mainWindow, [] {
    if (LogOn) WriteLog("NewFormFinal");
    if (frmNews) frmNews->close();
    if (LogOn) WriteLog("NewFormFinalZ");
  });
}
