#include "windows/browser/web_engine_browser_control.h"

#include <QUrl>
#include <QVBoxLayout>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineView>

WebEngineBrowserControl::WebEngineBrowserControl(QWidget* parent)
    : BrowserControl(parent), view_(new QWebEngineView(this)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(view_);
  // The page's loading state ends once per load, also when the load fails or is stopped, and a
  // load replaced by a newer one ends only with that one: the host's "loading" cannot stick.
  connect(view_->page(), &QWebEnginePage::loadingChanged, this, [this](const QWebEngineLoadingInfo& info) {
    if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus) {
      busy_ = true;
      return;
    }
    busy_ = false;
    FireNavigateComplete2(LocationURL(), info.status() == QWebEngineLoadingInfo::LoadSucceededStatus);
  });
}

void WebEngineBrowserControl::Navigate(const std::string& url) {
  const QUrl target = QUrl::fromUserInput(QString::fromStdString(url).trimmed());
  if (!target.isValid() || target.isEmpty()) return;
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
