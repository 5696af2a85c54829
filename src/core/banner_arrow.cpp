#include "core/banner_arrow.h"

#include <QLabel>
#include <QPainter>
#include <QPolygonF>

QImage BannerArrowImage(bool pointsRight) {
  QImage image(16, 15, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(200, 0, 0));
  QPolygonF arrow;
  if (pointsRight) arrow << QPointF(1, 4) << QPointF(8, 4) << QPointF(8, 0) << QPointF(15, 7.5) << QPointF(8, 15) << QPointF(8, 11) << QPointF(1, 11);
  else arrow << QPointF(15, 4) << QPointF(8, 4) << QPointF(8, 0) << QPointF(1, 7.5) << QPointF(8, 15) << QPointF(8, 11) << QPointF(15, 11);
  p.drawPolygon(arrow);
  return image;
}

QLabel* NewBannerArrowLabel(QWidget* parent, bool pointsRight) {
  auto* label = new QLabel(parent);
  label->setPixmap(QPixmap::fromImage(BannerArrowImage(pointsRight)));
  label->setFixedSize(16, 15);
  return label;
}
