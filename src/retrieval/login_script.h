#pragma once
// The site login script: the LOGIN block of a site's script, run by the login check (request
// kind 9999, path "LSCRONLY") on the request's own thread.
#include <mutex>
#include <string>

#include "platform/string_list.h"

struct HTTPSite;
struct HttpCancel;

// Written by the browser window after a web login: the address shown when "Logged In" was
// pressed and the page text saved when the window closed. Guarded by WebLoginMutex.
extern std::string WebLoginUrl;
extern std::string WebLoginPage;
// The codes of the sites whose login lives in the browser's cookies; guarded by WebLoginMutex.
extern StringList CookieSites;
extern std::mutex WebLoginMutex;

// Runs the site's login block: "OK" or "BADPASS" as the script decides ("OK" when it ends
// without deciding or the site has no login script), "ERR" when a page could not be fetched.
// Requests go to the site's host and port with its agent; "##LOGIN##" (also "##NAME##") and
// "##PASSWORD##" in their paths and data stand for the entered name and password, URL-encoded.
std::string RunLoginCheck(HTTPSite& site, HttpCancel* cancel);
