#include "streaming/client/zeruv_streamer.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/add_snap.h"
#include "core/log.h"
#include "core/market_clock.h"
#include "core/pending.h"
#include "core/program_state.h"
#include "core/result_slots.h"
#include "core/settings_file.h"
#include "core/text_helpers.h"
#include "platform/clock.h"
#include "retrieval/http_engine.h"
#include "retrieval/site_files.h"
#include "platform/log_limiter.h"
#include "streaming/client/streamer_dll.h"
#include "streaming/client/streamer_messages.h"
#include "streaming/net/net_log.h"

StreamerTimingTable StreamerTiming;
std::mutex StreamerListMutex;

namespace {

std::vector<TZeruvStreamer*> streamerList;  // under StreamerListMutex
bool suspended = false;                     // main thread

void Log(const std::string& line) {
  if (LogOn) WriteLog(line);
}

// Lines each record of a stream could bring.
LogLimiter recordLog(Log);

// Texts of the service go into the log as one line without control characters.
std::string Outside(std::string_view text) { return vn::net::LogLineText(text); }

void ToBook(void* thread, int, intptr_t code, intptr_t value) {
  static_cast<TStreamer*>(thread)->BookField(static_cast<int>(code), static_cast<int32_t>(value));
}

// The site's "|"-separated header lines as the request engine takes them.
std::string HeaderLines(const std::string& list) {
  std::string out = list;
  ReplaceAll(out, "|", "\r\n", false);
  return Trim(out);
}

std::string FirstServer(const std::string& servers) { return Trim(servers.substr(0, servers.find('|'))); }

}  // namespace

// ---- TStreamer ----

TStreamer::TStreamer(TZeruvStreamer* streamer, int number_, const std::string& symbols_,
                     std::shared_ptr<const AskedStreamSymbols> asked)
    : number(number_),
      symbols(symbols_),
      queue("DK " + std::to_string(number_)),
      streamer_(streamer),
      asked_(std::move(asked)) {
  Name = "Streamer " + std::to_string(number_);
}

TStreamer::~TStreamer() { StopThread(); }

void TStreamer::StopThread() {
  if (!Started() || Finished()) {
    if (Started()) WaitFor(-1);
    return;
  }
  queue.SetTerminated(true);
  Terminate();
  if (!WaitFor(StreamerTiming.StopBoundMs)) {
    // It reads only its own queue and ends its request within a bounded time; the streamer it
    // points at must outlive it, so it is joined rather than left behind.
    WriteLog(Name + " did not end within " + std::to_string(StreamerTiming.StopBoundMs) + " ms");
    WaitFor(-1);
  }
}

std::string TStreamer::Message() const {
  std::lock_guard lock(messageMutex_);
  return message_;
}

void TStreamer::SetMessage(const std::string& text) {
  std::lock_guard lock(messageMutex_);
  message_ = text;
}

void TStreamer::Post(intptr_t wParam, intptr_t lParam) {
  if (wParam == number) lastNotice_ = lParam;
  QObject* w = streamer_->window.load();
  if (w && CallbackMsg) PostWindowMessage(w, CallbackMsg, wParam, lParam);
}

void TStreamer::PostData() {
  if (lastNotice_ != StreamNotice::Data) Post(number, StreamNotice::Data);
}

void TStreamer::Activity() {
  receiving = true;
  lastData = TickMs();
  StreamActivity = 15;
}

void TStreamer::Execute() {
  Post(number, StreamNotice::Started);
  int mark = 0;
  while (!Terminated()) {
    try {
      Pass(mark);
    } catch (const std::exception& e) {
      WriteLog("Streamer error: Mark " + std::to_string(mark) + " " + e.what());
      Sleep(2);
    }
  }
  EndRequest();
  Post(number, StreamNotice::Ended);
}

void TStreamer::EndRequest() {
  if (!requestName_.empty()) {
    queue.SetTerminated(true);  // a writer waiting for room gives up
    CollectHttp(requestName_, -1);
    requestName_.clear();
  }
  if (resultSlot_) FreeHRes(resultSlot_);
  resultSlot_ = 0;
  queue.SetEndProbe({});
}

