// vnupdexe: replaces the program's executable once the program has ended, and starts the new
// one; puts the old one back when the new one does not come up.
#include <fstream>
#include <iostream>
#include <filesystem>

#include "core/program_files.h"  // the log's name; constants only
#include "updater/updater_core.h"

namespace {
std::string logPath;

void Log(const std::string& line) {
  std::cerr << "vnupdexe: " << line << "\n";
  if (logPath.empty()) return;
  std::ofstream out(logPath, std::ios::app);
  out << line << "\n";
}
}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && argv[1][0] == '/') logPath = std::filesystem::path(argv[1]).parent_path().string() + "/" + UpdaterLogName;
  return RunUpdater(argc, argv, UpdaterTimes{}, Log);
}
