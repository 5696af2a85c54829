#include "ads/update/update_run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "ads/update/update_file.h"
#include "core/ad_locations.h"
#include "core/branding.h"
#include "core/error_report.h"
#include "core/locks.h"
#include "core/log.h"
#include "core/market_clock.h"
#include "core/program_state.h"
#include "core/result_slots.h"
#include "core/settings_file.h"
#include "core/streamer_control.h"
#include "core/thread_stop.h"
#include "platform/registry.h"
#include "platform/string_list.h"
#include "retrieval/http_engine.h"
#include "retrieval/news_thread.h"
#include "retrieval/param_files.h"
#include "retrieval/site_files.h"

std::atomic<bool> UpdateCancelled{false};
std::string HandedOverNotice;
UpdateTimeoutTable UpdateTimeouts;

namespace {

std::atomic<bool> runActive{false};

std::string Param(const std::string& key, const std::string& def) { return GetSiteParam(ParamList, key, def); }

bool AddQuestionMark() { return UpperCase(Param("ADDQUESTIONMARKTOWU", "YES")) == "YES"; }

std::string RandomQuery() { return std::to_string(LockedRandom(100000, true)); }

enum class FetchEnd { Ok, Cancelled, Failed };

// Binary files may be larger than the engine keeps for a page: they arrive through a sink, up
// to the largest file a payload header can announce.
constexpr size_t MaxUpdateFileBytes = 100u * 1024u * 1024u + 4096u;

class BodySink : public ByteSink {
public:
  void Write(const char* data, size_t size) override {
    if (Overflow || Body.size() + size > MaxUpdateFileBytes) {
      Overflow = true;
      return;
    }
    Body.append(data, size);
  }
  std::string Body;
  bool Overflow = false;
};

// One request through the engine and a result slot; the slot and the request are always freed.
// tick runs about every 2 s while the reply is awaited.
FetchEnd FetchFrom(const UpdateServer& server, const std::string& path, const std::string& header, char tag,
                   int timeoutS, bool binary, const std::atomic<bool>* cancel, std::string& body,
                   const std::function<void()>& tick = {}) {
  body.clear();
  const int slot = AllocHRes(tag);
  if (slot == 0) return FetchEnd::Failed;
  std::string requestName;
  int httpSlot = 0;
  BodySink sink;  // outlives the request: CollectHttp below ends it first
  GetHttp(nullptr, 0, -1, slot, "GET", server.Host, path, header, "", "", "", 80, false, false, binary, timeoutS,
          httpSlot, "***", false, false, 0, requestName, binary ? &sink : nullptr);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutS + 5);
  FetchEnd end = FetchEnd::Failed;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    const WaitResult w = WaitForSlot(slot, cancel, int(std::min<long long>(2000, left.count())));
    if (w == WaitResult::Done) {
      GetHRes(slot, body);
      if (binary) {
        if (body == StreamEndText && !sink.Overflow) body.swap(sink.Body);
        else body = "ERR";
      }
      end = FetchEnd::Ok;
      break;
    }
    if (w == WaitResult::Cancelled || w == WaitResult::ShuttingDown) {
      end = FetchEnd::Cancelled;
      break;
    }
    if (w == WaitResult::Refused) {
      WriteLog("RunUpdate: a wait was refused (another wait runs)");
      break;
    }
    if (tick) tick();
  }
  CollectHttp(requestName, -1);
  FreeHRes(slot);
  return end;
}

// Tries each server in turn; "ERR" (or a reply that fails accept) moves to the next.
FetchEnd FetchFromList(const std::vector<UpdateServer>& servers, const std::string& query, const std::function<bool(const std::string&)>& accept,
                       const std::atomic<bool>* cancel, std::string& body) {
  for (const UpdateServer& s : servers) {
    std::string path = s.Path;
    if (AddQuestionMark()) {
      if (path.empty()) path = "/";
      path += "?" + query;
    }
    const FetchEnd e = FetchFrom(s, path, "Content-type: html/text", 'W', UpdateTimeouts.List, false, cancel, body);
    if (e == FetchEnd::Cancelled) return e;
    if (e == FetchEnd::Ok && body != "ERR" && accept(body)) return FetchEnd::Ok;
  }
  return FetchEnd::Failed;
}

