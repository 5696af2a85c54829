#include "windows/web/url_launcher.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTextStream>
#include <QUrl>

#include <algorithm>
#include <cctype>

#include "core/ad_locations.h"
#include "core/branding.h"
#include "core/error_report.h"
#include "core/log.h"
#include "core/program_state.h"
#include "core/result_slots.h"
#include "core/settings.h"
#include "core/settings_file.h"
#include "core/text_helpers.h"
#include "core/url_launch.h"
#include "core/market_clock.h"
#include "platform/registry.h"
#include "retrieval/http_engine.h"
#include "retrieval/param_files.h"

namespace {

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// Both logs, as the launcher's messages go.
void LogBoth(const std::string& line) {
  if (LogOn) WriteLog(line);
  if (DebugOn) WriteDebugLog(line);
}

std::string DefaultSystemBrowserCommand() {
  const QString www = QStandardPaths::findExecutable("x-www-browser");
  if (!www.isEmpty()) return "\"" + www.toStdString() + "\" %1";
  // The desktop's default web browser entry.
  QProcess query;
  query.start("xdg-settings", {"get", "default-web-browser"});
  if (!query.waitForFinished(2000)) {
    query.kill();
    query.waitForFinished(500);
    return "";
  }
  const QString entry = QString::fromUtf8(query.readAllStandardOutput()).trimmed();
  if (entry.isEmpty() || entry.contains('/')) return "";
  const QString path = QStandardPaths::locate(QStandardPaths::ApplicationsLocation, entry);
  QFile file(path);
  if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) return "";
  QTextStream in(&file);
  bool inEntry = false;
  while (!in.atEnd()) {
    const QString line = in.readLine().trimmed();
    if (line.startsWith('[')) inEntry = line == "[Desktop Entry]";
    else if (inEntry && line.startsWith("Exec=")) return DesktopExecCommand(line.mid(5).toStdString());
  }
  return "";
}

}  // namespace

LauncherPlatform Launcher{
    [](const std::string& url) { return DesktopOpenUrl && DesktopOpenUrl(url); },
    [] {
      // Looked up once: the desktop's answer can take a while, and the click waits for it.
      static const std::string command = DefaultSystemBrowserCommand();
      return command;
    },
    [] { return Trim(RegistryStore::CurrentUser().ReadString(RegKeyPath, "DefBrowser")); },
    [](const std::string& program, const std::vector<std::string>& args) {
      QStringList list;
      for (const std::string& a : args) list << QString::fromStdString(a);
      return QProcess::startDetached(QString::fromStdString(program), list);
    },
    nullptr,
    nullptr,
};

std::string NormalizeUrl(const std::string& url) {
  if (url.find("//") != std::string::npos) return url;
  if (Upper(url.substr(0, 7)) == "HTTP://" || url.find('\\') != std::string::npos) return url;
  size_t start = url.find_first_not_of('/');
  return "http://" + (start == std::string::npos ? std::string() : url.substr(start));
}

bool IsWebAddress(const std::string& url) {
  const QUrl u(QString::fromStdString(Trim(url)), QUrl::StrictMode);
  const QString scheme = u.scheme().toLower();
  return u.isValid() && (scheme == "http" || scheme == "https") && !u.host().isEmpty();
}

