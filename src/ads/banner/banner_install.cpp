#include "ads/banner/banner_install.h"

#include <QHBoxLayout>
#include <QMainWindow>
#include <QVBoxLayout>

#include <memory>

#include "ads/banner/ad_banner.h"
#include "ads/banner/ad_params.h"
#include "ads/banner/ad_thread.h"
#include "core/ad_locations.h"
#include "core/log.h"
#include "core/main_hooks.h"
#include "core/program_state.h"
#include "core/thread_stop.h"
#include "retrieval/param_files.h"

namespace {

std::unique_ptr<Thread> adThread;

// The main window's banner (kind 1) and its ad panels (kinds 40 to 47).
constexpr int MainBannerKind = 1;
constexpr int FirstPanelKind = 40, LastPanelKind = 47;
// Shut-down waits this long for the ad thread.
constexpr int AdThreadStopMs = 3000;

// A fetch in flight ends on the stop flag; a thread that still overruns is kept aside, not waited for.
void StopAdThread() { StopOwnedThread(adThread, "Ads", AdThreadStopMs); }

void BuildMainBanners(QMainWindow* form, QVBoxLayout* layout) {
  if (AdBanner* main = CreateAdBanner(MainBannerKind, form->centralWidget(), 468, 60, true)) {
    main->BeforeClick = [] {
      if (MainBannerClickSteps) MainBannerClickSteps();
    };
    layout->insertWidget(0, main, 0, Qt::AlignHCenter);
  }
  QHBoxLayout* panels = nullptr;
  for (int kind = FirstPanelKind; kind <= LastPanelKind; ++kind) {
    AdBanner* panel = CreateAdBanner(kind, form->centralWidget(), 120, 60);
    if (!panel) continue;
    if (!panels) {
      panels = new QHBoxLayout;
      layout->addLayout(panels);
    }
    panels->addWidget(panel);
  }
  if (panels) panels->addStretch();
}

}  // namespace

void InstallBannerAds(QWidget*) {
  if (LogOn) WriteLog("GifAdSystem Init");
  AdThreadBusy = false;
  AdParamsChanged = false;
  ClearAdLocations();
  ReadParamsFile("reklama.par", AdParams);
  ReadAdParams(AdParams);
  MainHooks.BuildBanners = BuildMainBanners;
  // The settings load resets the timers and starts the thread once.
  MainHooks.ResetAdTimers = [] {
    ResetAdTimers();
    if (!adThread && !ShuttingDown) {
      adThread = std::make_unique<AdThreadType>();
      adThread->Start();
    }
  };
  MainHooks.StopAds = StopAdThread;
}
