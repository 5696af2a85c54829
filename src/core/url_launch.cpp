#include "core/url_launch.h"

#include <QDesktopServices>
#include <QUrl>

#include "core/ad_locations.h"
#include "core/log.h"
#include "core/text_helpers.h"
#include "platform/messages.h"

UrlLaunchHookTable UrlHooks;

std::function<bool(const std::string& url)> DesktopOpenUrl = [](const std::string& url) {
  return QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
};

bool OpenWebAddress(const std::string& url) {
  const QUrl u(QString::fromStdString(Trim(url)), QUrl::StrictMode);
  const QString scheme = u.scheme().toLower();
  if (!u.isValid() || (scheme != "http" && scheme != "https") || u.host().isEmpty()) {
    WriteLog("Not opened (only http and https addresses are): " + url);
    return false;
  }
  return DesktopOpenUrl && DesktopOpenUrl(u.toString().toStdString());
}

void OpenURL(const std::string& url) {
  if (!IsMainThread()) {
    PostToMainThread([url] { OpenURL(url); });
    return;
  }
  if (UrlHooks.OpenURL) UrlHooks.OpenURL(url);
  else OpenWebAddress(url);
}

void ResolveRedirect(const std::string& url, std::string& resolved) {
  resolved = url;
  if (!IsMainThread()) return;
  if (UrlHooks.ResolveRedirect) UrlHooks.ResolveRedirect(url, resolved);
}

void OpenAdLink(int location) {
  if (location < 1 || location > AdLocationCount) return;
  if (!IsMainThread()) {
    PostToMainThread([location] { OpenAdLink(location); });
    return;
  }
  if (UrlHooks.OpenAdLink) UrlHooks.OpenAdLink(location);
}