// A temporary file beside the program folder's files: created new, never through a link.
bool StageFile(const std::string& bytes, std::string& path) {
  std::string tmpl = ProgDir + ".vnupd-XXXXXX";
  const int fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
  if (fd < 0) return false;
  size_t done = 0;
  bool ok = true;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += size_t(n);
  }
  if (ok && ::fsync(fd) != 0) ok = false;
  if (::close(fd) != 0) ok = false;
  if (!ok) ::unlink(tmpl.c_str());
  else path = tmpl;
  return ok;
}

struct RunGuard {
  ~RunGuard() { runActive = false; }
};

// The comparison's work is bounded (MaxListEntries entries, a list no longer than a page, each
// line looked up in the folder once): it ends well within a second, so a sound run never reaches
// this deadline; reaching it ends the run as incomplete rather than waiting on.
constexpr int PlanDeadlineMs = 60000;

// Compares the list with the folder. On the main thread the work goes to a worker while the
// window keeps processing events, so Cancel stays live however long the list. Empty when the
// comparison outran its deadline.
std::optional<UpdatePlan> PlanList(const std::string& list, const PlanInput& in, const std::atomic<bool>* stop) {
  if (!IsMainThread()) return PlanUpdate(list, in, ProgFolderView(), stop);
  std::atomic<bool> halt{false}, finished{false};
  UpdatePlan plan;
  std::exception_ptr failure;
  std::thread worker([&] {
    try {
      plan = PlanUpdate(list, in, ProgFolderView(), &halt);
    } catch (...) {
      failure = std::current_exception();
    }
    finished = true;
    PostToMainThread([] {});  // ends the wait at once
  });
  // The wait runs other events, which may throw: on every way out the worker is told to stop
  // (it looks before each line) and joined before the data it uses goes.
  struct StopAndJoin {
    std::atomic<bool>& halt;
    std::thread& worker;
    ~StopAndJoin() {
      if (!worker.joinable()) return;
      halt = true;
      worker.join();
    }
  };
  bool halted = false;
  {
    StopAndJoin joinWorker{halt, worker};
    // Ends when the worker is done, on Cancel, on shut-down and at the deadline; a refused wait
    // (another one runs) leaves the join to wait plainly for the bounded work.
    const WaitResult w = WaitUntil([&] { return finished.load(); }, stop, PlanDeadlineMs, 20);
    if (w == WaitResult::TimedOut) return std::nullopt;
    if (w == WaitResult::Refused) worker.join();
    halted = w == WaitResult::Cancelled || w == WaitResult::ShuttingDown;
  }
  if (failure) std::rethrow_exception(failure);
  if (halted) plan.Cancelled = true;
  return plan;
}

}  // namespace

bool WebUpdateRunning() { return runActive.load(); }

bool NeedsRestart(std::string_view localName) {
  const std::string up = UpperCase(localName);
  // The menus and the ad parameters are read again at once.
  if (up.find("MENU.PAR") != std::string::npos || up.find("REKLAMA") != std::string::npos) return false;
  return up.find(".PAR") != std::string::npos || up.find(".IND") != std::string::npos;
}

std::string RestartNote() {
  return "Some of the changes that you downloaded will only take effect the next time you restart " +
         Branding.ProgShortName + ".";
}

std::vector<UpdateServer> ReadUpdateServers(const std::string& siteKey, const std::string& pathKey,
                                            const std::string& defaultPath) {
  std::vector<UpdateServer> out;
  for (int i = 1; i < 100; ++i) {
    const std::string n = i == 1 ? std::string() : std::to_string(i);
    std::string site = Param(siteKey + n, i == 1 ? DefaultUpdateHost1 : "-");
    std::string path = Param(pathKey + n, i == 1 ? defaultPath : "-");
    if (i == 2 && site == "-") site = DefaultUpdateHost2;
    if (i == 2 && path == "-") path = defaultPath;
    if (site == "-" || path == "-") break;
    out.push_back({Trim(site), Trim(path)});
  }
  return out;
}

bool IsNoticeReply(const std::string& reply) {
  const size_t slash = reply.find('/');
  return slash == 1 || slash == 2;
}

