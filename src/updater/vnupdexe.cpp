// vnupdexe: replaces the program's executable once the program has ended, and starts the new
// one; puts the old one back when the new one does not come up.
#include <fcntl.h>
#include <unistd.h>

#include <iostream>
#include <filesystem>

#include "core/program_files.h"  // the log's name; constants only
#include "updater/updater_core.h"

namespace {
std::string logPath;

void Log(const std::string& line) {
  std::cerr << "vnupdexe: " << line << "\n";
  if (logPath.empty()) return;
  // Never through a link: it could send our lines into any file the user can write.
  const int fd = ::open(logPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return;
  const std::string text = line + "\n";
  [[maybe_unused]] const ssize_t n = ::write(fd, text.data(), text.size());
  ::close(fd);
}
}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && argv[1][0] == '/') logPath = std::filesystem::path(argv[1]).parent_path().string() + "/" + UpdaterLogName;
  return RunUpdater(argc, argv, UpdaterTimes{}, Log);
}
