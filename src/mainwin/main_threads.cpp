#include "mainwin/main_threads.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>

#include "core/add_snap.h"
#include "core/dumps.h"
#include "core/indices.h"
#include "core/locks.h"
#include "core/log.h"
#include "core/market_clock.h"
#include "core/pending.h"
#include "core/portfolios.h"
#include "core/result_slots.h"
#include "core/symbols.h"
#include "core/text_helpers.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "retrieval/http_engine.h"
#include "retrieval/site_script.h"

ShutdownBoundTable ShutdownBounds;
DumpSaveBoundTable DumpSaveBounds;

bool DumpSaveSchedule::Due(int64_t nowMs) {
  ++ticks_;
  return (DumpSaveBounds.EveryRefreshes > 0 && ticks_ % DumpSaveBounds.EveryRefreshes == 0) ||
         nowMs - last_ >= int64_t{DumpSaveBounds.IntervalSecs} * 1000;
}

DumpSaveThread::~DumpSaveThread() { Stop(-1); }

void DumpSaveThread::Execute() { ok_ = SaveDumps(&why_, &TerminateFlag(), true); }

ChartThread::ChartThread(std::function<void()> pulse, int periodMs) : pulse_(std::move(pulse)), periodMs_(periodMs) {
  Name = "ChartThread";
}

// Each thread ends here, while its members still exist; the base destructor runs too late.
ChartThread::~ChartThread() { Stop(-1); }

void ChartThread::Execute() {
  while (Sleep(periodMs_)) {
    try {
      if (pulse_) pulse_();
      ++Pulses;
    } catch (const std::exception& ex) {
      WriteLog(std::string("ChartThread error: ") + ex.what());
    }
  }
}

std::vector<std::string> GroupSymbols(std::string_view commaList, int limit) {
  limit = std::max(1, limit);
  std::vector<std::string> groups;
  StringList syms;
  syms.SetCommaText(commaList);
  std::string cur;
  int n = 0;
  for (int i = 0; i < syms.Count(); ++i) {
    std::string s = Trim(syms[i]);
    if (s.empty()) continue;
    if (n == limit) {
      groups.push_back(cur);
      cur.clear();
      n = 0;
    }
    if (!cur.empty()) cur += ',';
    cur += s;
    ++n;
  }
  if (!cur.empty()) groups.push_back(cur);
  return groups;
}

std::string FillRequestTemplate(std::string_view tmpl, std::string_view group) {
  std::string out(tmpl);
  ReplaceAll(out, "##STOCKS##", UrlEncodeParam(group), true);
  return out;
}

namespace {
bool ReadHourMinute(std::string_view t, int& minutes) {
  size_t colon = t.find(':');
  if (colon == std::string_view::npos) return false;
  int h = 0, m = 0;
  auto a = std::from_chars(t.data(), t.data() + colon, h);
  auto b = std::from_chars(t.data() + colon + 1, t.data() + t.size(), m);
  if (a.ec != std::errc() || b.ec != std::errc() || h < 0 || h > 24 || m < 0 || m > 59) return false;
  minutes = h * 60 + m;
  return true;
}
}  // namespace

bool SiteActiveAt(const HTTPSite& site, TDateTime marketTime) {
  if (!site.ActiveDays.empty()) {
    // DayOfWeek: 1 Sunday .. 7 Saturday; the site's digits: 1 Monday .. 7 Sunday.
    int dow = DayOfWeek(marketTime);
    char digit = static_cast<char>('0' + (dow == 1 ? 7 : dow - 1));
    if (site.ActiveDays.find(digit) == std::string::npos) return false;
  }
  if (site.ActiveHours.empty()) return true;
  std::string hours = Trim(site.ActiveHours);
  size_t dash = hours.find('-');
  int from = 0, to = 0;
  if (dash == std::string::npos || !ReadHourMinute(Trim(hours.substr(0, dash)), from) ||
      !ReadHourMinute(Trim(hours.substr(dash + 1)), to))
    return true;  // unreadable hours do not stop the refresh
  const int now = static_cast<int>(std::floor(TimePart(marketTime) * 1440.0 + 1e-6));
  return from <= to ? now >= from && now <= to : now >= from || now <= to;
}

