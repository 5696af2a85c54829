#pragma once
// Site records as the definition files describe them, and the current quote site.
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/string_list.h"

struct SiteScript;  // a compiled page script (owned by the retrieval code)

struct SiteRequest {
  std::string Path;      // path and query, with "##STOCKS##" and kin to fill
  std::string PostData;  // empty for GET
};

struct HTTPSite {
  std::string Name = "*** No Name ***";
  std::string ShortName;
  std::string Code;  // definition file name without folder
  std::string LoginNameCaption = "Name";
  std::string PasswordCaption = "Password";
  std::string RegisterUrl;
  std::string StoredLogin, StoredPassword;
  std::string EnteredLogin, EnteredPassword;
  bool SavePassword = false;
  bool WebLogin = false;
  std::string UserAgent;
  std::string Channels;  // "|"-separated
  int SymbolLimit = 10;
  int ThreadCount = 1;
  bool TimeStamp = false;
  StringList LoginScript;
  std::vector<SiteRequest> Requests;
  std::string Method = "GET";
  std::string Host;
  int Port = 80;
  // The browser login: the page it opens and the site's own prompt (plain text).
  std::string LoginUrl;
  std::string LoginPrompt;
  // Streaming sites: servers tried when Host is empty ("|"-separated host[:port] entries) and
  // extra request headers ("|"-separated "Name: value" lines).
  std::string Servers;
  std::string ExtraHeaders;
  // Market hours and limits.
  std::string ActiveHours;  // "hh:mm-hh:mm", empty: always
  std::string ActiveDays;   // e.g. "12345"
  bool IsDefault = false;
  int MinRefresh = 0;  // seconds
  std::atomic<int> RequestCount{0};
  double Version = 0;
  StringList Params;  // the file's own KEY=value lines
  std::shared_ptr<SiteScript> Script;

  HTTPSite() = default;
  HTTPSite(const HTTPSite&) = delete;
  HTTPSite& operator=(const HTTPSite&) = delete;
};

extern std::shared_ptr<HTTPSite> CurSite;
extern std::string SiteFile;  // settings key "SiteFile" of section "Stocks"
extern std::string LookupFile;
extern std::shared_ptr<HTTPSite> LookupSite;
extern StringList LookupParams;
extern StringList LookupSymbols;  // filled by the page script in look-up mode
extern StringList LookupNames;
extern std::mutex LookupMutex;   // guards LookupSymbols and LookupNames
