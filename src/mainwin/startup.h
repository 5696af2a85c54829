#pragma once
// Program start-up and shut-down around the main window.
#include <string>

struct StartupSwitches {
  std::string HtmlFile;  // "HTML=" followed by a file name
  bool Debug = false;
  bool Ads = false;
  bool Deadlocks = false;
  bool Demo = false;
};

extern StartupSwitches Switches;

// Reads "HTML=", "DEBUG", "ADS", "DEADLOCKS" and "DEMO" (any case).
StartupSwitches ParseStartupSwitches(int argc, const char* const* argv);
// The folder that seeds a new program folder: "data" beside the executable, else the sources'.
std::string DefaultDataDir(const std::string& exeDir);
// The early switches, the program folder (made and seeded) and params.par.
// False when the program folder cannot be made.
bool PrepareProgramFolder(int argc, const char* const* argv, const std::string& exeDir);
// The rest of the foundation's start: the log (a new one when this copy runs alone, else
// appended to, so a copy running beside another keeps its lines), the settings file,
// branding, settings.
void InitFoundation(bool alone = true);
// The closing log line (the main window writes the settings at its close).
void FinishFoundation();
