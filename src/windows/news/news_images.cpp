#include "windows/news/news_images.h"

#include <QPainter>
#include <QPainterPath>
#include <QTimer>

#include "core/branding.h"

QImage DefaultBannerImage() {
  QImage image(468, 60, QImage::Format_RGB32);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  // Flat colours: the banner becomes a 256-colour image, where a gradient would band.
  p.fillRect(image.rect(), QColor(0, 0, 112));
  // A rising quote line behind the name.
  QPainterPath line;
  line.moveTo(0, 50);
  const int ys[] = {50, 44, 47, 38, 41, 30, 34, 22, 26, 14, 18, 8};
  for (int i = 1; i < 12; ++i) line.lineTo(i * 468 / 11, ys[i]);
  p.setPen(QPen(QColor(0, 160, 0), 2));
  p.drawPath(line);
  QFont f = p.font();
  f.setPixelSize(22);
  f.setBold(true);
  p.setFont(f);
  p.setPen(Qt::white);
  p.drawText(QRect(0, 4, 468, 32), Qt::AlignCenter, QString::fromStdString(Branding.ProgFullName));
  f.setPixelSize(12);
  f.setBold(false);
  p.setFont(f);
  p.setPen(QColor(255, 255, 160));
  p.drawText(QRect(0, 34, 468, 22), Qt::AlignCenter, "Quotes, charts and news on your desktop");
  return image;
}

ChainSpinner::ChainSpinner(QWidget* parent) : QWidget(parent), timer_(new QTimer(this)) {
  setFixedSize(102, 19);
  timer_->setInterval(80);
  connect(timer_, &QTimer::timeout, this, [this] {
    phase_ = (phase_ + 1) % 12;
    update();
  });
}

void ChainSpinner::SetAnimate(bool on) {
  if (on) timer_->start();
  else timer_->stop();
}

bool ChainSpinner::Animating() const {
  return timer_->isActive();
}

void ChainSpinner::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.fillRect(rect(), QColor(255, 255, 225));
  p.setPen(QColor(128, 128, 128));
  p.drawRect(rect().adjusted(0, 0, -1, -1));
  // Links 12 pixels apart, every other one upright, sliding by one step a frame.
  for (int i = -1; i < 10; ++i) {
    const int x = 3 + i * 12 + phase_;
    const bool upright = ((i + 10) % 2) == 0;
    p.setPen(QPen(upright ? QColor(0, 0, 160) : QColor(90, 90, 200), 2));
    p.setBrush(Qt::NoBrush);
    if (upright) p.drawRoundedRect(QRectF(x, 5, 14, 9), 4, 4);
    else p.drawLine(QPointF(x + 2, 9.5), QPointF(x + 12, 9.5));
  }
}
