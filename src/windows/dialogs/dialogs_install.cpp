#include "windows/dialogs/dialogs_install.h"

void InstallDialogs(QWidget*) {}
