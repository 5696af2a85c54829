#include "core/button_form.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QStyle>
#include <QToolButton>
#include <QUrl>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <mutex>

#include "core/branding.h"
#include "core/log.h"
#include "core/program_state.h"
#include "platform/clock.h"
#include "platform/session_idle.h"

bool CaptionButtonsOn = true;
std::function<std::string(QWidget* parent)> OpenSymbolLookup;
GlobalHotKeyTable GlobalHotKeys;

namespace {

std::array<TButtonForm*, MaxButtonForms> buttonForms{};

constexpr int CaptionButtonSize = 18;

}  // namespace

TButtonForm::TButtonForm(QWidget* parent, Qt::WindowFlags flags) : QWidget(parent, flags) {
  auto slot = std::find(buttonForms.begin(), buttonForms.end(), nullptr);
  if (slot != buttonForms.end()) *slot = this;
  else WriteLog("Table of open forms is full");

  lookupButton_ = new QToolButton(this);
  lookupButton_->setObjectName("CaptionLookupButton");
  lookupButton_->setIcon(style()->standardIcon(QStyle::SP_FileDialogContentsView));
  lookupButton_->setAutoRaise(true);
  lookupButton_->setFocusPolicy(Qt::NoFocus);
  lookupButton_->hide();
  QObject::connect(lookupButton_, &QToolButton::clicked, this, [this] { LookupButtonClick(); });

  helpButton_ = new QToolButton(this);
  helpButton_->setObjectName("CaptionHelpButton");
  helpButton_->setIcon(style()->standardIcon(QStyle::SP_TitleBarContextHelpButton));
  helpButton_->setAutoRaise(true);
  helpButton_->setFocusPolicy(Qt::NoFocus);
  helpButton_->hide();
  QObject::connect(helpButton_, &QToolButton::clicked, this, [this] { HelpButtonClick(); });
}

TButtonForm::~TButtonForm() {
  auto slot = std::find(buttonForms.begin(), buttonForms.end(), this);
  if (slot != buttonForms.end()) *slot = nullptr;
}

void TButtonForm::RefreshCaptionButtons() {
  lookupButton_->setVisible(CaptionButtonsOn && ShowLookupButton);
  helpButton_->setVisible(CaptionButtonsOn && ShowHelpButton);
  if (!CaptionButtonsOn) return;
  lookupButton_->setDown(LookupButtonDown);
  helpButton_->setDown(HelpButtonDown);
  PlaceCaptionButtons();
  update();
}

void TButtonForm::PlaceCaptionButtons() {
  // The window manager owns the title bar, so the buttons sit in the top-right corner of the
  // client area, above the form's own controls.
  int right = width();
  for (QToolButton* b : {helpButton_, lookupButton_}) {
    if (b->isHidden()) continue;
    right -= CaptionButtonSize;
    b->setGeometry(right, 0, CaptionButtonSize, CaptionButtonSize);
    b->raise();
  }
}

void TButtonForm::LookupButtonClick() {
  if (!OpenSymbolLookup) return;
  // Copied: the dialog may replace the hook while it runs.
  auto open = OpenSymbolLookup;
  const std::string symbol = open(this);
  if (!symbol.empty()) SymbolLookedUp(symbol);
}

void TButtonForm::HelpButtonClick() { ShowProgramHelp(this); }

void TButtonForm::SymbolLookedUp(const std::string&) {}

void TButtonForm::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  PlaceCaptionButtons();
}

void TButtonForm::keyPressEvent(QKeyEvent* event) {
  int key = event->key();
  HandleGlobalHotKey(key, event->modifiers());
  if (key == 0) event->accept();
  else QWidget::keyPressEvent(event);
}

std::vector<TButtonForm*> OpenButtonForms() {
  std::vector<TButtonForm*> forms;
  for (TButtonForm* f : buttonForms)
    if (f) forms.push_back(f);
  return forms;
}

void EnsureOnScreen(QWidget* form) {
  if (form == nullptr) return;
  const QList<QScreen*> screens = QGuiApplication::screens();
  if (screens.isEmpty()) return;
  const QRect r = form->frameGeometry();
  for (const QPoint& corner : {r.topLeft(), r.topRight(), r.bottomLeft(), r.bottomRight()})
    for (const QScreen* s : screens)
      if (s->geometry().contains(corner)) return;
  WriteLog("Window is not visible on any monitor! L=" + std::to_string(r.left()) + " T=" + std::to_string(r.top()));
  form->move(screens.first()->availableGeometry().topLeft());
}

bool IsSharedLetterKey(int key, Qt::KeyboardModifiers shift) {
  if (!shift.testFlag(Qt::ControlModifier) && !shift.testFlag(Qt::AltModifier)) return false;
  switch (key) {
    case Qt::Key_P: case Qt::Key_S: case Qt::Key_E: case Qt::Key_M: case Qt::Key_L: case Qt::Key_R: return true;
    default: return false;
  }
}

