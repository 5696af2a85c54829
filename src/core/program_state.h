#pragma once
// Program-wide state and flags, set at start and read everywhere.
#include <atomic>
#include <string>
#include <vector>

#include "platform/datetime.h"
#include "platform/messages.h"  // ShuttingDown
#include "platform/string_list.h"

// The program folder, ending with "/": $VANTORA_HOME, else $XDG_DATA_HOME/vantora/,
// else ~/.local/share/vantora/.
extern std::string ProgDir;
extern double ProgVersion;

extern StringList ParamList;  // params.par, loaded once at start
extern StringList AdParams;   // reklama.par, loaded by the ad system

extern std::atomic<bool> QuitRequested;
extern std::atomic<int> ModalDepth;
extern std::atomic<bool> ShowAds;
extern std::atomic<bool> HaveIE4;  // the browser control exists
// Set by the update run when the menu files changed; the main window's housekeeping reloads them.
extern std::atomic<bool> MenuReloadRequested;
// Set while the site login dialog is open.
extern std::atomic<bool> PassDlgExists;
extern std::atomic<bool> UseProxy;
extern const std::string RegKeyPath;  // "\SOFTWARE\4HB\Vantora"
extern int CallbackMsg;               // registered "VNCallback"

// Update reminder state.
extern std::string LastWUNotify;
extern int WUInterval;
extern TDateTime NextWUReminder;

// Early command-line switches.
extern std::atomic<bool> LogOn;       // "LOG"
extern std::atomic<bool> DebugOn;     // "DEBUG" and the debug window while open
extern bool AllowDupSwitch;           // "ALLOWDUP"
extern bool ProphetSwitch;            // "PROPHET"

// Resolves ProgDir from the environment (does not create it).
std::string ResolveProgDir();
// Creates the program folder when missing; false (why in error) when it cannot be made.
bool MakeProgDir(const std::string& progDir, std::string& error);
// Empty when a file can be made in the folder, else why not ("Read-only file system").
std::string FolderWriteProblem(const std::string& dir);
// Copies each starter file of dataDir that the folder lacks, or holds empty or blank (a copy
// cut short by a full disk), each through a temporary file. Returns the names that could not be
// copied, each with the reason; they are tried again at the next start.
std::vector<std::string> SeedProgDir(const std::string& progDir, const std::string& dataDir);
// Copies our support library and updater from binDir into progDir where the folder has none
// (executable mode kept; an existing copy is never replaced). Returns how many were copied;
// failures are added to failed as for SeedProgDir.
int InstallProgramBinaries(const std::string& progDir, const std::string& binDir,
                           std::vector<std::string>* failed = nullptr);
// Reads "ALLOWDUP", "LOG" and "PROPHET" (any case) from the arguments.
void ParseEarlySwitches(int argc, const char* const* argv);
// True when a file name from outside stays inside ProgDir once joined to it.
bool IsSafeRelativeName(const std::string& name);
