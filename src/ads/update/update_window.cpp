#include "ads/update/update_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <deque>

#include "ads/update/restart.h"
#include "core/branding.h"
#include "core/market_clock.h"
#include "core/program_state.h"
#include "core/settings_file.h"
#include "core/sites.h"
#include "retrieval/site_files.h"

std::atomic<bool> UpdateFormShowing{false};
std::string DownloadedExeFile;
UpdateWindowHookTable UpdateWindowHooks;

void KeepCaptionWhole(QMessageBox* box) {
  // A box is as wide as its text; a short text would cut its caption in the title bar.
  QFont bold = box->font();
  bold.setBold(true);
  const int width = QFontMetrics(bold).horizontalAdvance(box->windowTitle()) + 160;  // with the bar's icon and buttons
  if (auto* grid = qobject_cast<QGridLayout*>(box->layout()))
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                  grid->columnCount());
}

namespace {

void ShowBox(QWidget* parent, const std::string& caption, const std::string& text, const std::string& icon) {
  if (UpdateWindowHooks.MessageBox) {
    UpdateWindowHooks.MessageBox(parent, caption, text, icon);
    return;
  }
  QMessageBox box(icon == "warning" ? QMessageBox::Warning : QMessageBox::Information, QString::fromStdString(caption),
                  QString::fromStdString(text), QMessageBox::Ok, parent);
  box.setTextFormat(Qt::PlainText);  // the site's messages are shown as they are, never as markup
  KeepCaptionWhole(&box);
  ++ModalDepth;
  box.exec();
  --ModalDepth;
}

// The boxes that come unasked (the quiet run's messages, the reminder) show one at a time, and
// only while no modal box is open, so they never stack over one another or over a dialog.
struct Notice {
  QPointer<QWidget> owner;
  std::string caption, text;
};
std::deque<Notice> notices;
QPointer<QMessageBox> noticeBox;
QPointer<TWUNeeded> reminderBox;
bool retryPending = false;

bool ModalBoxOpen() { return ModalDepth > 0 || QApplication::activeModalWidget() != nullptr; }

void ShowNextNotice() {
  retryPending = false;
  if (ShuttingDown || QuitRequested) {
    notices.clear();
    return;
  }
  if (noticeBox || notices.empty()) return;
  if (ModalBoxOpen() || reminderBox) {
    retryPending = true;
    QTimer::singleShot(250, [] { ShowNextNotice(); });
    return;
  }
  const Notice n = notices.front();
  notices.pop_front();
  if (!n.owner) return ShowNextNotice();
  auto* box = new QMessageBox(QMessageBox::Information, QString::fromStdString(n.caption),
                              QString::fromStdString(n.text), QMessageBox::Ok, n.owner);
  box->setTextFormat(Qt::PlainText);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);  // it does not hold the program
  KeepCaptionWhole(box);
  QObject::connect(box, &QObject::destroyed, [] { QTimer::singleShot(0, [] { ShowNextNotice(); }); });
  noticeBox = box;
  box->show();
}

std::string RunningExe() {
  if (UpdateWindowHooks.RunningExe) return UpdateWindowHooks.RunningExe();
  return QCoreApplication::applicationFilePath().toStdString();
}

}  // namespace

// ---- the update window ----

TfrmUpdate::TfrmUpdate(QWidget* owner, bool quiet) : QDialog(owner), Quiet(quiet) {
  setWindowTitle("Updating");
  auto* layout = new QVBoxLayout(this);
  Label1 = new QLabel("Updating Files from the Web Site...", this);
  lbShow = new QListWidget(this);
  pbCancel = new QPushButton("Cancel", this);
  pbClose = new QPushButton("&Close", this);
  pbClose->setEnabled(false);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(pbCancel);
  buttons->addWidget(pbClose);
  layout->addWidget(Label1);
  layout->addWidget(lbShow, 1);
  layout->addLayout(buttons);
  resize(480, 300);
  Timer1 = new QTimer(this);
  Timer1->setInterval(10);
  Timer1->setSingleShot(true);
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
  connect(pbCancel, &QPushButton::clicked, this, [this] { pbCancelClick(); });
  connect(pbClose, &QPushButton::clicked, this, [this] { pbCloseClick(); });
}

TfrmUpdate::~TfrmUpdate() {
  if (isVisible()) UpdateFormShowing = false;
}

void TfrmUpdate::hideEvent(QHideEvent* e) {
  QDialog::hideEvent(e);
  UpdateFormShowing = false;
}

void TfrmUpdate::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  FormShow();
}

void TfrmUpdate::FormShow() {
  UpdateFormShowing = true;
  if (Quiet) {
    move(-10, -10);
    resize(10, 10);
  }
  UpdateCancelled = false;
  if (!ran_) Timer1->start();
}

