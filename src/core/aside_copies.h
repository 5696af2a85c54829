#pragma once
// A user file that did not read whole is kept aside before anything may replace it: its bytes go
// to "<name>.damaged-<date>-<time>" beside it (program_files names the pattern).
#include <sys/types.h>

#include <functional>
#include <set>
#include <string>
#include <string_view>

// Reads dir + name, a small file of the user's that the program rewrites whole (the cookie
// store, the per-user values), the way the user files are read: one that cannot be read, or is
// no plain file, is moved aside unchanged; one whose text does not read whole (damage says what
// is wrong, empty when nothing) has its bytes copied aside (once per distinct content). Each is
// said in a user notice that begins with subject ("The cookie store cookies.txt") and names the
// copy. The text to use (what reads of it); writable is false when the file could be kept
// neither way: it is then left as it is and never written.
std::string ReadKeepingAside(const std::string& dir, const std::string& name, const std::string& subject,
                             const std::function<std::string(std::string_view)>& damage, bool& writable);

// Why dir + name could not be written, err being the failed write's errno: what stands in its
// place when that is no plain file (a folder, a pipe), else the system's reason.
std::string WriteFailure(const std::string& dir, const std::string& name, int err);

// Writes bytes to a new aside copy of dir + name, unless an aside copy of that name with the same
// bytes is there already (a file that stays damaged makes one copy, not one per start). The
// copy's file name, existing or new; empty when it could not be written (why says why).
std::string CopyAside(const std::string& dir, const std::string& name, std::string_view bytes, mode_t mode = 0600,
                      std::string* why = nullptr);
// Renames dir + name to a new aside name (also a folder or a file nobody may read); its file
// name, empty when the rename failed (why says why).
std::string MoveAside(const std::string& dir, const std::string& name, std::string* why = nullptr);
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

// A start's note when something that cannot be read stands in the place of the .older of dir +
// name's backup (a folder, a file nobody may read): named, since the backup is not renewed while
// it is there. Empty otherwise.
std::string OlderObstacleNote(const std::string& dir, const std::string& name);

// The backup follows the last whole file: at a session's close the file as it read (whole) at
// start replaces dir + name's backup, unless the two are the same or the backup cannot be read.
// When the backup holds a name (namesOf: sections and keys, portfolios by identifier and name)
// that the start's copy lacks, it is first kept as "<backup>.older". No generation drops the last
// copy of anything: an earlier .older is not replaced but carried into the new one (carry gives
// the incoming backup with everything the outgoing .older holds that it lacks). A .older that
// cannot be read (or is no plain file) is never written over: the backup then stays as it was.
// False when the backup was not renewed; why then says what stood in the way.
bool BackupFollows(const std::string& dir, const std::string& name, std::string_view atStart,
                   const std::function<std::set<std::string>(std::string_view)>& namesOf,
                   const std::function<std::string(std::string_view incoming, std::string_view outgoing)>& carry,
                   mode_t mode, std::string* why = nullptr);
