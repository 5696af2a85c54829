#include "core/program_state.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "core/program_files.h"

std::string ProgDir;
double ProgVersion = 2.501;
StringList ParamList;
StringList AdParams;
std::atomic<bool> QuitRequested{false};
std::atomic<int> ModalDepth{0};
std::atomic<bool> ShowAds{false};
std::atomic<bool> HaveIE4{false};
std::atomic<bool> MenuReloadRequested{false};
std::atomic<bool> PassDlgExists{false};
std::atomic<bool> UseProxy{false};
const std::string RegKeyPath = "\\SOFTWARE\\4HB\\Vantora";
int CallbackMsg = 0;
std::string LastWUNotify;
int WUInterval = 180;
TDateTime NextWUReminder = 0;
std::atomic<bool> LogOn{false};
std::atomic<bool> DebugOn{false};
bool AllowDupSwitch = false;
bool ProphetSwitch = false;

namespace fs = std::filesystem;

std::string ResolveProgDir() {
  std::string dir;
  if (const char* v = std::getenv("VANTORA_HOME"); v && *v) {
    dir = v;
  } else if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x) {
    dir = std::string(x) + "/vantora";
  } else if (const char* h = std::getenv("HOME"); h && *h) {
    dir = std::string(h) + "/.local/share/vantora";
  } else {
    dir = "/tmp/vantora";
  }
  // Absolute, so the folder and the single-copy guard do not depend on the working folder.
  std::error_code ec;
  fs::path abs = fs::weakly_canonical(fs::absolute(dir, ec), ec);
  if (!ec && !abs.empty()) dir = abs.string();
  if (dir.back() != '/') dir += '/';
  return dir;
}

bool MakeProgDir(const std::string& progDir, std::string& error) {
  std::error_code ec;
  fs::create_directories(progDir, ec);
  if (fs::is_directory(progDir)) return true;
  error = ec ? ec.message() : "not a folder";
  return false;
}

std::string FolderWriteProblem(const std::string& dir) {
  std::string probe = (fs::path(dir) / ".vnwrite-XXXXXX").string();
  const int fd = ::mkostemp(probe.data(), O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  ::close(fd);
  ::unlink(probe.c_str());
  return {};
}

namespace {

// Copies through a temporary file renamed into place, so a full disk never leaves a cut copy
// under the real name. Empty on success, else the reason.
std::string CopyIntoFolder(const fs::path& from, const fs::path& to) {
  std::string bytes;
  if (!ReadWholeFile(from.string(), bytes)) return "cannot be read";
  struct stat st {};
  const mode_t mode = ::stat(from.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0644;
  return WriteFileAtomic(to.string(), bytes, mode) ? std::string() : std::strerror(errno);
}

}  // namespace

std::vector<std::string> SeedProgDir(const std::string& progDir, const std::string& dataDir) {
  std::vector<std::string> failed;
  std::error_code ec;
  if (dataDir.empty() || !fs::is_directory(dataDir, ec)) return failed;
  for (const std::string& name : StarterFiles()) {
    const fs::path from = fs::path(dataDir) / name, to = fs::path(progDir) / name;
    if (!fs::is_regular_file(from, ec)) continue;
    // A user's file that cannot be read (or a pipe) is left alone; a folder in the way is named.
    std::string have;
    const FileRead read = ReadFileChecked(to.string(), have);
    if ((read == FileRead::Ok && HasContent(have)) || (read == FileRead::Unreadable && !fs::is_directory(to, ec)))
      continue;
    if (std::string why = CopyIntoFolder(from, to); !why.empty()) failed.push_back(name + ": " + why);
  }
  return failed;
}

int InstallProgramBinaries(const std::string& progDir, const std::string& binDir, std::vector<std::string>* failed) {
  int copied = 0;
  for (const std::string& name : ProgramBinaries()) {
    std::error_code ec;
    const fs::path from = fs::path(binDir) / name, to = fs::path(progDir) / name;
    if (!fs::is_regular_file(from, ec) || fs::exists(fs::symlink_status(to, ec))) continue;
    if (std::string why = CopyIntoFolder(from, to); !why.empty()) {
      if (failed) failed->push_back(name + ": " + why);
      continue;
    }
    ++copied;
  }
  return copied;
}

void ParseEarlySwitches(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    std::string a = UpperCase(argv[i]);
    if (a == "ALLOWDUP") AllowDupSwitch = true;
    else if (a == "LOG") LogOn = true;
    else if (a == "PROPHET") ProphetSwitch = true;
  }
}

bool IsSafeRelativeName(const std::string& name) {
  if (name.empty() || name.size() > 255) return false;
  if (name.find('\0') != std::string::npos) return false;
  fs::path p(name);
  if (p.is_absolute() || p.has_root_name() || name[0] == '/' || name[0] == '\\') return false;
  for (const auto& part : fs::path(name).lexically_normal())
    if (part == "..") return false;
  // Windows-style names from outside may use backslashes: they must not climb either.
  if (name.find("..\\") != std::string::npos || name.find(':') != std::string::npos) return false;
  return true;
}
