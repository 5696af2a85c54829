#include "retrieval/http_engine.h"

#include <curl/curl.h>

#include <array>
#include <map>
#include <thread>

#include "core/branding.h"
#include "core/log.h"
#include "core/program_state.h"
#include "core/result_slots.h"
#include "core/settings_file.h"
#include "core/sites.h"
#include "core/text_helpers.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "retrieval/cookie_store.h"
#include "retrieval/login_script.h"
#include "retrieval/password_scramble.h"

thread_local int LastHttpSlot = 0;
std::atomic<int64_t> DownloadByteCount{0};
std::atomic<int> StreamActivity{0};

namespace {

struct Request {
  std::string name;
  int kind = 0;
  int slot = 0;  // request slot
  std::thread thread;
  HttpCancel cancel;
  std::atomic<bool> done{false};
  std::string shown;  // method and address for the debug window, without credentials
};

// Never destroyed: request threads that nobody collected may still run while the program exits.
struct EngineState {
  std::mutex registryMutex;
  std::map<std::string, std::shared_ptr<Request>> requests;
  std::array<bool, HttpSlotCount + 1> slotUsed{};
  uint32_t nameCounter = 0;

  std::mutex redirectMutex;
  std::array<std::string, HttpSlotCount + 1> redirects;

  std::mutex proxyMutex;
  bool proxyLoaded = false;
  ProxySettings proxy;
};
EngineState& state = *new EngineState;
auto& registryMutex = state.registryMutex;
auto& requests = state.requests;
auto& slotUsed = state.slotUsed;
auto& nameCounter = state.nameCounter;
auto& redirectMutex = state.redirectMutex;
auto& redirects = state.redirects;
auto& proxyMutex = state.proxyMutex;
auto& proxyLoaded = state.proxyLoaded;
auto& proxy = state.proxy;

bool ValidSlot(int slot) { return slot >= 1 && slot <= HttpSlotCount; }

// Under registryMutex.
int TakeRequestSlot(bool fromOne) {
  int first = fromOne ? 1 : FirstSharedHttpSlot;
  for (int n = 0; n < HttpSlotCount; ++n) {
    int s = (first - 1 + n) % HttpSlotCount + 1;
    if (!slotUsed[static_cast<size_t>(s)]) {
      slotUsed[static_cast<size_t>(s)] = true;
      return s;
    }
  }
  return 0;
}

void SetRedirect(int slot, std::string url) {
  if (!ValidSlot(slot)) return;
  std::lock_guard lock(redirectMutex);
  redirects[static_cast<size_t>(slot)] = std::move(url);
}

struct Transfer {
  const HttpJob* job = nullptr;
  CURL* easy = nullptr;
  std::string body;
  bool overflow = false;
  bool sinkFailed = false;
  bool notStream = false;  // a sink's request got a reply other than 2xx
  int64_t lastActivity = 0;
  long responseStatus = 0;  // of the response whose headers are arriving
};

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  size_t n = size * count;
  t->lastActivity = TickMs();
  DownloadByteCount += static_cast<int64_t>(n);
  if (t->job->Sink) {
    // Only a successful reply's body is a stream: an error page is not read as records.
    if (t->responseStatus < 200 || t->responseStatus > 299) {
      t->notStream = true;
      return 0;  // aborts the transfer
    }
    try {
      t->job->Sink->Write(data, n);
    } catch (...) {
      t->sinkFailed = true;
      return 0;
    }
    return n;
  }
  if (t->body.size() + n > t->job->MaxBytes) {
    t->overflow = true;
    return 0;  // aborts the transfer
  }
  t->body.append(data, n);
  return n;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  size_t n = size * count;
  t->lastActivity = TickMs();
  std::string_view line(data, n);
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  if (StartsWithNoCase(line, "HTTP/")) {
    size_t sp = line.find(' ');
    t->responseStatus = sp == std::string_view::npos ? 0 : std::atol(std::string(line.substr(sp + 1, 3)).c_str());
  } else if (StartsWithNoCase(line, "Set-Cookie:")) {
    MarkCookiesChanged();
  } else if (StartsWithNoCase(line, "Location:") && t->responseStatus >= 300 && t->responseStatus < 400 &&
             t->job->RedirectSlot) {
    std::string location = Trim(line.substr(9));
    char* current = nullptr;
    curl_easy_getinfo(t->easy, CURLINFO_EFFECTIVE_URL, &current);
    std::string absolute = location;
    if (CURLU* u = curl_url()) {
      char* joined = nullptr;
      if (current && curl_url_set(u, CURLUPART_URL, current, 0) == CURLUE_OK &&
          curl_url_set(u, CURLUPART_URL, location.c_str(), 0) == CURLUE_OK &&
          curl_url_get(u, CURLUPART_URL, &joined, 0) == CURLUE_OK && joined) {
        absolute = joined;
      }
      curl_free(joined);
      curl_url_cleanup(u);
    }
    SetRedirect(t->job->RedirectSlot, absolute);
  }
  return n;
}

