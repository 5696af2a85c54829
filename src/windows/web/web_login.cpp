#include "windows/web/web_login.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>

#include "core/log.h"
#include "core/program_state.h"
#include "core/sites.h"
#include "core/text_helpers.h"
#include "retrieval/browser_cookies.h"
#include "retrieval/login_script.h"
#include "windows/web/browser_window.h"
#include "windows/web/url_launcher.h"

const char* const WebLoginDefaultPrompt =
    " Please login to ### so Vantora can retrieve quotes.  Once you are logged in, please click the "
    "\"Logged In\" button.  To abort, click Cancel. ";

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Site code -> hosts it logged in at; main thread.
std::map<std::string, std::vector<std::string>>& LoginHosts() {
  static std::map<std::string, std::vector<std::string>> hosts;
  return hosts;
}

bool HostAllowed(const std::string& domain) {
  std::string current;
  if (std::shared_ptr<HTTPSite> site = CurSite) current = site->Code;
  std::lock_guard lock(WebLoginMutex);
  for (const auto& [code, hosts] : LoginHosts()) {
    if (code != current && CookieSites.IndexOf(code) < 0) continue;
    for (const std::string& host : hosts)
      if (CookieDomainMatches(domain, host)) return true;
  }
  return false;
}

void OnBrowserCookie(const BrowserCookie& cookie) {
  if (HostAllowed(cookie.Domain)) AddEngineCookies({NetscapeCookieLine(cookie)});
}

}  // namespace

std::string WebLoginPrompt(const std::string& sitePrompt, const std::string& siteName) {
  if (!Trim(sitePrompt).empty()) return sitePrompt;
  std::string text = WebLoginDefaultPrompt;
  ReplaceAll(text, "###", Trim(std::string_view(siteName).substr(0, siteName.find('('))), false);
  return text;
}

std::string LoginHostOf(const std::string& address) {
  std::string host = Lower(address);
  if (host.rfind("http://", 0) == 0) host.erase(0, 7);
  else if (host.rfind("https://", 0) == 0) host.erase(0, 8);
  return host.substr(0, host.find('/'));
}

bool CookieDomainMatches(const std::string& cookieDomain, const std::string& host) {
  std::string h = Lower(host.substr(0, host.rfind(':') == std::string::npos || host.find(']') != std::string::npos
                                          ? host.size()
                                          : host.rfind(':')));
  const std::string d = Lower(cookieDomain);
  if (d.empty() || h.empty()) return false;
  if (d[0] != '.') return d == h;
  const std::string bare = d.substr(1);
  return h == bare || (h.size() > d.size() && h.compare(h.size() - d.size(), d.size(), d) == 0);
}

std::string NetscapeCookieLine(const BrowserCookie& c) {
  const bool domainWide = !c.Domain.empty() && c.Domain[0] == '.';
  std::string line = c.HttpOnly ? "#HttpOnly_" : "";
  line += c.Domain + "\t" + (domainWide ? "TRUE" : "FALSE") + "\t" + (c.Path.empty() ? "/" : c.Path) + "\t" +
          (c.Secure ? "TRUE" : "FALSE") + "\t" + std::to_string(c.Expires) + "\t" + c.Name + "\t" + c.Value;
  return line;
}

int HandOverLoginCookies(const std::string& siteCode, const std::vector<std::string>& hosts) {
  {
    std::lock_guard lock(WebLoginMutex);
    auto& known = LoginHosts()[siteCode];
    for (const std::string& h : hosts)
      if (!h.empty() && std::find(known.begin(), known.end(), h) == known.end()) known.push_back(h);
  }
  SetBrowserCookieHandler(OnBrowserCookie);
  std::vector<std::string> lines;
  for (const BrowserCookie& c : BrowserCookies())
    if (HostAllowed(c.Domain)) lines.push_back(NetscapeCookieLine(c));
  const int added = lines.empty() ? 0 : AddEngineCookies(lines);
  if (LogOn) WriteLog("Web login: " + std::to_string(added) + " browser cookies handed over for " + siteCode);
  return added;
}

void ForgetLoginCookieHosts() {
  SetBrowserCookieHandler(nullptr);
  std::lock_guard lock(WebLoginMutex);
  LoginHosts().clear();
}

bool RunWebLogin(QWidget* owner) {
  std::shared_ptr<HTTPSite> site = CurSite;
  if (!site || !site->WebLogin) return true;
  TfrmIE dialog(owner);
  dialog.setWindowTitle("WebLogin");
  dialog.SetPrompt(WebLoginPrompt(site->LoginPrompt, site->Name));
  const std::string start = NormalizeUrl(Trim(site->LoginUrl));
  if (IsWebAddress(start)) dialog.StartUrl = start;
  else if (!Trim(site->LoginUrl).empty()) WriteLog("Web login: not a web address: " + site->LoginUrl);
  ++ModalDepth;
  const int result = dialog.exec();
  --ModalDepth;
  if (result != QDialog::Accepted) return false;
  std::vector<std::string> hosts{dialog.LoggedInHost};
  const RedirectTarget siteHost = SplitRedirectAddress(NormalizeUrl(site->Host));
  if (siteHost.Ok) hosts.push_back(LoginHostOf(siteHost.Host));
  HandOverLoginCookies(site->Code, hosts);
  return true;
}
