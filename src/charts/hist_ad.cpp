#include "charts/hist_ad.h"

#include "charts/hist_cache.h"
#include "charts/hist_thread.h"
#include "core/log.h"
#include "core/program_state.h"
#include "platform/messages.h"
#include "platform/string_list.h"

namespace {

constexpr size_t MaxAdPageBytes = 256 * 1024;
constexpr size_t MaxAdImageBytes = 512 * 1024;

void Debug(const std::string& line) {
  if (DebugOn.load()) WriteDebugLog(line);
}

// The attribute value at the start of text: up to the first blank, or the first ">" when that
// comes earlier; CR and LF removed; a surrounding pair of quotes removed.
std::string Value(std::string& text) {
  const size_t blank = text.find(' ');
  const size_t gt = text.find('>');
  const size_t end = std::min(blank, gt);
  std::string v = text.substr(0, end == std::string::npos ? text.size() : end);
  text.erase(0, end == std::string::npos ? text.size() : end);
  std::erase(v, '\r');
  std::erase(v, '\n');
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) v = v.substr(1, v.size() - 2);
  else if (!v.empty() && (v.front() == '"' || v.front() == '\'')) v.erase(0, 1);
  return v;
}

bool SafeUrlText(std::string_view s) {
  for (const unsigned char c : s)
    if (c <= ' ' || c >= 127 || c == '"' || c == '<' || c == '>') return false;
  return true;
}

}  // namespace

bool ParseSiteAdPage(std::string page, const std::string& adSite, const std::string& imageSite, SiteAd& ad,
                     std::string& why) {
  ad = {};
  std::string upper = UpperCase(page);
  auto cutTo = [&](size_t at) {
    page.erase(0, at);
    upper.erase(0, at);
  };
  if (upper.find("<SCRIPT") != std::string::npos && upper.find("<NOSCRIPT") != std::string::npos) {
    const size_t at = upper.find("<NOSCRIPT>");
    if (at != std::string::npos) cutTo(at);
  } else if (const size_t at = upper.find("</SCRIPT>"); at != std::string::npos) {
    cutTo(at);
  }

  // The link.
  const size_t a = upper.find("<A");
  size_t href = a == std::string::npos ? std::string::npos : upper.find("HREF", a + 2);
  size_t eq = href == std::string::npos ? std::string::npos : upper.find('=', href + 4);
  if (eq != std::string::npos) {
    cutTo(eq + 1);
  } else if (const size_t action = upper.find("ACTION="); action != std::string::npos) {
    cutTo(action + 7);
  } else {
    why = "No HREF";
    return false;
  }
  std::string link = Value(page);
  upper = UpperCase(page);
  if (StartsWithNoCase(link, "http://") || StartsWithNoCase(link, "https://")) {
    ad.Link = link;
  } else if (link.find("://") == std::string::npos && link.find(':') == std::string::npos && !adSite.empty()) {
    ad.Link = "http://" + adSite + (link.empty() || link[0] != '/' ? "/" : "") + link;
  }
  if (ad.Link.empty() || !SafeUrlText(ad.Link)) {
    why = "No HREF";
    return false;
  }

  // The image: SRC=" with a quote straight after the "=".
  const size_t src = upper.find("SRC=\"");
  if (src == std::string::npos) {
    why = "No SRC";
    return false;
  }
  cutTo(src + 4);
  const std::string image = Value(page);
  if (image.empty() || !SafeUrlText(image)) {
    why = "No SRC";
    return false;
  }
  const bool https = StartsWithNoCase(image, "https://");
  if (https || StartsWithNoCase(image, "http://")) {
    const std::string rest = image.substr(https ? 8 : 7);
    const size_t slash = rest.find('/');
    const std::string host = rest.substr(0, slash);
    if (host.empty() || host.find('@') != std::string::npos) {
      why = "No SRC";
      return false;
    }
    ad.ImageHost = (https ? "https://" : "") + host;
    ad.ImagePath = slash == std::string::npos ? "/" : rest.substr(slash);
  } else if (image.find(':') == std::string::npos && !imageSite.empty()) {
    ad.ImageHost = imageSite;
    ad.ImagePath = image[0] == '/' ? image : "/" + image;
  } else {
    why = "No SRC";
    return false;
  }
  return true;
}

TAdThread::TAdThread() { Name = "HistAdThread"; }

TAdThread::~TAdThread() { Shutdown(); }

void TAdThread::Shutdown() {
  cancel_ = true;
  Stop(-1);
}

void TAdThread::RequestPass() {
  if (busy_.exchange(true)) return;
  Resume();
}

void TAdThread::Execute() {
  while (WaitGate()) {
    Suspend();
    if (Terminated()) break;
    Pass();
    busy_ = false;
  }
  busy_ = false;
}

void TAdThread::Pass() {
  if (AdSite.empty()) return;
  PassSteps();
  // Every pass ends on this line, also one that stopped early, so the log shows where it ended.
  Debug("Done Fetching Ad");
}

void TAdThread::PassSteps() {
  Debug("Fetching Ad URL " + AdSite + " " + AdPath);
  bool cancelled = false;
  const std::string page = FetchChartPage('#', AdSite, 80, AdPath, "Content-type: text/html", cancel_,
                                          TerminateFlag(), MaxAdPageBytes, cancelled);
  Debug("End Fetching Ad URL");
  if (DebugOn.load()) {
    // The page as one line of plain text: bytes from outside never break the log's lines.
    std::string line = page;
    for (char& c : line)
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    WriteDebugLog(line);
  }
  if (cancelled || page == "ERR") return;
  SiteAd ad;
  std::string why;
  Debug("Parse Ad URL");
  if (!ParseSiteAdPage(page, AdSite, ImageSite, ad, why)) {
    Debug(why);
    return;
  }
  Debug("Fetching Ad Image " + ad.ImageHost + " " + ad.ImagePath);
  std::string data = FetchChartPage('#', ad.ImageHost, 80, ad.ImagePath, "Content-type: image/gif", cancel_,
                                    TerminateFlag(), MaxAdImageBytes, cancelled);
  Debug("End Fetching Ad Image");
  // The link goes along only with an image that decodes, so a click never opens another ad's link.
  if (!cancelled && data != "ERR" && DecodesAsGif(data) && OnAd && !Terminated()) {
    auto onAd = OnAd;
    PostToMainThread([onAd, ad, data = std::move(data)] { onAd(ad, data); });
  }
}
