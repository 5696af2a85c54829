#include "charts/hist_thread.h"

#include "charts/hist_cache.h"
#include "core/result_slots.h"
#include "platform/messages.h"
#include "retrieval/http_engine.h"

namespace {
constexpr int ChartTimeoutSeconds = 100;
}

std::string FetchChartPage(char tag, const std::string& host, int port, const std::string& path,
                           const std::string& header, const std::atomic<bool>& cancel,
                           const std::atomic<bool>& stop, size_t maxBytes, bool& cancelled) {
  cancelled = false;
  const int slot = AllocHRes(tag);
  if (slot == 0) return "ERR";
  std::string requestName;
  GetHttp(nullptr, 0, -1, slot, "GET", host, path, header, "", "", "", port, false, false, false,
          ChartTimeoutSeconds, LastHttpSlot, "***", false, false, 0, requestName);
  // Polling every 20 ms keeps a stalled fetch far below one percent of a core.
  const WaitResult r = WaitUntil([&] { return HResDone(slot) || stop.load(); }, &cancel,
                                 (ChartTimeoutSeconds + 5) * 1000, 20);
  std::string body;
  if (r == WaitResult::Done && !stop.load()) {
    GetHRes(slot, body);
  } else {
    cancelled = r == WaitResult::Cancelled || r == WaitResult::ShuttingDown || stop.load();
    if (!cancelled) body = "ERR";
  }
  CollectHttp(requestName, -1);
  FreeHRes(slot);
  if (body.size() > maxBytes) body = "ERR";
  return body;
}

THistThread::THistThread(char tag) : MaxBytes(MaxChartBytes), tag_(tag) { Name = "HistThread"; }

THistThread::~THistThread() { Shutdown(); }

void THistThread::Shutdown() {
  cancel_ = true;
  Stop(-1);
}

bool THistThread::Request(const std::string& host, int port, const std::string& path, const std::string& headers,
                          int& serial) {
  if (busy_.exchange(true)) return false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    host_ = host;
    port_ = port;
    path_ = path;
    headers_ = headers;
    serial = ++serial_;
  }
  cancel_ = false;
  Resume();
  return true;
}

bool THistThread::TakeResult(int serial, std::string& body, bool& cancelled) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (serial != resultSerial_) return false;
  body = std::move(result_);
  result_.clear();
  resultSerial_ = 0;
  cancelled = cancelled_;
  return true;
}

void THistThread::Execute() {
  while (WaitGate()) {
    Suspend();
    if (Terminated()) break;
    std::string host, path, headers;
    int port, serial;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      host = host_;
      path = path_;
      headers = headers_;
      port = port_;
      serial = serial_;
    }
    bool cancelled = false;
    std::string body = FetchChartPage(tag_, host, port, path, headers, cancel_, TerminateFlag(), MaxBytes, cancelled);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      result_ = std::move(body);
      resultSerial_ = serial;
      cancelled_ = cancelled || cancel_.load();
    }
    busy_ = false;
    if (Terminated()) break;
    if (OnDone) {
      auto done = OnDone;
      PostToMainThread([done, serial] { done(serial); });
    }
  }
  busy_ = false;
}
