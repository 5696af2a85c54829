#pragma once
// The fetch thread of a historical chart window: one GET at a time through the request
// engine, the body handed back on the main thread. Owned by its window, parked between
// requests, stopped by its flag and joined; it never frees itself.
#include <atomic>
#include <functional>
#include <mutex>
#include <string>

#include "platform/thread.h"

// One GET on the calling worker thread. The body, or "ERR" when the request failed or the
// body is larger than maxBytes; empty with cancelled set when cancel (or stop) ended it.
std::string FetchChartPage(char tag, const std::string& host, int port, const std::string& path,
                           const std::string& header, const std::atomic<bool>& cancel,
                           const std::atomic<bool>& stop, size_t maxBytes, bool& cancelled);

class THistThread : public Thread {
public:
  // tag: the result slots' tag ('#' site 1, '$' site 2).
  explicit THistThread(char tag);
  ~THistThread() override;

  // Runs on the main thread after each request, with the request's number. Set before Start.
  std::function<void(int serial)> OnDone;

  // Starts a request; false (nothing started) while one runs. Returns its number in serial.
  bool Request(const std::string& host, int port, const std::string& path, const std::string& headers,
               int& serial);
  bool Busy() const { return busy_.load(); }
  // Ends the running request's wait at once; its result then reads as cancelled.
  void Cancel() { cancel_ = true; }
  // The body of request serial ("ERR" on failure) and whether it was cancelled; false when
  // the thread holds another request's result (a later one already ran).
  bool TakeResult(int serial, std::string& body, bool& cancelled);
  // Cancel, Terminate and join (the request is ended by force).
  void Shutdown();

  size_t MaxBytes;

protected:
  void Execute() override;

private:
  const char tag_;
  std::mutex mutex_;
  std::string host_, path_, headers_, result_;
  int port_ = 80;
  int serial_ = 0;
  int resultSerial_ = 0;
  bool cancelled_ = false;
  std::atomic<bool> busy_{false};
  std::atomic<bool> cancel_{false};
};
