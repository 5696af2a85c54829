#include "ads/update/update_install.h"

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include "ads/update/update_run.h"
#include "ads/update/update_window.h"
#include "core/main_hooks.h"
#include "platform/messages.h"
#include "prefs/prefs_dialog.h"
#include "retrieval/fund_thread.h"

void InstallSelfUpdate(QWidget* mainWindow) {
  MainHooks.OpenUpdate = [mainWindow] { OpenUpdateWindow(mainWindow); };
  MainHooks.UpdateReminder = [mainWindow] { ShowUpdateReminder(mainWindow); };
  PrefsHooks.OpenUpdate = [](QWidget* parent) { OpenUpdateWindow(parent); };
  FundHooks.UpdateBlocked = [] { return UpdateFormShowing.load() || UpdateCancelled.load(); };
  QPointer<QWidget> owner(mainWindow);
  FundHooks.StartUpdate = [owner](const std::string& notice) {
    UpdateUi ui;
    // The site's information messages: a box that does not hold the run, shown on the GUI thread.
    ui.Message = [owner](const std::string& caption, const std::string& text) {
      PostToMainThread([owner, caption, text] {
        if (ShuttingDown || !owner) return;
        auto* box = new QMessageBox(QMessageBox::Information, QString::fromStdString(caption),
                                    QString::fromStdString(text), QMessageBox::Ok, owner);
        box->setTextFormat(Qt::PlainText);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setModal(false);
        box->show();
      });
    };
    StartWebUpdateThread(notice, ui);
  };
  // The quiet run ends with the main window; its waits end on ShuttingDown.
  QObject::connect(mainWindow, &QObject::destroyed, [] { StopWebUpdateThread(); });
}
