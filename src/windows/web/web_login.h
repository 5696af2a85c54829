#pragma once
// The browser login of a quote site: the prompt, the host the user logged in at, and the
// hand-over of that site's browser cookies to the request engine.
#include <string>
#include <vector>

#include "windows/browser/browser_control.h"

class QWidget;

// MainLabel's own text, "###" standing for the site's name.
extern const char* const WebLoginDefaultPrompt;
// The prompt shown: the site's own prompt when it has one, else the default text with "###"
// replaced by the site name cut before "(".
std::string WebLoginPrompt(const std::string& sitePrompt, const std::string& siteName);
// The host of an address, lower case, without "http://" or "https://" and without everything
// from the first "/" on.
std::string LoginHostOf(const std::string& address);
// True when a browser cookie of that domain would be sent to the host (a leading "." matches
// the domain and its subdomains; otherwise the host must equal it).
bool CookieDomainMatches(const std::string& cookieDomain, const std::string& host);
// The cookie as a line of the request engine's cookie file.
std::string NetscapeCookieLine(const BrowserCookie& cookie);

// Remembers that the site (by its code) logged in through the browser at these hosts, and
// hands the browser's cookies for them to the request engine, now and as pages set more.
// Only the hosts of the site logging in and of the sites in CookieSites are handed over.
// Returns how many cookies went over now.
int HandOverLoginCookies(const std::string& siteCode, const std::vector<std::string>& hosts);
// Forgets the remembered hosts (tests and shut-down).
void ForgetLoginCookieHosts();

// The main window's web login: shows the browser window modally on the current site's login
// page; true when the user pressed "Logged In".
bool RunWebLogin(QWidget* owner);
