#include "windows/browser/web_engine_browser_control.h"

#include <QPageLayout>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <QWebEngineFindTextResult>
#include <QWebEngineHistory>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

namespace {

constexpr int PrintEndWaitMs = 10000;  // how long a closed control's page outlives its print job

bool IsWebScheme(const QUrl& url) {
  const QString scheme = url.scheme().toLower();
  return scheme == "http" || scheme == "https";
}

}  // namespace

class BrowserPage final : public QWebEnginePage {
public:
  BrowserPage(WebEngineBrowserControl* control, QObject* parent)
      : QWebEnginePage(QWebEngineProfile::defaultProfile(), parent), control_(control) {}
  // The control is gone: the page refuses every navigation from now on.
  void ForgetControl() { control_ = nullptr; }

protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType, bool isMainFrame) override {
    if (!control_) return false;
    if (!isMainFrame) return true;
    return control_->AcceptMainFrame(url);
  }

private:
  WebEngineBrowserControl* control_;
};

WebEngineBrowserControl::WebEngineBrowserControl(QWidget* parent)
    : BrowserControl(parent), view_(new QWebEngineView(this)) {
  page_ = new BrowserPage(this, view_);
  view_->setPage(page_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(view_);
  // The page's loading state ends once per load, also when the load fails or is stopped, and a
  // load replaced by a newer one ends only with that one: the host's "loading" cannot stick.
  connect(page_, &QWebEnginePage::loadingChanged, this, [this](const QWebEngineLoadingInfo& info) {
    if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus) {
      busy_ = true;
      return;
    }
    busy_ = false;
    const bool ok = info.status() == QWebEngineLoadingInfo::LoadSucceededStatus;
    if (ok) hasDocument_ = true;
    CheckCommandState();
    const std::string at = LocationURL();
    std::shared_ptr<bool> alive = alive_;
    FireNavigateComplete2(at, ok);
    if (ok && *alive) FireDocumentComplete(at);
  });
  connect(page_, &QWebEnginePage::urlChanged, this, [this](const QUrl&) { CheckCommandState(); });
  connect(view_, &QWebEngineView::printFinished, this, [this](bool ok) {
    if (auto done = std::exchange(printDone_, nullptr)) done(ok);
  });
  connect(page_, &QWebEnginePage::pdfPrintingFinished, this, [this](const QString&, bool ok) {
    if (auto done = std::exchange(pdfDone_, nullptr)) done(ok);
  });
}

WebEngineBrowserControl::~WebEngineBrowserControl() {
  *alive_ = false;
  std::function<void(bool)> pending = printDone_ ? std::move(printDone_) : std::move(pdfDone_);
  if (!pending) return;
  // The engine goes on writing a print job after the call returns, and falls over when the page
  // goes first. The view (hidden, without a parent) outlives this control until the job ends or
  // a bound passes; it keeps the host's callback, and the printer in it, but never calls it.
  page_->ForgetControl();
  QWebEngineView* view = view_;
  view->setParent(nullptr);
  auto keep = std::make_shared<std::function<void(bool)>>(std::move(pending));
  connect(view, &QWebEngineView::printFinished, view, [view, keep] { view->deleteLater(); });
  connect(page_, &QWebEnginePage::pdfPrintingFinished, view, [view, keep] { view->deleteLater(); });
  QTimer::singleShot(PrintEndWaitMs, view, &QObject::deleteLater);
}

template <typename T>
std::function<void(T)> WebEngineBrowserControl::Guard(std::function<void(T)> done) {
  return [alive = alive_, done = std::move(done)](T value) {
    if (*alive && done) done(value);
  };
}

bool WebEngineBrowserControl::AcceptMainFrame(const QUrl& url) {
  const bool typed = !typed_.isEmpty() && url == typed_;
  typed_.clear();
  if (!typed && !IsWebScheme(url)) return false;
  return FireBeforeNavigate2(url.toString().toStdString());
}

void WebEngineBrowserControl::CheckCommandState() {
  const bool back = CanGoBack(), forward = CanGoForward();
  std::shared_ptr<bool> alive = alive_;
  if (forward != canForward_) {
    canForward_ = forward;
    FireCommandStateChange(CommandForward, forward);
  }
  if (*alive && back != canBack_) {
    canBack_ = back;
    FireCommandStateChange(CommandBack, back);
  }
}

void WebEngineBrowserControl::Navigate(const std::string& url, bool typed) {
  const QUrl target = QUrl::fromUserInput(QString::fromStdString(url).trimmed());
  if (!target.isValid() || target.isEmpty()) return;
  if (!typed && !IsWebScheme(target)) return;
  typed_ = typed ? target : QUrl();
  // Busy at once: the engine reports the start only later, and hosts poll Busy meanwhile.
  busy_ = true;
  view_->load(target);
}

std::string WebEngineBrowserControl::LocationURL() const {
  return view_->url().toString().toStdString();
}

std::string WebEngineBrowserControl::LocationName() const {
  return view_->title().toStdString();
}

bool WebEngineBrowserControl::Busy() const {
  return busy_;
}

bool WebEngineBrowserControl::HasDocument() const {
  return hasDocument_;
}

void WebEngineBrowserControl::GoBack() {
  if (CanGoBack()) view_->back();
}

void WebEngineBrowserControl::GoForward() {
  if (CanGoForward()) view_->forward();
}

bool WebEngineBrowserControl::CanGoBack() const {
  return page_->history()->canGoBack();
}

bool WebEngineBrowserControl::CanGoForward() const {
  return page_->history()->canGoForward();
}

void WebEngineBrowserControl::Stop() {
  view_->stop();
}

void WebEngineBrowserControl::DocumentHtml(std::function<void(const std::string& html)> done) {
  auto guarded = Guard<const std::string&>(std::move(done));
  page_->toHtml([guarded](const QString& html) { guarded(html.toStdString()); });
}

void WebEngineBrowserControl::DocumentText(std::function<void(const std::string& text)> done) {
  auto guarded = Guard<const std::string&>(std::move(done));
  page_->toPlainText([guarded](const QString& text) { guarded(text.toStdString()); });
}

void WebEngineBrowserControl::Print(QPrinter* printer, std::function<void(bool ok)> done) {
  // One print job at a time: the engine reports the end of only the last one.
  if (printDone_ || pdfDone_ || !hasDocument_ || !printer) {
    if (done) done(false);
    return;
  }
  printDone_ = done ? std::move(done) : [](bool) {};
  view_->print(printer);
}

void WebEngineBrowserControl::PrintToPdf(const std::string& path, std::function<void(bool ok)> done,
                                         const QPageLayout* layout) {
  if (printDone_ || pdfDone_ || !hasDocument_ || path.empty()) {
    if (done) done(false);
    return;
  }
  pdfDone_ = done ? std::move(done) : [](bool) {};
  if (layout) page_->printToPdf(QString::fromStdString(path), *layout);
  else page_->printToPdf(QString::fromStdString(path));
}

void WebEngineBrowserControl::Find(const std::string& text, bool backward, std::function<void(bool found)> done) {
  auto guarded = Guard<bool>(std::move(done));
  if (text.empty() || !hasDocument_) {
    guarded(false);
    return;
  }
  QWebEnginePage::FindFlags flags;
  if (backward) flags |= QWebEnginePage::FindBackward;
  page_->findText(QString::fromStdString(text), flags,
                  [guarded](const QWebEngineFindTextResult& r) { guarded(r.numberOfMatches() > 0); });
}