void TStreamer::StartRequest() {
  idle = false;
  Post(number, StreamNotice::LoggingIn);
  EndRequest();
  reconnect = false;
  receiving = false;
  std::shared_ptr<HTTPSite> site = streamer_->Site();
  if (!site || site->Requests.empty()) {
    WriteLog("Streamer " + std::to_string(number) + ": the site has no request");
    idle = true;
    stopRequest = true;
    return;
  }
  resultSlot_ = AllocHRes('W');
  if (!resultSlot_) {
    stopRequest = true;
    return;
  }
  queue.Clear();
  queue.SetTerminated(false);
  const int slot = resultSlot_;
  queue.SetEndProbe([slot] { return HResDone(slot); });
  std::string path = site->Requests[0].Path, post = site->Requests[0].PostData;
  const std::string name = UrlEncodeParam(streamer_->LoginName());
  const std::string pwd = StreamerSHAEncode(streamer_->LoginPassword());
  // Each symbol URL-encoded, so that none can add to the query; "+" still separates them.
  std::string stocks;
  for (const std::string& s : CleanStreamSymbols(symbols)) stocks += (stocks.empty() ? "" : "+") + UrlEncodeParam(s);
  for (std::string* t : {&path, &post}) {
    ReplaceAll(*t, "##NAME##", name, false);
    ReplaceAll(*t, "##CRYPTPWD##", pwd, false);
    ReplaceAll(*t, "##STOCKS##", stocks, false);
  }
  const std::string host = site->Host.empty() ? FirstServer(site->Servers) : site->Host;
  int slotOut = 0;
  GetHttp(site, 0, -1, slot, site->Method, host, path, HeaderLines(site->ExtraHeaders), post, "", "", site->Port,
          false, false, false, StreamerTiming.RequestTimeoutSeconds, slotOut, "***", false, false, 0, requestName_,
          &queue);
  lastData = TickMs();
}

void TStreamer::RequestEnded() {
  const std::string status = GetHRes(resultSlot_);
  Log((messageRetry ? "MESS RETRY FOR STREAMER: " : "BAD HRES FOR STREAMER: ") + status);
  messageRetry = false;
  EndRequest();
  receiving = false;
  if (++retries >= 4) stopRequest = true;
  else reconnect = true;
  Post(number, StreamNotice::Stopped);
}

void TStreamer::Pass(int& mark) {
  if (stopRequest) {
    mark = 1;
    EndRequest();
    receiving = false;
    Post(number, StreamNotice::Stopped);
    stopRequest = false;
    suspendedAt = TickMs();
    Suspend();
    parked = true;
    WaitGate(-1);  // opened by CheckTimeouts, or ended by Stop
    parked = false;
    if (Terminated()) return;
    retries = 0;
    reconnect = true;
    return;
  }
  if (reconnect) {
    mark = 2;
    StartRequest();
    return;
  }
  mark = 3;
  const ChannelTable& channels = streamer_->Channels();
  const size_t len = static_cast<size_t>(channels.CodeLength);
  std::string code(len, '\0');
  if (len && queue.Read(code.data(), len)) {
    mark = 4;
    if (!HandleRecord(channels.KindOf(code))) {
      RecordCut();
      return;
    }
    queue.SetTerminated(false);
    return;
  }
  // No code yet: sleep on the queue until bytes come, the request ends or the thread is told.
  mark = 5;
  if (len && queue.WaitForBytes(len, 1000)) return;
  if (Terminated() || reconnect || stopRequest) return;
  if (resultSlot_ && HResDone(resultSlot_)) {
    RequestEnded();
    return;
  }
  if (!len || queue.Terminated() || !resultSlot_) Sleep(2);  // nothing to wait on: do not spin
}

void TStreamer::RecordCut() {
  // Where a record gave up, the next bytes are the middle of it: nothing more of this
  // connection is read, and it is ended and opened again as after a drop.
  queue.Clear();
  book_.Clear();
  if (Terminated() || reconnect || stopRequest) return;  // a stop, stall or restart is under way
  Log("Record cut short on streamer " + std::to_string(number) + "; the connection is dropped");
  RequestEnded();
}

void TStreamer::BookField(int code, int32_t value) {
  if (code == 1) return;  // status colours are the thread's own notices
  if (book_.Field(code, value) == BookModel::Change::Complete) streamer_->PutBookSnapshot(book_);
}

