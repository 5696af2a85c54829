#pragma once
// The about box: name, version, the web site and e-mail links, and system information.
#include <QDialog>

#include <functional>
#include <string>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// Opens a "mailto:" address with the desktop's handler; tests replace it.
extern std::function<bool(const std::string& address)> OpenMailAddress;

class TdlgABout : public QDialog {
public:
  explicit TdlgABout(QWidget* parent = nullptr);

  QLabel* Image1 = nullptr;
  QLabel* lbName = nullptr;
  QLabel* labVer = nullptr;
  QLabel* lbCopyright = nullptr;
  QPlainTextEdit* Memo1 = nullptr;
  QLineEdit* dfWebSite = nullptr;
  QLineEdit* dfEmail = nullptr;
  QPushButton* pbOK = nullptr;

  void FormShow();
  void Edit1DblClick();
  void dfEmailClick();

protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
};
