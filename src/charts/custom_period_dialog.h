#pragma once
// Asks for a custom chart period in minutes.
#include <QDialog>

#include <optional>

class QLabel;
class QLineEdit;

class TdlgCustTP : public QDialog {
public:
  explicit TdlgCustTP(QWidget* parent = nullptr);
  // Shows the dialog with the current minutes; the new minutes on OK, nothing on Cancel.
  std::optional<int> Ask(int minutes);
  // The minutes a text gives: a whole number from 1 to 1440, else nothing.
  static std::optional<int> MinutesFromText(const QString& text);
  // OK: takes the minutes, or says in the dialog why the text was refused and stays open.
  void pbOKClick();
  std::optional<int> Minutes() const { return minutes_; }

  QLineEdit* dfMin = nullptr;
  QLabel* lbError = nullptr;

private:
  std::optional<int> minutes_;
};
