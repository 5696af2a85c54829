#pragma once
// A lock that every process on a folder shares (a lock on the folder itself), held while a file
// that other copies of the program write too is read, merged and written. Two holders in one
// process exclude each other as well; never take it while holding it.
#include <string>

// Why a write waited for the lock in vain, for the user.
inline constexpr const char* FolderLockProblem =
    "another copy of the program held the lock that the copies share on the folder";

class FolderLock {
public:
  // Waits up to timeoutMs for the lock. A folder that cannot be opened gives no lock at once.
  explicit FolderLock(const std::string& dir, int timeoutMs = 5000);
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  // False when the lock was not obtained: the file is then not to be written.
  explicit operator bool() const { return fd_ >= 0; }

private:
  int fd_ = -1;
};
