#pragma once
// The red arrow that points from a banner's blurb label at the banner.
#include <QImage>

class QLabel;
class QWidget;

// A 16 x 15 arrow pointing right (or left).
QImage BannerArrowImage(bool pointsRight);
// A label of the arrow's size showing it.
QLabel* NewBannerArrowLabel(QWidget* parent, bool pointsRight);