void TfrmUpdate::AddStatus(const std::string& line) {
  lbShow->addItem(QString::fromStdString(line));
  lbShow->setCurrentRow(lbShow->count() - 1);
}

void TfrmUpdate::Timer1Timer() {
  Timer1->stop();
  if (ran_) return;
  ran_ = true;
  running_ = true;
  UpdateUi ui;
  ui.Status = [this](const std::string& l) { AddStatus(l); };
  ui.ReplaceStatus = [this](const std::string& l) {
    if (lbShow->count() == 0) AddStatus(l);
    else lbShow->item(lbShow->count() - 1)->setText(QString::fromStdString(l));
  };
  ui.Message = [this](const std::string& caption, const std::string& text) { ShowBox(this, caption, text, "information"); };
  ui.PickFiles = [this](UpdatePlan& plan) {
    TdlgUpdateFiles picker(this, plan);
    picker.exec();
    return !picker.Cancelled;
  };
  std::string exeFile;
  RunWebUpdate(Quiet, &ui, Done, exeFile);
  running_ = false;
  if (!exeFile.empty()) HandOverExecutable(exeFile);
  pbClose->setEnabled(true);
  pbCancel->setEnabled(false);
  if (QuitRequested || Done || Quiet) accept();
}

void TfrmUpdate::HandOverExecutable(const std::string& exeFile) {
  DownloadedExeFile = exeFile;
  const std::string running = RunningExe();
  // The updater replaces only an executable of the program's own folder.
  if (!CanSwapExecutable(running) || !ExecutableInFolderOf(running, exeFile)) {
    // A program installed in a system folder is replaced by whoever installed it.
    AddStatus("The new executable was kept as " + exeFile);
    AddStatus(running + " cannot be replaced from here: install the new file by hand.");
    Done = false;
    ShowBox(this, "Executable Update",
            "You have downloaded a new executable.\r\n\r\nIt was kept as " + exeFile + ", because " + running +
                " is in a system folder, outside the program folder or cannot be written by you.\r\n",
            "warning");
    return;
  }
  ShowBox(this, "Executable Update",
          "You have downloaded a new executable.\r\n\r\n" + Branding.ProgShortName +
              " needs to quit/restart in order to update itself.\r\n",
          "warning");
  const int rc = UpdateWindowHooks.StartUpdater ? UpdateWindowHooks.StartUpdater(exeFile, running)
                                                : StartUpdater(exeFile, running, ProgVersion);
  if (rc == 0) {
    QuitRequested = true;
  } else {
    QuitRequested = false;
    ShowBox(this, "WINEXEC error",
            "Could not WinExec " + ProgDir + UpdaterFileName + "! Error #:" + std::to_string(rc), "warning");
  }
}

void TfrmUpdate::pbCloseClick() { accept(); }

void TfrmUpdate::pbCancelClick() { UpdateCancelled = true; }

void TfrmUpdate::closeEvent(QCloseEvent* e) {
  // A run in progress is cancelled first; the window closes once it has ended.
  if (running_) {
    UpdateCancelled = true;
    e->ignore();
    return;
  }
  QDialog::closeEvent(e);
}

void TfrmUpdate::reject() {
  if (running_) {
    UpdateCancelled = true;
    return;
  }
  QDialog::reject();
}

// ---- the file picker ----

TdlgUpdateFiles::TdlgUpdateFiles(QWidget* owner, UpdatePlan& plan) : QDialog(owner), plan_(plan) {
  setWindowTitle("WebUpdate - Pick Files to Update");
  auto* layout = new QVBoxLayout(this);
  Label1 = new QLabel("Pick the files that you wish to update:", this);
  ChList = new QListWidget(this);
  for (size_t i = 0; i < plan_.Files.size(); ++i) {
    if (!plan_.Files[i].Picked) continue;
    auto* item = new QListWidgetItem(QString::fromStdString(plan_.Files[i].Display), ChList);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Checked);
    item->setData(Qt::UserRole, int(i));
  }
  BitBtn1 = new QPushButton("OK", this);
  BitBtn2 = new QPushButton("Cancel", this);
  pbSelectAll = new QPushButton("Select All", this);
  pbDeselect = new QPushButton("Deselect All", this);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(pbSelectAll);
  buttons->addWidget(pbDeselect);
  buttons->addStretch();
  buttons->addWidget(BitBtn1);
  buttons->addWidget(BitBtn2);
  layout->addWidget(Label1);
  layout->addWidget(ChList, 1);
  layout->addLayout(buttons);
  resize(460, 280);
  connect(ChList, &QListWidget::itemChanged, this, [this](QListWidgetItem* it) { ChListClickCheck(it); });
  connect(pbSelectAll, &QPushButton::clicked, this, [this] { pbSelectAllClick(); });
  connect(pbDeselect, &QPushButton::clicked, this, [this] { pbDeselectClick(); });
  connect(BitBtn1, &QPushButton::clicked, this, [this] { OkClick(); });
  connect(BitBtn2, &QPushButton::clicked, this, [this] { CancelClick(); });
  BitBtn1->setDefault(true);
}

