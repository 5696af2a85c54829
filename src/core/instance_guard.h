#pragma once
// Where the single-copy guard lives, shared by the program and the updater (which links none of
// the program's libraries, so this stays free of them): one guard per user and program folder,
// in the user's own runtime folder when there is one (not writable by others), else the program
// folder; never a shared folder such as /tmp, where another user could take the name first.
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>

inline constexpr const char* InstanceGuardName = "Vantrx";

// The guard's path without its extension (".lock", ".run").
inline std::string InstanceGuardStem(const std::string& progDir, const std::string& name = InstanceGuardName) {
  std::string dir = progDir;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime && runtime[0] == '/' && ::access(runtime, W_OK | X_OK) == 0) dir = runtime;
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir + name + "-" + std::to_string(::getuid()) + "-" + std::to_string(std::hash<std::string>{}(progDir));
}
