#include "windows/news/web_news_install.h"

#include "windows/web/web_install.h"

void InstallWebAndNews(QWidget* mainWindow) {
  InstallWeb(mainWindow);
}
