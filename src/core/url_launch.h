#pragma once
// Opening addresses outside the program and following banner clicks. The web feature installs
// the full launcher in UrlHooks; until then http and https addresses go to the desktop's
// handler, other schemes are refused, a redirect resolves to the address itself and a banner
// click does nothing.
#include <functional>
#include <string>

struct UrlLaunchHookTable {
  std::function<void(const std::string& url)> OpenURL;
  std::function<void(const std::string& url, std::string& resolved)> ResolveRedirect;
  std::function<void(int location)> OpenAdLink;
};
extern UrlLaunchHookTable UrlHooks;

// Opens an address outside the program. Main thread; a call from another thread is passed to it.
void OpenURL(const std::string& url);
// Resolved: the address that url redirects to, or url itself. Main thread (it waits on a page);
// elsewhere it answers url.
void ResolveRedirect(const std::string& url, std::string& resolved);
// Opens the link of the banner shown at a location (1..30); other numbers are ignored.
void OpenAdLink(int location);

// The default way: an http or https address goes to the desktop's handler; false for any other.
bool OpenWebAddress(const std::string& url);
// The desktop's handler; tests replace it.
extern std::function<bool(const std::string& url)> DesktopOpenUrl;
