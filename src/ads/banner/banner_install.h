#pragma once
// Banner ads: the ad thread that serves every banner location, and the banners' clicks.
class QWidget;

// Fills this feature's hooks; the main window calls it once at start.
void InstallBannerAds(QWidget* mainWindow);