void ApplyProxy(CURL* easy) {
  if (!UseProxy.load()) {
    curl_easy_setopt(easy, CURLOPT_PROXY, "");  // also ignores proxies named in the environment
    return;
  }
  ProxySettings p = CurrentProxySettings();
  if (p.Host.empty()) {
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    return;
  }
  std::string address = p.Host + ":" + std::to_string(p.Port);
  curl_easy_setopt(easy, CURLOPT_PROXY, address.c_str());
  if (!p.User.empty()) {
    curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, p.User.c_str());
    curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, p.Password.c_str());
  }
  if (!p.Bypass.empty()) curl_easy_setopt(easy, CURLOPT_NOPROXY, p.Bypass.c_str());
}

}  // namespace

void EnsureCurlReady() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_ALL); });
}

void HttpCancel::Abort() {
  Aborted = true;
  std::lock_guard lock(Mutex);
  if (Multi) curl_multi_wakeup(static_cast<CURLM*>(Multi));
}

std::string DefaultUserAgent() {
  return "Mozilla/5.0 (compatible; " + Branding.ProgShortName + " " + VersionText(ProgVersion) + ")";
}

void ReloadProxySettings() {
  ProxySettings p;
  if (IniFile_) {
    TMyIniFile& ini = Ini();
    p.Host = Trim(ini.ReadString("Proxy", "Host", ""));
    p.Port = ini.ReadInteger("Proxy", "Port", 8080);
    p.User = ini.ReadString("Proxy", "User", "");
    p.Password = UnscramblePassword(ini.ReadString("Proxy", "Password", ""));
    p.Bypass = ini.ReadString("Proxy", "Bypass", "");
  }
  std::lock_guard lock(proxyMutex);
  proxy = p;
  proxyLoaded = true;
}

ProxySettings CurrentProxySettings() {
  {
    std::lock_guard lock(proxyMutex);
    if (proxyLoaded) return proxy;
  }
  ReloadProxySettings();
  std::lock_guard lock(proxyMutex);
  return proxy;
}

std::string BuildHttpUrl(const std::string& hostText, int port, const std::string& path) {
  std::string host = Trim(hostText);
  std::string scheme = "http";
  if (StartsWithNoCase(host, "https://")) {
    scheme = "https";
    host.erase(0, 8);
  } else if (StartsWithNoCase(host, "http://")) {
    host.erase(0, 7);
  }
  // A host text may carry a path of its own; the path argument follows it.
  std::string hostPath;
  if (size_t slash = host.find('/'); slash != std::string::npos) {
    hostPath = host.substr(slash);
    host.erase(slash);
    while (!hostPath.empty() && hostPath.back() == '/') hostPath.pop_back();
  }
  bool hasPort = false;
  if (size_t colon = host.rfind(':'); colon != std::string::npos && host.find(']') == std::string::npos) {
    hasPort = colon + 1 < host.size();
    if (!hasPort) host.erase(colon);
  } else if (host.find(']') != std::string::npos && host.back() != ']') {
    hasPort = true;  // "[::1]:8080"
  }
  std::string url = scheme + "://" + host;
  if (!hasPort && port > 0 && !(port == 80 || (scheme == "https" && port == 443))) url += ":" + std::to_string(port);
  std::string p = path;
  if (p.empty() || p[0] != '/') p.insert(0, "/");
  url += hostPath + p;
  ReplaceAll(url, " ", "%20", false);
  return url;
}

