#include "windows/print/print_progress.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

TPPPrnPrgDlg::TPPPrnPrgDlg(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setWindowTitle(QStringLiteral("Print Progress"));
  auto* layout = new QVBoxLayout(this);
  lblStatus = new QLabel(this);
  lblStatus->setAlignment(Qt::AlignCenter);
  lblPageNumber = new QLabel(this);
  lblPageNumber->setAlignment(Qt::AlignCenter);
  ProgBar = new QProgressBar(this);
  ProgBar->setTextVisible(false);
  btnCancel = new QPushButton(QStringLiteral("&Cancel"), this);
  btnCancel->setDefault(true);
  layout->addWidget(lblStatus);
  layout->addWidget(lblPageNumber);
  layout->addWidget(ProgBar);
  layout->addWidget(btnCancel, 0, Qt::AlignHCenter);
  setMinimumWidth(320);
  connect(btnCancel, &QPushButton::clicked, this, [this] { reject(); });
}

void TPPPrnPrgDlg::reject() {
  // Escape and Cancel only ask the printer to stop; the printer closes the box itself.
  if (btnCancel->isEnabled() && OnCancel) OnCancel();
}
