#pragma once
// The updater's work, without the program's libraries: the single-copy guard as the program
// holds it, swapping an executable with a backup, starting a program and watching it claim
// the guard. Plain POSIX, so the updater stays small.
#include <string>
#include <sys/types.h>

// The program's guard: a lock file held (flock) by the running copy for its lifetime, named
// "Vantrx-<uid>-<hash of the program folder>.lock" in $XDG_RUNTIME_DIR (when usable) or else
// the program folder. progDir is absolute and ends with "/".
std::string GuardLockPath(const std::string& progDir);
// True when a process holds the guard now.
bool GuardHeld(const std::string& progDir);
// True when a process other than this one runs the executable: its file (device and inode) or
// its path, found through /proc; a copy started with ALLOWDUP holds no guard but is found here.
bool ExecutableRunning(const std::string& exe);
// Waits until nobody holds the guard and no process runs the executable; false at the deadline.
bool WaitForProgramEnd(const std::string& progDir, const std::string& exe, int timeoutMs);
// True when both paths name one file (a link, another spelling of the path).
bool SameFile(const std::string& a, const std::string& b);

// True when the executable may be replaced in place: a plain file the user can write, in a
// folder the user can write, outside the system's prefixes (/usr, /bin, /opt, ...).
bool CanSwapExecutable(const std::string& path);
// True when exe lies in newExe's folder or below it (after links and ".." are resolved): the
// only executables the updater replaces or starts.
bool ExecutableInFolderOf(const std::string& exe, const std::string& newExe);
// The backup kept beside the executable.
std::string BackupPath(const std::string& exe);
// Copies newExe over exe (mode 0755) through a temporary file and a rename, after moving exe to
// its backup. On failure exe is as it was. Returns an error text, empty on success.
std::string SwapExecutable(const std::string& newExe, const std::string& exe);
// Puts the backup back in place of exe. Returns an error text, empty on success.
std::string RestoreBackup(const std::string& exe);

// Starts the program in a session of its own; -1 (errno set) when it could not be started.
pid_t StartProgram(const std::string& exe);
enum class ClaimResult { Claimed, Exited, TimedOut };
// Waits for the started program to take the guard; ends early when it exits.
ClaimResult WaitForClaim(const std::string& progDir, pid_t pid, int timeoutMs);
// Ends a program that did not come up, with its whole process group (it runs in a session of its
// own): SIGTERM, then SIGKILL after a grace period; reaps it.
void EndProgram(pid_t pid);

// The whole updater: args = new executable, running executable, version text. Exit codes:
// 0 swapped and started; 1 bad arguments, among them a running executable outside the new
// file's folder (nothing started); 2 the old program did not end (it
// still runs; nothing changed); 3 not replaceable here (the new file is kept, the old program
// started again); 4 the new program failed and the old one was put back and started; 5 the
// swap or the restore failed (the old program started again). log gets one line per step.
struct UpdaterTimes {
  int ReleaseMs = 60000;  // for the old program to end
  int ClaimMs = 15000;    // for the new one to take the guard
};
int RunUpdater(int argc, const char* const* argv, const UpdaterTimes& times, void (*log)(const std::string&));
