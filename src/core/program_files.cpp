#include "core/program_files.h"

#include <sys/stat.h>

#include <ctime>
#include <filesystem>

#include "core/instance_guard.h"
#include "platform/string_list.h"

namespace {

// The file a temporary of WriteFileAtomic ("<name>.tmpXXXXXX") is for; empty for other names.
std::string_view AtomicWriteTarget(std::string_view name) {
  if (name.size() <= 10 || !SameText(name.substr(name.size() - 10, 4), ".tmp")) return {};
  return name.substr(0, name.size() - 10);
}

// WriteFileAtomic's "<name>.tmpXXXXXX", a plain "<name>.tmp", the update's ".vnupd-XXXXXX",
// the start's write probe ".vnwrite-XXXXXX".
bool IsTemporaryName(std::string_view name) {
  return StartsWithNoCase(name, ".vnupd-") || StartsWithNoCase(name, ".vnwrite-") || EndsWithNoCase(name, ".tmp") ||
         !AtomicWriteTarget(name).empty();
}

// "<user file>.damaged-..." or "<user file>.saved-...".
bool IsAsideName(std::string_view name);

}  // namespace

const std::vector<ProgramFile>& ProgramFiles() {
  static const std::vector<ProgramFile> files = {
      {SettingsFileName, ProgramFileKind::UserData, "STOCKS.IN_"},
      {PortFileName, ProgramFileKind::UserData, "PORT.DA_"},
      {AlertFileName, ProgramFileKind::UserData, nullptr},
      {QuoteDumpName, ProgramFileKind::UserData, nullptr},
      {NewsDumpName, ProgramFileKind::UserData, nullptr},
      {CookieFileName, ProgramFileKind::UserData, nullptr},
      {"STOCKS.IN_", ProgramFileKind::Backup, nullptr},
      {"PORT.DA_", ProgramFileKind::Backup, nullptr},
      {"STOCKS.IN_.older", ProgramFileKind::Backup, nullptr},
      {"PORT.DA_.older", ProgramFileKind::Backup, nullptr},
      {MainLogName, ProgramFileKind::Log, nullptr},
      {SaveFailedMarkerName, ProgramFileKind::Log, nullptr},
      {TraceLogName, ProgramFileKind::Log, nullptr},
      {DebugLogName, ProgramFileKind::Log, nullptr},
      {UpdaterLogName, ProgramFileKind::Log, nullptr},
      {"chart.pdf", ProgramFileKind::Export, nullptr},
      {"portfolios.pdf", ProgramFileKind::Export, nullptr},
      {CacheFolderName, ProgramFileKind::Cache, nullptr},
      {"symbols.dat", ProgramFileKind::Cache, nullptr},
      {"params.par", ProgramFileKind::Starter, nullptr},
      {"cust.par", ProgramFileKind::Starter, nullptr},
      {"menu.par", ProgramFileKind::Starter, nullptr},
      {"popmenu.par", ProgramFileKind::Starter, nullptr},
      {SupportLibraryFileName, ProgramFileKind::Binary, nullptr},
      {UpdaterFileName, ProgramFileKind::Binary, nullptr},
  };
  return files;
}

std::optional<ProgramFileKind> ProgramFileKindOf(std::string_view name) {
  if (name.empty()) return std::nullopt;
  // Anything inside the cache folder is the cache's.
  if (const size_t slash = name.find_first_of("/\\"); slash != std::string_view::npos)
    return SameText(name.substr(0, slash), CacheFolderName) ? std::optional(ProgramFileKind::Cache) : std::nullopt;
  for (const ProgramFile& f : ProgramFiles())
    if (SameText(name, f.Name)) return f.Kind;
  if (IsTemporaryName(name)) return ProgramFileKind::Temporary;
  if (StartsWithNoCase(name, std::string(InstanceGuardName) + "-")) return ProgramFileKind::Guard;
  if (EndsWithNoCase(name, ".log")) return ProgramFileKind::Log;
  if (EndsWithNoCase(name, ".csv")) return ProgramFileKind::Export;
  // A user-data file kept aside because it did not read whole ("STOCKS.INI.damaged-..."), or the
  // session's save kept beside a file it could not write over ("PORT.DAT.saved-...").
  if (IsAsideName(name)) return ProgramFileKind::Backup;
  for (const char* ext : {".par", ".sdf", ".nws", ".ind", ".lup"})
    if (EndsWithNoCase(name, ext)) return ProgramFileKind::Definition;
  return std::nullopt;
}

bool IsProtectedProgramFile(std::string_view name) {
  const std::optional<ProgramFileKind> kind = ProgramFileKindOf(name);
  if (!kind) return false;
  switch (*kind) {
    case ProgramFileKind::Starter:
    case ProgramFileKind::Definition:
    case ProgramFileKind::Binary: return false;
    default: return true;
  }
}

std::string BackupFileName(std::string_view userFile) {
  for (const ProgramFile& f : ProgramFiles())
    if (f.BackupName && SameText(userFile, f.Name)) return f.BackupName;
  return {};
}

namespace {
bool IsAsideName(std::string_view name) {
  for (const ProgramFile& f : ProgramFiles())
    if (f.Kind == ProgramFileKind::UserData)
      for (const char* infix : {DamagedInfix, SavedInfix})
        if (StartsWithNoCase(name, std::string(f.Name) + infix)) return true;
  return false;
}
}  // namespace

bool IsOwnAtomicTemporary(std::string_view name) {
  const std::string_view target = AtomicWriteTarget(name);
  if (target.empty()) return false;
  if (IsAsideName(target)) return true;
  for (const ProgramFile& f : ProgramFiles())
    if (SameText(target, f.Name)) return true;
  return false;
}

int RemoveLeftoverTemporaries(const std::string& dir, bool sole) {
  namespace fs = std::filesystem;
  constexpr std::time_t kInFlightSeconds = 600;
  const std::time_t now = std::time(nullptr);
  int removed = 0;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (!IsOwnAtomicTemporary(name)) continue;
    struct stat st {};
    // Only plain files, never through a link.
    if (::lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (!sole && now - st.st_mtime < kInFlightSeconds) continue;
    std::error_code rmEc;
    if (fs::remove(it->path(), rmEc)) ++removed;
  }
  return removed;
}

namespace {
std::vector<std::string> NamesOfKind(ProgramFileKind kind) {
  std::vector<std::string> out;
  for (const ProgramFile& f : ProgramFiles())
    if (f.Kind == kind) out.emplace_back(f.Name);
  return out;
}
}  // namespace

const std::vector<std::string>& StarterFiles() {
  static const std::vector<std::string> names = NamesOfKind(ProgramFileKind::Starter);
  return names;
}

const std::vector<std::string>& ProgramBinaries() {
  static const std::vector<std::string> names = NamesOfKind(ProgramFileKind::Binary);
  return names;
}
