#pragma once
// The windows around an update run: the update window (status lines, Cancel, Close, the
// hand-over to the updater), the file picker and the reminder.
#include <QDialog>

#include <atomic>
#include <functional>
#include <string>

#include "ads/update/update_run.h"
#include "platform/datetime.h"

class QLabel;
class QListWidget;
class QMessageBox;
class QListWidgetItem;
class QPushButton;
class QTimer;

extern std::atomic<bool> UpdateFormShowing;
// The path of the downloaded executable, kept for the main window.
extern std::string DownloadedExeFile;

// Message boxes and the updater start of these windows; tests answer in their place.
struct UpdateWindowHookTable {
  // icon: "information" or "warning".
  std::function<void(QWidget* parent, const std::string& caption, const std::string& text, const std::string& icon)>
      MessageBox;
  // Returns 0 when the updater started, else an error number.
  std::function<int(const std::string& newExe, const std::string& runningExe)> StartUpdater;
  // The running executable (the application's own file by default).
  std::function<std::string()> RunningExe;
};
extern UpdateWindowHookTable UpdateWindowHooks;

class TfrmUpdate : public QDialog {
public:
  TfrmUpdate(QWidget* owner, bool quiet);
  ~TfrmUpdate() override;

  bool Quiet = false;
  QLabel* Label1 = nullptr;
  QListWidget* lbShow = nullptr;
  QPushButton* pbCancel = nullptr;
  QPushButton* pbClose = nullptr;
  QTimer* Timer1 = nullptr;
  // The run's outcome, for the opener.
  bool Done = false;
  bool Running() const { return running_; }

  void FormShow();
  void Timer1Timer();
  void pbCloseClick();
  void pbCancelClick();
  void AddStatus(const std::string& line);

protected:
  void showEvent(QShowEvent* e) override;
  void hideEvent(QHideEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void reject() override;

private:
  void HandOverExecutable(const std::string& exeFile);
  bool running_ = false;
  bool ran_ = false;
};

class TdlgUpdateFiles : public QDialog {
public:
  TdlgUpdateFiles(QWidget* owner, UpdatePlan& plan);

  QLabel* Label1 = nullptr;
  QListWidget* ChList = nullptr;
  QPushButton* BitBtn1 = nullptr;  // OK
  QPushButton* BitBtn2 = nullptr;  // Cancel
  QPushButton* pbSelectAll = nullptr;
  QPushButton* pbDeselect = nullptr;
  bool Cancelled = true;

  void ChListClickCheck(QListWidgetItem* item);
  void pbSelectAllClick();
  void pbDeselectClick();
  void OkClick();
  void CancelClick();

private:
  UpdatePlan& plan_;
};

class TWUNeeded : public QDialog {
public:
  explicit TWUNeeded(QWidget* owner);

  QLabel* Label1 = nullptr;
  QPushButton* BitBtn1 = nullptr;  // "Do Webupdate Now"
  QPushButton* BitBtn2 = nullptr;  // "Postpone It"
  QPushButton* BitBtn3 = nullptr;  // cancel

  void BitBtn1Click();
  void BitBtn2Click();
  void BitBtn3Click();

protected:
  // Escape is the third (cancel) button; the title bar's close postpones, as "Postpone It" does,
  // so the box never comes straight back.
  void reject() override;
  void closeEvent(QCloseEvent* e) override;
};

// Opens the update window for a manual run, modally, unless one is showing. True when the run
// went through.
bool OpenUpdateWindow(QWidget* owner);
// The reminder is due: a notice other than the one taken in, the reminder time passed, no
// update window showing.
bool UpdateReminderDue(TDateTime now);
// The main window's housekeeping: shows the reminder when it is due, unless it or another box
// is open (a modal one, or a notice) or a notice waits.
void ShowUpdateReminder(QWidget* owner);
// A message that comes unasked (the quiet run's): shown in a box that does not hold the program,
// once no modal box, reminder or earlier notice is open.
void ShowUpdateNotice(QWidget* owner, const std::string& caption, const std::string& text);
// Widens a message box so that its caption fits in the title bar.
void KeepCaptionWhole(QMessageBox* box);
