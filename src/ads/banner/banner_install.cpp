#include "ads/banner/banner_install.h"

void InstallBannerAds(QWidget*) {}
