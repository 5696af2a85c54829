#include "windows/print/print_install.h"

void InstallPrinting(QWidget*) {}
