#include "core/program_state.h"

#include <cstdlib>
#include <filesystem>

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
const char* const ProgramBinaryNames[2] = {"librirudid.so", "vnupdexe"};
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

bool SeedProgDir(const std::string& progDir, const std::string& dataDir) {
  std::error_code ec;
  fs::create_directories(progDir, ec);
  if (!fs::is_directory(progDir)) return false;
  if (dataDir.empty() || !fs::is_directory(dataDir, ec)) return true;
  for (auto it = fs::recursive_directory_iterator(dataDir, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    fs::path rel = fs::relative(it->path(), dataDir, ec);
    if (ec) break;
    fs::path target = fs::path(progDir) / rel;
    if (it->is_directory()) fs::create_directories(target, ec);
    else if (!fs::exists(target)) fs::copy_file(it->path(), target, ec);
  }
  return true;
}

int InstallProgramBinaries(const std::string& progDir, const std::string& binDir) {
  int copied = 0;
  for (const char* name : ProgramBinaryNames) {
    std::error_code ec;
    const fs::path from = fs::path(binDir) / name;
    if (!fs::is_regular_file(from, ec)) continue;
    const fs::path to = fs::path(progDir) / name;
    const fs::path tmp = to.string() + ".tmp";
    fs::copy_file(from, tmp, fs::copy_options::overwrite_existing, ec);
    if (!ec) fs::rename(tmp, to, ec);
    if (ec) {
      fs::remove(tmp, ec);
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
