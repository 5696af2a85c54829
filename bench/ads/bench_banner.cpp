// CPU cost of the banner system: 30 banner locations served by the ad thread with animated
// 468x60 banners (4 frames, 200 ms each) for 10 s, beside the same 30 empty banner-sized
// widgets with no ad thread, in the same run. Prints process CPU time (user + system, all
// threads) as a share of one core, and the difference.
#include <QApplication>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QImage>
#include <QPainter>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <vector>

#include "ads/banner/ad_banner.h"
#include "ads/banner/ad_params.h"
#include "ads/banner/ad_thread.h"
#include "ads/gif/anim_gif.h"
#include "ads/gif/gif_image.h"
#include "core/ad_locations.h"
#include "core/program_state.h"
#include "core/settings_file.h"
#include "platform/messages.h"

namespace {

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

std::string BannerGif() {
  TAnimGif gif;
  for (int f = 0; f < 4; ++f) {
    QImage frame(468, 60, QImage::Format_RGB32);
    frame.fill(QColor(40, 40, 120));
    QPainter p(&frame);
    p.fillRect(f * 117, 50, 117, 6, QColor(250, 200, 40));
    p.setPen(Qt::white);
    p.drawText(10, 30, QString("Banner frame %1").arg(f));
    p.end();
    gif.Add(frame);
  }
  for (int i = 0; i < gif.Images.Count(); ++i) {
    TGIFSubImage& frame = gif.Images[i];
    if (i == 0) frame.AddExtension(std::make_unique<TGIFAppExtNSLoop>(&frame));  // loops for ever
    auto gce = std::make_unique<TGIFGraphicControlExtension>(&frame);
    gce->SetDelay(20);
    frame.AddExtension(std::move(gce));
  }
  const auto bytes = gif.SaveToMemory();
  return std::string(bytes.begin(), bytes.end());
}

// Runs the event loop for ms and answers the CPU seconds it took.
double Measure(int ms) {
  const double start = CpuSeconds();
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) WaitAndPump(20);
  return CpuSeconds() - start;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  const auto home = std::filesystem::temp_directory_path() / ("vn_bench_banner_" + std::to_string(getpid()));
  std::filesystem::create_directories(home);
  ProgDir = home.string() + "/";
  OpenSettingsFile();
  QApplication app(argc, argv);
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
  const std::string gif = BannerGif();

  StringList params;
  for (int n = 1; n <= 3; ++n) {
    params.Add("AD1SORC" + std::to_string(n) + "=local/banner" + std::to_string(n) + ".gif");
    params.Add("AD1HREF" + std::to_string(n) + "=http://127.0.0.1/click");
    params.Add("ADTIMR" + std::to_string(n) + "=20");
    params.Add("ADWGHT" + std::to_string(n) + "=1");
    params.Add("ADLOCT" + std::to_string(n) + "=7");
  }
  ReadAdParams(params);
  ClearAdLocations();

  // Ads off: the same window with 30 banner-sized empty widgets.
  double off = 0;
  {
    QWidget window;
    auto* grid = new QGridLayout(&window);
    for (int i = 0; i < 30; ++i) {
      auto* w = new QWidget(&window);
      w->setFixedSize(468, 60);
      grid->addWidget(w, i / 3, i % 3);
    }
    window.show();
    Measure(500);
    off = Measure(seconds * 1000);
  }

  double on = 0;
  int shown = 0;
  {
    QWidget window;
    auto* grid = new QGridLayout(&window);
    std::vector<AdBanner*> banners;
    for (int i = 0; i < 30; ++i) {
      AdBanner* b = CreateAdBanner(7, &window);
      if (!b) break;
      banners.push_back(b);
      grid->addWidget(b, i / 3, i % 3);
    }
    window.show();
    AdThreadType thread;
    thread.Fetch = [&](const std::string&, const std::atomic<bool>&) { return gif; };
    thread.UserInactive = [] { return false; };
    thread.Start();
    Measure(16000);  // one banner is fetched per 400 ms pass: every location gets its first
    on = Measure(seconds * 1000);
    {
      std::lock_guard lock(AdLock);
      for (AdBanner* b : banners)
        if (!AdLocLink[b->Location()].empty()) ++shown;
    }
    thread.Stop(5000);
  }
  const double wall = seconds;
  std::printf("banner harness, %d s, 30 locations (%d showing animated 468x60 banners, 4 frames of 200 ms, rotated every 20 s)\n",
              seconds, shown);
  std::printf("  ads on : %.2f%% of one core\n", 100.0 * on / wall);
  std::printf("  ads off: %.2f%% of one core (same window, 30 empty widgets, no ad thread)\n", 100.0 * off / wall);
  std::printf("  above the idle harness: %.2f%% of one core (goal: under 3%%)\n", 100.0 * (on - off) / wall);
  std::filesystem::remove_all(home);
  return 0;
}
