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
// The early switches, the program folder (made and seeded; our support library and updater
// copied in from exeDir where it lacks them) and params.par. False, with the message for the
// user in error, when the folder cannot be made or written: the program cannot run on it.
// Starter files that could not be copied become a user notice.
bool PrepareProgramFolder(int argc, const char* const* argv, const std::string& exeDir, std::string& error);
// The rest of the foundation's start: the log (a new one when this copy runs alone, else
// appended to, so a copy running beside another keeps its lines), the left-over temporaries of
// an earlier copy's interrupted writes (all when sole: this copy holds the single-copy guard and
// runs alone; else only old ones), the settings file, branding, settings.
// A copy alone on the folder says and removes the note save-failed.txt an earlier session left,
// then writes its own until its saves succeed (a killed session leaves it); when it cannot, the
// folder cannot take the session's saves and the start says so.
void InitFoundation(bool alone = true, bool sole = false);
// The text the note holds from the start until the close's saves succeed.
inline constexpr const char* UnfinishedSavesText =
    "The last session did not finish its saves (it ended before them, or they failed).";
// The close's saves ended: failure empty removes this copy's note (when alone), else the note
// says why (any copy), when it can be written. False when the note could not be written.
bool SavesEnded(const std::string& failure);
// Whether this copy ran alone on the folder when it started.
bool AloneOnFolder();
// The closing log line (the main window writes the settings at its close).
void FinishFoundation();
