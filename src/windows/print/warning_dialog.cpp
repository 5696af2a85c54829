#include "windows/print/warning_dialog.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/settings_file.h"

TdlgWarning::TdlgWarning(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Warning"));
  QFont f(QStringLiteral("Arial"));
  f.setPointSize(9);
  setFont(f);
  auto* layout = new QVBoxLayout(this);
  Label1 = new QLabel(this);
  Label1->setWordWrap(true);
  Label1->setMinimumHeight(60);
  Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  cbNoWarn = new QCheckBox(QStringLiteral("Do not give me this warning again."), this);
  BitBtn1 = new QPushButton(QStringLiteral("OK"), this);
  BitBtn1->setDefault(true);
  layout->addWidget(Label1, 1);
  layout->addWidget(cbNoWarn);
  layout->addWidget(BitBtn1, 0, Qt::AlignHCenter);
  setFixedSize(360, 170);
  connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
}

void TdlgWarning::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  FormShow();
}

void TdlgWarning::FormShow() { Label1->setText(QString::fromStdString(Message)); }

void TdlgWarning::BitBtn1Click() {
  if (!Section.empty()) Ini().WriteString(Section, Key, cbNoWarn->isChecked() ? "NO" : "YES");
  accept();
}
