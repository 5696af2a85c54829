#include "core/indices.h"

#include <algorithm>

#include "core/add_snap.h"
#include "core/locks.h"
#include "core/portfolios.h"
#include "core/symbols.h"
#include "platform/string_list.h"

std::vector<IndexSnapType> IndexList;
std::atomic<unsigned> IndexListVersion{0};

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

std::vector<std::string> IndexSymbolsToFetch() {
  std::vector<std::string> out;
  auto add = [&out](const std::string& symbol) {
    if (IsIndexSymbol(symbol) && !SameText(symbol, "$CASH")) AddUniqueSymbol(out, symbol);
  };
  {
    LockHold hold(PortLock, "IDXSYMS", true);
    if (hold)
      for (const PortType& p : PortList)
        for (const PortRowRec& r : p.Rows) add(r.Symbol);
  }
  LockHold hold(IdxListLock, "IDXSYMS", true);
  if (hold)
    for (const IndexSnapType& e : IndexList) add(e.Symbol);
  return out;
}

bool UpdateIndexList(const std::vector<std::string>& symbols) {
  std::vector<IndexSnapType> found;
  {
    LockHold hold(AddSnapLock, "IDXUPD", true);
    if (!hold) return false;
    for (const std::string& symbol : symbols) {
      if (!IsIndexSymbol(symbol)) continue;
      StockQuote q;
      if (GetStockQuote(symbol, q) < 0 || q.UpdateTime == 0) continue;
      found.push_back({symbol, "", q.Last, q.Change});
    }
  }
  if (found.empty()) return true;
  LockHold hold(IdxListLock, "IDXUPD", true);
  if (!hold) return false;
  for (IndexSnapType& f : found) {
    auto it = std::find_if(IndexList.begin(), IndexList.end(), [&](const IndexSnapType& e) { return SameText(e.Symbol, f.Symbol); });
    if (it == IndexList.end()) {
      IndexList.push_back(std::move(f));
    } else {
      it->Value = f.Value;
      it->Change = f.Change;
    }
  }
  ++IndexListVersion;
  return true;
}
