#pragma once
// The URL launcher behind OpenURL, ResolveRedirect and OpenAdLink: the ways an address can be
// opened outside the program, tried in the order the user chose, and the banner-click ways.
#include <functional>
#include <string>
#include <vector>

// "host/path" and "//host/path" become "http://host/path"; text with "//" or "\" is kept.
std::string NormalizeUrl(const std::string& url);
// True for an http or https address with a host: the only addresses opened from pages, ads,
// news files and redirects.
bool IsWebAddress(const std::string& url);
// The address ready to open: NormalizeUrl's scheme rule, then blanks and other unsafe
// characters percent-encoded as the browser pane reads a link. Empty when it is no web address.
std::string WebAddress(const std::string& url);
// The ways to try for a WebDefault: 'Y' the desktop's handler first, 'W' the system browser
// first, 'N' the user's own browser command first. Any other character tries "YWN".
std::string WaysOrder(char webDefault);

struct LaunchCommand {
  std::string Program;  // empty: nothing to run
  std::vector<std::string> Args;
};
// Splits a browser command line as a shell would quote it (but runs no shell): the first "%1"
// in the arguments becomes the address; without one the address goes first.
LaunchCommand SplitBrowserCommand(const std::string& commandLine, const std::string& url);
// A desktop entry's Exec line as a browser command: its URL field code (%u %U %f %F) becomes
// "%1", the other field codes go, "%%" is a "%".
std::string DesktopExecCommand(const std::string& exec);

// What a redirect request asks for: "scheme://host[:port]" and the path (at least "/").
struct RedirectTarget {
  bool Ok = false;
  std::string Host;
  std::string Path;
};
RedirectTarget SplitRedirectAddress(const std::string& url);

// How the launcher reaches the desktop; tests replace the members.
struct LauncherPlatform {
  std::function<bool(const std::string& url)> OpenDesktop;  // way Y
  std::function<std::string()> SystemBrowserCommand;        // way W: a command line, empty none
  std::function<std::string()> UserBrowserCommand;          // way N: "DefBrowser", empty none
  std::function<bool(const std::string& program, const std::vector<std::string>& args)> StartProgram;
  // The browser window for the ad way "CUSTOM"; false when it cannot be shown.
  std::function<bool(const std::string& url)> OpenInBrowserWindow;
  // The "Redirected URL" box.
  std::function<void(const std::string& url)> ShowRedirected;
};
extern LauncherPlatform Launcher;

// OpenURL: returns the way that opened the address ('Y', 'W', 'N'), 0 when none did.
char OpenUrlByWays(const std::string& url);
// ResolveRedirect: the first redirect the address leads to, or the address itself. Waits on
// the main thread for at most the request's time-out; ends on shut-down.
void ResolveRedirectAddress(const std::string& url, std::string& resolved);
// OpenAdLink: opens the link of the banner shown at a location (1..30; others are ignored).
// Returns the ad way taken ("IE", "CUSTOM", "DEFAULT", "OPENURL" without the browser control),
// empty when none.
std::string OpenAdLinkByWays(int location);