void HandleGlobalHotKey(int& key, Qt::KeyboardModifiers shift) {
  const bool ctrlOrAlt = shift.testFlag(Qt::ControlModifier) || shift.testFlag(Qt::AltModifier);
  std::function<void()>* action = nullptr;
  switch (key) {
    case Qt::Key_P: action = ctrlOrAlt ? &GlobalHotKeys.PortfolioBox : nullptr; break;
    case Qt::Key_S: action = ctrlOrAlt ? &GlobalHotKeys.SiteBox : nullptr; break;
    case Qt::Key_E: action = ctrlOrAlt ? &GlobalHotKeys.RefreshInterval : nullptr; break;
    case Qt::Key_M: action = ctrlOrAlt ? &GlobalHotKeys.Preferences : nullptr; break;
    case Qt::Key_L: action = ctrlOrAlt ? &GlobalHotKeys.WatchList : nullptr; break;
    case Qt::Key_R: action = ctrlOrAlt ? &GlobalHotKeys.Refresh : nullptr; break;
    case Qt::Key_F5: action = &GlobalHotKeys.Refresh; break;
    case Qt::Key_F1: action = &GlobalHotKeys.Help; break;
    case Qt::Key_F2: {
      const bool shiftCtrl = shift.testFlag(Qt::ShiftModifier) && shift.testFlag(Qt::ControlModifier);
      action = shiftCtrl ? &GlobalHotKeys.CreateDebugWindow : &GlobalHotKeys.ShowDebugWindow;
      break;
    }
    default: break;
  }
  if (action == nullptr || !*action) return;
  key = 0;
  // Copied: the action may open a window that changes the table.
  auto run = *action;
  run();
}

namespace {

std::atomic<int64_t> lastInputTick{0};

std::mutex idleSourceMutex;
std::function<std::optional<int64_t>()> idleSource;  // empty: SessionIdleMs

// The shared letter keys act from whichever control has the focus, before the control's own
// handling (a combo box takes Ctrl+P for its type-ahead) unless the control claims the key as
// its own (a text field's editing keys). A control's mnemonic (Alt+its underlined letter) has
// been taken as a shortcut before the key gets here. A modal window keeps its keys.
bool TakeSharedKey(QWidget* target, const QKeyEvent& key) {
  if (!IsSharedLetterKey(key.key(), key.modifiers()) || QApplication::activeModalWidget() != nullptr) return false;
  // Asked once, where the key arrives, not again on its way up to the window.
  if (target != QApplication::focusWidget() && target->parentWidget() != nullptr) return false;
  QKeyEvent probe(QEvent::ShortcutOverride, key.key(), key.modifiers(), key.text());
  probe.ignore();
  QCoreApplication::sendEvent(target, &probe);
  if (probe.isAccepted()) return false;
  int code = key.key();
  HandleGlobalHotKey(code, key.modifiers());
  return code == 0;
}

class InputActivityFilter : public QObject {
public:
  using QObject::QObject;

protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
      const auto* key = static_cast<QKeyEvent*>(event);
      if (key->key() == Qt::Key_F1 && key->modifiers() == Qt::NoModifier) {
        // Every window answers F1 the same way, whatever its own keys do.
        NoteUserInput();
        ShowProgramHelp(static_cast<QWidget*>(watched));
        return true;
      }
      if (TakeSharedKey(static_cast<QWidget*>(watched), *key)) {
        NoteUserInput();
        return true;
      }
    }
    switch (event->type()) {
      case QEvent::KeyPress:
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonDblClick:
      case QEvent::MouseMove:
      case QEvent::HoverMove:
      case QEvent::Wheel:
      case QEvent::TouchBegin:
      case QEvent::TouchUpdate: NoteUserInput(); break;
      default: break;
    }
    return QObject::eventFilter(watched, event);
  }
};

// The input clock starts with the first question, so a fresh start counts as active.
int64_t LastInputTick() {
  int64_t last = lastInputTick.load();
  if (last == 0) {
    int64_t now = TickMs();
    if (lastInputTick.compare_exchange_strong(last, now)) return now;
  }
  return last;
}

double InactiveMinutes() {
  const std::string text = Trim(ParamValue(AdParams, "INACTIVETIME", "60"));
  double minutes = 0;
  auto res = std::from_chars(text.data(), text.data() + text.size(), minutes);
  if (res.ec != std::errc() || res.ptr != text.data() + text.size()) return 60;
  return minutes;
}

}  // namespace

void InstallInputActivityFilter() {
  static QPointer<InputActivityFilter> filter;
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr || filter != nullptr) return;
  filter = new InputActivityFilter(app);
  app->installEventFilter(filter);
  NoteUserInput();
}

void NoteUserInput() { lastInputTick = TickMs(); }

void ShowProgramHelp(QWidget* from) {
  std::string name;
  GetHelpFileName(name);
  if (!name.empty() && IsSafeRelativeName(name) && QFileInfo::exists(QString::fromStdString(ProgDir + name))) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(ProgDir + name)));
    return;
  }
  ShowBoxOver(from ? from->window() : nullptr, QMessageBox::Information, "Help", "No help file is installed.");
}

void ShowBoxOver(QWidget* over, QMessageBox::Icon icon, const std::string& caption, const std::string& text) {
  auto* box = new QMessageBox(icon, QString::fromStdString(caption), QString::fromStdString(text), QMessageBox::Ok, over);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  box->show();
}

void SetSessionIdleSource(std::function<std::optional<int64_t>()> source) {
  std::lock_guard lock(idleSourceMutex);
  idleSource = std::move(source);
}

bool IsUserInactive() {
  int64_t idleMs = TickMs() - LastInputTick();
  std::function<std::optional<int64_t>()> source;
  {
    std::lock_guard lock(idleSourceMutex);
    source = idleSource;
  }
  // Input to our own windows counts either way; the session's counts where it is known.
  if (const std::optional<int64_t> session = source ? source() : SessionIdleMs()) idleMs = std::min(idleMs, *session);
  return static_cast<double>(idleMs) > InactiveMinutes() * 60000.0;
}