std::string WebAddress(const std::string& url) {
  const std::string text = Trim(NormalizeUrl(Trim(url)));
  // No real link holds control characters, and the parser would drop what follows some of them.
  for (char c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return "";
  const QUrl u(QString::fromStdString(text), QUrl::TolerantMode);
  const QString scheme = u.scheme().toLower();
  if (!u.isValid() || (scheme != "http" && scheme != "https") || u.host().isEmpty()) return "";
  return u.toString(QUrl::FullyEncoded).toStdString();
}

std::string WaysOrder(char webDefault) {
  switch (std::toupper(static_cast<unsigned char>(webDefault))) {
    case 'W': return "WYN";
    case 'N': return "NYW";
    default: return "YWN";
  }
}

LaunchCommand SplitBrowserCommand(const std::string& commandLine, const std::string& url) {
  LaunchCommand out;
  QStringList parts = QProcess::splitCommand(QString::fromStdString(commandLine));
  if (parts.isEmpty()) return out;
  out.Program = parts.takeFirst().toStdString();
  if (out.Program.empty()) return out;
  bool placed = false;
  for (const QString& p : parts) {
    std::string arg = p.toStdString();
    size_t at = placed ? std::string::npos : arg.find("%1");
    if (at != std::string::npos) {
      arg.replace(at, 2, url);
      placed = true;
    }
    out.Args.push_back(std::move(arg));
  }
  if (!placed) out.Args.insert(out.Args.begin(), url);
  return out;
}

std::string DesktopExecCommand(const std::string& exec) {
  std::string out;
  bool placed = false;
  for (size_t i = 0; i < exec.size(); ++i) {
    if (exec[i] != '%' || i + 1 >= exec.size()) {
      out += exec[i];
      continue;
    }
    const char code = exec[++i];
    if (code == '%') out += '%';
    else if (std::string_view("uUfF").find(code) != std::string_view::npos && !placed) {
      out += "%1";
      placed = true;
    }
  }
  return Trim(out);
}

RedirectTarget SplitRedirectAddress(const std::string& url) {
  RedirectTarget out;
  const QUrl u(QString::fromStdString(Trim(url)), QUrl::StrictMode);
  if (!IsWebAddress(url)) return out;
  std::string host = u.scheme().toLower().toStdString() + "://" + u.host(QUrl::FullyEncoded).toStdString();
  if (u.host().contains(':')) host = u.scheme().toLower().toStdString() + "://[" + u.host().toStdString() + "]";
  if (u.port() > 0) host += ":" + std::to_string(u.port());
  std::string path = u.path(QUrl::FullyEncoded).toStdString();
  if (path.empty()) path = "/";
  if (u.hasQuery()) path += "?" + u.query(QUrl::FullyEncoded).toStdString();
  out.Ok = true;
  out.Host = host;
  out.Path = path;
  return out;
}

char OpenUrlByWays(const std::string& url) {
  const std::string target = WebAddress(url);
  if (target.empty()) {
    WriteLog("Not opened (only http and https addresses are): " + url);
    return 0;
  }
  for (char way : WaysOrder(LiveSettings.WebDefault)) {
    try {
      if (way == 'Y') {
        if (Launcher.OpenDesktop && Launcher.OpenDesktop(target)) return way;
        continue;
      }
      const std::string command = way == 'N' ? (Launcher.UserBrowserCommand ? Launcher.UserBrowserCommand() : "")
                                             : (Launcher.SystemBrowserCommand ? Launcher.SystemBrowserCommand() : "");
      if (Trim(command).empty()) continue;
      const LaunchCommand run = SplitBrowserCommand(command, target);
      if (run.Program.empty()) continue;
      if (DebugOn) {
        std::string args;
        for (const std::string& a : run.Args) args += (args.empty() ? "" : " ") + a;
        WriteDebugLog(std::string(way == 'N' ? "Connecting to: " : "Def. Connecting to: ") + run.Program + " ! " + args);
      }
      if (Launcher.StartProgram && Launcher.StartProgram(run.Program, run.Args)) return way;
    } catch (const std::exception& e) {
      WriteLog(std::string("Opening an address failed: ") + e.what());
    }
  }
  return 0;
}

void ResolveRedirectAddress(const std::string& url, std::string& resolved) {
  LogBoth("REDIR: Orig " + url);
  resolved = url;
  const RedirectTarget target = SplitRedirectAddress(url);
  if (!target.Ok || !IsMainThread()) {
    LogBoth("REDIR: Failure");
    return;
  }
  const int result = AllocHRes('%');
  if (result == 0) {
    LogBoth("REDIR: Failure");
    return;
  }
  int requestSlot = 0;
  std::string name;
  GetHttp(nullptr, 0, -100, result, "GET", target.Host, target.Path, "Content-Type: text/html", "", "", "", 80,
          false, false, false, 50, requestSlot, "***", false, false, 0, name);
  // The request gives up after its own 50 seconds; the wait allows a little more for its end.
  std::string redirect;
  const WaitResult waited = WaitUntil(
      [&] {
        redirect = HttpSlotRedirect(requestSlot);
        return !redirect.empty() || HResDone(result);
      },
      nullptr, 55000);
  if (waited == WaitResult::Done && redirect.empty()) redirect = HttpSlotRedirect(requestSlot);
  if (waited == WaitResult::Refused) WriteLog("REDIR: another wait is running");
  if (!redirect.empty() && IsWebAddress(redirect)) {
    resolved = redirect;
    LogBoth("REDIR: Success to: " + resolved);
  } else {
    LogBoth("REDIR: Failure");
  }
  if (requestSlot > 0) ClearHttpSlotRedirect(requestSlot);
  CollectHttp(name, -1);
  FreeHRes(result);
}

namespace {

struct BusyCursor {
  BusyCursor() {
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
      QApplication::setOverrideCursor(Qt::BusyCursor);
      set = true;
    }
  }
  ~BusyCursor() {
    if (set) QApplication::restoreOverrideCursor();
  }
  bool set = false;
};

bool ShowRedirectBox() {
  return IniFile_ && Upper(Trim(Ini().ReadString("Stocks", "SHOWREDIR", "NO"))) == "YES";
}

}  // namespace

