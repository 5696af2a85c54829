#include "windows/web/browser_window.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include <memory>

#include "core/branding.h"
#include "core/button_form.h"
#include "core/log.h"
#include "core/settings_file.h"
#include "core/window_place.h"
#include "platform/messages.h"
#include "retrieval/login_script.h"
#include "windows/web/url_launcher.h"
#include "windows/web/web_login.h"

QPointer<TfrmIE> frmIE;

TfrmIE::TfrmIE(QWidget* owner) : QDialog(owner) {
  setWindowTitle("Vantora Web Browser");
  resize(625, 509);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  TopPan = new QWidget(this);
  TopPan->setFixedHeight(80);
  MainLabel = new QLabel(TopPan);
  MainLabel->setWordWrap(true);
  MainLabel->setTextFormat(Qt::PlainText);
  MainLabel->setText(WebLoginDefaultPrompt);
  pbLoggedIn = new QPushButton("Logged In", TopPan);
  pbCancel = new QPushButton("Cancel", TopPan);
  pbLoggedIn->setAutoDefault(false);
  pbCancel->setAutoDefault(false);
  layout->addWidget(TopPan);

  NavPan = new TBrowserNavBar(this);
  layout->addWidget(NavPan);

  WB = CreateBrowserControl(this);
  if (WB) {
    layout->addWidget(WB, 1);
    WB->HomeUrl = Branding.CompURL;
    WB->OnNavigateComplete2 = [this](const std::string& url, bool ok) { WBNavigateComplete2(url, ok); };
    WB->OnDocumentComplete = [this](const std::string& url) { WBDocumentComplete(url); };
    WB->OnBeforeNavigate2 = [this](const std::string& url) { return WBBeforeNavigate2(url); };
  } else {
    NoBrowserLabel = new QLabel(
        "The built-in web browser is not available on this system (Qt WebEngine could not start), "
        "so no page can be shown here.",
        this);
    NoBrowserLabel->setWordWrap(true);
    NoBrowserLabel->setAlignment(Qt::AlignCenter);
    layout->addWidget(NoBrowserLabel, 1);
  }
  NavPan->Attach(WB);
  // Without a browser there is nothing to log in at.
  pbLoggedIn->setEnabled(WB != nullptr);

  Timer1 = new QTimer(this);
  Timer1->setInterval(1000);
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
  Timer1->start();
  connect(pbLoggedIn, &QPushButton::clicked, this, [this] { pbLoggedInClick(); });
  connect(pbCancel, &QPushButton::clicked, this, [this] { pbCancelClick(); });
}

TfrmIE::~TfrmIE() = default;

void TfrmIE::SetPrompt(const std::string& text) {
  MainLabel->setText(QString::fromStdString(text));
}

void TfrmIE::Navigate(const std::string& url) {
  const std::string target = WebAddress(url);
  if (target.empty()) return;
  NavPan->dfAddress->setText(QString::fromStdString(target));
  if (WB) {
    NavPan->pbNavStop->setEnabled(true);
    WB->Navigate(target);
  }
}

void TfrmIE::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!shown_) {
    shown_ = true;
    FormShow();
  }
  FormActivate();
}

void TfrmIE::FormShow() {
  if (!IniFile_) return;
  const QRect g = geometry();
  const int x = Ini().ReadInteger("News", "BWINX", g.x());
  const int y = Ini().ReadInteger("News", "BWINY", g.y());
  const int w = Ini().ReadInteger("News", "BWINW", g.width());
  const int h = Ini().ReadInteger("News", "BWINH", g.height());
  // A place stored on a screen that is gone keeps the window where it is.
  if (w >= 200 && h >= 150 && QGuiApplication::screenAt(QPoint(x + w / 2, y + 10))) setGeometry(x, y, w, h);
}

void TfrmIE::FormActivate() {
  if (StartUrl.empty()) return;
  const std::string url = std::exchange(StartUrl, std::string());
  Navigate(url);
}

void TfrmIE::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  FormResize();
}

void TfrmIE::FormResize() {
  const int w = TopPan->width();
  MainLabel->setGeometry(4, 2, w - 8, 44);
  const int bh = pbLoggedIn->sizeHint().height();
  const int bw = std::max(pbLoggedIn->sizeHint().width(), 90);
  const int top = TopPan->height() - bh - 4;
  pbLoggedIn->setGeometry((w - bw) / 6, top, bw, bh);
  pbCancel->setGeometry(w - (w - bw) / 6 - bw, top, bw, bh);
}

