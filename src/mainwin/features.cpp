#include "mainwin/features.h"

#include "ads/banner/banner_install.h"
#include "ads/gif/anim_gif.h"
#include "ads/update/update_install.h"
#include "charts/chart_window.h"
#include "charts/hist_install.h"
#include "core/ad_locations.h"
#include "core/button_form.h"
#include "core/log.h"
#include "core/streamer_control.h"
#include "core/url_launch.h"
#include "mainwin/main_form.h"
#include "prefs/prefs_dialog.h"
#include "retrieval/fund_thread.h"
#include "streaming/client/streaming_install.h"
#include "windows/dialogs/dialogs_install.h"
#include "windows/news/web_news_install.h"
#include "windows/print/print_install.h"

namespace {
bool gifInitialised = false;
}

void InstallFeatures(QWidget* mainWindow) {
  if (!gifInitialised) {
    AnimGifInitialize();
    gifInitialised = true;
  }
  ChartHooks.OpenURL = [](const std::string& url) { OpenURL(url); };
  InstallPrinting(mainWindow);
  InstallWebAndNews(mainWindow);
  InstallHistCharts(mainWindow);
  InstallBannerAds(mainWindow);
  InstallStreaming(mainWindow);
  InstallSelfUpdate(mainWindow);
  InstallDialogs(mainWindow);
}

void UninstallFeatures() {
  MainHooks = {};
  UrlHooks = {};
  StreamerHooks = {};
  FundHooks = {};
  PrefsHooks.OpenTimeSync = nullptr;
  PrefsHooks.OpenUpdate = nullptr;
  ChartHooks.OpenURL = nullptr;
  OpenSymbolLookup = nullptr;
  MainBannerClickSteps = nullptr;
  if (gifInitialised) {
    AnimGifFinalize();
    gifInitialised = false;
  }
}
