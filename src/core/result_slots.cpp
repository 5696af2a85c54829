#include "core/result_slots.h"

#include <array>
#include <mutex>

#include "core/error_report.h"
#include "core/locks.h"

namespace {
struct Slot {
  bool used = false;
  bool done = false;
  char tag = 0;
  std::string text;
};
std::array<Slot, HResCount> hresSlots;
// The named lock serialises allocation as the rest of the program expects; the mutex keeps
// each read and write whole even for callers that reach a slot without the named lock.
std::mutex slotMutex;

bool Valid(int slot) { return slot >= 1 && slot <= HResCount; }
}  // namespace

int AllocHRes(char tag) {
  {
    LockHold hold(HResLock, "AllocHRes");
    if (!hold) return 0;  // the deadlock report has been shown
    {
      std::lock_guard lock(slotMutex);
      for (int i = 0; i < HResCount; ++i) {
        Slot& s = hresSlots[static_cast<size_t>(i)];
        if (!s.used) {
          s.used = true;
          s.done = false;
          s.tag = tag;
          s.text.clear();
          return i + 1;
        }
      }
    }
  }
  ShowErrorReport("No HRES left!", "AllocHRes");
  return 0;
}

void GetHRes(int slot, std::string& out) {
  out.clear();
  if (!Valid(slot)) return;
  std::lock_guard lock(slotMutex);
  out = hresSlots[static_cast<size_t>(slot - 1)].text;
}

std::string GetHRes(int slot) {
  std::string s;
  GetHRes(slot, s);
  return s;
}

void FreeHRes(int slot) {
  if (!Valid(slot)) return;
  std::lock_guard lock(slotMutex);
  Slot& s = hresSlots[static_cast<size_t>(slot - 1)];
  s.used = false;
  s.done = false;
  s.tag = 0;
  std::string().swap(s.text);
}

void SetHRes(int slot, std::string text) {
  if (!Valid(slot)) return;
  std::lock_guard lock(slotMutex);
  Slot& s = hresSlots[static_cast<size_t>(slot - 1)];
  if (!s.used) return;  // freed meanwhile: the caller gave up on it
  s.text = std::move(text);
  s.done = true;
}

bool HResDone(int slot) {
  if (!Valid(slot)) return false;
  std::lock_guard lock(slotMutex);
  return hresSlots[static_cast<size_t>(slot - 1)].done;
}

char HResTag(int slot) {
  if (!Valid(slot)) return 0;
  std::lock_guard lock(slotMutex);
  return hresSlots[static_cast<size_t>(slot - 1)].tag;
}

int HResInUse() {
  std::lock_guard lock(slotMutex);
  int n = 0;
  for (const auto& s : hresSlots) n += s.used;
  return n;
}

WaitResult WaitForSlot(int slot, const std::atomic<bool>* cancel, int timeoutMs) {
  return WaitUntil([slot] { return HResDone(slot); }, cancel, timeoutMs);
}
