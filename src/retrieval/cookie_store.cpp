#include "retrieval/cookie_store.h"

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <mutex>

#include "core/aside_copies.h"
#include "core/log.h"
#include "core/program_files.h"
#include "core/program_state.h"
#include "platform/string_list.h"
#include "retrieval/http_engine.h"

namespace {

struct Store {
  CURLSH* share = nullptr;
  CURL* keeper = nullptr;  // a handle that only reads and writes the shared cookies
  std::array<std::mutex, CURL_LOCK_DATA_LAST> locks;
  std::mutex fileMutex;
  std::atomic<bool> changed{false};
  std::string path;

  Store() {
    EnsureCurlReady();
    share = curl_share_init();
    curl_share_setopt(share, CURLSHOPT_LOCKFUNC, &Store::Lock);
    curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, &Store::Unlock);
    curl_share_setopt(share, CURLSHOPT_USERDATA, this);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    // Connections stay per handle: a shared connection cache is not safe across threads.
    keeper = curl_easy_init();
    curl_easy_setopt(keeper, CURLOPT_SHARE, share);
    curl_easy_setopt(keeper, CURLOPT_COOKIEFILE, "");
    Load();
  }

  static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* user) {
    static_cast<Store*>(user)->locks[static_cast<size_t>(data)].lock();
  }
  static void Unlock(CURL*, curl_lock_data data, void* user) {
    static_cast<Store*>(user)->locks[static_cast<size_t>(data)].unlock();
  }

  void Load() {
    std::lock_guard lock(fileMutex);
    path = ProgDir + CookieFileName;
    const std::string text = ReadKeepingAside(ProgDir, CookieFileName, std::string("The cookie store ") + CookieFileName,
                                              CookieDamage, writable);
    StringList lines;
    lines.SetText(text);
    for (int i = 0; i < lines.Count(); ++i)
      if (IsCookieLine(lines[i])) curl_easy_setopt(keeper, CURLOPT_COOKIELIST, lines[i].c_str());
  }

  // Netscape lines only: seven tab-separated fields (the "#HttpOnly_" prefix allowed).
  static bool IsCookieLine(std::string_view line) {
    if (line.empty() || (line[0] == '#' && line.rfind("#HttpOnly_", 0) != 0)) return false;
    return std::count(line.begin(), line.end(), '\t') == 6;
  }

  // What is wrong with a stored text: lines that are neither blank, a comment nor a cookie, or
  // no final line break (it was cut). Empty when nothing.
  static std::string CookieDamage(std::string_view text) {
    StringList lines;
    lines.SetText(text);
    std::string bad;
    int count = 0;
    for (int i = 0; i < lines.Count(); ++i) {
      const std::string& line = lines[i];
      const bool comment = !line.empty() && line[0] == '#' && line.rfind("#HttpOnly_", 0) != 0;
      if (!HasContent(line) || comment || IsCookieLine(line)) continue;
      if (++count <= 20) bad += (bad.empty() ? "" : ", ") + std::to_string(i + 1);
    }
    std::string wrong;
    if (count)
      wrong = (count == 1 ? "line " + bad + " holds" : "lines " + bad + (count > 20 ? ", ..." : "") + " hold") + " no cookie";
    if (!text.empty() && text.back() != '\n')
      wrong += std::string(wrong.empty() ? "it" : ", and it") + " does not end with a line break (it may have been cut)";
    return wrong;
  }

  void Save() {
    std::lock_guard lock(fileMutex);
    SaveLocked();
  }

  // Under fileMutex, which guards every use of the keeper handle.
  void SaveLocked() {
    if (!changed.exchange(false)) return;
    curl_slist* list = nullptr;
    if (curl_easy_getinfo(keeper, CURLINFO_COOKIELIST, &list) != CURLE_OK) return;
    std::string text = "# cookies of all requests\n";
    for (curl_slist* p = list; p; p = p->next) {
      text += p->data;
      text += '\n';
    }
    curl_slist_free_all(list);
    // Site logins: readable by the user only. One that could not be kept aside is never written.
    if (!writable) return;
    if (!WriteFileAtomic(path, text, 0600)) WriteLog("Cannot write " + path);
  }

  bool writable = true;
};

Store& TheStore() {
  static Store* store = new Store;  // lives to the end: request threads may still use it
  return *store;
}

}  // namespace

void AttachCookieStore(void* easyHandle) {
  Store& s = TheStore();
  curl_easy_setopt(static_cast<CURL*>(easyHandle), CURLOPT_SHARE, s.share);
  curl_easy_setopt(static_cast<CURL*>(easyHandle), CURLOPT_COOKIEFILE, "");
}

void OpenCookieStore() { TheStore(); }

void MarkCookiesChanged() { TheStore().changed = true; }

void SaveCookieStore() { TheStore().Save(); }

void ClearCookieStore() {
  Store& s = TheStore();
  std::lock_guard lock(s.fileMutex);
  curl_easy_setopt(s.keeper, CURLOPT_COOKIELIST, "ALL");
  s.changed = true;
  s.SaveLocked();
}

std::string CookieStorePath() { return TheStore().path; }
