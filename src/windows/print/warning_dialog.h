#pragma once
// TdlgWarning: a warning the user can switch off for good. The caller sets the message and
// the settings section and key under which the choice is kept, shows it modally and frees it.
#include <QDialog>

#include <string>

class QCheckBox;
class QLabel;
class QPushButton;

class TdlgWarning : public QDialog {
public:
  explicit TdlgWarning(QWidget* parent = nullptr);
  std::string Message, Section, Key;
  QLabel* Label1;
  QCheckBox* cbNoWarn;
  QPushButton* BitBtn1;
  void FormShow();
  // Stores "YES" (warn again) or "NO" (ticked) when a section is given, then closes.
  void BitBtn1Click();

protected:
  void showEvent(QShowEvent* e) override;
};
