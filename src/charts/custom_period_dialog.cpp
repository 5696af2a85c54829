#include "charts/custom_period_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

TdlgCustTP::TdlgCustTP(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Custom Time Period");
  auto* v = new QVBoxLayout(this);
  v->addWidget(new QLabel("Please enter the time period for the chart.", this));
  auto* row = new QHBoxLayout;
  dfMin = new QLineEdit(this);
  dfMin->setObjectName("dfMin");
  dfMin->setMaxLength(3);
  row->addWidget(dfMin);
  row->addWidget(new QLabel("minutes", this));
  v->addLayout(row);
  lbError = new QLabel(this);
  lbError->setObjectName("lbError");
  lbError->setStyleSheet("color: #c00000;");
  lbError->hide();
  v->addWidget(lbError);
  auto* buttons = new QHBoxLayout;
  auto* ok = new QPushButton("OK", this);
  auto* cancel = new QPushButton("Cancel", this);
  ok->setDefault(true);
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  v->addLayout(buttons);
  QObject::connect(ok, &QPushButton::clicked, this, [this] { pbOKClick(); });
  QObject::connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

std::optional<int> TdlgCustTP::MinutesFromText(const QString& text) {
  bool ok = false;
  const int m = text.trimmed().toInt(&ok);
  if (!ok || m < 1 || m > 1440) return std::nullopt;
  return m;
}

void TdlgCustTP::pbOKClick() {
  minutes_ = MinutesFromText(dfMin->text());
  if (!minutes_) {
    lbError->setText("Enter a whole number of minutes from 1 to 1440.");
    lbError->show();
    dfMin->setFocus();
    dfMin->selectAll();
    return;
  }
  accept();
}

std::optional<int> TdlgCustTP::Ask(int minutes) {
  dfMin->setText(QString::number(minutes));
  minutes_.reset();
  if (exec() != QDialog::Accepted) return std::nullopt;
  return minutes_;
}
