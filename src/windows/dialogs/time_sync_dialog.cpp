#include "windows/dialogs/time_sync_dialog.h"

#include <QHBoxLayout>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

#include "core/branding.h"
#include "core/log.h"
#include "core/market_clock.h"
#include "core/program_state.h"
#include "core/settings_file.h"
#include "windows/dialogs/dialog_fetch.h"
#include "windows/dialogs/quit_watch.h"
#include "windows/dialogs/time_sync.h"

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
constexpr const char* Shown = "mmm d, yyyy hh:mm:ss";
constexpr size_t StatusPageChars = 80;

QLabel* ValueLabel(QWidget* parent) {
  auto* l = new QLabel("**Undetermined**", parent);
  l->setMinimumWidth(200);
  return l;
}
}  // namespace

std::string TftmSync::TimeHost(int source) {
  const std::string key = source == 1 ? "TIMEHOST1" : "TIMEHOST2";
  const std::string host = Trim(ParamValue(ParamList, key, ""));
  if (!host.empty()) return host;
  return source == 1 ? DefaultTimeHost1 : DefaultTimeHost2;
}

TftmSync::TftmSync(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Synchronize System Time");
  setWindowFlags((windowFlags() | Qt::MSWindowsFixedSizeDialogHint) &
                 ~Qt::WindowContextHelpButtonHint);
  Label1 = new QLabel(this);
  Label1->setWordWrap(true);
  Label1->setMinimumWidth(460);
  lbNow = ValueLabel(this);
  lbEastern = ValueLabel(this);
  lbMaster = ValueLabel(this);
  lbWrong = new QLabel(
      "Your time is off. This may be caused by incorrect time in your machine or incorrect time zone information. "
      "Please correct it by changing your Settings/Control Panel/Date Time.",
      this);
  lbWrong->setWordWrap(true);
  lbWrong->setMinimumWidth(460);
  lbWrong->setStyleSheet("color: #c00000;");
  lbWrong->hide();
  stStatus = new QLabel(this);
  stStatus->setAlignment(Qt::AlignCenter);
  stStatus->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  stStatus->setStyleSheet("QLabel { color: #0000c0; }");
  stStatus->setMinimumHeight(26);
  stStatus->setTextFormat(Qt::PlainText);
  stStatus->hide();
  pbCancel = new QPushButton("Cancel", this);
  pbCont = new QPushButton("&Continue", this);
  pbCont->setDefault(true);

  auto* v = new QVBoxLayout(this);
  // The dialog takes the size its content needs, also when a status or the warning appears
  // (the wrapped explanation keeps the height its width needs).
  v->setSizeConstraint(QLayout::SetFixedSize);
  v->addWidget(Label1);
  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel("System Local Time:", this), 0, 0);
  grid->addWidget(lbNow, 0, 1);
  grid->addWidget(new QLabel("System Eastern Time:", this), 1, 0);
  grid->addWidget(lbEastern, 1, 1);
  grid->addWidget(new QLabel("Master Clock Eastern Time:", this), 2, 0);
  grid->addWidget(lbMaster, 2, 1);
  v->addLayout(grid);
  v->addWidget(lbWrong);
  v->addWidget(stStatus);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(pbCancel);
  buttons->addWidget(pbCont);
  v->addLayout(buttons);

  connect(pbCancel, &QPushButton::clicked, this, [this] { pbCancelClick(); });
  connect(pbCont, &QPushButton::clicked, this, [this] { pbContClick(); });
  Timer1 = new QTimer(this);
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
  CloseOnQuit(this);
}

void TftmSync::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

void TftmSync::done(int result) {
  SyncCancelled = true;  // a running wait ends at its next poll
  Timer1->stop();
  QDialog::done(result);
}

void TftmSync::FormShow() {
  Label1->setText(Q(Branding.ProgShortName +
                    " needs to know the correct Eastern time in order to operate. This will fetch the current time "
                    "from US Naval Observatory Master Clock and compare it to your computer's system time. You have "
                    "to be connected to the Net in order to do this."));
  SyncCancelled = false;
  SyncBusy = false;
  MasterTime = 0;
  MasterDate = 0;
  FetchStart = 0;
  Fetched = false;
  Timer1->start(1000);
}

void TftmSync::Timer1Timer() {
  if (pbCont->text().contains("tinue")) {
    pbCont->setText("");
    pbContClick();
    if (!isVisible()) return;
  }
  lbNow->setText(Q(FormatDateTime(Shown, LocalNow())));
  lbEastern->setText(Q(FormatDateTime(Shown, MarketNow())));
  if (Fetched) lbMaster->setText(Q(FormatDateTime(Shown, (LocalNow() - FetchStart) + MasterDate + MasterTime)));
}

