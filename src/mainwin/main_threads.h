#pragma once
// The threads the main window owns: the chart pulse, the fetch worker and the index-strip
// scroll thread, and the bounded stop every one of them gets at shut-down.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/indices.h"
#include "core/sites.h"
#include "platform/datetime.h"
#include "core/thread_stop.h"
#include "platform/thread.h"

// How long shut-down waits for each thread before leaving it to finish on its own.
struct ShutdownBoundTable {
  int FetchMs = 12000;
  int ScrollMs = 48000;
  int OtherMs = 5000;
};
extern ShutdownBoundTable ShutdownBounds;

// When the collected data are saved during the session: at a refresh-timer tick once
// IntervalSecs have passed since the last save began, or at every EveryRefreshes-th tick.
struct DumpSaveBoundTable {
  int IntervalSecs = 600;
  int EveryRefreshes = 100;
};
extern DumpSaveBoundTable DumpSaveBounds;

// Counts the refresh-timer ticks and the time since the last save began (TickMs).
class DumpSaveSchedule {
public:
  explicit DumpSaveSchedule(int64_t startMs = 0) : last_(startMs) {}
  // One tick at nowMs: true when a save is due.
  bool Due(int64_t nowMs);
  // A save began at nowMs: the next interval counts from then.
  void Started(int64_t nowMs) { last_ = nowMs; }

private:
  int64_t last_;
  int64_t ticks_ = 0;
};

// A short-lived save of the collected data (SaveDumps) beside the window; the owner reads the
// outcome once it has finished. Terminate cancels it between records: it then writes nothing.
class DumpSaveThread : public Thread {
public:
  DumpSaveThread() { Name = "DumpSave"; }
  ~DumpSaveThread() override;
  // Read once Finished(): whether both files were written, and else why not (empty when it
  // was cancelled).
  bool Ok() const { return ok_; }
  const std::string& Why() const { return why_; }

protected:
  void Execute() override;

private:
  bool ok_ = false;
  std::string why_;
};


// The chart pulse: message 1263 (wParam 0) to every open chart window every 2 seconds.
class ChartThread : public Thread {
public:
  explicit ChartThread(std::function<void()> pulse, int periodMs = 2000);
  ~ChartThread() override;
  std::atomic<int> Pulses{0};

protected:
  void Execute() override;

private:
  std::function<void()> pulse_;
  int periodMs_;
};

// The groups of symbols one request each asks for: the comma list cut into groups of limit.
std::vector<std::string> GroupSymbols(std::string_view commaList, int limit);
// A request template with "##STOCKS##" replaced by the URL-encoded group.
std::string FillRequestTemplate(std::string_view tmpl, std::string_view group);
// Whether the site's active hours ("hh:mm-hh:mm", empty: always) and days (digits 1 Monday ..
// 7 Sunday, empty: every day) include the market time.
bool SiteActiveAt(const HTTPSite& site, TDateTime marketTime);
// Recomputes every portfolio's value, change, change percent, high and low from the symbol
// table, and records each value as a snapshot of the portfolio's identifier for its chart.
void RecomputePortfolios();

struct FetchOutcome {
  std::vector<std::string> Symbols;  // every symbol the pass asked for
  int Requests = 0;
  int Failed = 0;
  std::string FailStatus;  // the last failure's status ("ERR", ...)
  std::string Messages;    // the page scripts' messages
  bool Cancelled = false;
};

// The symbols one pass asks for: the portfolio's, then the index list's (whatever portfolio is
// shown, so the index strip fills), then those a report waits for; each once, in that order.
std::vector<std::string> PassSymbols(const std::string& portSymbols, const std::vector<std::string>& indexSymbols,
                                     const std::vector<std::string>& reportSymbols);

// The persistent fetch worker: parks on its gate, runs one pass over the current portfolio's
// symbols, the index list and the symbols a report waits for (pending list 8, emptied of what
// the pass asked for when it ends) when the main window resumes it, and hands the outcome to the
// main thread. When list 8 is not empty at the end of a pass, the next pass starts at once. A pass
// starts one request per group of the site's symbols-per-request count, up to
// MaxPassRequests at once, and collects them as they end; the pass as a whole is bounded by
// the request time-out.
class FetchThread : public Thread {
public:
  static constexpr size_t MaxPassRequests = 8;
  std::atomic<int> TimeoutSeconds{60};
  FetchThread();
  ~FetchThread() override;
  // Starts a pass for the portfolio identifier on the site; false while one is running.
  bool StartPass(std::shared_ptr<HTTPSite> site, std::string portId);
  bool Busy() const { return busy_.load(); }
  // Ends a running pass early (its requests are cancelled) and stops the thread.
  void Cancel();
  // A report stopped waiting: the pass that fetches the symbols it queued ends at once.
  void CancelReportPass() { reportCancel_ = true; }
  // Runs on the main thread after each pass.
  std::function<void(const FetchOutcome&)> OnDone;
  std::atomic<int> Passes{0};

protected:
  void Execute() override;

private:
  FetchOutcome RunPass(const std::shared_ptr<HTTPSite>& site, const std::string& portId);
  std::atomic<bool> busy_{false};
  std::atomic<bool> cancel_{false};
  std::atomic<bool> reportCancel_{false};
  std::mutex m_;
  std::shared_ptr<HTTPSite> site_;
  std::string portId_;
};

// The strip's text: each index's name (else symbol), value and change, the change with the
// value's decimals.
std::string IndexStripText(const std::vector<IndexSnapType>& indices);

// Steps the index strip: builds its text from IndexList and moves its scroll position; the
// strip paints from Snapshot() on its own timer.
class ScrollThread : public Thread {
public:
  struct State {
    std::string Text;
    int Offset = 0;
  };
  ~ScrollThread() override;
  State Snapshot();

protected:
  void Execute() override;

private:
  std::mutex m_;
  State state_;
};
