#include "ads/banner/ad_thread.h"

#include <QLabel>

#include <cmath>
#include <filesystem>
#include <stdexcept>
#include <mutex>
#include <vector>

#include "ads/banner/ad_banner.h"
#include "ads/gif/anim_gif.h"
#include "ads/gif/anim_image_control.h"
#include "ads/gif/gif_whole.h"
#include "core/ad_locations.h"
#include "core/button_form.h"
#include "core/log.h"
#include "core/main_hooks.h"
#include "core/market_clock.h"
#include "core/program_state.h"
#include "core/result_slots.h"
#include "retrieval/http_engine.h"
#include "retrieval/param_files.h"

std::atomic<bool> AdThreadBusy{false};

namespace {

constexpr double SecondsPerDay = 86400.0;

void Trace(const std::string& line) {
  if (DebugOn) WriteDebugLog(line);
  if (LogOn) WriteLog(line);
}

// Day 0 (1899-12-30) was a Saturday.
bool IsWeekendDay(TDateTime t) {
  const int64_t day = static_cast<int64_t>(std::floor(t));
  return ((day % 7) + 7) % 7 <= 1;
}

bool ReadFile(const std::string& path, std::string& out) {
  return ReadWholeFile(path, out);
}

}  // namespace

bool GoodAdBody(const std::string& body) {
  return body.size() > MinAdBytes && body.size() <= MaxAdBytes && GifArrivedWhole(body);
}

std::string FetchAdOverHttp(const std::string& source, const std::atomic<bool>& stop) {
  const size_t slash = source.find('/');
  if (slash == std::string::npos) return {};
  const int slot = AllocHRes('A');
  if (!slot) return {};
  std::string name;
  int requestSlot = 0;
  GetHttp(nullptr, 0, -1, slot, "GET", source.substr(0, slash), source.substr(slash), "Content-Type: image/gif", "",
          "", "", 80, false, false, false, 100, requestSlot, "***", true, false, 0, name);
  WaitForSlot(slot, &stop, 110000);
  if (LogOn) {
    const std::string redirected = HttpSlotRedirect(requestSlot);
    if (!redirected.empty()) WriteLog("AD Redirected to: " + redirected);
  }
  CollectHttp(name, -1);
  std::string body = GetHRes(slot);
  FreeHRes(slot);
  if (LogOn) WriteLog("AD received: " + body.substr(0, 100));
  return body;
}

AdThreadType::AdThreadType() {
  Name = "Ads";
  Fetch = FetchAdOverHttp;
  // The PC's clock, as OpenAdLink's delay after a click; the market clock only picks weekends.
  Now = [] { return LocalNow(); };
  UserInactive = [] { return IsUserInactive(); };
  Random = DefaultAdRandom();
}

void AdThreadType::Execute() {
  AdThreadBusy = true;
  while (!Terminated()) {
    try {
      Pass();
    } catch (const std::exception& e) {
      if (LogOn) WriteLog(std::string("GifAdExecute Loop Error: ") + e.what());
    }
  }
  AdThreadBusy = false;
}

void AdThreadType::Pass() {
  const TDateTime now = Now();
  if (lastErrorClear_ == 0) lastErrorClear_ = lastCacheClear_ = now;
  {
    std::lock_guard lock(AdLock);
    if ((now - lastErrorClear_) * SecondsPerDay > AdSettings.ClearErrorsInterval) {
      for (GIFAdRec& r : AdTable) r.Failed = false;
      lastErrorClear_ = now;
    }
    if (now - lastCacheClear_ > 0.25) {
      for (GIFAdRec& r : AdTable) r.CacheFile.clear();
      lastCacheClear_ = now;
    }
  }
  if (!skipWait_ && !Sleep(WaitMs)) return;
  skipWait_ = false;
  if (AdParamsChanged.exchange(false)) {
    ReadParamsFile("reklama.par", AdParams);
    ReadAdParams(AdParams);
    ResetAdTimers();
  }
  if (Terminated()) return;
  FetchAhead();
  if (Terminated()) return;
  ShowDue();
}

bool AdThreadType::FetchAhead() {
  for (int loc = 1; loc <= AdLocationCount && !Terminated(); ++loc) {
    int kind = 0;
    std::string source, link, cacheFile;
    bool redirect = false;
    {
      std::lock_guard lock(AdLock);
      if (!AdLocUsed[loc] || AdLocMinimized[loc] || AdLocBlocked[loc] || !AdLocImage[loc] || !AdLocData[loc].empty())
        continue;
      kind = AdLocKind[loc];
    }
    // The choice takes the ad lock only briefly: the banner hosts' timers take it too.
    const int row = PickAd(kind, source, link, redirect, Random);
    Trace("Looking for ad loc#" + std::to_string(loc) + "=" + std::to_string(kind) + " - got " + std::to_string(row));
    if (!row) continue;
    {
      std::lock_guard lock(AdLock);
      if (!AdLocUsed[loc] || AdLocKind[loc] != kind) continue;  // the window closed meanwhile
      AdLocRow[loc] = row;
      AdLocNextRedirect[loc] = redirect;
      if (source == "SERVERAD") {
        AdLocData[loc] = AdLocNextLink[loc] = "SERVERAD";
        continue;
      }
      if (source.find('/') == std::string::npos) continue;
      if (AdTable[row].Cache) cacheFile = AdTable[row].CacheFile;
    }
    std::string body;
    std::error_code ec;
    if (!cacheFile.empty() && std::filesystem::is_regular_file(cacheFile, ec) && ReadFile(cacheFile, body)) {
      skipWait_ = true;
    } else {
      body = Fetch(source, TerminateFlag());
    }
    if (Terminated()) return false;
    std::lock_guard lock(AdLock);
    if (!AdLocUsed[loc]) continue;  // the window closed meanwhile
    if (GoodAdBody(body)) {
      Trace("ADS - GOT A GIF! at " + std::to_string(loc));
      AdLocData[loc] = std::move(body);
      AdLocNextLink[loc] = link;
      if (!cacheFile.empty()) {
        std::filesystem::create_directories(std::filesystem::path(cacheFile).parent_path(), ec);
        if (!WriteFileAtomic(cacheFile, AdLocData[loc])) AdTable[row].CacheFile.clear();
      }
      return true;
    }
    Trace("ADS - ERROR - NO GIF! at " + std::to_string(loc));
    AdTable[row].CacheFile.clear();
    AdTable[row].Failed = true;
    AdLocData[loc].clear();
    AdLocNextLink[loc].clear();
  }
  return false;
}

