#pragma once
// 1000 numbered string slots that carry HTTP bodies between threads, under the lock "HRES".
#include <atomic>
#include <string>

#include "platform/messages.h"

constexpr int HResCount = 1000;

// The first free slot (1 .. 1000) with the tag stored and its text emptied; 0 (after the
// error report "No HRES left!") when none is free or the lock was not obtained.
int AllocHRes(char tag);
// A copy of the slot's text; empty until the request that fills it delivers.
void GetHRes(int slot, std::string& out);
std::string GetHRes(int slot);
void FreeHRes(int slot);
// Delivers text to a slot and marks it done, so that an empty reply still ends a wait.
void SetHRes(int slot, std::string text);
bool HResDone(int slot);
char HResTag(int slot);
int HResInUse();
// Waits until the slot is done, the cancel flag is set, the deadline passes or the program
// shuts down. The main thread keeps processing events meanwhile.
WaitResult WaitForSlot(int slot, const std::atomic<bool>* cancel, int timeoutMs);
