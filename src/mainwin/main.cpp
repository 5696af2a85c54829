// The program's entry: single instance, start-up, the main window, orderly shut-down.
#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <fcntl.h>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

#include "core/branding.h"
#include "core/button_form.h"
#include "core/instance_guard.h"
#include "core/log.h"
#include "core/program_state.h"
#include "mainwin/app.h"
#include "mainwin/main_form.h"
#include "mainwin/main_threads.h"
#include "retrieval/http_engine.h"
#include "mainwin/single_instance.h"
#include "mainwin/startup.h"
#include "platform/process_limits.h"
#include "windows/browser/browser_environment.h"

namespace {

int signalPipe[2] = {-1, -1};

void OnTerminateSignal(int) {
  char c = 1;
  [[maybe_unused]] auto n = ::write(signalPipe[1], &c, 1);
}

// The main window's close ends the program, so settings are still written; a session end
// that comes while the window is still being made waits for it.
void CloseMainWindow() {
  if (mForm) {
    mForm->SessionEnding = true;
    mForm->close();
  }
  else QTimer::singleShot(50, QCoreApplication::instance(), CloseMainWindow);
}

// A session logout or kill runs onEnd on the main thread.
void CloseOnSignals(QObject* parent, void (*onEnd)()) {
  if (::pipe2(signalPipe, O_CLOEXEC) != 0) return;
  auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, parent);
  QObject::connect(notifier, &QSocketNotifier::activated, parent, [onEnd] {
    char c;
    [[maybe_unused]] auto n = ::read(signalPipe[0], &c, 1);
    onEnd();
  });
  struct sigaction sa {};
  sa.sa_handler = OnTerminateSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
}

// Said on stderr and, where there is a display, in a box; the program then ends.
int StartFailure(int argc, char** argv, const std::string& message) {
  // A session that ends as soon as the message is out still ends the box: the signal waits
  // until the handler is in place.
  sigset_t endSignals;
  sigemptyset(&endSignals);
  sigaddset(&endSignals, SIGTERM);
  sigaddset(&endSignals, SIGINT);
  sigprocmask(SIG_BLOCK, &endSignals, nullptr);
  std::fprintf(stderr, "%s\n", message.c_str());
  if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM")) return 1;
  TApplication app(argc, argv);
  CloseOnSignals(&app, [] { QCoreApplication::exit(1); });  // the box that waits for the user ends
  sigprocmask(SIG_UNBLOCK, &endSignals, nullptr);
  QMessageBox box(QMessageBox::Critical, "Vantora", QString::fromStdString(message), QMessageBox::Ok);
  box.exec();
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string limitProblem;
  // Before any library takes handles; no box can be shown without them.
  if (!PrepareProcessLimits(limitProblem)) {
    std::fprintf(stderr, "%s\n", limitProblem.c_str());
    return 1;
  }
  PrepareBrowserEnvironment();
  std::error_code ec;
  std::string exeDir = std::filesystem::canonical("/proc/self/exe", ec).parent_path().string();
  std::string error;
  if (!PrepareProgramFolder(argc, argv, exeDir, error)) return StartFailure(argc, argv, error);
  const bool allowDups = SameText(ParamValue(ParamList, "ALLOWDUPS", "NO"), "YES") || AllowDupSwitch;
  // Decided before the log is started anew, so a second copy keeps the first one's log. The
  // guard is taken at once: two copies started together cannot both pass it.
  SingleInstance guard(InstanceGuardName, ProgDir);
  if (!allowDups && !guard.TryLock()) {
    if (!guard.OpenError().empty())
      return StartFailure(argc, argv, "The single-copy guard " + guard.Name() + ".lock cannot be made: " + guard.OpenError());
    // The running copy may still be starting: knock until it answers, then leave.
    if (!guard.KnockHolder(15000)) WriteLog("The running copy did not answer", 0);
    WriteLog("dup found! terminating", 0);
    return 0;
  }
  // A test sets a short interval for the saves of collected data during the session.
  if (const char* v = std::getenv("VANTORA_DUMP_SAVE_SECS"); v && std::atoi(v) > 0) DumpSaveBounds.IntervalSecs = std::atoi(v);
  const bool alone = guard.EnterPresence();
  InitFoundation(alone, !allowDups && alone);

  TApplication app(argc, argv);
  // At once, so a session that ends while the program is starting still ends it in order.
  CloseOnSignals(&app, CloseMainWindow);
  app.setApplicationName(QString::fromStdString(Branding.ProgShortName));
  // No display name: the platform would add it to captions that already carry the product name.
  InstallInputActivityFilter();
  Switches = ParseStartupSwitches(argc, argv);

  TmForm form;
  mForm = &form;
  // Closing the main window ends every event loop, also those of boxes still open, so no box
  // keeps the program alive once it has said goodbye (a session ending, a quit for an update).
  form.AfterClose = [] { QCoreApplication::exit(0); };
  // Without the socket this copy still holds the guard; later starts only cannot hand over.
  if (!allowDups && !guard.Claim([] {
        if (mForm) mForm->BringToFront();
      }))
    WriteLog("Could not open the hand-over socket " + guard.Name(), 0);
  form.show();
  int rc = app.exec();
  // Boxes still open when the session ended (the program's own, which free themselves when
  // closed) go with the program rather than with the process.
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w != &form && w->testAttribute(Qt::WA_DeleteOnClose)) w->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  FinishFoundation();
  mForm = nullptr;
  ShutdownHttp();
  // A thread that overran its bound at shut-down gets a last chance, then the process ends.
  ReleaseOverrunThreads(2000);
  return rc;
}