HttpResult PerformHttp(const HttpJob& job, HttpCancel* cancel) {
  EnsureCurlReady();
  HttpResult result;
  Transfer t;
  t.job = &job;
  t.lastActivity = TickMs();
  CURL* easy = curl_easy_init();
  CURLM* multi = curl_multi_init();
  if (!easy || !multi) {
    if (easy) curl_easy_cleanup(easy);
    if (multi) curl_multi_cleanup(multi);
    result.Error = "cannot create a request handle";
    return result;
  }
  t.easy = easy;
  curl_slist* headers = nullptr;
  {
    std::string lines = job.ExtraHeader;
    size_t start = 0;
    while (start <= lines.size()) {
      size_t end = lines.find_first_of("\r\n", start);
      if (end == std::string::npos) end = lines.size();
      std::string h = Trim(std::string_view(lines).substr(start, end - start));
      if (!h.empty() && h.find(':') != std::string::npos) headers = curl_slist_append(headers, h.c_str());
      start = end + 1;
    }
  }
  curl_easy_setopt(easy, CURLOPT_URL, job.Url.c_str());
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
  curl_easy_setopt(easy, CURLOPT_USERAGENT, job.UserAgent.empty() ? DefaultUserAgent().c_str() : job.UserAgent.c_str());
  if (headers) curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &OnBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &t);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &OnHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, &t);
  const long timeoutMs = job.TimeoutMs > 0 ? job.TimeoutMs : 60000;
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, timeoutMs);
  if (!job.Sink) curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, timeoutMs);
  if (SameText(job.Method, "POST")) {
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(job.PostData.size()));
    curl_easy_setopt(easy, CURLOPT_COPYPOSTFIELDS, job.PostData.c_str());
  } else if (!SameText(job.Method, "GET") && !job.Method.empty()) {
    curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, job.Method.c_str());
  }
  if (!job.User.empty()) {
    curl_easy_setopt(easy, CURLOPT_HTTPAUTH, CURLAUTH_BASIC);
    curl_easy_setopt(easy, CURLOPT_USERNAME, job.User.c_str());
    curl_easy_setopt(easy, CURLOPT_PASSWORD, job.Password.c_str());
  }
  ApplyProxy(easy);
  AttachCookieStore(easy);
  curl_multi_add_handle(multi, easy);
  if (cancel) {
    std::lock_guard lock(cancel->Mutex);
    cancel->Multi = multi;
  }

  const int64_t started = TickMs();
  bool aborted = false, timedOut = false;
  CURLcode code = CURLE_OK;
  for (;;) {
    int running = 0;
    curl_multi_perform(multi, &running);
    if (!running) {
      int left = 0;
      while (CURLMsg* msg = curl_multi_info_read(multi, &left))
        if (msg->msg == CURLMSG_DONE) code = msg->data.result;
      break;
    }
    if (cancel && cancel->Aborted) {
      aborted = true;
      break;
    }
    int64_t now = TickMs();
    if (job.Sink ? now - t.lastActivity > timeoutMs : now - started > timeoutMs) {
      timedOut = true;
      break;
    }
    curl_multi_poll(multi, nullptr, 0, 200, nullptr);
  }
  if (cancel) {
    std::lock_guard lock(cancel->Mutex);
    cancel->Multi = nullptr;
  }
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &result.Status);
  char* effective = nullptr;
  if (curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective) result.FinalUrl = effective;
  curl_multi_remove_handle(multi, easy);
  curl_easy_cleanup(easy);
  curl_multi_cleanup(multi);
  curl_slist_free_all(headers);
  SaveCookieStore();

  if (aborted) {
    result.Error = "ended by force";
  } else if (timedOut || code == CURLE_OPERATION_TIMEDOUT) {
    result.Error = job.Sink ? "no data within the time-out" : "time-out";
  } else if (t.overflow) {
    result.Error = "reply larger than " + std::to_string(job.MaxBytes / (1024 * 1024)) + " MB";
  } else if (t.notStream) {
    result.Error = "HTTP status " + std::to_string(result.Status);
  } else if (t.sinkFailed) {
    result.Error = "the byte sink refused the data";
  } else if (code != CURLE_OK) {
    result.Error = curl_easy_strerror(code);
  } else if (result.Status >= 400) {
    result.Error = "HTTP status " + std::to_string(result.Status);
  } else {
    result.Ok = true;
    result.Body = std::move(t.body);
  }
  return result;
}

