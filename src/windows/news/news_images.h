#pragma once
// The news window's own pictures: the default banner shown until an ad arrives and the spinner
// that runs while an article loads (the arrows beside the banner's labels are shared).
#include <QImage>
#include <QWidget>

#include "core/banner_arrow.h"

class QTimer;

// The default banner, 468 x 60.
QImage DefaultBannerImage();

// A chain of links moving left to right while animated (102 x 19).
class ChainSpinner : public QWidget {
public:
  explicit ChainSpinner(QWidget* parent);
  // On: the links move; off: they stand still.
  void SetAnimate(bool on);
  bool Animating() const;

protected:
  void paintEvent(QPaintEvent* event) override;

private:
  QTimer* timer_;
  int phase_ = 0;
};
