#include "retrieval/fund_thread.h"

#include "core/log.h"
#include "core/market_clock.h"
#include "core/program_state.h"
#include "platform/registry.h"

std::atomic<TDateTime> SurveyCheckTime{0.0};
FundThreadHooks FundHooks;

void GetFundThread::SurveyStep() {
  RegistryStore& reg = RegistryStore::CurrentUser();
  TDateTime now = MarketNow();
  TDateTime next = now + 1.0;
  if (reg.ReadString(RegKeyPath, "SDAT", "") == "-") {
    std::string query = reg.ReadString(RegKeyPath, "SURV", "");
    if (!query.empty()) {
      if (FundHooks.SendSurvey && FundHooks.SendSurvey(query))
        reg.WriteString(RegKeyPath, "SDAT", FormatDateTime("yyyymmdd", now));
      else
        next = now + 1.0 / 24;  // not delivered: try again in an hour
    }
  }
  SurveyCheckTime = next;
}

void GetFundThread::Execute() {
  std::string notice;
  if (FundHooks.Usage) notice = FundHooks.Usage();
  if (!Terminated() && FundHooks.StartUpdate) {
    Synchronize([&] {
      if (!(FundHooks.UpdateBlocked && FundHooks.UpdateBlocked()) && !ShuttingDown) FundHooks.StartUpdate(notice);
    });
  }
  while (!Terminated()) {
    if (MarketNow() >= SurveyCheckTime.load()) SurveyStep();
    Sleep(1000);
  }
}
