#pragma once
// The live list of market indices, guarded by IdxListLock.
#include <atomic>
#include <string>
#include <string_view>
#include <vector>

struct IndexSnapType {
  std::string Symbol;  // as the index definitions name it, e.g. "$DJI"
  std::string Name;    // display name
  double Value = 0;
  double Change = 0;
};

extern std::vector<IndexSnapType> IndexList;  // under IdxListLock
// Raised whenever IndexList changes, so the strip redraws at once.
extern std::atomic<unsigned> IndexListVersion;

// The index's display name from IndexList; the symbol itself when absent (or when the lock
// was not obtained).
void GetIndexName(std::string_view symbol, std::string& name);
std::string GetIndexName(std::string_view symbol);
// True when the first character is '$', '@' or '^'.
bool IsIndexSymbol(std::string_view symbol);

// The index list every fetch pass asks for: the index symbols of every portfolio (not "$CASH")
// and those already in IndexList, each once.
std::vector<std::string> IndexSymbolsToFetch();

// Takes the index symbols among the given ones from the symbol table into IndexList (the last
// quote's value and change), adding the missing ones; other entries stay. False when a lock
// was busy (the next pass tries again).
bool UpdateIndexList(const std::vector<std::string>& symbols);
