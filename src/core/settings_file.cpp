#include "core/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <stdexcept>

#include "core/locks.h"
#include "core/log.h"
#include "core/program_files.h"
#include "core/program_state.h"
#include "core/user_notices.h"

std::unique_ptr<TMyIniFile> IniFile_;

TMyIniFile& Ini() {
  if (!IniFile_) throw std::logic_error("The settings file is not open");
  return *IniFile_;
}

bool MakeFilePrivate(const std::string& path) {
  // Created 0600 when missing; later atomic rewrites keep the mode.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const bool ok = ::fchmod(fd, 0600) == 0;
  ::close(fd);
  return ok;
}

std::string KeepFileAside(const std::string& path) {
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  ::localtime_r(&now, &tm);
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
  std::error_code ec;
  for (int n = 0; n < 100; ++n) {
    std::string aside = path + ".damaged-" + stamp + (n ? "-" + std::to_string(n) : std::string());
    if (std::filesystem::exists(aside, ec)) continue;
    std::filesystem::rename(path, aside, ec);
    return ec ? std::string() : aside;
  }
  return {};
}

void OpenSettingsFile() {
  const std::string backupName = BackupFileName(SettingsFileName);
  const std::string path = ProgDir + SettingsFileName, backup = ProgDir + backupName;
  std::string text;
  if (ReadWholeFile(path, text)) {
    std::string saved;
    const bool haveBackup = ReadWholeFile(backup, saved) && HasContent(saved) && IniFile::LooksLikeSettingsText(saved);
    if (!HasContent(text)) {
      // An empty file (a write cut short, a full disk) holds no settings: it never replaces the
      // backup, which takes its place.
      if (haveBackup) {
        if (MakeFilePrivate(path) && WriteFileAtomic(path, saved))
          AddUserNotice(std::string("The settings file ") + SettingsFileName + " was empty; the backup " + backupName +
                        " is used.");
        else
          AddUserNotice(std::string("The settings file ") + SettingsFileName + " was empty and the backup " +
                        backupName + " could not be copied over it; the program starts with default settings.");
      }
    } else if (IniFile::LooksLikeSettingsText(text)) {
      // Only a file that reads as settings replaces the backup.
      if (!MakeFilePrivate(backup) || !WriteFileAtomic(backup, text))
        WriteLog("The settings backup " + backupName + " could not be written", 0);
    } else {
      const std::string aside = KeepFileAside(path);
      if (aside.empty()) {
        // Nothing is overwritten while the damaged file could not be moved; its lines are kept.
        AddUserNotice(std::string("The settings file ") + SettingsFileName +
                      " could not be read and could not be kept aside; the program uses what it can read of it.");
      } else if (haveBackup && MakeFilePrivate(path) && WriteFileAtomic(path, saved)) {
        AddUserNotice(std::string("The settings file ") + SettingsFileName + " could not be read. It was kept as " +
                      std::filesystem::path(aside).filename().string() + " and the backup " + backupName + " is used.");
      } else {
        AddUserNotice(std::string("The settings file ") + SettingsFileName + " could not be read. It was kept as " +
                      std::filesystem::path(aside).filename().string() + "; the program starts with default settings.");
      }
    }
  }
  // It holds scrambled site passwords: readable by the user only.
  if (!MakeFilePrivate(path)) WriteLog("The settings file could not be made private", 0);
  IniFile_ = std::make_unique<TMyIniFile>(path);
}

TMyIniFile::TMyIniFile(const std::string& path) : file_(path) {}

namespace {
constexpr const char* kOwner = "IniFile";

void Refused(std::string_view section, std::string_view key) {
  WriteLog("Settings: refused to write [" + std::string(section) + "] " + std::string(key), 0);
}
}  // namespace

std::string TMyIniFile::ReadString(std::string_view section, std::string_view key, std::string_view def) const {
  LockHold hold(IniLock, kOwner, true);
  if (!hold) return std::string(def);
  return file_.ReadString(section, key, def);
}

bool TMyIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  LockHold hold(IniLock, kOwner, true);
  if (!hold) return false;
  if (!file_.WriteString(section, key, value)) {
    Refused(section, key);
    return false;
  }
  return true;
}

int TMyIniFile::ReadInteger(std::string_view section, std::string_view key, int def) const {
  LockHold hold(IniLock, kOwner, true);
  if (!hold) return def;
  return file_.ReadInteger(section, key, def);
}

bool TMyIniFile::WriteInteger(std::string_view section, std::string_view key, int value) {
  return WriteString(section, key, std::to_string(value));
}

bool TMyIniFile::ReadYesNo(std::string_view section, std::string_view key, bool def) const {
  std::string v = UpperCase(Trim(ReadString(section, key, "")));
  if (v == "YES" || v == "Y" || v == "1" || v == "TRUE") return true;
  if (v == "NO" || v == "N" || v == "0" || v == "FALSE") return false;
  return def;
}

bool TMyIniFile::WriteYesNo(std::string_view section, std::string_view key, bool value) {
  return WriteString(section, key, value ? "YES" : "NO");
}

double TMyIniFile::ReadFloat(std::string_view section, std::string_view key, double def) const {
  LockHold hold(IniLock, kOwner, true);
  if (!hold) return def;
  return file_.ReadFloat(section, key, def);
}

bool TMyIniFile::WriteFloat(std::string_view section, std::string_view key, double value) {
  LockHold hold(IniLock, kOwner, true);
  if (!hold) return false;
  return file_.WriteFloat(section, key, value);
}

void TMyIniFile::ReadSection(std::string_view section, StringList& keys) const {
  LockHold hold(IniLock, kOwner, true);
  keys.Clear();
  if (hold) file_.ReadSection(section, keys);
}

void TMyIniFile::ReadSectionValues(std::string_view section, StringList& lines) const {
  LockHold hold(IniLock, kOwner, true);
  lines.Clear();
  if (hold) file_.ReadSectionValues(section, lines);
}

void TMyIniFile::ReadSections(StringList& sections) const {
  LockHold hold(IniLock, kOwner, true);
  sections.Clear();
  if (hold) file_.ReadSections(sections);
}

void TMyIniFile::EraseSection(std::string_view section) {
  LockHold hold(IniLock, kOwner, true);
  if (hold) file_.EraseSection(section);
}

void TMyIniFile::DeleteKey(std::string_view section, std::string_view key) {
  LockHold hold(IniLock, kOwner, true);
  if (hold) file_.DeleteKey(section, key);
}

void TMyIniFile::BeginBatch() { file_.BeginBatch(); }
void TMyIniFile::EndBatch() { file_.EndBatch(); }
