#include "streaming/client/streamer_dll.h"

#include <dlfcn.h>

#include "core/log.h"
#include "core/program_state.h"
#include "streaming/client/streamer_messages.h"

const char* const StreamerDllName = "librirudid.so";

namespace {
void* handle = nullptr;
StreamerDllCalls calls;
}  // namespace

bool LoadStreamerDll() {
  if (handle) return true;
  const std::string path = ProgDir + StreamerDllName;
  void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) {
    WriteLog(std::string("Cannot load ") + path + ": " + dlerror());
    return false;
  }
  StreamerDllCalls c;
  c.GetVersion = reinterpret_cast<RirudidGetVersionFn>(dlsym(h, "GetVersion"));
  c.SHAEncode = reinterpret_cast<RirudidSHAEncodeFn>(dlsym(h, "SHAEncode"));
  c.ReadVals = reinterpret_cast<RirudidReadValsFn>(dlsym(h, "ReadVals"));
  c.ReadIslandVal = reinterpret_cast<RirudidReadIslandValFn>(dlsym(h, "ReadIslandVal"));
  if (!c.SHAEncode || !c.ReadVals || !c.ReadIslandVal) {
    // Calling a missing function would crash: such a library is no library. One lacking only
    // its version is an old one, reported below and used.
    WriteLog(path + " lacks one of its calls; not used");
    dlclose(h);
    return false;
  }
  handle = h;
  calls = c;
  char version[32] = {0};
  if (!calls.GetVersion || calls.GetVersion(version, sizeof version) < 0 || std::string(version) != RIRUDID_VERSION)
    ShowStreamerMessage("RIRUDID.DLL is not up to date. Please update it.", "Bad DLL Version");
  return true;
}

bool StreamerDllLoaded() { return handle != nullptr; }

const StreamerDllCalls& StreamerDll() { return calls; }

void UnloadStreamerDll() {
  if (!handle) return;
  calls = {};
  dlclose(handle);
  handle = nullptr;
}

std::string StreamerSHAEncode(const std::string& password) {
  if (!calls.SHAEncode) return {};
  char out[64] = {0};
  if (calls.SHAEncode(password.c_str(), out, sizeof out) < 0) return {};
  return out;
}
