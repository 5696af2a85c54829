#include "streaming/client/streaming_install.h"

#include <memory>
#include <string>

#include <QWidget>

#include "charts/chart_window.h"
#include "core/locks.h"
#include "core/log.h"
#include "core/main_hooks.h"
#include "core/portfolios.h"
#include "core/program_state.h"
#include "core/settings_file.h"
#include "core/sites.h"
#include "core/streamer_control.h"
#include "platform/clock.h"
#include "streaming/client/book_window.h"
#include "streaming/client/http_streamer.h"
#include "streaming/client/zeruv_streamer.h"

namespace {

// The main window's streaming object and what it was last started with.
struct MainStreaming {
  std::shared_ptr<TZeruvStreamer> Streamer;
  std::string AppliedKey;  // site file, symbols and login of the last start ("" = stopped)
  std::string LoadedFile;
  std::string LoadProblem;  // why LoadedFile did not load, for the status line
  bool LoginAsked = false;
  // A start that got no answer is tried again from the housekeeping tick, not before this.
  std::string FailedKey;
  int64_t RetryAt = 0;
};
MainStreaming* mainStreaming = nullptr;
int mainStreamingGeneration = 0;

// The symbols of the portfolio the main window shows, "+"-separated; false when the
// portfolios could not be read now (nothing is to change then).
bool ShownSymbols(std::string& symbols) {
  symbols.clear();
  LockHold hold(PortLock, "STREAMSYM", true);
  if (!hold) return false;
  if (const PortType* p = PortAt(CurPortIndex)) GetPortSymbolsLocked(p->Id, symbols, true);
  for (char& c : symbols)
    if (c == ',') c = '+';
  return true;
}

void UpdateMainStreaming(bool start) {
  MainStreaming& m = *mainStreaming;
  const std::string file = start && IniFile_ ? Trim(Ini().ReadString("Stocks", "StreamFile", "")) : std::string();
  std::string key;
  std::string symbols;
  if (!file.empty()) {
    if (!ShownSymbols(symbols)) return;
    key = file + "|" + symbols;
    if (CurSite) key += "|" + CurSite->EnteredLogin + "|" + CurSite->EnteredPassword;
  }
  if (key == m.AppliedKey) return;  // nothing changed: the notice of our own Start ends here
  // A login check under way: this is looked at again once it has ended.
  if (m.Streamer->busy) return;
  if (key.empty()) {
    m.AppliedKey = key;
    m.LoadProblem.clear();
    m.Streamer->Stop();
    return;
  }
  if (key == m.FailedKey && TickMs() < m.RetryAt) return;
  m.LoginAsked = false;
  if (file != m.LoadedFile) {
    m.LoadedFile = file;
    m.LoadProblem.clear();
    if (!m.Streamer->LoadSite(file))
      m.LoadProblem = "Streaming site file " + file + " did not load: " + m.Streamer->loadError;
  }
  // The login check processes events: the main window may go meanwhile, the streamer stays.
  std::shared_ptr<TZeruvStreamer> keep = m.Streamer;
  const int generation = mainStreamingGeneration;
  const int64_t began = TickMs();
  const bool started = keep->Start(symbols);
  if (!mainStreaming || generation != mainStreamingGeneration) return;
  // What streams is recorded only when it started; a refused password is an answer too (the
  // user is asked), anything else is tried again a while later.
  if (started || keep->badPassword) {
    m.AppliedKey = key;
    m.FailedKey.clear();
  } else {
    m.FailedKey = key;
    m.RetryAt = began + StreamerTiming.StartRetryMs;
  }
}

void CheckMainStreaming() {
  MainStreaming& m = *mainStreaming;
  m.Streamer->CheckTimeouts();
  // A refused password stops streaming and asks the user once; a changed login restarts it.
  if (m.Streamer->badPassword && !m.LoginAsked && ModalDepth == 0 && !PassDlgExists) {
    m.LoginAsked = true;
    m.Streamer->Stop();
    WriteLog("Streaming: the password was refused");
    if (MainHooks.ShowLoginDialog) MainHooks.ShowLoginDialog();
  }
  // Streaming follows the settings, the portfolio shown and the login, from the first tick on.
  if (!ShuttingDown) UpdateMainStreaming(true);
}

std::string PanelText() {
  if (!mainStreaming) return {};
  if (mainStreaming->Streamer->ThreadCount() == 0) return mainStreaming->LoadProblem;
  int running = 0;
  for (int i = 1; i <= mainStreaming->Streamer->ThreadCount(); ++i)
    if (!mainStreaming->Streamer->ThreadAt(i)->parked) ++running;
  return "Streaming: " + std::to_string(running) + " running, " + BandwidthText();
}

}  // namespace

void InstallStreaming(QWidget* mainWindow) {
  if (mainStreaming) mainStreaming->Streamer->window = nullptr;
  delete mainStreaming;
  MainStreaming* mine = mainStreaming = new MainStreaming;
  ++mainStreamingGeneration;
  mine->Streamer = std::make_shared<TZeruvStreamer>();
  mine->Streamer->window = mainWindow;
  // The streaming object goes with its main window, posting nothing to it on the way.
  QObject::connect(mainWindow, &QObject::destroyed, [mine] {
    if (mainStreaming != mine) return;
    mine->Streamer->window = nullptr;
    delete mine;
    mainStreaming = nullptr;
    ++mainStreamingGeneration;
  });

  MainHooks.UpdateStreaming = [](bool start) {
    if (mainStreaming) UpdateMainStreaming(start);
  };
  MainHooks.StreamingActive = [] { return mainStreaming && mainStreaming->Streamer->ThreadCount() > 0; };
  MainHooks.StreamingTimeoutCheck = [] {
    if (mainStreaming) CheckMainStreaming();
  };
  MainHooks.StreamingPanelText = PanelText;
  MainHooks.OpenIsland = [mainWindow](const std::string& symbol) { OpenBookWindow(mainWindow, symbol); };
  ChartHooks.RestartSymbol = [](const std::string& symbol) {
    if (mainStreaming) mainStreaming->Streamer->RestartSymbol(symbol);
  };
  StreamerHooks.Suspend = SuspendAllStreamers;
  StreamerHooks.Resume = ResumeAllStreamers;
}
