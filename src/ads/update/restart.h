#pragma once
// Handing a new executable to the updater program (vnupdexe), which replaces the running
// executable once the program has ended and starts the new one.
#include <string>
#include <vector>

// The updater's file name in the program folder.
inline constexpr const char* UpdaterName = "vnupdexe";

// True when the executable may be replaced in place: a plain file the user can write, in a
// folder the user can write, outside the system's prefixes (/usr, /bin, /opt, ...).
bool CanSwapExecutable(const std::string& path);
// The updater's arguments: the new executable, the running one, the version text.
std::vector<std::string> UpdaterArguments(const std::string& newExe, const std::string& runningExe,
                                          double version);
// Starts the updater detached; 0 when it started, else an errno-style number.
int StartUpdater(const std::string& newExe, const std::string& runningExe, double version);
