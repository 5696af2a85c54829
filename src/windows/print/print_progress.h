#pragma once
// TPPPrnPrgDlg: the "Print Progress" box shown while pages go to the printer.
#include <QDialog>

#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;

class TPPPrnPrgDlg : public QDialog {
public:
  explicit TPPPrnPrgDlg(QWidget* parent = nullptr);
  QLabel* lblStatus;
  QLabel* lblPageNumber;
  QProgressBar* ProgBar;
  QPushButton* btnCancel;
  // Runs when Cancel is pressed (sets the printer's cancel flag).
  std::function<void()> OnCancel;

protected:
  void reject() override;
};
