#pragma once
// One self-update run: the notice, the list, comparing, the user's choice, the downloads with
// their checks, then the list's steps, and the quote-site lists rebuilt. A manual run talks to
// the update window; a quiet run (TWinUpdateThread) shows only the site's information messages.
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ads/update/update_plan.h"
#include "platform/thread.h"

// Set by the update window's Cancel; ShuttingDown sets it too.
extern std::atomic<bool> UpdateCancelled;
// The notice text the fundamentals thread handed to the quiet run ("LastAdNotify").
extern std::string HandedOverNotice;

// What a run shows. A manual run calls these on the GUI thread; a quiet run calls only
// Message, from its own thread (the hook hands the box to the GUI thread).
struct UpdateUi {
  std::function<void(const std::string& line)> Status;         // adds a status line
  std::function<void(const std::string& line)> ReplaceStatus;  // rewrites the last one
  std::function<void(const std::string& caption, const std::string& text)> Message;
  // The file picker: clears Picked of the files left out; false when cancelled.
  std::function<bool(UpdatePlan& plan)> PickFiles;
};

// Request time-outs in seconds; tests shorten them. The run's own wait for a reply ends a few
// seconds after the request's.
struct UpdateTimeoutTable {
  int List = 60;
  int File = 60;
  int Binary = 180;
};
extern UpdateTimeoutTable UpdateTimeouts;

// Default hosts of the update site when params.par names none.
inline constexpr const char* DefaultUpdateHost1 = "update1.vantora.invalid";
inline constexpr const char* DefaultUpdateHost2 = "update2.vantora.invalid";

struct UpdateServer {
  std::string Host, Path;
};
// The servers of a K-site / K-path key pair as the run reads them from ParamList.
std::vector<UpdateServer> ReadUpdateServers(const std::string& siteKey, const std::string& pathKey,
                                            const std::string& defaultPath);
// A notice is a date: its first "/" is its second or third character.
bool IsNoticeReply(const std::string& reply);
// The installation's identifier sent with the notice query (made once, kept in the registry).
std::string InstallationId();

// One run. done: true when everything was up to date or the downloads were installed; false on
// cancel or error. exeFile: the full path of a newly installed executable, else empty.
// quiet: no window; cancel: an extra flag that ends the run (the quiet thread's stop flag).
// Only one run at a time: a second returns at once with done false.
void RunWebUpdate(bool quiet, UpdateUi* owner, bool& done, std::string& exeFile,
                  const std::atomic<bool>* cancel = nullptr);
// True while a run is in progress.
bool WebUpdateRunning();

// An installed file that the program reads only at start: parameter and index files, but not
// the menus and the ad parameters, which are read again at once.
bool NeedsRestart(std::string_view localName);
// What a run that installed such a file says at its end (unless a new executable restarts the
// program anyway).
std::string RestartNote();

// The quiet run's thread.
class TWinUpdateThread : public Thread {
public:
  TWinUpdateThread() { Name = "WinUpdate"; }
  ~TWinUpdateThread() override { Stop(-1); }
  UpdateUi Ui;  // Message only

protected:
  void Execute() override;
};

// Starts a quiet run unless one runs; the thread is owned here and joined by
// StopWebUpdateThread (at the main window's end) or by the next start.
void StartWebUpdateThread(const std::string& notice, UpdateUi ui);
// Ends the quiet run (its waits end at once) and joins it.
void StopWebUpdateThread();
