#include "ads/update/update_install.h"

void InstallSelfUpdate(QWidget*) {}
