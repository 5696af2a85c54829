#pragma once
// Program-wide state and flags, set at start and read everywhere.
#include <atomic>
#include <string>

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
// Creates the program folder when missing and copies every file of dataDir that it lacks.
// Returns false when the folder cannot be made.
bool SeedProgDir(const std::string& progDir, const std::string& dataDir);
// Our own programs and libraries that live in a program folder (the streaming support library,
// the updater), as named in the build folder.
extern const char* const ProgramBinaryNames[2];
// Copies each of them found in binDir into progDir (executable mode kept); returns how many.
// Called when a program folder is created, never to re-install a missing one.
int InstallProgramBinaries(const std::string& progDir, const std::string& binDir);
// Reads "ALLOWDUP", "LOG" and "PROPHET" (any case) from the arguments.
void ParseEarlySwitches(int argc, const char* const* argv);
// True when a file name from outside stays inside ProgDir once joined to it.
bool IsSafeRelativeName(const std::string& name);
