#include "retrieval/news_thread.h"

#include <set>
#include <vector>

#include "core/indices.h"
#include "core/branding.h"
#include "core/log.h"
#include "core/market_clock.h"
#include "core/program_state.h"
#include "core/result_slots.h"
#include "core/sites.h"
#include "core/stock_table.h"
#include "core/symbols.h"
#include "core/text_helpers.h"
#include "platform/clock.h"
#include "retrieval/http_engine.h"
#include "retrieval/param_files.h"
#include "retrieval/site_files.h"
#include "retrieval/site_script.h"

std::string NewsForceList;
MyCriticalSection NfrcLock("NFRC");

namespace {
std::mutex stateMutex;
std::string fetchSymbol;
std::shared_ptr<HTTPSite> newsSite;
bool sourceForgotten = true;

void SetFetchSymbol(const std::string& s) {
  std::lock_guard lock(stateMutex);
  fetchSymbol = s;
}
}  // namespace

std::string NewsFetchSymbol() {
  std::lock_guard lock(stateMutex);
  return fetchSymbol;
}

std::shared_ptr<HTTPSite> CurrentNewsSite() {
  std::lock_guard lock(stateMutex);
  return newsSite;
}

void ForgetNewsSource() {
  std::lock_guard lock(stateMutex);
  sourceForgotten = true;
}

std::string NewsSourceFile() {
  std::string named = Trim(ParamValue(ParamList, "NEWSFILE", ""));
  if (!named.empty()) return named;
  std::vector<std::string> files = ProgFilesWithExtension(".NWS");
  return files.empty() ? std::string() : files.front();
}

bool FetchNewsForSymbol(HTTPSite& site, const std::string& symbol, const std::atomic<bool>* cancel) {
  if (site.Requests.empty() || site.Host.empty()) return false;
  std::string path = site.Requests[0].Path, data = site.Requests[0].PostData;
  const std::string encoded = UrlEncodeParam(symbol);
  for (std::string* t : {&path, &data}) {
    ReplaceAll(*t, "##SYMBOL##", encoded, true);
    ReplaceAll(*t, "##STOCKS##", encoded, true);
  }
  int slot = AllocHRes('N');
  if (!slot) return false;
  std::string name;
  int requestSlot = 0;
  std::shared_ptr<HTTPSite> none;
  GetHttp(none, 0, -1, slot, site.Method, site.Host, path,
          site.Method == "POST" ? "Content-Type: application/x-www-form-urlencoded" : "", data, "", "", site.Port,
          false, false, false, 60, requestSlot, site.UserAgent.empty() ? "***" : site.UserAgent, false, false, 0, name);
  WaitForSlot(slot, cancel, 61000);
  CollectHttp(name, -1);
  std::string page = GetHRes(slot);
  FreeHRes(slot);
  if (page == "ERR" || (cancel && *cancel)) return false;
  StringList symbols;
  symbols.Add(symbol);
  TDateTime quoteTime = 0;
  std::string extra, status;
  RunSiteScript(site, &symbols, "NEWS" + page, quoteTime, extra, cancel, status);
  if (StockInfoType* rec = ResolveStock(symbol)) rec->NewsChecked = MarketNow();
  if (LogOn) WriteLog("News for " + symbol + ": " + status);
  return true;
}

bool NewsThreadType::EnsureSource() {
  {
    std::lock_guard lock(stateMutex);
    if (!sourceForgotten) return newsSite != nullptr;
    sourceForgotten = false;
  }
  std::shared_ptr<HTTPSite> site;
  std::string file = NewsSourceFile();
  if (!file.empty()) {
    site = std::make_shared<HTTPSite>();
    std::string error;
    LoadSiteFile(file, *site, nullptr, error);
    if (!error.empty()) {
      WriteLog("News source " + file + ": " + error);
      site.reset();
    }
  }
  std::lock_guard lock(stateMutex);
  newsSite = site;
  return site != nullptr;
}

std::string NewsThreadType::TakeForced() {
  LockHold hold(NfrcLock, "NEWSTHREAD", true);
  if (!hold) return {};
  std::string list = Trim(NewsForceList);
  size_t blank = list.find(' ');
  std::string first = list.substr(0, blank);
  NewsForceList = blank == std::string::npos ? std::string() : Trim(std::string_view(list).substr(blank + 1));
  return first;
}

void NewsThreadType::Fetch(const std::string& symbol) {
  std::shared_ptr<HTTPSite> site = CurrentNewsSite();
  if (!site) return;
  SetFetchSymbol(symbol);
  // Terminate ends a fetch in progress: the wait and the script both watch the flag.
  FetchNewsForSymbol(*site, symbol, &TerminateFlag());
  SetFetchSymbol("");
}

void NewsThreadType::Execute() {
  // Besides the forced symbols, every symbol of the table is fetched once per round
  // (params.par "NEWSINTERVAL" in minutes, default 15; 0 fetches only forced symbols).
  int interval = 15;
  try {
    interval = std::stoi(ParamValue(ParamList, "NEWSINTERVAL", "15"));
  } catch (...) {
  }
  int64_t nextRound = TickMs();
  int64_t nextNewLook = 0;
  std::vector<std::string> round;
  std::set<std::string> seen;  // symbols fetched (or tried) at least once in this run
  while (!Terminated()) {
    if (!EnsureSource()) {
      Sleep(1000);
      continue;
    }
    std::string symbol = TakeForced();
    if (symbol.empty() && !round.empty()) {
      symbol = round.back();
      round.pop_back();
    }
    if (!symbol.empty()) {
      seen.insert(symbol);
      Fetch(symbol);
      continue;
    }
    if (interval > 0 && TickMs() >= nextRound) {
      nextRound = TickMs() + int64_t(interval) * 60000;
      for (int i = StockTable.Count() - 1; i >= 0; --i) {
        const std::string& s = StockTable.Strings(i);
        if (IsValidSymbol(s) && !IsIndexSymbol(s)) round.push_back(s);
        seen.insert(s);
      }
      continue;
    }
    // A symbol new to the table (the first refresh of a fresh folder brings them all) gets its
    // news at once, not a whole interval later.
    if (interval > 0 && TickMs() >= nextNewLook) {
      nextNewLook = TickMs() + 2000;
      for (int i = StockTable.Count() - 1; i >= 0; --i) {
        const std::string s = StockTable.Strings(i);
        if (IsValidSymbol(s) && !IsIndexSymbol(s) && !seen.count(s)) round.push_back(s);
      }
      if (!round.empty()) continue;
    }
    Sleep(250);
  }
}
