#pragma once
// Every file the program writes in its folder, by kind. The rules that decide what an update may
// replace, what is backed up and what a new folder is seeded with all read this one list.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class ProgramFileKind {
  UserData,   // the user's settings, portfolios, alerts, collected data, cookies
  Backup,     // the previous good copy of a user-data file, or a damaged one kept aside
  Log,
  Guard,      // the single-copy guard's files (kept here when there is no runtime folder)
  Temporary,  // a file being written, before it is renamed into place
  Export,     // what the user exports under the names the program suggests
  Cache,      // the chart and banner cache, the look-up cache
  Starter,    // the parameter files a new folder is seeded with from the shipped data
  Definition, // site and parameter definition files, as an update delivers them
  Binary,     // our own support library and updater
};

inline constexpr const char* SettingsFileName = "STOCKS.INI";
inline constexpr const char* PortFileName = "PORT.DAT";
inline constexpr const char* AlertFileName = "ALERTS.DAT";
inline constexpr const char* QuoteDumpName = "SDATA.DMP";
inline constexpr const char* NewsDumpName = "SNEWS.DMP";
inline constexpr const char* CookieFileName = "cookies.txt";
inline constexpr const char* MainLogName = "stocks.log";
inline constexpr const char* TraceLogName = "d.log";
inline constexpr const char* DebugLogName = "debug.log";
inline constexpr const char* UpdaterLogName = "vnupdexe.log";
inline constexpr const char* SupportLibraryFileName = "librirudid.so";
inline constexpr const char* UpdaterFileName = "vnupdexe";
inline constexpr const char* CacheFolderName = "Cache";
// Written when a save at a session's end failed and no window was left to say it; the next start
// says it and removes it.
inline constexpr const char* SaveFailedMarkerName = "save-failed.txt";
// A user-data file's bytes kept aside because it did not read whole: "<name>.damaged-<stamp>".
inline constexpr const char* DamagedInfix = ".damaged-";
// The backup before the last one, kept when the file replacing it lacked some of its names:
// "<backup>.older", one per user file.
inline constexpr const char* OlderSuffix = ".older";
// The session's own save when the user's file may not be written over: "<name>.saved-<stamp>".
inline constexpr const char* SavedInfix = ".saved-";

struct ProgramFile {
  const char* Name;
  ProgramFileKind Kind;
  const char* BackupName;  // user data kept with a backup copy; nullptr otherwise
};

// The files with fixed names, in no particular order.
const std::vector<ProgramFile>& ProgramFiles();

// The kind of a file of the program folder, looked up ignoring case as names from outside are;
// also for the names made by pattern (guard files, temporaries, aside copies, CSV exports,
// definition files by extension). nullopt for a name the program neither writes nor ships.
std::optional<ProgramFileKind> ProgramFileKindOf(std::string_view name);
// True for what must never be replaced from outside: user data, backups, logs, guard files,
// temporaries, exports and the cache. False for the starter, definition and parameter files,
// the support library and the updater, and for names the program does not know.
bool IsProtectedProgramFile(std::string_view name);
// The backup's name of a user-data file ("STOCKS.IN_" for "STOCKS.INI", any case); empty when
// the file has none.
std::string BackupFileName(std::string_view userFile);
// True for a temporary of the atomic write ("<name>.tmpXXXXXX") of a file named in the list, or
// of an aside copy of one: what a start may clean up. Never an update's staging file.
bool IsOwnAtomicTemporary(std::string_view name);
// Removes the atomic write's temporaries left in dir by a copy that ended mid-write: all of them
// when sole (this copy holds the single-copy guard and no other copy runs on the folder), else
// only those older than ten minutes, so another copy's write in flight is never touched.
// Returns how many were removed.
int RemoveLeftoverTemporaries(const std::string& dir, bool sole);
// The starter files, as the shipped data folder names them.
const std::vector<std::string>& StarterFiles();
// Our support library and updater, as the build folder names them.
const std::vector<std::string>& ProgramBinaries();

// A file of the program folder and the version an update compares with.
struct ProgramFileVersion {
  std::string Name;
  double Version = 0;
};