void TftmSync::SetStatus(const std::string& text) {
  stStatus->setText(Q(text));
  stStatus->show();
  stStatus->repaint();
}

bool TftmSync::FetchClockPage(const std::string& host, const char* path, std::string& page, TDateTime& received) {
  FetchStart = LocalNow();
  const bool ok = FetchDialogPage('Y', "GET", host, path, "Content-type: html/text", "", &SyncCancelled, page);
  received = LocalNow();
  return ok;
}

void TftmSync::TraceReading(const MasterReading& r) {
  if (!DebugOn) return;
  WriteDebugLog("Getting time from: " + r.TimeText);
  WriteDebugLog("The time gotten is: " + (r.Time ? FormatDateTime("hh:mm:ss", *r.Time) : std::string("none")));
  WriteDebugLog("Getting date from: " + r.DateText);
  WriteDebugLog("The Date gotten is: " + (r.Date ? FormatDateTime("mm/dd/yyyy", *r.Date) : std::string("none")));
}

void TftmSync::pbContClick() {
  if (Fetched) {
    accept();
    return;
  }
  if (SyncBusy) return;
  SyncBusy = true;
  pbCont->hide();
  SetStatus("Initializing...");

  const TDateTime marketBefore = MarketNow() - LocalNow();  // the clock in force before, as an offset
  std::string page;
  TDateTime received = 0;
  SetStatus("Accessing Master Clock...");
  bool ok = FetchClockPage(TimeHost(1), TimePath1, page, received);
  if (SyncCancelled) {
    SyncBusy = false;
    if (isVisible()) reject();
    return;
  }
  MasterReading reading;
  if (ok) {
    SetStatus("Checking Time...");
    if (DebugOn) WriteDebugLog(page);
    reading = ReadMasterPage1(page);
  } else {
    SetStatus("Accessing Master Clock 2...");
    ok = FetchClockPage(TimeHost(2), TimePath2, page, received);
    if (SyncCancelled) {
      SyncBusy = false;
      if (isVisible()) reject();
      return;
    }
    if (!ok) {
      SetStatus("ERROR accessing Master Clock");
      SyncBusy = false;
      return;
    }
    SetStatus("Checking Time...");
    if (DebugOn) WriteDebugLog(page.substr(0, 100));
    reading = ReadMasterPage2(page);
  }
  TraceReading(reading);

  if (!reading.Date) {
    SetStatus("Invalid Page - ERROR accessing Master Clock");
  } else if (!reading.Time) {
    SetStatus("Bad Time \"" + PlainElided(page, StatusPageChars) + "\" - ERROR accessing Master Clock");
  } else {
    const TDateTime master = MasterAtStart(*reading.Date, *reading.Time, FetchStart, received);
    if (!MasterTimePlausible(master, FetchStart)) {
      // A page dated 1900 would stop quote fetching until the next sync: keep the clock as it is.
      SetStatus("Master Clock says " + FormatDateTime(Shown, master) +
                ", more than a day from this computer's clock - nothing changed");
      WriteLog("Time sync refused: master clock " + FormatDateTime(Shown, master) + ", PC clock " +
               FormatDateTime(Shown, FetchStart));
      SyncBusy = false;
      return;
    }
    MasterDate = std::floor(master);
    MasterTime = master - MasterDate;
    if (DebugOn)
      WriteDebugLog("Adusted Date/time is: " + FormatDateTime("hh:mm:ss", MasterTime) + " " +
                    FormatDateTime("mm/dd/yyyy", MasterDate));
    const double offset = SyncOffset(master, FetchStart);
    SetStatus("Master Time Fetched (accurate to within 10 seconds)");
    EtOffsetCache = offset;
    ClockSynced = true;
    if (IniFile_) Ini().WriteFloat("Stocks", "ETOFFSET", offset);
    if (DebugOn) {
      WriteDebugLog("Now is: " + FormatDateTime("mm/dd/yyyy hh:mm:ss", LocalNow()));
      WriteDebugLog("Calculated Offset is: " + std::string(offset < 0 ? "-" : "") +
                    FormatDateTime("hh:mm:ss", std::fabs(offset)));
    }
    Fetched = true;
    Timer1Timer();
    lbWrong->setVisible(ClockLooksWrong(master, FetchStart + marketBefore));
    pbCancel->hide();
    pbCont->setText("&Close");
    pbCont->show();
  }
  SyncBusy = false;
}

void TftmSync::pbCancelClick() {
  SyncCancelled = true;
  if (!SyncBusy) reject();
}
