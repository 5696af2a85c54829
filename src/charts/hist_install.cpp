#include "charts/hist_install.h"

#include "charts/hist_new_window.h"
#include "charts/hist_window.h"
#include "core/main_hooks.h"

void InstallHistCharts(QWidget*) {
  MainHooks.OpenHistory = [](const std::string& symbol) { OpenHistoryWindow(symbol); };
  MainHooks.OpenProphet = [](const std::string& symbol) { OpenProphetWindow(symbol); };
}
