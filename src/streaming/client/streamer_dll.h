#pragma once
// The streaming support library, librirudid.so in the program folder, loaded at first use.
#include <string>

#include "rirudid/rirudid.h"

struct StreamerDllCalls {
  RirudidGetVersionFn GetVersion = nullptr;
  RirudidSHAEncodeFn SHAEncode = nullptr;
  RirudidReadValsFn ReadVals = nullptr;
  RirudidReadIslandValFn ReadIslandVal = nullptr;
};

// The library's file name in the program folder.
extern const char* const StreamerDllName;

// Loads the library from ProgDir when not loaded. A library that lacks SHAEncode, ReadVals or
// ReadIslandVal counts as none. One without GetVersion, or with a version other than "1.00", is
// told to the user as out of date and stays loaded (GetVersion is then null).
// True when loaded.
bool LoadStreamerDll();
bool StreamerDllLoaded();
// The calls of the loaded library (all null when none). Only the main thread loads and
// unloads, and only while no streaming thread runs.
const StreamerDllCalls& StreamerDll();
void UnloadStreamerDll();

// The password's encoding by the library; empty without one.
std::string StreamerSHAEncode(const std::string& password);
