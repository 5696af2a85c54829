#include "mainwin/index_strip.h"

#include <QPainter>
#include <QTimer>

IndexStrip::IndexStrip(QWidget* parent) : QWidget(parent), timer_(new QTimer(this)) {
  setFixedHeight(fontMetrics().height() + 6);
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, QColor(0, 0, 64));
  setPalette(pal);
  connect(timer_, &QTimer::timeout, this, [this] { update(); });
  timer_->start(50);
}

void IndexStrip::paintEvent(QPaintEvent*) {
  if (!Source) return;
  const ScrollThread::State s = Source();
  QPainter p(this);
  p.setPen(QColor(255, 255, 0));
  const QString text = s.Text.empty() ? QStringLiteral("Market indices: no data yet") : QString::fromStdString(s.Text);
  const int w = p.fontMetrics().horizontalAdvance(text) + 60;
  int x = s.Text.empty() ? 4 : width() - s.Offset % (w + width());
  p.drawText(QRect(x, 0, w, height()), Qt::AlignVCenter | Qt::AlignLeft, text);
}
