#include "updater/updater_core.h"

#include "core/instance_guard.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <dirent.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>

namespace fs = std::filesystem;

namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The new executable's copy beside the executable, renamed over it in one step.
std::string TempPath(const std::string& exe) { return exe + ".vnupd-new"; }

void Nap() { std::this_thread::sleep_for(std::chrono::milliseconds(50)); }

std::string Errno(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

bool CopyFile(const std::string& from, const std::string& to) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0700);
  if (out < 0) {
    ::close(in);
    return false;
  }
  char buf[65536];
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(in, buf, sizeof buf);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = ::write(out, buf + done, size_t(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        ok = false;
        break;
      }
      done += w;
    }
    if (!ok) break;
  }
  if (ok && (::fchmod(out, 0755) != 0 || ::fsync(out) != 0)) ok = false;
  if (::close(out) != 0) ok = false;
  ::close(in);
  if (!ok) ::unlink(to.c_str());
  return ok;
}

}  // namespace

// The same name and place as the program's own guard (mainwin's SingleInstance).
std::string GuardLockPath(const std::string& progDir) { return InstanceGuardStem(progDir) + ".lock"; }

bool GuardHeld(const std::string& progDir) {
  const int fd = ::open(GuardLockPath(progDir).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;  // never made: nobody holds it
  const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);  // also lets go of the lock if this took it
  return held;
}

bool ExecutableRunning(const std::string& exe) {
  struct stat want{};
  const bool haveFile = ::stat(exe.c_str(), &want) == 0;
  std::error_code ec;
  const std::string path = fs::weakly_canonical(fs::path(exe), ec).string();
  DIR* proc = ::opendir("/proc");
  if (!proc) return false;
  const pid_t self = ::getpid();
  bool found = false;
  while (const dirent* e = ::readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(e->d_name, &end, 10);
    if (*end || pid <= 0 || pid == self) continue;
    const std::string link = "/proc/" + std::string(e->d_name) + "/exe";
    struct stat st{};
    // stat follows the link to the file the process runs, even after it was replaced.
    if (haveFile && ::stat(link.c_str(), &st) == 0 && st.st_dev == want.st_dev && st.st_ino == want.st_ino) {
      found = true;
      break;
    }
    char target[4096];
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0) continue;  // a zombie, a kernel thread, another user's process
    std::string t(target, size_t(n));
    const std::string deleted = " (deleted)";
    if (t.size() > deleted.size() && t.compare(t.size() - deleted.size(), deleted.size(), deleted) == 0)
      t.resize(t.size() - deleted.size());
    if (!path.empty() && t == path) {
      found = true;
      break;
    }
  }
  ::closedir(proc);
  return found;
}

bool WaitForProgramEnd(const std::string& progDir, const std::string& exe, int timeoutMs) {
  const int64_t end = NowMs() + timeoutMs;
  while (GuardHeld(progDir) || ExecutableRunning(exe)) {
    if (NowMs() >= end) return false;
    Nap();
  }
  return true;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa{}, sb{};
  if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0)
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  std::error_code ec1, ec2;
  const fs::path ca = fs::weakly_canonical(fs::path(a), ec1), cb = fs::weakly_canonical(fs::path(b), ec2);
  return !ec1 && !ec2 && ca == cb;
}

bool CanSwapExecutable(const std::string& path) {
  std::error_code ec;
  const fs::path p = fs::weakly_canonical(fs::path(path), ec);
  if (ec || !fs::is_regular_file(p, ec)) return false;
  const std::string s = p.string();
  for (const char* prefix : {"/usr/", "/bin/", "/sbin/", "/lib/", "/lib32/", "/lib64/", "/libx32/", "/opt/", "/etc/",
                             "/boot/", "/snap/", "/nix/", "/var/lib/", "/app/"})
    if (s.rfind(prefix, 0) == 0) return false;
  return ::access(s.c_str(), W_OK) == 0 && ::access(p.parent_path().c_str(), W_OK | X_OK) == 0;
}

bool ExecutableInFolderOf(const std::string& exe, const std::string& newExe) {
  std::error_code ec1, ec2;
  const fs::path file = fs::weakly_canonical(fs::path(exe), ec1);
  const fs::path folder = fs::weakly_canonical(fs::path(newExe).parent_path(), ec2);
  if (ec1 || ec2 || folder.empty()) return false;
  const fs::path rel = file.lexically_relative(folder);
  return !rel.empty() && *rel.begin() != ".." && rel != ".";
}

std::string BackupPath(const std::string& exe) { return exe + ".bak"; }

std::string SwapExecutable(const std::string& newExe, const std::string& exe) {
  const std::string tmp = TempPath(exe);
  ::unlink(tmp.c_str());
  if (!CopyFile(newExe, tmp)) return Errno("cannot copy the new executable");
  const std::string backup = BackupPath(exe);
  ::unlink(backup.c_str());
  if (::link(exe.c_str(), backup.c_str()) != 0) {
    const std::string e = Errno("cannot keep a backup");
    ::unlink(tmp.c_str());
    return e;
  }
  // One rename: the executable is always either the old or the new file, never half written.
  if (::rename(tmp.c_str(), exe.c_str()) != 0) {
    const std::string e = Errno("cannot put the new executable in place");
    ::unlink(tmp.c_str());
    return e;
  }
  return {};
}

std::string RestoreBackup(const std::string& exe) {
  if (::rename(BackupPath(exe).c_str(), exe.c_str()) != 0) return Errno("cannot restore the backup");
  return {};
}

