#include "windows/dialogs/dialogs_install.h"

#include <QCoreApplication>
#include <QPointer>
#include <QWidget>

#include "core/button_form.h"
#include "core/main_hooks.h"
#include "core/program_state.h"
#include "prefs/prefs_dialog.h"
#include "retrieval/fund_thread.h"
#include "windows/dialogs/about_dialog.h"
#include "windows/dialogs/debug_window.h"
#include "windows/dialogs/login_dialog.h"
#include "windows/dialogs/lookup_dialog.h"
#include "windows/dialogs/survey_dialog.h"
#include "windows/dialogs/time_sync_dialog.h"

namespace {
// Runs a dialog modally over the main window, counted in ModalDepth.
template <typename Dialog>
int RunModal(QWidget* owner) {
  Dialog dlg(owner);
  ++ModalDepth;
  const int result = dlg.exec();
  --ModalDepth;
  return result;
}
}  // namespace

void InstallDialogs(QWidget* mainWindow) {
  QPointer<QWidget> owner = mainWindow;
  MainHooks.ShowLoginDialog = [owner] { ShowSiteLoginDialog(owner); };
  MainHooks.OpenAbout = [owner] { RunModal<TdlgABout>(owner); };
  OpenSymbolLookup = [](QWidget* parent) {
    TdlgLookup dlg(parent);
    ++ModalDepth;
    const bool chosen = dlg.exec() == QDialog::Accepted;
    --ModalDepth;
    return chosen ? dlg.ChosenSymbol : std::string();
  };
  // The preferences count the dialog in ModalDepth themselves.
  PrefsHooks.OpenTimeSync = [](QWidget* parent) {
    TftmSync dlg(parent);
    dlg.exec();
  };
  MainHooks.CreateDebugWindow = [owner] { CreateDebugWindow(owner); };
  MainHooks.ShowDebugWindow = [] { ShowDebugWindow(); };
  MainHooks.Commands["SURVEY"] = [owner](const std::string&) { OpenSurveyDialog(owner); };
  MainHooks.SurveyReminder = [owner] { SurveyReminderStep(owner); };
  FundHooks.SendSurvey = [](const std::string& query) { return SendSurveyAnswer(query); };
  // The "DEBUG" switch opens the window at start.
  if (DebugOn || (QCoreApplication::instance() && HasDebugSwitch(QCoreApplication::arguments())))
    OpenDebugWindowAtStart(mainWindow);
}
