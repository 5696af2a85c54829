#include "charts/custom_period_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

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
  auto* buttons = new QHBoxLayout;
  auto* ok = new QPushButton("OK", this);
  auto* cancel = new QPushButton("Cancel", this);
  ok->setDefault(true);
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  v->addLayout(buttons);
  QObject::connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  QObject::connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

std::optional<int> TdlgCustTP::MinutesFromText(const QString& text) {
  bool ok = false;
  const int m = text.trimmed().toInt(&ok);
  if (!ok) return std::nullopt;
  return std::clamp(m, 1, 1440);
}

std::optional<int> TdlgCustTP::Ask(int minutes) {
  dfMin->setText(QString::number(minutes));
  if (exec() != QDialog::Accepted) return std::nullopt;
  return MinutesFromText(dfMin->text());
}
