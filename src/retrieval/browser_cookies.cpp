#include "retrieval/browser_cookies.h"

#include <curl/curl.h>

#include <algorithm>

#include "retrieval/cookie_store.h"
#include "retrieval/http_engine.h"

int AddEngineCookies(const std::vector<std::string>& netscapeLines) {
  EnsureCurlReady();
  CURL* easy = curl_easy_init();
  if (!easy) return 0;
  // A handle on the shared store: what it takes in lands in the store every request uses.
  AttachCookieStore(easy);
  int added = 0;
  for (const std::string& line : netscapeLines) {
    if (std::count(line.begin(), line.end(), '\t') != 6 || line.find_first_of("\r\n") != std::string::npos) continue;
    if (curl_easy_setopt(easy, CURLOPT_COOKIELIST, line.c_str()) == CURLE_OK) ++added;
  }
  curl_easy_cleanup(easy);
  if (added > 0) MarkCookiesChanged();
  return added;
}
