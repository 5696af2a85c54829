#pragma once
// The fundamentals thread's housekeeping: after its usage step it starts the quiet update run,
// and it sends a pending survey answer when the market clock reaches SurveyCheckTime.
// The update and survey code fill the hooks before the thread starts.
#include <atomic>
#include <functional>
#include <string>

#include "platform/datetime.h"
#include "platform/thread.h"

// When the next survey step runs (market clock); the survey dialog sets it to now - 3 s.
extern std::atomic<TDateTime> SurveyCheckTime;

struct FundThreadHooks {
  // The usage step; returns the notice text it received (may be empty).
  std::function<std::string()> Usage;
  // True while the update window is showing or after its Cancel: no update run then.
  std::function<bool()> UpdateBlocked;
  // Starts the background update run (StartWebUpdateThread); runs on the main thread.
  std::function<void(const std::string& notice)> StartUpdate;
  // Sends the survey answer (registry value "SURV"); true when it was delivered.
  std::function<bool(const std::string& query)> SendSurvey;
};
extern FundThreadHooks FundHooks;

class GetFundThread : public Thread {
public:
  GetFundThread() { Name = "Fund"; }
  ~GetFundThread() override { Stop(-1); }

  // One survey step: when "SDAT" is "-", sends "SURV" and on success writes today's date
  // ("yyyymmdd") to "SDAT". Sets the next check time. Public for tests.
  static void SurveyStep();

protected:
  void Execute() override;
};
