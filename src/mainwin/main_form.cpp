#include "mainwin/main_form.h"

#include <QCloseEvent>
#include <QLabel>
#include <QStatusBar>

#include "core/branding.h"
#include "core/log.h"
#include "core/program_state.h"

TmForm* mForm = nullptr;

TmForm::TmForm() {
  setWindowTitle(QString::fromStdString(Branding.ProgFullName));
  status_ = new QLabel(QString::fromStdString("Program folder: " + ProgDir), this);
  setCentralWidget(status_);
  resize(800, 500);
  CallbackMsg = RegisterWindowMessage("VNCallback");
}

void TmForm::BringToFront() {
  if (isMinimized()) showNormal();
  show();
  raise();
  activateWindow();
}

void TmForm::closeEvent(QCloseEvent* e) {
  ShuttingDown = true;
  WriteLog("Main window closing", 0);
  e->accept();
}
