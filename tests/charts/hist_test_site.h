#pragma once
// The fake chart site set up the way the demo sets it up: its --demo-setup writes params.par
// and symbols.dat into the test's program folder, and the parameters are read from there.
#include <QProcess>
#include <QStringList>

#include <memory>
#include <string>

#include "common/fake_site.h"
#include "core/program_state.h"
#include "platform/messages.h"
#include "retrieval/http_engine.h"
#include "retrieval/param_files.h"

namespace histtest {

inline FakeSite& ChartSite() {
  static FakeSite* site = new FakeSite("charts");
  return *site;
}

// The demo's settings for the chart site, with extra KEY=value lines in front (the first wins).
inline bool SetUpChartSite(const std::string& extraParams = "") {
  FakeSite& site = ChartSite();
  if (!site.Running()) return false;
  const int rc = QProcess::execute("python3", {QString::fromStdString(FakeSiteScript("charts")), "--demo-setup",
                                               QString::fromStdString(ProgDir), QString::number(site.Port())});
  if (rc != 0) return false;
  ReadParamsFile("params.par", ParamList);
  if (!extraParams.empty()) {
    StringList extra;
    extra.SetText(extraParams);
    for (int i = extra.Count() - 1; i >= 0; --i) ParamList.Insert(0, extra[i]);
  }
  return true;
}

// The number of requests the site had for a path.
inline int SiteCount(const std::string& path) {
  HttpJob job;
  job.Url = ChartSite().Url("/count");
  const HttpResult r = PerformHttp(job, nullptr);
  const std::string key = path + "=";
  const size_t at = r.Body.find(key);
  return at == std::string::npos ? 0 : std::atoi(r.Body.c_str() + at + key.size());
}

inline bool WaitFor(const std::function<bool()>& done, int ms = 30000) {
  return WaitUntil(done, nullptr, ms, 5) == WaitResult::Done;
}

}  // namespace histtest