bool TStreamer::HandleRecord(const std::string& kind) {
  ++records;
  const RirudidReader reader = QueueReader(queue);
  const StreamerDllCalls& dll = StreamerDll();
  if (kind == "STOCKINFO") {
    RirudidQuote q;
    const int r = dll.ReadVals ? dll.ReadVals(&reader, &q) : RIRUDID_CUT;
    if (r == RIRUDID_CUT) return false;
    if (r != RIRUDID_OK) {
      recordLog.Line("Bad quote records", "Bad quote record on streamer " + std::to_string(number));
      return true;
    }
    Activity();
    PostData();
    if (!IsStreamSymbol(q.Symbol)) {
      recordLog.Line("Dropped quotes",
                     "Streamer " + std::to_string(number) + ": quote for the symbol \"" + Outside(q.Symbol) + "\" dropped");
      return true;
    }
    // A record for a symbol nobody asked for would become a symbol of its own (a second
    // "$DJI " beside "$DJI" in the index strip, lists, news rounds).
    if (!asked_ || !asked_->Has(q.Symbol)) {
      recordLog.Line("Unasked quotes", "Streamer " + std::to_string(number) + ": quote for the symbol \"" +
                                           Outside(q.Symbol) + "\" that was not asked for dropped");
      return true;
    }
    std::shared_ptr<HTTPSite> site = streamer_->Site();
    const TDateTime now = MarketNow();
    SnapData s;
    s.Symbol = q.Symbol;
    s.TickMark = q.TickMark;
    s.Bid = static_cast<float>(q.Bid);
    s.Ask = static_cast<float>(q.Ask);
    s.Last = static_cast<float>(q.Last);
    s.Open = static_cast<float>(q.Open);
    s.Low = static_cast<float>(q.Low);
    s.High = static_cast<float>(q.High);
    s.PrevClose = static_cast<float>(q.PrevClose);
    s.Volume = static_cast<float>(q.Volume);
    s.LastSize = q.LastSize;
    s.BidSize = q.BidSize;
    s.AskSize = q.AskSize;
    s.MarketDate = std::floor(now);
    s.QuoteTime = site && site->TimeStamp ? now - std::floor(now) : q.QuoteTime;
    if (AddSnap(s) >= 0) AddPendingSymbol(1, q.Symbol);
  } else if (kind == "ISLANDINFO") {
    // The fields gather into the snapshot; a record that did not arrive whole posts none, and
    // one the library refused was not consumed: either way the rest is no records.
    if (!dll.ReadIslandVal || dll.ReadIslandVal(&reader, CallbackMsg, this, ToBook) != RIRUDID_OK) return false;
    Activity();
  } else if (kind == "HEARTBEAT") {
    Activity();
    PostData();
  } else if (kind == "IHEARTBEAT") {
    int32_t n = 0;
    if (!queue.ReadInt24(n)) return false;
    Activity();
    // Posted on the change only: a flood of heartbeats must not flood the window. Each
    // snapshot handed over then pulses the book's light.
    PostData();
    book_.Field(2, n);
  } else if (kind == "INOTFOUMD") {
    receiving = false;
    stopRequest = true;
    idle = true;
  } else if (kind == "FATALMESS") {
    receiving = false;
    std::string text;
    if (!queue.ReadWordStr(text)) return false;
    HandleFatal(text);
  } else if (kind == "MESSAGE") {
    uint8_t b;
    std::string a, c;
    if (!queue.ReadByte(b) || !queue.ReadShortStr(a) || !queue.ReadShortStr(c)) return false;
    Post(number, StreamNotice::Message);
    recordLog.Line("Streamer messages", "Streamer Message: " + Outside(a) + " " + Outside(c));
    const std::string joined = a + "\r\n\r\n" + c;
    if (!Trim(joined).empty()) SetMessage(joined);
  } else if (kind == "PROPERTIES") {
    std::string text;
    if (!queue.ReadWordStr(text)) return false;
    recordLog.Line("Property lists", "PROPERTY LIST: " + Outside(text));
  }
  // Any other code is skipped after the code itself.
  return true;
}

void TStreamer::HandleFatal(const std::string& text) {
  Log("Streamer Fatal Message: " + Outside(text));
  const std::string upper = UpperCase(text);
  if (upper.find("PASSWORD") != std::string::npos) {
    // Retrying a refused password cannot help: the owner asks the user again.
    streamer_->badPassword = true;
    stopRequest = true;
    idle = true;
    SetMessage(text);
  } else if (upper.find("TEMPORAR") != std::string::npos && upper.find("UNAVAILABLE") != std::string::npos) {
    SetMessage(text);
    if (retries >= 3) {
      idle = true;
      stopRequest = true;
    } else {
      messageRetry = true;
    }
  } else {
    SetMessage(text);
    stopRequest = true;
    idle = true;
  }
}

// ---- TZeruvStreamer ----

TZeruvStreamer::TZeruvStreamer() {
  std::lock_guard lock(StreamerListMutex);
  streamerList.push_back(this);
}

