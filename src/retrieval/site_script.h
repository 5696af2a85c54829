#pragma once
// Page scripts: a small line language that picks quotes, headlines, look-up rows and
// messages out of a fetched page, and the site login script in the same language.
// The language is described in docs/file-formats.md. A script is compiled once, when its
// definition file is loaded, and can then run on any thread; every run is bounded in steps,
// loop rounds and output, whatever the page holds.
#include <atomic>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/datetime.h"
#include "platform/string_list.h"

struct HTTPSite;

// The kinds of page, each with its own block of statements in a script.
enum class ScriptMode { Quotes, News, Lookup, Island, Belmira, Login, Count };

// Limits that hold for every run.
constexpr int MaxScriptLines = 4000;
constexpr int MaxScriptDepth = 16;         // nested EACH and IF
constexpr int MaxEachRounds = 5000;        // rounds of one EACH loop per entry
constexpr long MaxScriptSteps = 2000000;   // statements executed in one run
constexpr size_t MaxFieldBytes = 4096;     // a field's text is cut there
constexpr int MaxScriptRecords = 5000;     // quotes, headlines or rows handed over in one run
constexpr size_t MaxMessageBytes = 65536;  // the extra text of one run
constexpr int MaxLoginRequests = 8;        // REQUEST statements executed in one login run

struct ScriptOp;

struct SiteScript {
  std::vector<std::string> FieldNames;  // field number -> name
  // The statements of each mode; empty when the script has no block for it.
  std::vector<std::vector<ScriptOp>> Blocks;
  bool HasMode(ScriptMode mode) const;

  SiteScript();
  ~SiteScript();
};

// Compiles script lines; nullptr with an error text ("line N: why") when they do not compile.
// Lines before the first MODE statement belong to defaultMode.
std::shared_ptr<SiteScript> CompileSiteScript(const StringList& lines, ScriptMode defaultMode, std::string& error);
// Adds more blocks to a script (the login block beside the page blocks); false on an error.
bool CompileSiteScriptInto(SiteScript& script, const StringList& lines, ScriptMode defaultMode, std::string& error);

// One record handed over by EMIT.
struct ScriptRecord {
  enum Kind { Quote, Headline, Row } Kind = Quote;
  // Field name -> text, for the fields the script set.
  std::vector<std::pair<std::string, std::string>> Fields;
  std::string Get(std::string_view name) const;
};

// Where a run's records go.
struct ScriptSink {
  virtual ~ScriptSink() = default;
  // False when the record was not taken (it then does not count as found).
  virtual bool Take(const ScriptRecord& record) = 0;
};

// Services of the login block, given by the login runner.
struct ScriptLoginHost {
  virtual ~ScriptLoginHost() = default;
  // Fetches a page (the path and data already filled); false when the request failed.
  virtual bool Request(const std::string& method, const std::string& path, const std::string& data,
                       std::string& page) = 0;
  virtual void WebPage(std::string& page, std::string& url) = 0;
  virtual void CookieSite(bool add) = 0;
  // Replaces ##LOGIN## and ##PASSWORD## (URL-encoded).
  virtual std::string Fill(const std::string& text) = 0;
};

struct ScriptRunResult {
  int Taken = 0;          // records the sink took
  bool Cancelled = false;
  bool LimitHit = false;  // a step, round or output limit ended the run
  std::string Result;     // the login block's RESULT ("OK", "BADPASS"), or "ERR"
  std::string Messages;   // MESSAGE texts, one a line
};

// Runs the mode's block over the page. Stops on the cancel flag.
ScriptRunResult RunScriptBlock(const SiteScript& script, ScriptMode mode, std::string_view page, ScriptSink& sink,
                               const std::atomic<bool>* cancel, ScriptLoginHost* login = nullptr);

// The page's kind from the prefix in front of its text ("NEWS", "LOOKUP", "ISLAND",
// "BELMIRA", none for quotes); rest receives the page without the prefix.
ScriptMode ScriptModeOfPage(std::string_view prefixedPage, std::string_view& rest);

// Runs the script of the page's site over a fetched page: quotes go to AddSnap (only for
// symbols of the list when one is given), headlines to the symbol's news list (the list's
// first symbol when the page names none), look-up rows to LookupSymbols and LookupNames.
// The site is LookupSite for "LOOKUP" pages, the news source for "NEWS" pages and CurSite
// otherwise. quoteTime receives the time of the last quote; extra the script's messages;
// status "OK", "NODATA" when nothing was found, "CANCELLED", or "NOSCRIPT" when the site has
// no script for the page.
void RunSiteScript(const StringList* symbols, std::string_view prefixedPage, TDateTime& quoteTime,
                   std::string& extra, const std::atomic<bool>* cancel, std::string& status);
// The same with the site given.
void RunSiteScript(const HTTPSite& site, const StringList* symbols, std::string_view prefixedPage,
                   TDateTime& quoteTime, std::string& extra, const std::atomic<bool>* cancel, std::string& status);

// The headline time of a record: DATE and TIME when given, the market clock otherwise.
TDateTime ScriptRecordTime(const ScriptRecord& record);
