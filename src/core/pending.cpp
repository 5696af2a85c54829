#include "core/pending.h"

#include <algorithm>
#include <mutex>

#include "core/locks.h"

std::array<std::string, 4> HandOverList;
std::array<std::bitset<SymbolBitCount>, 4> SymbolBits;

namespace {
std::array<std::string, PendingListCount> pendingLists;  // under RefreshLock
std::mutex handlerMutex;
std::array<std::function<void(const std::string&)>, PendingListCount> handlers;

bool ValidList(int n) { return n >= 1 && n <= PendingListCount; }

void AppendOnce(std::string& text, std::string_view symbol) {
  std::string token;
  token.reserve(symbol.size() + 2);
  token += '|';
  token += symbol;
  token += '|';
  if (text.find(token) == std::string::npos) text += token;
}

bool SafeSymbol(std::string_view s) { return !s.empty() && s.find('|') == std::string_view::npos; }
}  // namespace

bool AddPendingSymbol(int listNumber, std::string_view symbol) {
  if (!ValidList(listNumber) || !SafeSymbol(symbol)) return false;
  LockHold hold(RefreshLock, "PENDING");
  if (!hold) return false;
  AppendOnce(pendingLists[static_cast<size_t>(listNumber - 1)], symbol);
  return true;
}

std::string TakePendingSymbols(int listNumber) {
  std::string taken;
  if (!ValidList(listNumber)) return taken;
  LockHold hold(RefreshLock, "SHOWPEND");
  if (!hold) return taken;
  taken.swap(pendingLists[static_cast<size_t>(listNumber - 1)]);
  return taken;
}

std::vector<std::string> SplitPendingText(std::string_view text) {
  std::vector<std::string> out;
  for (size_t at = 0; at <= text.size();) {
    const size_t end = std::min(text.find('|', at), text.size());
    if (end > at) out.emplace_back(text.substr(at, end - at));
    at = end + 1;
  }
  return out;
}

std::vector<std::string> PeekPendingSymbols(int listNumber) {
  std::string text;
  if (ValidList(listNumber)) {
    LockHold hold(RefreshLock, "PEEKPEND");
    if (hold) text = pendingLists[static_cast<size_t>(listNumber - 1)];
  }
  return SplitPendingText(text);
}

bool PendingListEmpty(int listNumber) {
  if (!ValidList(listNumber)) return true;
  LockHold hold(RefreshLock, "PENDEMPTY");
  return hold && pendingLists[static_cast<size_t>(listNumber - 1)].empty();
}

void RemovePendingSymbols(int listNumber, const std::vector<std::string>& symbols) {
  if (!ValidList(listNumber) || symbols.empty()) return;
  LockHold hold(RefreshLock, "REMPEND");
  if (!hold) return;
  std::string& text = pendingLists[static_cast<size_t>(listNumber - 1)];
  for (const std::string& s : symbols)
    if (const size_t at = text.find("|" + s + "|"); at != std::string::npos) text.erase(at, s.size() + 2);
}

void ShowPendingSymbols(int listNumber) {
  const std::string taken = TakePendingSymbols(listNumber);
  if (taken.empty()) return;
  std::function<void(const std::string&)> handler;
  {
    std::lock_guard lock(handlerMutex);
    handler = handlers[static_cast<size_t>(listNumber - 1)];
  }
  if (handler) handler(taken);
}

void SetPendingHandler(int listNumber, std::function<void(const std::string& symbols)> handler) {
  if (!ValidList(listNumber)) return;
  std::lock_guard lock(handlerMutex);
  handlers[static_cast<size_t>(listNumber - 1)] = std::move(handler);
}

bool AddHandOver(int element, std::string_view symbol) {
  if (element < 0 || element >= 4 || !SafeSymbol(symbol)) return false;
  LockHold hold(RefreshLock, "HANDOVER");
  if (!hold) return false;
  AppendOnce(HandOverList[static_cast<size_t>(element)], symbol);
  return true;
}

bool TakeHandOver(int element, std::string& out, bool tryOnly) {
  out.clear();
  if (element < 0 || element >= 4) return false;
  LockHold hold(RefreshLock, "TAKEHAND", tryOnly);
  if (!hold) return false;
  out.swap(HandOverList[static_cast<size_t>(element)]);
  return true;
}
