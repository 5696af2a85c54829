#include "windows/print/print_install.h"

#include <QWidget>

#include "core/main_hooks.h"
#include "windows/print/print_dialog.h"

void InstallPrinting(QWidget* mainWindow) {
  // The dialog opens with or without a printer: without one it prints to a PDF file.
  MainHooks.OpenPrintDialog = [mainWindow] { OpenPrintDialog(mainWindow); };
}
