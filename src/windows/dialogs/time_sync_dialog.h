#pragma once
// The time synchronisation dialog: reads the Eastern time from a master-clock page and puts
// the offset to the PC's clock into force ("ETOFFSET").
#include <QDialog>

#include <atomic>
#include <string>

#include "platform/datetime.h"

class QLabel;
class QPushButton;
class QTimer;
struct MasterReading;

class TftmSync : public QDialog {
public:
  explicit TftmSync(QWidget* parent = nullptr);

  QLabel* Label1 = nullptr;
  QLabel* lbNow = nullptr;
  QLabel* lbEastern = nullptr;
  QLabel* lbMaster = nullptr;
  QLabel* lbWrong = nullptr;
  QLabel* stStatus = nullptr;
  QPushButton* pbCancel = nullptr;
  QPushButton* pbCont = nullptr;
  QTimer* Timer1 = nullptr;

  std::atomic<bool> SyncCancelled{false};
  bool SyncBusy = false;
  double MasterTime = 0;
  double MasterDate = 0;
  TDateTime FetchStart = 0;
  bool Fetched = false;  // a master time was read and put into force

  void FormShow();
  void Timer1Timer();
  void pbContClick();
  void pbCancelClick();

  // The two hosts: params.par "TIMEHOST1" and "TIMEHOST2", else the defaults.
  static std::string TimeHost(int source);

  void done(int result) override;

protected:
  void showEvent(QShowEvent* event) override;

private:
  // Fetches one clock page into page; false when it failed. fetchStart and received frame it.
  bool FetchClockPage(const std::string& host, const char* path, std::string& page, TDateTime& received);
  void SetStatus(const std::string& text);
  void TraceReading(const MasterReading& r);
};