pid_t StartProgram(const std::string& exe) {
  // The child reports a failed exec through a pipe that a successful one closes.
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid < 0) {
    const int err = errno;
    ::close(report[0]);
    ::close(report[1]);
    errno = err;
    return -1;
  }
  if (pid == 0) {
    ::close(report[0]);
    ::setsid();
    const char* argv[] = {exe.c_str(), nullptr};
    ::execv(exe.c_str(), const_cast<char* const*>(argv));
    const int err = errno;
    [[maybe_unused]] const ssize_t n = ::write(report[1], &err, sizeof err);
    ::_exit(127);
  }
  ::close(report[1]);
  int err = 0;
  ssize_t n;
  do n = ::read(report[0], &err, sizeof err);
  while (n < 0 && errno == EINTR);
  ::close(report[0]);
  if (n == sizeof err) {
    ::waitpid(pid, nullptr, 0);
    errno = err;
    return -1;
  }
  return pid;
}

ClaimResult WaitForClaim(const std::string& progDir, pid_t pid, int timeoutMs) {
  const int64_t end = NowMs() + timeoutMs;
  for (;;) {
    if (GuardHeld(progDir)) return ClaimResult::Claimed;
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) return ClaimResult::Exited;
    if (NowMs() >= end) return ClaimResult::TimedOut;
    Nap();
  }
}

void EndProgram(pid_t pid) {
  // The program leads its own process group (StartProgram's setsid): what it started goes too.
  if (::kill(-pid, SIGTERM) != 0 && ::kill(pid, SIGTERM) != 0) {
    ::waitpid(pid, nullptr, WNOHANG);
    return;
  }
  const int64_t end = NowMs() + 3000;
  while (NowMs() < end) {
    if (::waitpid(pid, nullptr, WNOHANG) == pid) {
      ::kill(-pid, SIGKILL);  // anything of the group still left
      return;
    }
    Nap();
  }
  ::kill(-pid, SIGKILL);
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
}

namespace {

// Starts a program and says so, or says why it could not; its process, or -1.
pid_t StartAndSay(const std::string& exe, const char* which, void (*log)(const std::string&)) {
  const pid_t pid = StartProgram(exe);
  if (pid > 0) log(std::string("started ") + which + " " + exe + " (process " + std::to_string(pid) + ")");
  else log(std::string("could not start ") + which + " " + exe + ": " + std::strerror(errno));
  return pid;
}

}  // namespace

int RunUpdater(int argc, const char* const* argv, const UpdaterTimes& times, void (*log)(const std::string&)) {
  // Arguments that are refused start nothing.
  if (argc != 4 || argv[1][0] != '/' || argv[2][0] != '/') {
    log("usage: vnupdexe NEW-EXECUTABLE RUNNING-EXECUTABLE VERSION (absolute paths); nothing started");
    return 1;
  }
  const std::string newExe = argv[1], exe = argv[2];
  std::error_code ec;
  if (!fs::is_regular_file(newExe, ec) || !fs::is_regular_file(exe, ec)) {
    log("not a file: " + (fs::is_regular_file(newExe, ec) ? exe : newExe) + "; nothing started");
    return 1;
  }
  // The new file must not be the executable itself (or its backup or temporary copy), which the
  // swap would delete.
  for (const std::string& other : {exe, BackupPath(exe), TempPath(exe)})
    if (SameFile(newExe, other)) {
      log("the new executable " + newExe + " is the same file as " + other + "; nothing started");
      return 1;
    }
  // Only an executable of the program's own folder is replaced or started.
  if (!ExecutableInFolderOf(exe, newExe)) {
    log("the running executable " + exe + " is outside the folder of " + newExe + "; nothing started");
    return 1;
  }
  std::string progDir = fs::weakly_canonical(fs::path(newExe).parent_path(), ec).string();
  if (progDir.empty() || progDir.back() != '/') progDir += '/';
  log("updating " + exe + " from " + newExe + " (version " + argv[3] + " running)");
  if (!WaitForProgramEnd(progDir, exe, times.ReleaseMs)) {
    log("the program did not end and still runs; nothing changed");
    return 2;
  }
  if (!CanSwapExecutable(exe)) {
    log(exe + " cannot be replaced here; the new file stays at " + newExe);
    StartAndSay(exe, "the old program", log);
    return 3;
  }
  if (const std::string e = SwapExecutable(newExe, exe); !e.empty()) {
    log(e);
    StartAndSay(exe, "the old program", log);
    return 5;
  }
  if (const pid_t pid = StartAndSay(exe, "the new program", log); pid > 0) {
    const ClaimResult claim = WaitForClaim(progDir, pid, times.ClaimMs);
    if (claim == ClaimResult::Claimed) {
      ::unlink(newExe.c_str());
      log("the new program runs; the old one is kept as " + BackupPath(exe));
      return 0;
    }
    log(claim == ClaimResult::Exited ? "the new program ended before it started up"
                                     : "the new program did not start up in time");
    if (claim == ClaimResult::TimedOut) EndProgram(pid);
  }
  if (const std::string e = RestoreBackup(exe); !e.empty()) {
    log(e);
    // The old program is still there under its backup name.
    StartAndSay(BackupPath(exe), "the old program", log);
    return 5;
  }
  log("the old program was put back");
  StartAndSay(exe, "the old program", log);
  return 4;
}
