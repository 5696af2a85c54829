#pragma once
// The chart site's own sponsor banner: an ad page fetched from the ad server, its click link
// and image address picked out, the image fetched. Used by the site-1 window when
// "HISTOURADS" is not "YES".
#include <functional>
#include <string>

#include "platform/thread.h"

struct SiteAd {
  std::string Link;       // absolute http:// or https:// address
  std::string ImageHost;  // "name[:port]" or "https://name[:port]"
  std::string ImagePath;  // begins with "/"
};

// Reads an ad page. False with why ("No HREF", "No SRC") when no usable link or image is found.
// A relative link is made absolute with adSite; a relative image is fetched from imageSite.
bool ParseSiteAdPage(std::string page, const std::string& adSite, const std::string& imageSite, SiteAd& ad,
                     std::string& why);

class TAdThread : public Thread {
public:
  TAdThread();
  ~TAdThread() override;

  std::string AdSite, AdPath, ImageSite;
  // Runs on the main thread with an ad whose image decoded as GIF. Set before Start.
  std::function<void(const SiteAd& ad, const std::string& gif)> OnAd;

  // Starts one pass unless one runs.
  void RequestPass();
  bool Busy() const { return busy_.load(); }
  void Shutdown();

protected:
  void Execute() override;

private:
  void Pass();
  void PassSteps();
  std::atomic<bool> busy_{false};
  std::atomic<bool> cancel_{false};
};