void GetHttp(std::shared_ptr<HTTPSite> site, int kind, int siteIndex, int resultSlot, const std::string& method,
             const std::string& host, const std::string& path, const std::string& extraHeader,
             const std::string& postData, const std::string& user, const std::string& password, int port,
             bool /*flag1*/, bool /*flag2*/, bool /*flag3*/, int timeoutSeconds, int& slotOut,
             const std::string& userAgent, bool /*allowCache*/, bool /*flag4*/, intptr_t /*callerValue*/,
             std::string& requestName, ByteSink* sink) {
  EnsureCurlReady();
  HttpJob job;
  job.Method = method.empty() ? "GET" : method;
  job.Url = BuildHttpUrl(host, port, path);
  job.ExtraHeader = extraHeader;
  job.PostData = postData;
  job.User = user;
  job.Password = password;
  job.UserAgent = userAgent;
  if (job.UserAgent.empty() || job.UserAgent == "***") job.UserAgent = site ? site->UserAgent : std::string();
  job.TimeoutMs = timeoutSeconds > 0 ? timeoutSeconds * 1000 : 60000;
  job.Sink = sink;
  const bool loginCheck = kind == LoginCheckKind && path == "LSCRONLY";

  auto request = std::make_shared<Request>();
  request->kind = kind;
  request->shown = job.Method + " " + HttpAddressForDisplay(job.Url);
  Request* raw = request.get();
  std::string startError;
  {
    // The thread is started under the same lock that registers the request, so that
    // ShutdownHttp never sees a registered request whose thread it cannot join.
    std::lock_guard lock(registryMutex);
    request->slot = TakeRequestSlot(siteIndex == -100);
    if (request->slot) {
      request->name = "H" + std::to_string(++nameCounter % 100000000u);
      requests[request->name] = request;
      SetRedirect(request->slot, "");
      job.RedirectSlot = request->slot;
      if (DebugOn) WriteDebugLog(request->name + " " + request->shown);
      try {
        request->thread = std::thread([raw, job = std::move(job), site, resultSlot, loginCheck] {
          std::string text;
          if (loginCheck) {
            text = site ? RunLoginCheck(*site, &raw->cancel) : std::string("OK");
          } else {
            HttpResult r = PerformHttp(job, &raw->cancel);
            if (DebugOn) WriteDebugLog(raw->name + (r.Ok ? " done, " + std::to_string(r.Body.size()) + " bytes" : " failed: " + r.Error));
            if (r.Ok) {
              text = job.Sink ? std::string(StreamEndText) : std::move(r.Body);
            } else {
              text = "ERR";
              if (LogOn) WriteLog("Request " + raw->name + " failed: " + r.Error + " (" + job.Url + ")");
              else if (r.Error.rfind("reply larger", 0) == 0) WriteLog("Request failed: " + r.Error + " (" + job.Url + ")");
            }
          }
          SetHRes(resultSlot, std::move(text));
          raw->done = true;
        });
      } catch (const std::exception& e) {
        startError = e.what();
        request->done = true;
      }
    }
  }
  slotOut = request->slot;
  LastHttpSlot = request->slot;
  requestName = request->name;
  if (!request->slot) {
    WriteLog("No request slot left for " + host + path);
    SetHRes(resultSlot, "ERR");
  } else if (!startError.empty()) {
    WriteLog("Cannot start a request thread: " + startError);
    SetHRes(resultSlot, "ERR");
  }
}

void CollectHttp(const std::string& requestName, int kind) {
  std::shared_ptr<Request> request;
  {
    // Taken out of the registry at once, so that a second collect of the same name is a no-op.
    std::lock_guard lock(registryMutex);
    auto it = requests.find(requestName);
    if (it == requests.end() || (kind != -1 && it->second->kind != kind)) return;
    request = it->second;
    requests.erase(it);
  }
  for (int round = 0; round < 50 && !request->done; ++round) WaitAndPump(7);
  if (!request->done) request->cancel.Abort();
  if (request->thread.joinable()) request->thread.join();
  std::lock_guard lock(registryMutex);
  slotUsed[static_cast<size_t>(request->slot)] = false;
}

void AbortHttp(const std::string& requestName) {
  std::lock_guard lock(registryMutex);
  auto it = requests.find(requestName);
  if (it != requests.end() && !it->second->done) it->second->cancel.Abort();
}

std::string HttpSlotRedirect(int slot) {
  if (!ValidSlot(slot)) return {};
  std::lock_guard lock(redirectMutex);
  return redirects[static_cast<size_t>(slot)];
}

std::string TakeHttpSlotRedirect(int slot) {
  if (!ValidSlot(slot)) return {};
  std::lock_guard lock(redirectMutex);
  return std::exchange(redirects[static_cast<size_t>(slot)], std::string());
}

void ClearHttpSlotRedirect(int slot) { SetRedirect(slot, ""); }

int RunningHttpRequests() {
  std::lock_guard lock(registryMutex);
  return static_cast<int>(requests.size());
}

void ShutdownHttp() {
  std::map<std::string, std::shared_ptr<Request>> all;
  {
    std::lock_guard lock(registryMutex);
    all.swap(requests);
    slotUsed.fill(false);
  }
  for (auto& [name, r] : all) r->cancel.Abort();
  for (auto& [name, r] : all)
    if (r->thread.joinable()) r->thread.join();
}

std::string HttpAddressForDisplay(const std::string& url) {
  const size_t scheme = url.find("://");
  const size_t hostFrom = scheme == std::string::npos ? 0 : scheme + 3;
  size_t hostEnd = url.find_first_of("/?#", hostFrom);
  if (hostEnd == std::string::npos) hostEnd = url.size();
  std::string authority = url.substr(hostFrom, hostEnd - hostFrom);
  if (const size_t at = authority.rfind('@'); at != std::string::npos) authority.erase(0, at + 1);
  size_t pathEnd = url.find_first_of("?#", hostEnd);
  if (pathEnd == std::string::npos) pathEnd = url.size();
  return url.substr(0, hostFrom) + authority + url.substr(hostEnd, pathEnd - hostEnd);
}

std::vector<std::string> RunningHttpRequestList() {
  std::lock_guard lock(registryMutex);
  std::vector<std::string> lines;
  lines.reserve(requests.size());
  for (const auto& [name, r] : requests) lines.push_back(name + " " + r->shown);
  return lines;
}
