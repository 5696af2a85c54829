#include "fake_site.h"

#include "core/result_slots.h"
#include "retrieval/http_engine.h"

std::string FetchPage(const std::string& host, const std::string& path) {
  int slot = AllocHRes('T');
  std::string name;
  int requestSlot = 0;
  GetHttp(nullptr, 0, -1, slot, "GET", host, path, "", "", "", "", 80, false, false, false, 20, requestSlot, "***",
          false, false, 0, name);
  WaitForSlot(slot, nullptr, 30000);
  CollectHttp(name, -1);
  std::string page = GetHRes(slot);
  FreeHRes(slot);
  return page;
}