std::string OpenAdLinkByWays(int location) {
  if (location < 1 || location > AdLocationCount) return "";
  BusyCursor cursor;
  std::string url;
  bool redirect = false;
  {
    std::lock_guard lock(AdLock);
    url = AdLocLink[location];
    redirect = AdLocRedirect[location];
    const TDateTime latest = LocalNow() + AdSettings.DelayAfterClick / 86400.0;
    AdLocShowTime[location] = std::min(AdLocShowTime[location], latest);
  }
  if (Trim(url).empty()) url = Branding.CompURL;
  ReplaceAll(url, "##VER##", VersionText(ProgVersion), false);

  auto resolve = [&] {
    if (!redirect) return;
    std::string to;
    ResolveRedirect(url, to);
    url = to;
  };
  if (!HaveIE4) {
    resolve();
    LogBoth("IE4 not there - redirecting to " + url);
    OpenURL(url);
    return "OPENURL";
  }
  const std::string w[3] = {Upper(Trim(GetSiteParam(AdParams, "ADBROWSER1", "IE"))),
                            Upper(Trim(GetSiteParam(AdParams, "ADBROWSER2", "CUSTOM"))),
                            Upper(Trim(GetSiteParam(AdParams, "ADBROWSER3", "DEFAULT")))};
  for (int i = 1; i <= 6; ++i) {
    const std::string way = i <= 3 ? w[i - 1] : "";
    if (DebugOn) WriteDebugLog("ad click: " + way);
    if (LogOn) WriteLog("ad click: " + way);
    try {
      if (way == "IE" || i == 4) {
        // The platform browser of that way is no program here: the way fails, the next is tried.
        continue;
      }
      if (way == "DEFAULT" || way == "DEFAULTURL" || i == 6) {
        resolve();
        redirect = false;
        if (DebugOn) WriteDebugLog("Redirected to: " + url);
        if (ShowRedirectBox() && Launcher.ShowRedirected) Launcher.ShowRedirected(url);
        if (Upper(url.substr(0, 4)) != "HTTP") url = "http://" + url;
        OpenURL(url);
        return "DEFAULT";
      }
      if (way == "CUSTOM") {
        const std::string target = WebAddress(url);
        if (!target.empty() && Launcher.OpenInBrowserWindow && Launcher.OpenInBrowserWindow(target)) return "CUSTOM";
        continue;
      }
    } catch (const std::exception& e) {
      WriteLog(std::string("ad click failed: ") + e.what());
    }
  }
  ShowErrorReport("IE4:YES Skipped through " + w[0] + " " + w[1] + " " + w[2], "Ad Click");
  return "";
}
