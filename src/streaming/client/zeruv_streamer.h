#pragma once
// TZeruvStreamer: one streaming object. It loads a streaming site file, checks the login,
// spreads the symbols over up to 12 TStreamer threads, and each thread keeps one streaming
// request open and dispatches its records: quotes to AddSnap, book fields to the window.
// Every state change goes to the window as the "VNCallback" message (CallbackMsg).
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "core/sites.h"
#include "platform/thread.h"
#include "streaming/client/book_model.h"
#include "streaming/client/http_streamer.h"
#include "streaming/client/stream_symbols.h"

class QObject;
class TZeruvStreamer;

// Notice colours (lParam of "VNCallback" with a thread number in wParam).
namespace StreamNotice {
constexpr intptr_t Started = 32768;
constexpr intptr_t LoggingIn = 65535;
constexpr intptr_t Data = 65280;
constexpr intptr_t Stopped = 255;
constexpr intptr_t Message = 16777215;
constexpr intptr_t Ended = 8421504;
}  // namespace StreamNotice

// wParam of the notice that a whole book snapshot waits in the streamer (TakeBookSnapshot).
constexpr intptr_t BookSnapshotNotice = 83;

// Bounds of the streaming threads, in milliseconds (tests shorten them).
struct StreamerTimingTable {
  int SuspendedRetryMs = 10000;  // a stopped thread is woken again after this
  int StallMs = 30000;           // no record for this long while receiving: reconnect
  int RequestTimeoutSeconds = 60;
  int LoginCheckMs = 65000;
  int StartRetryMs = 60000;  // the main window tries a start that got no answer again after this
  int StopBoundMs = 5000;
};
extern StreamerTimingTable StreamerTiming;

class TStreamer : public Thread {
public:
  // asked: the symbols of the streamer's Start, the only ones whose quotes are taken.
  TStreamer(TZeruvStreamer* streamer, int number, const std::string& symbols,
            std::shared_ptr<const AskedStreamSymbols> asked);
  ~TStreamer() override;

  // Releases the queue's readers, ends the request and joins the thread.
  void StopThread();

  const int number;
  const std::string symbols;
  THTTPStreamer queue;

  std::atomic<bool> reconnect{true};
  std::atomic<bool> stopRequest{false};
  std::atomic<bool> messageRetry{false};
  std::atomic<bool> idle{true};
  std::atomic<bool> receiving{false};
  std::atomic<bool> parked{false};     // stopped, waiting for CheckTimeouts or Stop
  std::atomic<int64_t> lastData{0};    // tick of the last record
  std::atomic<int64_t> suspendedAt{0};  // tick when it stopped itself
  std::atomic<int> retries{0};
  std::atomic<int64_t> records{0};

  std::string Message() const;
  // One field of a whole book record, as the support library hands them over.
  void BookField(int code, int32_t value);

protected:
  void Execute() override;

private:
  void Pass(int& mark);
  void EndRequest();
  void StartRequest();
  void RequestEnded();
  // False when the record was cut short: its bytes, and all after them, are no records.
  bool HandleRecord(const std::string& kind);
  void RecordCut();
  void HandleFatal(const std::string& text);
  void Post(intptr_t wParam, intptr_t lParam);
  void PostData();
  void Activity();
  void SetMessage(const std::string& text);

  TZeruvStreamer* streamer_;
  const std::shared_ptr<const AskedStreamSymbols> asked_;
  int resultSlot_ = 0;
  std::string requestName_;
  intptr_t lastNotice_ = -1;
  BookModel book_;  // the book snapshot being gathered, handed over whole at its end
  mutable std::mutex messageMutex_;
  std::string message_;
};

class TZeruvStreamer {
public:
  TZeruvStreamer();
  ~TZeruvStreamer();
  TZeruvStreamer(const TZeruvStreamer&) = delete;
  TZeruvStreamer& operator=(const TZeruvStreamer&) = delete;

  // Loads the streaming site file from the program folder (stopping first). False when it
  // could not be loaded or names no usable channels.
  bool LoadSite(const std::string& fileName);
  std::string loadError;  // why the last LoadSite failed
  // Starts streaming the "+"-separated symbols; false when nothing streams. It may wait for the
  // login check with events processed: an owner that can go meanwhile holds the streamer by a
  // shared pointer across the call. A Start made while a login check runs (busy) returns false
  // at once, as a second wait cannot run inside the first; the running Start then begins again
  // with the newest symbols and login once its check has ended, unless Stop came after it.
  bool Start(const std::string& symbols);
  // Stops every thread (and a login check under way) and posts (0, 1).
  void Stop();
  // From the owner's timer: wakes stopped threads after 10 s, reconnects stalled ones.
  void CheckTimeouts();
  int FindSymbolThread(const std::string& symbol) const;
  void RestartSymbol(const std::string& symbol);

  // The window that receives the notices (set by the owner; posted to, never sent).
  std::atomic<QObject*> window{nullptr};
  std::atomic<bool> badPassword{false};
  std::atomic<bool> cancelLogin{false};
  std::atomic<bool> restart{false};
  std::atomic<bool> startAgain{false};  // a Start came while the login check ran
  std::string lastSymbols;
  const std::string displayName = "Rededuva Revuror v1.9.9.3";
  bool busy = false;  // a Start waits for its login check

  int ThreadCount() const { return threadCount_; }
  TStreamer* ThreadAt(int number) const;  // 1 .. ThreadCount
  const ChannelTable& Channels() const { return channels_; }
  std::shared_ptr<HTTPSite> Site() const { return site_; }
  // The login name and password copied at Start (the login dialog may change the site's).
  std::string LoginName() const { return loginName_; }
  std::string LoginPassword() const { return loginPassword_; }
  // Records handled by every thread since Start.
  int64_t RecordCount() const;

  // A thread hands over a whole book snapshot; it replaces one the window has not yet taken,
  // and the window is told once until it takes it. So the threads never wait for the window
  // and a window that falls behind costs one snapshot, not a queue of fields.
  void PutBookSnapshot(const BookModel& book);
  // The newest snapshot not yet taken (main thread).
  std::optional<BookModel> TakeBookSnapshot();

private:
  bool StartOnce(const std::string& symbols);
  void StopThreads();

  std::shared_ptr<HTTPSite> site_;
  ChannelTable channels_;
  std::array<std::unique_ptr<TStreamer>, MaxStreamThreads + 1> threads_;
  int threadCount_ = 0;
  std::string loginName_, loginPassword_;
  std::mutex bookMutex_;
  std::optional<BookModel> bookSnapshot_;  // under bookMutex_
  bool bookNotified_ = false;              // under bookMutex_: a notice is on its way
};

// Every streaming object of the program (under StreamerListMutex).
extern std::mutex StreamerListMutex;
// Stops every streaming object, remembering which ran, and unloads the library; Resume starts
// those again. Used while the program replaces its own files.
void SuspendAllStreamers();
void ResumeAllStreamers();
