#include "windows/web/web_install.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include "core/log.h"
#include "core/main_hooks.h"
#include "core/program_state.h"
#include "core/url_launch.h"
#include "retrieval/login_script.h"
#include "windows/web/browser_window.h"
#include "windows/web/url_launcher.h"
#include "windows/web/web_login.h"

namespace {

class CloseWatcher : public QObject {
public:
  CloseWatcher(QWidget* watched, std::function<void()> fn) : QObject(watched), watched_(watched), fn_(std::move(fn)) {
    watched->installEventFilter(this);
  }

  bool eventFilter(QObject* object, QEvent* event) override {
    if (object == watched_ && event->type() == QEvent::Close) {
      // The window may still refuse the close; look once it has been handled.
      QPointer<QWidget> w = watched_;
      QTimer::singleShot(0, this, [this, w] {
        if (!w || !w->isVisible()) fn_();
      });
    }
    return false;
  }

private:
  QWidget* watched_;
  std::function<void()> fn_;
};

}  // namespace

void WhenMainWindowCloses(QWidget* mainWindow, std::function<void()> fn) {
  if (!mainWindow) return;
  auto shared = std::make_shared<std::function<void()>>(std::move(fn));
  new CloseWatcher(mainWindow, [shared] { (*shared)(); });
  QObject::connect(mainWindow, &QObject::destroyed, [shared] { (*shared)(); });
}

void InstallWeb(QWidget* mainWindow) {
  if (LogOn) WriteLog("Web Init");
  UrlHooks.OpenURL = [](const std::string& url) { OpenUrlByWays(url); };
  UrlHooks.ResolveRedirect = [](const std::string& url, std::string& resolved) { ResolveRedirectAddress(url, resolved); };
  UrlHooks.OpenAdLink = [](int location) { OpenAdLinkByWays(location); };
  // An ad opens it in front of the window whose banner was clicked.
  Launcher.OpenInBrowserWindow = [](const std::string& url) { return OpenInBrowserWindow(url, QApplication::activeWindow()); };
  Launcher.ShowRedirected = ShowRedirectedUrl;
  MainHooks.WebLogin = [mainWindow] { return RunWebLogin(mainWindow); };
  WhenMainWindowCloses(mainWindow, [] {
    if (frmIE) frmIE->close();
    ForgetLoginCookieHosts();
    std::lock_guard lock(WebLoginMutex);
    WebLoginUrl.clear();
    WebLoginPage.clear();
  });
}
