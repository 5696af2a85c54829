#include "windows/dialogs/quit_watch.h"

#include <QDialog>
#include <QTimer>

#include "core/program_state.h"

bool ProgramQuitting() { return QuitRequested.load() || ShuttingDown.load(); }

void CloseOnQuit(QDialog* dialog) {
  auto* watch = new QTimer(dialog);
  QObject::connect(watch, &QTimer::timeout, dialog, [dialog] {
    if (ProgramQuitting() && dialog->isVisible()) dialog->reject();
  });
  watch->start(250);
}
