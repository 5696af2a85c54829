#pragma once
// The ad thread: every 400 ms it fetches one banner ahead for a location that needs one and
// puts up the banners that are due, on the main thread.
#include <atomic>
#include <functional>
#include <string>

#include "ads/banner/ad_params.h"
#include "platform/datetime.h"
#include "platform/thread.h"

// Set while the ad thread runs.
extern std::atomic<bool> AdThreadBusy;

// A banner body is taken only when it begins "GIF" and is longer than this.
constexpr size_t MinAdBytes = 1000;
// Bodies above this are refused (a banner is a few kilobytes).
constexpr size_t MaxAdBytes = 2u * 1024u * 1024u;
// A body is good when it begins "GIF", is longer than MinAdBytes, within MaxAdBytes and whole.
bool GoodAdBody(const std::string& body);

class AdThreadType : public Thread {
public:
  AdThreadType();
  ~AdThreadType() override { Stop(-1); }

  // What the thread uses; tests replace them. Fetch gets "host/path" and answers the body
  // (empty or an error text when it failed).
  std::function<std::string(const std::string& source, const std::atomic<bool>& stop)> Fetch;
  std::function<TDateTime()> Now;
  std::function<bool()> UserInactive;
  AdRandom Random;
  int WaitMs = 400;

  // One pass (public for tests, which run it on their own thread).
  void Pass();

protected:
  void Execute() override;

private:
  bool FetchAhead();
  void ShowDue();
  bool ShowAd(int location, const std::string& data);

  bool skipWait_ = false;
  TDateTime lastErrorClear_ = 0, lastCacheClear_ = 0;
};

// The request engine's way: GET over HTTP into a result slot, ended early by stop.
std::string FetchAdOverHttp(const std::string& source, const std::atomic<bool>& stop);