void TdlgUpdateFiles::ChListClickCheck(QListWidgetItem* item) {
  if (item->checkState() != Qt::Checked && item->text().left(8) == "REQUIRED") item->setCheckState(Qt::Checked);
}

void TdlgUpdateFiles::pbSelectAllClick() {
  for (int i = 0; i < ChList->count(); ++i) ChList->item(i)->setCheckState(Qt::Checked);
}

void TdlgUpdateFiles::pbDeselectClick() {
  for (int i = 0; i < ChList->count(); ++i)
    if (ChList->item(i)->text().left(8) != "REQUIRED") ChList->item(i)->setCheckState(Qt::Unchecked);
}

void TdlgUpdateFiles::OkClick() {
  for (int i = ChList->count() - 1; i >= 0; --i) {
    QListWidgetItem* item = ChList->item(i);
    if (item->checkState() != Qt::Checked) plan_.Files[size_t(item->data(Qt::UserRole).toInt())].Picked = false;
  }
  Cancelled = false;
  accept();
}

void TdlgUpdateFiles::CancelClick() {
  Cancelled = true;
  reject();
}

// ---- the reminder ----

TWUNeeded::TWUNeeded(QWidget* owner) : QDialog(owner) {
  setWindowTitle("WebUpdate Needed");
  auto* layout = new QVBoxLayout(this);
  Label1 = new QLabel(
      "The program has detected that a newer version of one or more of its components is available.  "
      "Would you like to get the updates now?",
      this);
  Label1->setWordWrap(true);
  BitBtn1 = new QPushButton("Do Webupdate Now", this);
  BitBtn2 = new QPushButton("Postpone It", this);
  BitBtn3 = new QPushButton("Cancel", this);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(BitBtn1);
  buttons->addWidget(BitBtn2);
  buttons->addWidget(BitBtn3);
  layout->addWidget(Label1);
  layout->addLayout(buttons);
  resize(420, 140);
  connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
  connect(BitBtn2, &QPushButton::clicked, this, [this] { BitBtn2Click(); });
  connect(BitBtn3, &QPushButton::clicked, this, [this] { BitBtn3Click(); });
}

void TWUNeeded::BitBtn1Click() {
  hide();
  bool went = false;
  if (!UpdateFormShowing) {
    went = OpenUpdateWindow(parentWidget());
    // The current site's definition may have changed: read it again.
    if (CurSite && !SiteFile.empty()) {
      auto fresh = std::make_shared<HTTPSite>();
      std::string error;
      LoadSiteFile(SiteFile, *fresh, nullptr, error);
      if (error.empty()) CurSite = fresh;
    }
  }
  // A failed or cancelled run leaves the reminder to come back.
  if (went) Ini().WriteString("Stocks", "LastWUNotify", LastWUNotify);
  NextWUReminder = LocalNow() + WUInterval / 1440.0;
  accept();
}

namespace {
void PostponeReminder() { NextWUReminder = LocalNow() + 0.25; }
}  // namespace

void TWUNeeded::BitBtn2Click() {
  PostponeReminder();
  accept();
}

void TWUNeeded::BitBtn3Click() {
  Ini().WriteString("Stocks", "LastWUNotify", LastWUNotify);
  NextWUReminder = LocalNow() + WUInterval / 1440.0;
  QDialog::reject();
}

void TWUNeeded::reject() { BitBtn3Click(); }

void TWUNeeded::closeEvent(QCloseEvent* e) {
  PostponeReminder();
  e->accept();  // closes and frees the box (the dialog's own handler would reject it)
}

bool OpenUpdateWindow(QWidget* owner) {
  if (UpdateFormShowing) return false;
  TfrmUpdate form(owner, false);
  ++ModalDepth;
  form.exec();
  --ModalDepth;
  return form.Done;
}

bool UpdateReminderDue(TDateTime now) {
  return !UpdateFormShowing && !LastWUNotify.empty() && now >= NextWUReminder &&
         LastWUNotify != Ini().ReadString("Stocks", "LastWUNotify", "");
}

void ShowUpdateNotice(QWidget* owner, const std::string& caption, const std::string& text) {
  notices.push_back({owner, caption, text});
  if (!retryPending) ShowNextNotice();
}

void ShowUpdateReminder(QWidget* owner) {
  // It waits for the next housekeeping tick while another box is open or waiting.
  if (reminderBox || QuitRequested || ModalBoxOpen() || noticeBox || !notices.empty() ||
      !UpdateReminderDue(LocalNow()))
    return;
  reminderBox = new TWUNeeded(owner);
  reminderBox->setAttribute(Qt::WA_DeleteOnClose);
  reminderBox->show();
}
