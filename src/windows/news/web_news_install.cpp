#include "windows/news/web_news_install.h"

void InstallWebAndNews(QWidget*) {}
