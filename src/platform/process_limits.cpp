#include "platform/process_limits.h"

#include <sys/resource.h>

#include <csignal>

bool PrepareProcessLimits(std::string& error, unsigned long minFiles) {
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit files{};
  if (::getrlimit(RLIMIT_NOFILE, &files) != 0) return true;  // nothing known: go on
  if (files.rlim_cur != files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
    ::getrlimit(RLIMIT_NOFILE, &files);
  }
  // Windows, sockets, the guard, the logs and the data files each take handles; with fewer the
  // window system library aborts where it cannot be caught.
  if (files.rlim_cur != RLIM_INFINITY && files.rlim_cur < minFiles) {
    error = "Too few file handles: the system allows this program " + std::to_string(files.rlim_cur) +
            " open files, and it needs at least " + std::to_string(minFiles) + " (raise the limit, e.g. ulimit -n " +
            std::to_string(minFiles * 16) + ").";
    return false;
  }
  return true;
}
