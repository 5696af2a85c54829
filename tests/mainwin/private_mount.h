#pragma once
// The program's folder on a small disk or read only, for the tests of a full disk.
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "run_program.h"

// The program's folder as a full disk or a read-only folder: a mount namespace of its own, held
// by a child process, where the folder is a small tmpfs or bind-mounted read-only. Unavailable
// (Why says so) where the system allows no mount namespace.
class PrivateMount {
public:
  enum Kind { SmallDisk, ReadOnly };
  PrivateMount(const std::string& dir, Kind kind, int sizeKb = 64) : dir_(dir + "/") {
    const std::string options = "size=" + std::to_string(sizeKb) + "k,mode=0755";
    const std::string uidMap = "0 " + std::to_string(::getuid()) + " 1";
    const std::string gidMap = "0 " + std::to_string(::getgid()) + " 1";
    int ready[2], hold[2];
    if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(hold, O_CLOEXEC) != 0) return;
    holder_ = ::fork();
    if (holder_ == 0) {
      // Only system calls from here: the test process has threads.
      ::close(ready[0]);
      ::close(hold[1]);
      char status = 0;
      auto put = [](const char* path, const std::string& text) {
        const int fd = ::open(path, O_WRONLY);
        const bool ok = fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        if (fd >= 0) ::close(fd);
        return ok;
      };
      if (::unshare(CLONE_NEWNS) != 0) {
        status = 'u';
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0 || !put("/proc/self/setgroups", "deny") ||
            !put("/proc/self/uid_map", uidMap) || !put("/proc/self/gid_map", gidMap))
          status = '1';
      }
      if (status != '1' && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) status = '2';
      if (status != '1' && status != '2') {
        const bool mounted =
            kind == SmallDisk
                ? ::mount("tmpfs", dir.c_str(), "tmpfs", MS_NOSUID, options.c_str()) == 0
                : ::mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
                      ::mount(nullptr, dir.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0;
        if (!mounted) status = '3';
      }
      if (status == 0) status = 'k';
      [[maybe_unused]] auto n = ::write(ready[1], &status, 1);
      char c;
      while (::read(hold[0], &c, 1) > 0) {
      }
      ::_exit(0);
    }
    ::close(ready[1]);
    ::close(hold[0]);
    holdFd_ = hold[1];
    char status = 0;
    if (holder_ < 0 || ::read(ready[0], &status, 1) != 1) status = '0';
    ::close(ready[0]);
    if (status == 'k' || status == 'u') {
      userNs_ = status == 'u';
      return;
    }
    why_ = std::string("no mount namespace here (step ") + status + ")";
    Release();
  }
  ~PrivateMount() { Release(); }
  bool Ok() const { return holder_ > 0; }
  const std::string& Why() const { return why_; }
  // A file of the folder as the program sees it.
  std::string Path(const std::string& name) const {
    return "/proc/" + std::to_string(holder_) + "/root" + dir_ + name;
  }
  // Runs the program inside.
  pid_t Start(const std::vector<std::string>& env, const std::vector<std::string>& args, int errFd = -1) {
    const std::string ns = "/proc/" + std::to_string(holder_) + "/ns/";
    const int user = userNs_ ? ::open((ns + "user").c_str(), O_RDONLY | O_CLOEXEC) : -1;
    const int mnt = ::open((ns + "mnt").c_str(), O_RDONLY | O_CLOEXEC);
    const pid_t pid = Spawn(env, args, [&] {
      return (user < 0 || ::setns(user, CLONE_NEWUSER) == 0) && ::setns(mnt, CLONE_NEWNS) == 0;
    }, errFd);
    if (user >= 0) ::close(user);
    if (mnt >= 0) ::close(mnt);
    return pid;
  }

  static pid_t Spawn(std::vector<std::string> env, std::vector<std::string> args, const std::function<bool()>& prepare,
                     int errFd = -1) {
    return SpawnProgram(std::move(env), std::move(args), prepare, errFd);
  }

private:
  void Release() {
    if (holdFd_ >= 0) ::close(holdFd_);
    holdFd_ = -1;
    if (holder_ > 0) ::waitpid(holder_, nullptr, 0);
    holder_ = -1;
  }
  std::string dir_, why_;
  pid_t holder_ = -1;
  int holdFd_ = -1;
  bool userNs_ = false;
};

// Fills the small file system of path to the last byte (it stops at 1 MiB, more than it holds).
inline void FillDisk(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  const std::string block(4096, 'x');
  int blocks = 0;
  while (blocks < 256 && ::write(fd, block.data(), block.size()) > 0) ++blocks;
  for (int i = 0; i < 4096 && ::write(fd, "x", 1) > 0; ++i) {
  }
  ::close(fd);
  ASSERT_LT(blocks, 256) << "not a small file system";
}

