#include "retrieval/login_script.h"

#include "core/log.h"
#include "core/program_state.h"
#include "core/sites.h"
#include "core/text_helpers.h"
#include "retrieval/http_engine.h"
#include "retrieval/site_script.h"

std::string WebLoginUrl;
std::string WebLoginPage;
StringList CookieSites;
std::mutex WebLoginMutex;

namespace {

class LoginHost : public ScriptLoginHost {
public:
  LoginHost(HTTPSite& site, HttpCancel* cancel) : site_(site), cancel_(cancel) {}

  bool Request(const std::string& method, const std::string& path, const std::string& data,
               std::string& page) override {
    HttpJob job;
    job.Method = method;
    job.Url = BuildHttpUrl(site_.Host, site_.Port, path);
    job.PostData = data;
    if (method == "POST") job.ExtraHeader = "Content-Type: application/x-www-form-urlencoded";
    job.UserAgent = site_.UserAgent;
    job.TimeoutMs = 60000;
    HttpResult r = PerformHttp(job, cancel_);
    if (!r.Ok) {
      if (LogOn) WriteLog("Login request failed: " + r.Error + " (" + job.Url + ")");
      return false;
    }
    page = std::move(r.Body);
    return true;
  }

  void WebPage(std::string& page, std::string& url) override {
    std::lock_guard lock(WebLoginMutex);
    page = WebLoginPage;
    url = WebLoginUrl;
  }

  void CookieSite(bool add) override {
    std::lock_guard lock(WebLoginMutex);
    int i = CookieSites.IndexOf(site_.Code);
    if (add && i < 0) CookieSites.Add(site_.Code);
    if (!add && i >= 0) CookieSites.Delete(i);
  }

  std::string Fill(const std::string& text) override {
    std::string out = text;
    const std::string login = UrlEncodeParam(site_.EnteredLogin);
    ReplaceAll(out, "##LOGIN##", login, false);
    ReplaceAll(out, "##NAME##", login, false);
    ReplaceAll(out, "##PASSWORD##", UrlEncodeParam(site_.EnteredPassword), false);
    return out;
  }

private:
  HTTPSite& site_;
  HttpCancel* cancel_;
};

struct NoRecords : ScriptSink {
  bool Take(const ScriptRecord&) override { return false; }
};

}  // namespace

std::string RunLoginCheck(HTTPSite& site, HttpCancel* cancel) {
  std::shared_ptr<SiteScript> script = site.Script;
  if (site.LoginScript.Empty() || !script || !script->HasMode(ScriptMode::Login)) return "OK";
  LoginHost host(site, cancel);
  NoRecords none;
  const std::atomic<bool>* aborted = cancel ? &cancel->Aborted : nullptr;
  ScriptRunResult r = RunScriptBlock(*script, ScriptMode::Login, "", none, aborted, &host);
  if (r.Cancelled) return "ERR";
  if (LogOn) WriteLog("Login script of " + site.Code + ": " + (r.Result.empty() ? "OK" : r.Result));
  return r.Result.empty() ? "OK" : r.Result;
}