std::string InstallationId() {
  RegistryStore& reg = RegistryStore::CurrentUser();
  std::string id = reg.ReadString(RegKeyPath, "InstallID", "");
  if (id.empty()) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%05d%05d", LockedRandom(100000, true), LockedRandom(100000, true));
    id = buf;
    reg.WriteString(RegKeyPath, "InstallID", id);
  }
  return id;
}

void RunWebUpdate(bool quiet, UpdateUi* owner, bool& done, std::string& exeFile, const std::atomic<bool>* cancel) {
  exeFile.clear();
  if (runActive.exchange(true)) {
    done = false;
    if (owner && owner->Status) owner->Status("An update is already running");
    return;
  }
  RunGuard guard;
  const std::atomic<bool>* stop = quiet && cancel ? cancel : &UpdateCancelled;
  auto status = [&](const std::string& line) {
    if (LogOn) WriteLog("WebUpdate: " + line);
    if (owner && owner->Status) owner->Status(line);
  };
  auto cancelled = [&] {
    if (ShuttingDown) UpdateCancelled = true;
    return stop->load() || ShuttingDown.load();
  };
  // Ends the run (true) when a fetch was cancelled or did not bring what it needed.
  auto fetchEnded = [&](FetchEnd e) {
    if (e == FetchEnd::Ok && !cancelled()) return false;
    status(e == FetchEnd::Cancelled || cancelled() ? "Cancelled by user" : "ERROR - cannot continue");
    done = false;
    return true;
  };
  auto message = [&](const std::string& caption, const std::string& text) {
    if (owner && owner->Message) owner->Message(caption, text);
  };
  std::vector<std::string> fetchedNames;  // " NAME " each
  try {
    // 1. The notice.
    status("Fetching site configuration files list");
    std::string reply;
    FetchEnd e = FetchFromList(ReadUpdateServers("WUFILESITE", "WUFILENAME", "/webupdate/lastwup.txt"),
                               InstallationId() + "-" + RandomQuery(), IsNoticeReply, stop, reply);
    if (fetchEnded(e)) return;
    // The notice is a date; a longer first line is cut, so the settings keep a short text.
    const std::string notice = Trim(SplitListLines(reply).front().substr(0, 100));
    // The reminder compares the latest notice with the one last taken in.
    if (quiet) PostToMainThread([notice] { LastWUNotify = notice; });

    // 2. The list.
    const std::vector<UpdateServer> listServers =
        quiet ? ReadUpdateServers("QUPDATELISTSITE", "QUPDATELISTPATH", "/webupdate/quietlst.txt")
              : ReadUpdateServers("UPDATELISTSITE", "UPDATELISTPATH", "/webupdate/sdfl1125.txt");
    std::string list;
    e = FetchFromList(listServers, RandomQuery(), [](const std::string& b) { return !b.empty(); }, stop, list);
    if (fetchEnded(e)) return;

    // 3. Compare.
    status("Comparing Files");
    const char* msgKey = quiet ? "LastQMessage" : "LastMessage";
    PlanInput in;
    in.ProgVersion = ProgVersion;
    in.Quiet = quiet;
    in.LastMessage = Ini().ReadInteger("Stocks", msgKey, 0);
    in.ExeDefault = Branding.ExeDefault;
    in.RunningExeName = QFileInfo(QCoreApplication::applicationFilePath()).fileName().toStdString();
    std::optional<UpdatePlan> planned = PlanList(list, in, stop);
    if (!planned) {
      WriteLog("RunUpdate: comparing the list did not end within " + std::to_string(PlanDeadlineMs / 1000) + " s");
      status("Update incomplete");
      done = false;
      return;
    }
    UpdatePlan& plan = *planned;
    if (plan.TooLong) {
      status("Error in update list: more than " + std::to_string(MaxListEntries) + " entries");
      status("ERROR - cannot continue");
      done = false;
      return;
    }
    for (const std::string& r : plan.Refused) WriteLog("RunUpdate: refused list line: " + r);
    for (const PlannedMessage& m : plan.Messages) message("Information Message", m.Text);
    if (plan.LastMessage > in.LastMessage) Ini().WriteInteger("Stocks", msgKey, plan.LastMessage);

    // 4. Choose.
    auto stamp = [&] {
      Ini().WriteString("Stocks", "LastUpdate", FormatDateTime("mm/dd/yyyy hh:nn:ss", LocalNow()));
      if (quiet && !HandedOverNotice.empty()) Ini().WriteString("Stocks", "LastAdNotify", HandedOverNotice);
    };
    // Only a run that went through takes the notice in: a failed one leaves the reminder on.
    auto takeNotice = [&] {
      if (quiet) return;
      LastWUNotify = notice;
      Ini().WriteString("Stocks", "LastWUNotify", notice);
    };
    if (plan.Cancelled || cancelled()) {
      status("Cancelled by user");
      done = false;
      return;
    }
    const bool anyStep = std::any_of(plan.Steps.begin(), plan.Steps.end(), [](const PlanStep& s) { return s.Kind != StepKind::Install; });
    if (plan.Files.empty() && !anyStep) {
      status("No new/updated files");
      if (!quiet) message("Update Result", "All files are up to date.");
      done = true;
      status("Finished");
      stamp();
      takeNotice();
      return;
    }
    if (!plan.Files.empty() && !quiet) {
      ++ModalDepth;
      const bool picked = owner && owner->PickFiles ? owner->PickFiles(plan) : true;
      --ModalDepth;
      const bool any = std::any_of(plan.Files.begin(), plan.Files.end(), [](const PlannedFile& f) { return f.Picked; });
      if (!picked || (!any && !anyStep) || cancelled()) {
        status("Cancelled by user");
        done = false;
        return;
      }
    }

    // 5. The download server.
    UpdateServer server;
    if (!plan.Servers.empty()) {
      const std::string& s = plan.Servers[size_t(LockedRandom(int(plan.Servers.size()), true))];
      const size_t slash = s.find('/');
      server.Host = s.substr(0, slash);
      server.Path = slash == std::string::npos ? std::string() : s.substr(slash);
    } else {
      server.Host = Param("UPDATESITE", DefaultUpdateHost1);
      server.Path = Param("UPDATEPATH", "/webupdate");
    }

    // 6. Downloads, each checked and staged beside its target.
    done = true;
    std::map<int, std::string> staged;
    bool failed = false, stopped = false;
    for (size_t i = 0; i < plan.Files.size() && !failed; ++i) {
      const PlannedFile& f = plan.Files[i];
      if (!f.Picked) continue;
      if (ShuttingDown) {
        UpdateCancelled = true;
        failed = stopped = true;
        break;
      }
      const std::string fetchLine = "Fetching " + f.Entry.Local;
      status(fetchLine);
      DownloadByteCount = 0;
      std::string path = server.Path + "/" + f.Entry.Remote;
      if (AddQuestionMark()) path += "?" + RandomQuery();
      const auto start = std::chrono::steady_clock::now();
      auto rate = [&] {
        const int64_t bytes = DownloadByteCount.load();
        const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const int64_t perSec = secs > 0 ? int64_t(double(bytes) / secs) : 0;
        if (owner && owner->ReplaceStatus)
          owner->ReplaceStatus(fetchLine + " " + std::to_string(bytes) + " bytes " + std::to_string(perSec) + " Bytes/sec");
      };
      std::string body;
      const bool binary = !f.Definition;
      const FetchEnd fe = FetchFrom(server, path, binary ? "Content-type: application/zip" : "Content-type: html/text", 'F',
                                    binary ? UpdateTimeouts.Binary : UpdateTimeouts.File, binary, stop, body,
                                    binary && !quiet ? std::function<void()>(rate) : std::function<void()>());
      if (fe == FetchEnd::Cancelled || cancelled()) {
        failed = stopped = true;
        break;
      }
      if (binary && !quiet && owner && owner->ReplaceStatus)
        owner->ReplaceStatus(fetchLine + " " + std::to_string(body.size()) + " bytes");
      if (fe != FetchEnd::Ok || body == "ERR") {
        status("Error fetching file");
        failed = true;
        break;
      }
      const std::string problem = CheckUpdateFile(body, f.Definition);
      if (!problem.empty()) {
        status(problem);
        failed = true;
        break;
      }
      std::string stagedPath;
      if (!StageFile(body, stagedPath)) {
        WriteLog("File " + ProgDir + f.Entry.Local + " error:cannot write a temporary file RunUpdate");
        status("Error writing file: " + f.Entry.Local);
        failed = true;
        break;
      }
      staged[int(i)] = stagedPath;
    }

    // 7. Apply: nothing at all unless every download arrived whole.
    if (failed) {
      for (const auto& s : staged) ::unlink(s.second.c_str());
      done = false;
    } else {
      ApplyHooks hooks;
      hooks.EraseSection = [](const std::string& section) { Ini().EraseSection(section); };
      hooks.MoveSection = [](const std::string& from, const std::string& to) {
        StringList lines;
        Ini().ReadSectionValues(from, lines);
        if (lines.Count() == 0) return;
        for (int k = 0; k < lines.Count(); ++k) {
          const std::string& l = lines[k];
          const size_t eq = l.find('=');
          if (eq != std::string::npos) Ini().WriteString(to, l.substr(0, eq), l.substr(eq + 1));
        }
        Ini().EraseSection(from);
      };
      hooks.BeforeSupportLibrary = [] { SuspendStreamers(); };
      hooks.AfterSupportLibrary = [] { ResumeStreamers(); };
      const ApplyReport r = ApplyUpdatePlan(plan, staged, ProgDir, in, hooks);
      for (const std::string& s : r.Skipped) WriteLog("RunUpdate: " + s);
      for (const std::string& err : r.Errors) {
        WriteLog("File error: " + err + " RunUpdate");
        status(err);
      }
      for (const std::string& path : r.Installed) {
        const std::string name = path.substr(ProgDir.size());
        fetchedNames.push_back(" " + UpperCase(name) + " ");
        if (IsExecutableName(name, Branding.ExeDefault)) exeFile = path;
      }
      if (!r.Errors.empty()) done = false;
    }

    status("Updating lists and site info");
    if (!ShuttingDown) {
      auto lists = [] {
        RebuildSiteLists();
        ForgetNewsSource();
      };
      // The site lists belong to the GUI thread.
      if (IsMainThread()) lists();
      else PostToMainThread([lists] { if (!ShuttingDown) lists(); });
    }
    stamp();
    // Every run ends on a line that says how it ended.
    if (done) {
      status("Finished");
      takeNotice();
    } else {
      status(stopped ? "Cancelled by user" : "Update incomplete");
    }
    // A new executable restarts the program anyway.
    const bool restart = std::any_of(fetchedNames.begin(), fetchedNames.end(),
                                     [](const std::string& n) { return NeedsRestart(Trim(n)); });
    if (restart && exeFile.empty()) message("Information", RestartNote());
  } catch (const std::exception& ex) {
    done = false;
    WriteLog(std::string("RunUpdate: ") + ex.what());
    status("Update incomplete");
    if (IsMainThread()) ShowErrorReport(ex.what(), "RunUpdate");
  }
  // 8. Others reread what changed.
  for (const std::string& n : fetchedNames) {
    if (n.find("REKLAMA") != std::string::npos) AdParamsChanged = true;
    if (n.find("MENU.PAR") != std::string::npos) MenuReloadRequested = true;
  }
}

void TWinUpdateThread::Execute() {
  bool done = false;
  std::string exe;
  RunWebUpdate(true, &Ui, done, exe, &TerminateFlag());
}

namespace {
std::mutex threadMutex;
std::unique_ptr<Thread> quietThread;
// How long the program's end waits for a quiet run; every wait inside it ends on its stop flag.
constexpr int QuietRunStopMs = 10000;
}  // namespace

void StartWebUpdateThread(const std::string& notice, UpdateUi ui) {
  std::lock_guard lock(threadMutex);
  if (quietThread && !quietThread->Finished()) return;
  if (quietThread) quietThread->Stop(-1);
  HandedOverNotice = notice;
  auto thread = std::make_unique<TWinUpdateThread>();
  thread->Ui = std::move(ui);
  thread->Start();
  quietThread = std::move(thread);
}

void StopWebUpdateThread() {
  std::unique_ptr<Thread> t;
  {
    std::lock_guard lock(threadMutex);
    t = std::move(quietThread);
  }
  StopOwnedThread(t, "WebUpdate", QuietRunStopMs);
}