void RecomputePortfolios() {
  struct Work {
    std::string Id;
    std::vector<std::pair<std::string, double>> Holdings;
    double Value = 0, Change = 0;
  };
  std::vector<Work> work;
  {
    LockHold hold(PortLock, "RECALC");
    if (!hold) return;
    for (const PortType& p : PortList) {
      Work w;
      w.Id = p.Id;
      for (const PortRowRec& r : p.Rows)
        if (!IsDashesOnly(r.Symbol) && r.Shares != 0) w.Holdings.emplace_back(r.Symbol, r.Shares);
      work.push_back(std::move(w));
    }
  }
  {
    LockHold hold(AddSnapLock, "RECALC");
    if (!hold) return;
    for (Work& w : work)
      for (const auto& [sym, shares] : w.Holdings) {
        StockQuote q;
        if (GetStockQuote(sym, q) < 0 && !SameText(sym, "$CASH")) continue;
        // As the grid shows them.
        w.Value += HoldingValue(shares, q.Last);
        w.Change += HoldingValue(shares, q.Change);
      }
  }
  {
    LockHold hold(PortLock, "RECALC");
    if (!hold) return;
    for (size_t i = 0; i < work.size() && i < PortList.size(); ++i) {
      PortType& p = PortList[i];
      if (p.Id != work[i].Id) continue;  // the list changed meanwhile
      p.Value = work[i].Value;
      p.Change = work[i].Change;
      const double base = p.Value - p.Change;
      p.ChangePercent = base != 0 ? p.Change / base * 100.0 : 0;
      if (p.High == 0 || p.Value > p.High) p.High = p.Value;
      if (p.Low == 0 || p.Value < p.Low) p.Low = p.Value;
    }
  }
  const TDateTime now = MarketNow();
  for (const Work& w : work) {
    if (w.Holdings.empty() || w.Id.empty()) continue;
    SnapData s;
    s.Symbol = w.Id;
    s.Last = static_cast<float>(w.Value);
    s.PrevClose = static_cast<float>(w.Value - w.Change);
    s.MarketDate = now;
    s.QuoteTime = now;
    AddSnap(s);
  }
}

FetchThread::FetchThread() { Name = "FetchThread"; }

bool FetchThread::StartPass(std::shared_ptr<HTTPSite> site, std::string portId) {
  if (!site || busy_.exchange(true)) return false;
  {
    std::lock_guard lock(m_);
    site_ = std::move(site);
    portId_ = std::move(portId);
  }
  Resume();
  return true;
}

FetchThread::~FetchThread() {
  Cancel();
  WaitFor(-1);
}

void FetchThread::Cancel() {
  cancel_ = true;
  Terminate();
}

void FetchThread::Execute() {
  while (WaitGate()) {
    std::shared_ptr<HTTPSite> site;
    std::string portId;
    {
      std::lock_guard lock(m_);
      site = site_;
      portId = portId_;
    }
    FetchOutcome outcome;
    try {
      outcome = RunPass(site, portId);
    } catch (const std::exception& ex) {
      WriteLog(std::string("FetchThread error: ") + ex.what());
    }
    ++Passes;
    if (OnDone && !Terminated()) Synchronize([&] { OnDone(outcome); });
    Suspend();
    busy_ = false;
    // A report queued symbols meanwhile: they are fetched now, not at the next refresh. Taking
    // busy_ again keeps a StartPass made at this moment from being lost.
    if (!Terminated() && !PendingListEmpty(ReportPendingList) && !busy_.exchange(true)) Resume();
  }
  busy_ = false;
}

