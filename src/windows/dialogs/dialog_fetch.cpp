#include "windows/dialogs/dialog_fetch.h"

#include "core/result_slots.h"
#include "retrieval/http_engine.h"

namespace {
constexpr int WaitMs = 61000;  // the request's own time-out is 60 s
}

bool FetchDialogPage(char tag, const std::string& method, const std::string& host, const std::string& path,
                     const std::string& extraHeader, const std::string& postData, const std::atomic<bool>* cancel,
                     std::string& page) {
  page.clear();
  const int slot = AllocHRes(tag);
  if (!slot) return false;
  std::string name;
  int requestSlot = 0;
  GetHttp(nullptr, 0, -1, slot, method, host, path, extraHeader, postData, "", "", 80, false, false, false, 60,
          requestSlot, "***", false, false, 0, name);
  const WaitResult waited = WaitForSlot(slot, cancel, WaitMs);
  CollectHttp(name, -1);
  page = GetHRes(slot);
  FreeHRes(slot);
  return waited == WaitResult::Done && page != "ERR";
}