void TfrmIE::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    QDialog::keyPressEvent(event);
    return;
  }
  int key = event->key();
  HandleGlobalHotKey(key, event->modifiers());
  if (key == 0) return;
  QDialog::keyPressEvent(event);
}

void TfrmIE::Timer1Timer() {
  NavPan->RefreshState();
}

void TfrmIE::pbLoggedInClick() {
  const std::string address = NavPan->dfAddress->text().toStdString();
  {
    std::lock_guard lock(WebLoginMutex);
    WebLoginUrl = address;
  }
  LoggedInHost = LoginHostOf(address);
  accept();
}

void TfrmIE::pbCancelClick() {
  reject();
}

void TfrmIE::WBNavigateComplete2(const std::string& url, bool) {
  NavPan->dfAddress->setText(QString::fromStdString(url));
}

void TfrmIE::WBDocumentComplete(const std::string&) {
  NavPan->pbNavStop->setEnabled(WB && WB->Busy());
  NavPan->RefreshState();
  if (!WB) return;
  QPointer<TfrmIE> self(this);
  WB->DocumentHtml([self](const std::string& html) {
    if (self) self->lastPage_ = html;
  });
}

bool TfrmIE::WBBeforeNavigate2(const std::string&) {
  return true;
}

void TfrmIE::done(int result) {
  FormClose();
  QDialog::done(result);
  if (FreeOnClose) {
    // Gone for the openers at once: an article opened before the deferred delete gets a new window.
    if (frmIE == this) frmIE = nullptr;
    deleteLater();
  }
}

void TfrmIE::FormClose() {
  if (closed_) return;
  closed_ = true;
  Timer1->stop();
  if (IniFile_) {
    const QRect g = geometry();
    Ini().BeginBatch();
    Ini().WriteInteger("News", "BWINX", g.x());
    Ini().WriteInteger("News", "BWINY", g.y());
    Ini().WriteInteger("News", "BWINW", g.width());
    Ini().WriteInteger("News", "BWINH", g.height());
    Ini().EndBatch();
  }
  // The page stays in memory. The engine gives its markup only later, so wait for it (with a
  // deadline, ending on shut-down); when that wait cannot run, the last completed page serves.
  std::string page;
  if (WB && WB->HasDocument()) {
    auto fresh = std::make_shared<std::string>();
    auto got = std::make_shared<bool>(false);
    WB->DocumentHtml([fresh, got](const std::string& html) {
      *fresh = html;
      *got = true;
    });
    const WaitResult r = WaitUntil([got] { return *got; }, nullptr, PageTextDeadlineMs);
    if (r == WaitResult::Done) page = *fresh;
    else {
      WriteLog("Browser window: the page text was not ready; the last completed page is kept");
      page = lastPage_;
    }
  }
  std::lock_guard lock(WebLoginMutex);
  WebLoginPage = page;
}

bool OpenInBrowserWindow(const std::string& url, QWidget* opener) {
  const std::string target = WebAddress(url);
  if (target.empty()) return false;
  if (!frmIE) {
    frmIE = new TfrmIE(nullptr);
    frmIE->FreeOnClose = true;
    frmIE->TopPan->setFixedHeight(0);
    frmIE->TopPan->hide();
  }
  // Kept above the window it was opened from, which may itself stay above the main window; not
  // its child, so it stays open when that window closes.
  KeepAbove(frmIE, opener);
  frmIE->show();
  frmIE->raise();
  frmIE->activateWindow();
  frmIE->Navigate(target);
  return true;
}

TfrmREDIR::TfrmREDIR(QWidget* owner) : QDialog(owner) {
  setWindowTitle("Redirected URL");
  auto* layout = new QVBoxLayout(this);
  Edit1 = new QLineEdit(this);
  Edit1->setMinimumWidth(420);
  pbOK = new QPushButton("OK", this);
  pbOK->setDefault(true);
  layout->addWidget(Edit1);
  layout->addWidget(pbOK, 0, Qt::AlignHCenter);
  connect(pbOK, &QPushButton::clicked, this, [this] { pbOKClick(); });
}

void ShowRedirectedUrl(const std::string& url) {
  TfrmREDIR box(QApplication::activeWindow());
  box.Edit1->setText(QString::fromStdString(url));
  box.exec();
}