namespace {
bool IsFailStatus(const std::string& page) {
  return page == "ERR" || page == "CFAIL" || page == "SERVERDOWN" || page == "BADPASS";
}
}  // namespace

std::vector<std::string> PassSymbols(const std::string& portSymbols, const std::vector<std::string>& indexSymbols,
                                     const std::vector<std::string>& reportSymbols) {
  std::vector<std::string> out;
  StringList port;
  port.SetCommaText(portSymbols);
  for (int i = 0; i < port.Count(); ++i)
    if (std::string s = Trim(port[i]); !s.empty()) AddUniqueSymbol(out, s);
  for (const auto* list : {&indexSymbols, &reportSymbols})
    for (const std::string& s : *list)
      if (!Trim(s).empty()) AddUniqueSymbol(out, Trim(s));
  return out;
}

FetchOutcome FetchThread::RunPass(const std::shared_ptr<HTTPSite>& site, const std::string& portId) {
  FetchOutcome out;
  // Cleared before the look at the report's symbols: a cancel after it ends this pass.
  reportCancel_ = false;
  // Whatever becomes of the pass, a report never waits for these again.
  const std::vector<std::string> reportSymbols = PeekPendingSymbols(ReportPendingList);
  const bool forReport = !reportSymbols.empty();
  auto stopped = [&] { return cancel_ || (forReport && reportCancel_); };
  struct Unqueue {
    const std::vector<std::string>& Symbols;
    ~Unqueue() { RemovePendingSymbols(ReportPendingList, Symbols); }
  } unqueue{reportSymbols};
  if (!site) return out;
  std::string portSymbols;
  GetPortSymbols(portId, portSymbols, true);
  std::vector<std::string> reportAsks = reportSymbols;
  {
    // A portfolio's identifier shows the portfolio's own snapshots: never asked of the site.
    LockHold hold(PortLock, "REFRESH");
    if (hold) std::erase_if(reportAsks, [](const std::string& s) { return IsPortfolioIdLocked(s); });
    else reportAsks.clear();
  }
  out.Symbols = PassSymbols(portSymbols, IndexSymbolsToFetch(), reportAsks);
  std::string symbols;
  for (const std::string& s : out.Symbols) symbols += (symbols.empty() ? "" : ",") + s;
  struct Job {
    std::string Group;
    const SiteRequest* Req = nullptr;
    int Slot = 0;
    std::string Name;
  };
  std::vector<Job> jobs;
  for (const std::string& group : GroupSymbols(symbols, site->SymbolLimit))
    for (const SiteRequest& req : site->Requests) jobs.push_back({group, &req, 0, {}});

  const int timeoutSeconds = std::max(1, TimeoutSeconds.load());
  // The whole pass gets the site's time-out (and a second to collect), however many groups.
  const int64_t deadline = TickMs() + timeoutSeconds * 1000 + 1000;
  std::vector<Job*> running;
  auto fail = [&out](const std::string& status) {
    ++out.Failed;
    out.FailStatus = status;
  };
  auto start = [&](Job& job) {
    job.Slot = AllocHRes('F');
    if (!job.Slot) {
      fail("ERR");
      return;
    }
    int requestSlot = 0;
    const std::string path = FillRequestTemplate(job.Req->Path, job.Group);
    const std::string data = FillRequestTemplate(job.Req->PostData, job.Group);
    const bool post = SameText(site->Method, "POST") || !data.empty();
    GetHttp(site, 0, 0, job.Slot, post ? "POST" : "GET", site->Host, path,
            post ? "Content-Type: application/x-www-form-urlencoded" : "", data, "", "", site->Port, false, false,
            false, timeoutSeconds, requestSlot, site->UserAgent.empty() ? "***" : site->UserAgent, false, false, 0,
            job.Name);
    ++out.Requests;
    running.push_back(&job);
  };
  // Ends the request (by force when it still runs) and hands its page on; nullopt: no page.
  auto collect = [&](Job& job) -> std::optional<std::string> {
    CollectHttp(job.Name, -1);
    const bool done = HResDone(job.Slot);
    std::string page = GetHRes(job.Slot);
    FreeHRes(job.Slot);
    if (!done) return std::nullopt;
    return page;
  };
  auto process = [&](Job& job, const std::string& page) {
    if (IsFailStatus(page)) {
      fail(page);
      return;
    }
    StringList list;
    list.SetCommaText(job.Group);
    TDateTime quoteTime = 0;
    std::string extra, status;
    RunSiteScript(*site, &list, page, quoteTime, extra, &cancel_, status);
    // Each group's page tends to carry the same notice; it is shown once.
    if (!extra.empty() && out.Messages.find(extra) == std::string::npos) out.Messages += extra;
    if (status != "OK") fail(status);
  };

  size_t next = 0;
  while (next < jobs.size() || !running.empty()) {
    if (stopped() || Terminated() || ShuttingDown) {
      // All at once, not each after the grace a collect gives a request.
      for (Job* job : running) AbortHttp(job->Name);
      for (Job* job : running) collect(*job);
      out.Cancelled = true;
      return out;
    }
    const int64_t now = TickMs();
    if (next < jobs.size() && now >= deadline) {
      // Not started within the pass's time: failed, so the report says so.
      for (; next < jobs.size(); ++next) fail("ERR");
    }
    if (next < jobs.size() && running.size() < MaxPassRequests) {
      start(jobs[next++]);
      continue;
    }
    if (running.empty()) continue;
    const int left = static_cast<int>(std::max<int64_t>(0, deadline - now));
    const WaitResult waited = WaitUntil(
        [&] {
          if (stopped()) return true;
          for (const Job* job : running)
            if (HResDone(job->Slot)) return true;
          return false;
        },
        &cancel_, left, 2);
    if (waited == WaitResult::Cancelled || waited == WaitResult::ShuttingDown) continue;
    const bool timedOut = waited == WaitResult::TimedOut;
    for (auto it = running.begin(); it != running.end();) {
      Job& job = **it;
      if (!timedOut && !HResDone(job.Slot)) {
        ++it;
        continue;
      }
      it = running.erase(it);
      if (std::optional<std::string> page = collect(job)) process(job, *page);
      else fail("ERR");
      if (stopped()) break;
    }
  }
  RecomputePortfolios();
  return out;
}

