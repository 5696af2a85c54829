#pragma once
// A user file that did not read whole is kept aside before anything may replace it: its bytes go
// to "<name>.damaged-<date>-<time>" beside it (program_files names the pattern).
#include <sys/types.h>

#include <functional>
#include <set>
#include <string>
#include <string_view>

// Why dir + name could not be written, err being the failed write's errno: what stands in its
// place when that is no plain file (a folder, a pipe), else the system's reason.
std::string WriteFailure(const std::string& dir, const std::string& name, int err);

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

// The newest "<name>.saved-<stamp>" in dir (the latest stamp in its name); empty when none.
std::string NewestSessionSave(const std::string& dir, const std::string& name);

// The user's file dir + name may not be written over: the session's saves go to a new
// SessionSaveName, set in saveName and written at once with first (so the name told exists).
// When even that cannot be written, saveName is empty: the session saves nothing of it. The
// sentence that tells the user which.
std::string SaveElsewhere(const std::string& dir, const std::string& name, const std::string& what,
                          std::string& saveName, std::string_view first, mode_t mode = 0600);
// A file that exists but cannot be read is never taken for missing nor written over: it is moved
// aside unchanged, or, when it cannot be moved, left alone with the saves going to the newest
// saved copy a session before made (reused set), else elsewhere (as SaveElsewhere, with first).
// The sentence that tells the user which.
std::string KeepUnreadableAside(const std::string& dir, const std::string& name, const std::string& what,
                                std::string& saveName, std::string_view first, bool& reused, mode_t mode = 0600);
// When dir + name reads again after sessions saved to a saved copy: the sentence naming the
// newest one (empty when there is none newer than the file).
std::string NewerSessionSaveNote(const std::string& dir, const std::string& name, const std::string& what);

// The backup follows the last whole file: at a session's close the file as it read (whole) at
// start replaces dir + name's backup, unless the two are the same or the backup cannot be read.
// When the backup holds a name (namesOf: sections and keys, portfolio ids) that the start's copy
// lacks, it is first kept as "<backup>.older", replacing an earlier one. False when a write
// failed; the backup is then as it was.
bool BackupFollows(const std::string& dir, const std::string& name, std::string_view atStart,
                   const std::function<std::set<std::string>(std::string_view)>& namesOf, mode_t mode);
