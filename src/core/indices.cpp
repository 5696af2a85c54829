#include "core/indices.h"

#include "core/locks.h"
#include "platform/string_list.h"

std::vector<IndexSnapType> IndexList;

void GetIndexName(std::string_view symbol, std::string& name) {
  name = std::string(symbol);
  LockHold hold(IdxListLock, "IDXNAME", true);
  if (!hold) return;
  for (const IndexSnapType& e : IndexList) {
    if (SameText(e.Symbol, symbol)) {
      if (!e.Name.empty()) name = e.Name;
      return;
    }
  }
}

std::string GetIndexName(std::string_view symbol) {
  std::string name;
  GetIndexName(symbol, name);
  return name;
}

bool IsIndexSymbol(std::string_view symbol) {
  return !symbol.empty() && (symbol[0] == '$' || symbol[0] == '@' || symbol[0] == '^');
}