std::string IndexStripText(const std::vector<IndexSnapType>& indices) {
  std::string text;
  for (const IndexSnapType& ix : indices) {
    if (!text.empty()) text += "   ";
    text += ix.Name.empty() ? ix.Symbol : ix.Name;
    text += " " + FormatPrice(ix.Value) + " (" + (ix.Change > 0 ? "+" : "") + FormatPriceLike(ix.Change, ix.Value) + ")";
  }
  return text;
}

ScrollThread::State ScrollThread::Snapshot() {
  std::lock_guard lock(m_);
  return state_;
}

ScrollThread::~ScrollThread() { Stop(-1); }

void ScrollThread::Execute() {
  int tick = 0;
  unsigned seen = IndexListVersion.load() - 1;
  while (Sleep(50)) {
    std::string text;
    bool rebuilt = false;
    // At once when the list changed, so the strip shows what the grid shows; else each second.
    const unsigned version = IndexListVersion.load();
    if (tick++ % 20 == 0 || version != seen) {
      LockHold hold(IdxListLock, "SCROLL", true);
      if (hold) {
        rebuilt = true;
        seen = version;
        text = IndexStripText(IndexList);
      }
    }
    std::lock_guard lock(m_);
    if (rebuilt) state_.Text = text;
    state_.Offset = state_.Text.empty() ? 0 : (state_.Offset + 2) % (static_cast<int>(state_.Text.size()) * 8 + 200);
  }
}
