#pragma once
// Handing a new executable to the updater program (vnupdexe), which replaces the running
// executable once the program has ended and starts the new one.
#include <string>
#include <vector>

#include "core/program_files.h"  // UpdaterFileName
#include "updater/updater_core.h"  // CanSwapExecutable: the program and the updater agree

// The updater's arguments: the new executable, the running one, the version text.
std::vector<std::string> UpdaterArguments(const std::string& newExe, const std::string& runningExe,
                                          double version);
// Starts the updater detached; 0 when it started, else an errno-style number.
int StartUpdater(const std::string& newExe, const std::string& runningExe, double version);
