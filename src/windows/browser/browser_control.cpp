#include "windows/browser/browser_control.h"

#include <QApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QNetworkCookie>
#include <QThread>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>

#include <map>
#include <tuple>

#include "windows/browser/web_engine_browser_control.h"

namespace {

// The engine renders in a helper program and ends the whole process when it cannot find it, so
// look where the engine looks before making a control.
bool EngineHelperPresent() {
  const QString fromEnv = qEnvironmentVariable("QTWEBENGINEPROCESS_PATH");
  if (!fromEnv.isEmpty()) return QFileInfo(fromEnv).isExecutable();
  const QString name = QStringLiteral("/QtWebEngineProcess");
  return QFileInfo(QLibraryInfo::path(QLibraryInfo::LibraryExecutablesPath) + name).isExecutable() ||
         QFileInfo(QCoreApplication::applicationDirPath() + name).isExecutable();
}

using CookieKey = std::tuple<std::string, std::string, std::string>;  // domain, path, name

std::map<CookieKey, BrowserCookie>& CookieJar() {
  static std::map<CookieKey, BrowserCookie> jar;
  return jar;
}

std::function<void(const BrowserCookie&)>& CookieHandler() {
  static std::function<void(const BrowserCookie&)> handler;
  return handler;
}

BrowserCookie FromNetworkCookie(const QNetworkCookie& c) {
  BrowserCookie out;
  out.Domain = c.domain().toStdString();
  out.Path = c.path().isEmpty() ? "/" : c.path().toStdString();
  out.Name = c.name().toStdString();
  out.Value = c.value().toStdString();
  out.Secure = c.isSecure();
  out.HttpOnly = c.isHttpOnly();
  out.Expires = c.isSessionCookie() ? 0 : c.expirationDate().toSecsSinceEpoch();
  return out;
}

// The engine tells of cookies only as they change; the jar mirrors them from the first control on.
void WatchCookies() {
  static bool watching = false;
  if (watching) return;
  watching = true;
  QWebEngineCookieStore* store = QWebEngineProfile::defaultProfile()->cookieStore();
  QObject::connect(store, &QWebEngineCookieStore::cookieAdded, store, [](const QNetworkCookie& c) {
    BrowserCookie cookie = FromNetworkCookie(c);
    CookieJar()[{cookie.Domain, cookie.Path, cookie.Name}] = cookie;
    if (auto handler = CookieHandler()) handler(cookie);
  });
  QObject::connect(store, &QWebEngineCookieStore::cookieRemoved, store, [](const QNetworkCookie& c) {
    BrowserCookie cookie = FromNetworkCookie(c);
    CookieJar().erase({cookie.Domain, cookie.Path, cookie.Name});
  });
}

}  // namespace

std::vector<BrowserCookie> BrowserCookies() {
  std::vector<BrowserCookie> out;
  for (const auto& [key, cookie] : CookieJar()) out.push_back(cookie);
  return out;
}

void SetBrowserCookieHandler(std::function<void(const BrowserCookie& cookie)> handler) {
  CookieHandler() = std::move(handler);
}

bool BrowserControlAvailable() {
  if (qEnvironmentVariableIsSet("VANTORA_NO_BROWSER")) return false;
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return false;
  static const bool helperPresent = EngineHelperPresent();
  return helperPresent;
}

BrowserControl* CreateBrowserControl(QWidget* parent) {
  if (!BrowserControlAvailable() || QThread::currentThread() != QCoreApplication::instance()->thread()) {
    return nullptr;
  }
  WatchCookies();
  return new WebEngineBrowserControl(parent);
}
