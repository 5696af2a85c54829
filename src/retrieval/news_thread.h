#pragma once
// The news fetch thread: fetches each symbol's headlines from the news source ("*.NWS") and
// runs the source's NEWS script over them, which stores new headlines in the symbol's news
// list and names the symbol in the news hand-over list.
#include <memory>
#include <string>

#include "core/locks.h"
#include "platform/thread.h"

struct HTTPSite;

// Upper-case symbols separated by single blanks that the news thread fetches at once;
// guarded by NfrcLock ("NFRC"). The news window prepends to it.
extern std::string NewsForceList;
extern MyCriticalSection NfrcLock;

// The symbol whose news the thread is fetching now; empty otherwise.
std::string NewsFetchSymbol();

// The loaded news source, nullptr before the thread loaded one.
std::shared_ptr<HTTPSite> CurrentNewsSite();
// Drops the loaded news source, so that the thread reads its definition again (after an update).
void ForgetNewsSource();
// The news source file: params.par key "NEWSFILE", else the first "*.NWS" file of the program
// folder by name; empty when there is none.
std::string NewsSourceFile();

class NewsThreadType : public Thread {
public:
  NewsThreadType() { Name = "News"; }
  ~NewsThreadType() override { Stop(-1); }

protected:
  void Execute() override;

private:
  bool EnsureSource();
  std::string TakeForced();
  void Fetch(const std::string& symbol);
};

// Fetches one symbol's news page and stores its headlines (on the calling thread).
// True when the page was fetched and the script ran.
bool FetchNewsForSymbol(HTTPSite& site, const std::string& symbol, const std::atomic<bool>* cancel);
