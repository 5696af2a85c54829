#pragma once
// The request engine: one thread per web request over libcurl, request slots with their
// redirect records, a shared cookie store, the user's proxy, and delivery of the page into a
// result slot (core/result_slots.h).
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct HTTPSite;

// Where a streaming request writes the reply body as it arrives (a byte queue implements it).
struct ByteSink {
  virtual ~ByteSink() = default;
  virtual void Write(const char* data, size_t size) = 0;
};

// A page larger than this fails with "ERR" (and a log line). Streaming bodies are not capped.
constexpr size_t MaxHttpBodyBytes = 16u * 1024u * 1024u;
// Request slots 1 .. HttpSlotCount. Requests with site index -100 take the first free slot
// counting from 1; all others count from FirstSharedHttpSlot, so the low slots stay free for them.
constexpr int HttpSlotCount = 256;
constexpr int FirstSharedHttpSlot = 40;
// The request kind of the login check: with path "LSCRONLY" it runs only the site's login
// script and leaves "OK" or "BADPASS" (or "ERR" when the site could not be reached).
constexpr int LoginCheckKind = 9999;
// The result text of a streaming request that ended without an error.
inline constexpr const char* StreamEndText = "EOF";

// Receives the request slot number of the request just started (per calling thread, so that
// threads starting requests at the same time do not read each other's number).
extern thread_local int LastHttpSlot;
// Raised by request threads as body bytes arrive; the update run zeroes and reads it.
extern std::atomic<int64_t> DownloadByteCount;
// Set to 15 by a streaming thread on every record; the streaming panel counts it down.
extern std::atomic<int> StreamActivity;

// Starts one request on a thread of its own and returns at once. The page arrives in
// resultSlot when the request ends ("ERR" when it fails, an empty text for an empty body);
// the slot's done flag marks the end either way. With a sink the body is written there as it
// arrives, the time-out limits inactivity instead of the whole request, and the end status
// (StreamEndText or "ERR") goes to the slot.
//   host: "name", "name:port", optionally with "http://" or "https://" in front; a port in
//         the host wins over the port argument; port 80 (or 0) means the scheme's default.
//   userAgent: "***" or empty gives the site's agent, else the program's default agent.
//   flags, allowCache, flag4 and callerValue are accepted for the callers' sake; this engine
//   keeps no page cache and treats every body as bytes.
void GetHttp(std::shared_ptr<HTTPSite> site, int kind, int siteIndex, int resultSlot, const std::string& method,
             const std::string& host, const std::string& path, const std::string& extraHeader,
             const std::string& postData, const std::string& user, const std::string& password, int port,
             bool flag1, bool flag2, bool flag3, int timeoutSeconds, int& slotOut, const std::string& userAgent,
             bool allowCache, bool flag4, intptr_t callerValue, std::string& requestName,
             ByteSink* sink = nullptr);

// Waits up to 50 rounds of 7 ms (processing messages on the main thread) for the named request
// to end, ends it by force when it still runs, then frees it and its request slot. kind -1
// matches any request; another kind must equal the request's. Unknown names are ignored.
void CollectHttp(const std::string& requestName, int kind);
// Ends the named request by force at once (a cancelled job); CollectHttp still frees it.
void AbortHttp(const std::string& requestName);

// The absolute address of the last redirect that the request in this slot met; empty when none.
std::string HttpSlotRedirect(int slot);
// Reads the record and empties it.
std::string TakeHttpSlotRedirect(int slot);
void ClearHttpSlotRedirect(int slot);

// Requests started and not yet collected.
int RunningHttpRequests();
// Ends every request by force and joins its thread (program end and tests).
void ShutdownHttp();

// The user's proxy: section "Proxy" of the settings file, keys "Host", "Port", "User",
// "Password" (scrambled like site passwords) and "Bypass"; used while UseProxy is set.
struct ProxySettings {
  std::string Host;
  int Port = 8080;
  std::string User;
  std::string Password;
  std::string Bypass;  // comma-separated hosts reached directly
};
// Reads the "Proxy" section again (after the preferences change it).
void ReloadProxySettings();
ProxySettings CurrentProxySettings();

// The agent sent when a request names none.
std::string DefaultUserAgent();

// Initialises libcurl once for the process.
void EnsureCurlReady();

// --- synchronous core, used by the request threads and the login script ---

struct HttpCancel {
  std::atomic<bool> Aborted{false};
  // Ends the transfer that runs under this object within one poll.
  void Abort();
  std::mutex Mutex;
  void* Multi = nullptr;  // the running transfer's multi handle, while one runs
};

struct HttpJob {
  std::string Method = "GET";
  std::string Url;  // absolute
  std::string ExtraHeader;  // one or more header lines (CR/LF separated)
  std::string PostData;
  std::string User, Password;
  std::string UserAgent;
  int TimeoutMs = 60000;
  ByteSink* Sink = nullptr;
  int RedirectSlot = 0;  // request slot whose redirect record is kept (0: none)
  size_t MaxBytes = MaxHttpBodyBytes;
};

struct HttpResult {
  bool Ok = false;
  long Status = 0;
  std::string Body;
  std::string Error;     // why it failed
  std::string FinalUrl;  // the address after redirects
};

// Runs one request on the calling thread. Fails on a transport error, an HTTP status of 400
// or more, a body over MaxBytes, the time-out and an abort.
HttpResult PerformHttp(const HttpJob& job, HttpCancel* cancel);
// "scheme://host:port" + path from the engine's host rules (see GetHttp).
std::string BuildHttpUrl(const std::string& host, int port, const std::string& path);

// --- the debug window's list of running requests ---

// The address as the list shows it: scheme, host, port and path; no user, password, query or
// fragment, so that no credentials show.
std::string HttpAddressForDisplay(const std::string& url);
// One line per request started and not yet collected: its name, method and address for display.
std::vector<std::string> RunningHttpRequestList();
