#include "charts/hist_install.h"

#include <QCoreApplication>

#include <vector>

#include "charts/chart_window.h"
#include "charts/hist_new_window.h"
#include "charts/hist_window.h"
#include "core/main_hooks.h"

namespace {

// At the program's end every chart window closes, so its threads are stopped and joined
// before the services they use go away.
void CloseAllHistCharts() {
  std::vector<QWidget*> windows;
  for (const StringList* list : {&HistWindows, &HistNewWindows})
    for (int i = 0; i < list->Count(); ++i) windows.push_back(static_cast<QWidget*>(list->Objects(i)));
  for (QWidget* w : windows) w->close();
}

}  // namespace

void InstallHistCharts(QWidget*) {
  InitChartUnit();
  MainHooks.OpenHistory = [](const std::string& symbol) { OpenHistoryWindow(symbol); };
  MainHooks.OpenProphet = [](const std::string& symbol) { OpenProphetWindow(symbol); };
  static bool connected = false;
  if (!connected && QCoreApplication::instance()) {
    connected = true;
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, [] { CloseAllHistCharts(); });
  }
}
