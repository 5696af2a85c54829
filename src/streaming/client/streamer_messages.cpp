#include "streaming/client/streamer_messages.h"

#include <QMessageBox>

#include "core/log.h"
#include "platform/messages.h"

namespace {

void ShowBox(const std::string& text, const std::string& caption) {
  PostToMainThread([text, caption] {
    auto* box = new QMessageBox(QMessageBox::Warning, QString::fromStdString(caption), QString::fromStdString(text),
                                QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show();
  });
}

}  // namespace

std::function<void(const std::string& text, const std::string& caption)> StreamerMessageHook = ShowBox;

void ShowStreamerMessage(const std::string& text, const std::string& caption) {
  WriteLog(caption + ": " + text);
  if (StreamerMessageHook) StreamerMessageHook(text, caption);
}
