#pragma once
// The red arrow that points from a banner's blurb label at the banner.
#include <QImage>

// A 16 x 15 arrow pointing right (or left).
QImage BannerArrowImage(bool pointsRight);
