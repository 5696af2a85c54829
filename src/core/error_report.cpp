#include "core/error_report.h"

#include <QApplication>
#include <QMessageBox>

#include <atomic>
#include <mutex>

#include "core/branding.h"
#include "core/log.h"
#include "core/program_state.h"
#include "core/text_helpers.h"

std::string InternetLibraryVersion = "**unknown**";

namespace {
std::atomic<bool> suppressed{false};
std::mutex handlerMutex;
std::function<void(const std::string&, const std::string&)> handler;
}  // namespace

void SuppressErrorDialogs(bool suppress) { suppressed = suppress; }

void SetErrorReportHandler(std::function<void(const std::string&, const std::string&)> h) {
  std::lock_guard lock(handlerMutex);
  handler = std::move(h);
}

std::string ErrorReportText(const std::string& message, const std::string& position) {
  std::string text;
  text.append("An error has occurred in ").append(Branding.ProgFullName).append("\n");
  text.append("Please report the following detail to ").append(Branding.SupportEmail).append("\n");
  text.append("Version: ").append(VersionText(ProgVersion)).append("  Error Position: ").append(position).append("\n");
  text.append("WININET Version: ").append(InternetLibraryVersion).append("\n");
  text.append("Error Message: ").append(message);
  return text;
}

void ShowErrorReport(const std::string& message, const std::string& position) {
  WriteLog("Error report: " + position + ": " + message, 0);
  {
    std::lock_guard lock(handlerMutex);
    if (handler) handler(message, position);
  }
  if (suppressed || !qobject_cast<QApplication*>(QCoreApplication::instance())) return;
  std::string text = ErrorReportText(message, position);
  auto show = [text] {
    ++ModalDepth;
    QMessageBox::critical(nullptr, "Error", QString::fromStdString(text));
    --ModalDepth;
  };
  if (IsMainThread()) show();
  else PostToMainThread(show);  // a worker never blocks on a dialog
}