TZeruvStreamer::~TZeruvStreamer() {
  Stop();
  std::lock_guard lock(StreamerListMutex);
  std::erase(streamerList, this);
}

TStreamer* TZeruvStreamer::ThreadAt(int n) const {
  return n >= 1 && n <= threadCount_ ? threads_[static_cast<size_t>(n)].get() : nullptr;
}

int64_t TZeruvStreamer::RecordCount() const {
  int64_t n = 0;
  for (int i = 1; i <= threadCount_; ++i) n += threads_[static_cast<size_t>(i)]->records;
  return n;
}

bool TZeruvStreamer::LoadSite(const std::string& fileName) {
  Stop();
  if (!StreamerDllLoaded() && !LoadStreamerDll())
    ShowStreamerMessage("A support file (RIRUDID.DLL) cannot be found. Cannot receive streaming quotes without it.",
                        "LoadDLL Error");
  auto site = std::make_shared<HTTPSite>();
  std::string error;
  LoadSiteFile(fileName, *site, nullptr, error);
  loadError.clear();
  if (!error.empty()) {
    WriteLog("Streaming site " + fileName + ": " + error);
    loadError = error;
    site_.reset();
    channels_ = {};
    return false;
  }
  if (site->UserAgent.empty()) site->UserAgent = displayName;
  channels_ = ParseChannelList(site->Channels);
  site_ = std::move(site);
  if (!channels_.CodeLength) {
    WriteLog("Streaming site " + fileName + " has no usable channel list");
    loadError = "it has no usable channel list";
    return false;
  }
  return true;
}

bool TZeruvStreamer::Start(const std::string& symbols) {
  lastSymbols = symbols;
  if (suspended) {
    restart = true;
    return false;
  }
  if (!StreamerDllLoaded() || !site_ || !channels_.CodeLength) return false;
  if (busy) {
    // The Start whose login check runs further down this stack begins again with these
    // symbols once the check has ended.
    startAgain = true;
    return false;
  }
  busy = true;
  bool started = false;
  do {
    startAgain = false;
    cancelLogin = false;
    const std::string newest = lastSymbols;
    started = StartOnce(newest);
  } while (startAgain && !ShuttingDown);
  busy = false;
  return started;
}

bool TZeruvStreamer::StartOnce(const std::string& symbols) {
  StopThreads();

  // The name and password are taken now: the login dialog may change the site's meanwhile.
  if (CurSite) {
    loginName_ = CurSite->EnteredLogin;
    loginPassword_ = CurSite->EnteredPassword;
  } else {
    loginName_ = site_->EnteredLogin;
    loginPassword_ = site_->EnteredPassword;
  }
  std::string answer = "OK";
  if (!site_->LoginScript.Empty()) {
    site_->EnteredLogin = loginName_;
    site_->EnteredPassword = loginPassword_;
    const int slot = AllocHRes('8');
    if (!slot) return false;
    int slotOut = 0;
    std::string request;
    GetHttp(site_, LoginCheckKind, -1, slot, "GET", "LSCRONLY", "LSCRONLY", "", "", "", "", 80, false, false, false,
            60, slotOut, "***", false, false, 0, request);
    const WaitResult w = WaitForSlot(slot, &cancelLogin, StreamerTiming.LoginCheckMs);
    CollectHttp(request, -1);
    answer = w == WaitResult::Done ? GetHRes(slot) : std::string("ERR");
    FreeHRes(slot);
    if (w != WaitResult::Done || cancelLogin) {
      if (!startAgain) WriteLog("Streaming login check ended without an answer");
      return false;
    }
  }
  if (startAgain) return false;  // a newer Start came during the check: it runs next
  badPassword = answer == "BADPASS";
  if (badPassword) {
    WriteLog("Streaming login refused");
    return false;
  }

  std::vector<std::string> list = CleanStreamSymbols(symbols);
  int limit = site_->SymbolLimit;
  if (static_cast<int>(list.size()) > limit && UpperCase(Ini().ReadString("Stocks", "MAXSTREAM", "NO")) == "YES")
    limit = 480;
  if (static_cast<int>(list.size()) > limit) {
    list.resize(static_cast<size_t>(std::max(0, limit)));
    ShowStreamerMessage("This site (" + site_->ShortName + ") does not track more than " + std::to_string(limit) +
                            " symbols at a time. The stock list was trimmed to fit this condition.",
                        "Streamer Warning");
  }
  const int perThread = SymbolsPerThread(site_->SymbolLimit, site_->ThreadCount, list.size());
  auto asked = std::make_shared<const AskedStreamSymbols>(symbols);
  for (const std::string& group : SpreadStreamSymbols(list, perThread)) {
    if (threadCount_ >= MaxStreamThreads) break;
    auto t = std::make_unique<TStreamer>(this, threadCount_ + 1, group, asked);
    t->Start();
    threads_[static_cast<size_t>(++threadCount_)] = std::move(t);
  }
  if (QObject* w = window.load(); w && CallbackMsg) PostWindowMessage(w, CallbackMsg, 0, 1);
  return true;
}

