#pragma once
// Asks for a custom chart period in minutes.
#include <QDialog>

#include <optional>

class QLineEdit;

class TdlgCustTP : public QDialog {
public:
  explicit TdlgCustTP(QWidget* parent = nullptr);
  // Shows the dialog with the current minutes; the new minutes on OK (1..1440), nothing on
  // Cancel or when the text is no whole number.
  std::optional<int> Ask(int minutes);
  // The minutes that OK takes from a text.
  static std::optional<int> MinutesFromText(const QString& text);

  QLineEdit* dfMin = nullptr;
};
