#pragma once
// A user file that did not read whole is kept aside before anything may replace it: its bytes go
// to "<name>.damaged-<date>-<time>" beside it (program_files names the pattern).
#include <sys/types.h>

#include <functional>
#include <set>
#include <string>
#include <string_view>

// Writes bytes to a new aside copy of dir + name, unless an aside copy of that name with the same
// bytes is there already (a file that stays damaged makes one copy, not one per start). The
// copy's file name, existing or new; empty when it could not be written.
std::string CopyAside(const std::string& dir, const std::string& name, std::string_view bytes, mode_t mode = 0600);
// Renames dir + name to a new aside name (also a folder or a file nobody may read); its file
// name, empty when the rename failed.
std::string MoveAside(const std::string& dir, const std::string& name);
// A free name "<name>.saved-<date>-<time>" in dir for the session's save, when the user's file
// may not be written over.
std::string SessionSaveName(const std::string& dir, const std::string& name);

// The user's file dir + name may not be written over: the session's saves go to a new
// SessionSaveName, set in saveName. The sentence that tells the user ("This session's <what>
// are saved as ...").
std::string SaveElsewhere(const std::string& dir, const std::string& name, const std::string& what,
                          std::string& saveName);
// A file that exists but cannot be read is never taken for missing nor written over: it is moved
// aside unchanged, or, when it cannot be moved, left alone with the saves going elsewhere (as
// SaveElsewhere). The sentence that tells the user which.
std::string KeepUnreadableAside(const std::string& dir, const std::string& name, const std::string& what,
                                std::string& saveName);

// The backup follows the last whole file: at a session's close the file as it read (whole) at
// start replaces dir + name's backup, unless the two are the same or the backup cannot be read.
// When the backup holds a name (namesOf: sections and keys, portfolio ids) that the start's copy
// lacks, it is first kept as "<backup>.older", replacing an earlier one. False when a write
// failed; the backup is then as it was.
bool BackupFollows(const std::string& dir, const std::string& name, std::string_view atStart,
                   const std::function<std::set<std::string>(std::string_view)>& namesOf, mode_t mode);
