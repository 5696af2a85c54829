#include "charts/hist_banner_row.h"

#include <QLabel>

HistBannerRow::HistBannerRow(QWidget* parent, QWidget* panel, QLabel* left, QLabel* right, QLabel* picLeft,
                             QLabel* picRight, int labelWidth)
    : QWidget(parent),
      panel_(panel),
      left_(left),
      right_(right),
      picLeft_(picLeft),
      picRight_(picRight),
      labelWidth_(labelWidth) {
  for (QWidget* w : {panel_, static_cast<QWidget*>(left_), static_cast<QWidget*>(right_),
                     static_cast<QWidget*>(picLeft_), static_cast<QWidget*>(picRight_)})
    if (w) w->setParent(this);
  for (QLabel* l : {left_, right_}) {
    l->setTextFormat(Qt::PlainText);
    l->setWordWrap(true);  // a long blurb takes two lines rather than being cut
  }
  // Each label hugs its arrow, the arrow the banner.
  left_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  right_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  setMinimumSize(minimumSizeHint());
}

int HistBannerRow::SideWidth(const QLabel* pic) const { return labelWidth_ + (pic ? pic->width() : 0) + Gap; }

QSize HistBannerRow::sizeHint() const {
  return QSize(SideWidth(picLeft_) + panel_->width() + SideWidth(picRight_), panel_->height());
}

QSize HistBannerRow::minimumSizeHint() const { return panel_->size(); }

void HistBannerRow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Place();
}

void HistBannerRow::Place() {
  const int h = panel_->height();
  labelsShown_ = sizeHint().width() <= width();
  for (QWidget* w : {static_cast<QWidget*>(left_), static_cast<QWidget*>(right_), static_cast<QWidget*>(picLeft_),
                     static_cast<QWidget*>(picRight_)})
    if (w) w->setVisible(labelsShown_);
  if (!labelsShown_) {
    panel_->move(0, 0);
    return;
  }
  int x = 0;
  left_->setGeometry(x, 0, labelWidth_, h);
  x += labelWidth_;
  if (picLeft_) {
    picLeft_->move(x, (h - picLeft_->height()) / 2);
    x += picLeft_->width();
  }
  panel_->move(x += Gap, 0);
  x += panel_->width() + Gap;
  if (picRight_) {
    picRight_->move(x, (h - picRight_->height()) / 2);
    x += picRight_->width();
  }
  right_->setGeometry(x, 0, labelWidth_, h);
}