void TZeruvStreamer::Stop() {
  startAgain = false;
  cancelLogin = true;
  StopThreads();
  if (QObject* w = window.load(); w && CallbackMsg) PostWindowMessage(w, CallbackMsg, 0, 1);
}

void TZeruvStreamer::StopThreads() {
  const bool ran = threadCount_ > 0;
  // Every thread is told first, so that they end their requests side by side.
  for (int i = 1; i <= threadCount_; ++i) {
    TStreamer* t = threads_[static_cast<size_t>(i)].get();
    t->queue.SetTerminated(true);
    t->Terminate();
  }
  for (int i = 1; i <= threadCount_; ++i) threads_[static_cast<size_t>(i)].reset();
  threadCount_ = 0;
  // What the ended streams left counted is told now.
  if (ran) recordLog.Flush();
  // A snapshot of a stream that has ended is not shown after it (a new symbol, say).
  std::lock_guard lock(bookMutex_);
  bookSnapshot_.reset();
}

void TZeruvStreamer::PutBookSnapshot(const BookModel& book) {
  std::lock_guard lock(bookMutex_);
  bookSnapshot_ = book;
  if (bookNotified_) return;
  QObject* w = window.load();
  if (!w || !CallbackMsg) return;  // told with the next one, once a window is there
  PostWindowMessage(w, CallbackMsg, BookSnapshotNotice, 0);
  bookNotified_ = true;
}

std::optional<BookModel> TZeruvStreamer::TakeBookSnapshot() {
  std::lock_guard lock(bookMutex_);
  bookNotified_ = false;
  return std::exchange(bookSnapshot_, std::nullopt);
}

void TZeruvStreamer::CheckTimeouts() {
  const int64_t now = TickMs();
  for (int i = 1; i <= threadCount_; ++i) {
    TStreamer* t = threads_[static_cast<size_t>(i)].get();
    if (t->idle) continue;
    if (t->parked) {
      if (now - t->suspendedAt > StreamerTiming.SuspendedRetryMs) {
        t->reconnect = true;
        t->Resume();
      }
    } else if (t->receiving && now - t->lastData > StreamerTiming.StallMs) {
      Log("Streamer " + std::to_string(i) + ": no data; reconnecting");
      t->receiving = false;
      t->reconnect = true;
      t->queue.SetTerminated(true);
    }
  }
}

int TZeruvStreamer::FindSymbolThread(const std::string& symbol) const {
  const std::string key = "+" + UpperCase(symbol) + "+";
  for (int i = 1; i <= threadCount_; ++i)
    if (("+" + threads_[static_cast<size_t>(i)]->symbols + "+").find(key) != std::string::npos) return i;
  return 0;
}

void TZeruvStreamer::RestartSymbol(const std::string& symbol) {
  if (TStreamer* t = ThreadAt(FindSymbolThread(symbol))) {
    t->reconnect = true;
    t->queue.SetTerminated(true);  // a thread asleep on its queue wakes for it
    if (t->parked) t->Resume();
  }
}

void SuspendAllStreamers() {
  suspended = true;
  std::vector<TZeruvStreamer*> list;
  {
    std::lock_guard lock(StreamerListMutex);
    list = streamerList;
  }
  for (TZeruvStreamer* s : list) {
    s->restart = s->ThreadCount() > 0;
    s->Stop();
  }
  UnloadStreamerDll();
}

void ResumeAllStreamers() {
  suspended = false;
  std::vector<TZeruvStreamer*> list;
  {
    std::lock_guard lock(StreamerListMutex);
    list = streamerList;
  }
  // The library was unloaded for the update: Start needs it back.
  bool anyToRestart = false;
  for (TZeruvStreamer* s : list) anyToRestart |= s->restart.load();
  if (anyToRestart) LoadStreamerDll();
  for (TZeruvStreamer* s : list)
    if (s->restart.exchange(false)) s->Start(s->lastSymbols);
}