void AdThreadType::ShowDue() {
  const TDateTime now = Now();
  const bool inactive = UserInactive && UserInactive();
  std::vector<int> due;
  {
    std::lock_guard lock(AdLock);
    for (int loc = 1; loc <= AdLocationCount; ++loc) {
      if (!AdLocUsed[loc] || !AdLocImage[loc] || AdLocData[loc].empty()) continue;
      if (AdLocMinimized[loc] || inactive || AdLocBlocked[loc]) {
        // The schedule moves on period by period while nobody can see the banner.
        const double period = AdLocPeriod[loc] / SecondsPerDay;
        if (now > AdLocShowTime[loc] + period && now < AdLocShowTime[loc] + 1.0 / 24) AdLocShowTime[loc] += period;
        continue;
      }
      if (now > AdLocShowTime[loc]) {
        Trace("Adding " + std::to_string(loc) + " to the list");
        due.push_back(loc);
      }
    }
  }
  for (int loc : due) {
    if (Terminated()) return;
    std::string data;
    {
      std::lock_guard lock(AdLock);
      data = AdLocData[loc];
    }
    Trace("Loading " + std::to_string(loc));
    bool done = false;
    if (data == "SERVERAD") {
      Synchronize([loc] {
        std::lock_guard lock(AdLock);
        if (AdLocImage[loc]) AdLocImage[loc]->hide();
      });
      done = true;
    } else {
      done = ShowAd(loc, data);
    }
    if (Terminated()) return;
    std::lock_guard lock(AdLock);
    const int row = AdLocRow[loc];
    if (done) {
      AdLocLink[loc] = AdLocNextLink[loc];
      AdLocRedirect[loc] = AdLocNextRedirect[loc];
      const bool weekend = IsWeekendDay(MarketNow());
      int period = row >= 1 && row <= AdRowCount ? (weekend ? AdTable[row].WeekendPeriod : AdTable[row].Period) : 60;
      if (period <= 0) period = 60;
      AdLocShowTime[loc] = Now() + period / SecondsPerDay;
      AdLocPeriod[loc] = period;
    } else {
      if (row >= 1 && row <= AdRowCount) {
        AdTable[row].Failed = true;
        // A cached banner that does not load is dropped.
        if (!AdTable[row].CacheFile.empty()) {
          std::error_code ec;
          std::filesystem::remove(AdTable[row].CacheFile, ec);
          AdTable[row].CacheFile.clear();
        }
      }
      AdLocShowTime[loc] = Now() + AdSettings.FetchErrorDelay / SecondsPerDay;
    }
    AdLocData[loc].clear();
    AdLocRow[loc] = 0;
    AdLocNextLink[loc].clear();
  }
}

bool AdThreadType::ShowAd(int location, const std::string& data) {
  bool success = false;
  const AdRandom random = Random;
  Synchronize([&] {
    // Re-checked here: the hosting window may have closed since the data was fetched.
    QPointer<QWidget> image;
    TAnimGif* gif = nullptr;
    QPointer<QLabel> blurb1, blurb2;
    std::string blurb;
    {
      std::lock_guard lock(AdLock);
      if (!AdLocUsed[location]) return;
      image = AdLocImage[location];
      gif = AdLocGif[location];
      blurb1 = AdLocBlurb1[location];
      blurb2 = AdLocBlurb2[location];
      if (AdState.Blurbs.Count() > 0) blurb = AdState.Blurbs[int(random(AdState.Blurbs.Count()))];
    }
    if (!image || !gif) return;
    // Loaded and drawn on a scratch image first (the animation needs a picture of the whole
    // screen), so a banner that cannot be shown leaves the shown one alone and fails its row.
    try {
      TAnimGif trial;
      trial.LoadFromMemory(reinterpret_cast<const uint8_t*>(data.data()), data.size());
      if (trial.FrameCount() == 0) throw std::runtime_error("no image");
      if (trial.GetBitmap().isNull()) throw std::runtime_error("cannot be drawn");
      gif->LoadFromMemory(reinterpret_cast<const uint8_t*>(data.data()), data.size());
    } catch (const std::exception& e) {
      if (LogOn) WriteLog(std::string("Banner did not load: ") + e.what());
      return;
    }
    if (auto* control = dynamic_cast<TGifImageControl*>(image.data())) control->SetPicture(gif);
    image->setCursor(Qt::PointingHandCursor);
    image->show();
    gif->ResumePainters();
    if (!blurb.empty()) {
      const size_t bar = blurb.find('|');
      const std::string first = bar == std::string::npos ? blurb : blurb.substr(0, bar);
      const std::string second = bar == std::string::npos ? blurb : blurb.substr(bar + 1);
      SetBlurbText(blurb1, first);
      SetBlurbText(blurb2, second);
    }
    image->update();
    success = true;
  });
  return success;
}
