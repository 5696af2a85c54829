#include "ads/update/update_install.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

#include "ads/update/update_plan.h"
#include "ads/update/update_run.h"
#include "ads/update/update_window.h"
#include "core/main_hooks.h"
#include "platform/messages.h"
#include "prefs/prefs_dialog.h"
#include "retrieval/fund_thread.h"

void InstallSelfUpdate(QWidget* mainWindow) {
  MainHooks.OpenUpdate = [mainWindow] { OpenUpdateWindow(mainWindow); };
  MainHooks.UpdateReminder = [mainWindow] { ShowUpdateReminder(mainWindow); };
  MainHooks.VersionedFiles = VersionedProgramFiles;
  PrefsHooks.OpenUpdate = [](QWidget* parent) { OpenUpdateWindow(parent); };
  FundHooks.UpdateBlocked = [] { return UpdateFormShowing.load() || UpdateCancelled.load(); };
  QPointer<QWidget> owner(mainWindow);
  FundHooks.StartUpdate = [owner](const std::string& notice) {
    UpdateUi ui;
    // The site's information messages: boxes that do not hold the run, shown on the GUI thread.
    ui.Message = [owner](const std::string& caption, const std::string& text) {
      PostToMainThread([owner, caption, text] {
        if (!ShuttingDown && owner) ShowUpdateNotice(owner, caption, text);
      });
    };
    StartWebUpdateThread(notice, ui);
  };
  // The quiet run ends with the main window; its waits end on ShuttingDown.
  QObject::connect(mainWindow, &QObject::destroyed, [] { StopWebUpdateThread(); });
}
