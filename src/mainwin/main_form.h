#pragma once
// The main window for the program's lifetime.
#include <QMainWindow>

class QLabel;

class TmForm : public QMainWindow {
public:
  TmForm();
  // Restores and raises the window (a second start knocked).
  void BringToFront();

protected:
  void closeEvent(QCloseEvent* e) override;

private:
  QLabel* status_ = nullptr;
};

extern TmForm* mForm;
