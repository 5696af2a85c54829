#include "windows/dialogs/dialog_messages.h"

#include <QMessageBox>

std::function<void(QWidget*, const std::string&, const std::string&)> DialogMessage =
    [](QWidget* parent, const std::string& text, const std::string& caption) {
      QMessageBox::information(parent, QString::fromStdString(caption), QString::fromStdString(text));
    };
