#include "charts/hist_install.h"

void InstallHistCharts(QWidget*) {}
