#include "core/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <set>
#include <stdexcept>

#include "core/aside_copies.h"
#include "core/locks.h"
#include "core/log.h"
#include "core/program_files.h"
#include "core/program_state.h"
#include "core/user_notices.h"
#include "platform/folder_lock.h"
#include "platform/registry.h"

std::unique_ptr<TMyIniFile> IniFile_;

namespace {
// STOCKS.INI as it read at start, when it read whole: it becomes the backup at the close.
std::string settingsAtStart;

// Sections ("SECTION") and keys ("SECTION\nKEY"), upper-cased.
std::set<std::string> SettingsNames(std::string_view text) {
  std::set<std::string> names;
  for (const IniFile::KeyLine& k : IniFile::KeysOf(text))
    names.insert(UpperCase(k.Section) + (k.Key.empty() ? "" : "\n" + UpperCase(k.Key)));
  return names;
}

// A cut file loses no keys: every key it lacks comes from the backup. Its own keys win, except
// a last line cut inside its value (no line break, a shorter beginning of the backup's value).
// How many were taken.
int TakeMissingKeys(TMyIniFile& ini, std::string_view text, std::string_view saved) {
  const std::vector<IniFile::KeyLine> own = IniFile::KeysOf(text);
  const size_t lastBreak = text.rfind('\n');
  const size_t wholeLines = IniFile::KeysOf(text.substr(0, lastBreak == std::string_view::npos ? 0 : lastBreak + 1)).size();
  const IniFile::KeyLine* cut = own.size() > wholeLines && !own.back().Key.empty() ? &own.back() : nullptr;
  const std::set<std::string> have = SettingsNames(text);
  int taken = 0;
  ini.BeginBatch();
  for (const IniFile::KeyLine& k : IniFile::KeysOf(saved)) {
    if (k.Key.empty()) continue;
    const bool isCut = cut && SameText(cut->Section, k.Section) && SameText(cut->Key, k.Key);
    const bool take = isCut ? k.Value.size() > cut->Value.size() && k.Value.starts_with(cut->Value)
                            : !have.contains(UpperCase(k.Section) + "\n" + UpperCase(k.Key));
    if (take && ini.WriteString(k.Section, k.Key, k.Value)) ++taken;
  }
  ini.EndBatch();
  return taken;
}

// The incoming text with every section and key of the outgoing one that it lacks.
std::string CarrySettings(std::string_view incoming, std::string_view outgoing) {
  std::string out(incoming);
  if (!out.empty() && out.back() != '\n') out += "\r\n";
  const std::set<std::string> have = SettingsNames(incoming);
  // What the incoming text lacks, by section in the outgoing text's order; a section it lacks
  // altogether comes along even when empty. A section it has gets a header of its own again
  // below, which reads as the same section.
  std::vector<std::pair<std::string, std::string>> blocks;
  auto blockOf = [&](const std::string& section) -> std::string& {
    for (auto& b : blocks)
      if (SameText(b.first, section)) return b.second;
    return blocks.emplace_back(section, "").second;
  };
  for (const IniFile::KeyLine& k : IniFile::KeysOf(outgoing)) {
    const std::string id = UpperCase(k.Section) + (k.Key.empty() ? "" : "\n" + UpperCase(k.Key));
    if (have.contains(id)) continue;
    std::string& block = blockOf(k.Section);
    if (!k.Key.empty()) block += k.Key + "=" + k.Value + "\r\n";
  }
  for (const auto& [section, lines] : blocks) out += "[" + section + "]\r\n" + lines + "\r\n";
  return out;
}
}  // namespace

bool SettingsBackupFollows(std::string* why) {
  return BackupFollows(ProgDir, SettingsFileName, settingsAtStart, SettingsNames, CarrySettings, 0600, why);
}

TMyIniFile& Ini() {
  if (!IniFile_) throw std::logic_error("The settings file is not open");
  return *IniFile_;
}

bool MakeFilePrivate(const std::string& path) {
  // Created 0600 when missing. A link is never followed: the file it points to may be anyone's,
  // and the atomic write replaces the link with a private file of our own at the next write.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  if (fd < 0) return errno == ELOOP;
  const bool ok = ::fchmod(fd, 0600) == 0;
  ::close(fd);
  return ok;
}

void OpenSettingsFile() {
  const std::string backupName = BackupFileName(SettingsFileName);
  const std::string path = ProgDir + SettingsFileName, backup = ProgDir + backupName;
  const std::string file = std::string("The settings file ") + SettingsFileName;
  constexpr mode_t kPrivate = 0600;  // it holds scrambled site passwords
  std::string text, why, saved, backupWhy;
  settingsAtStart.clear();
  FileRead read = ReadFileChecked(path, text, &why);
  // Perhaps only its mode keeps it from us: made private, it is read again.
  if (read == FileRead::Unreadable && MakeFilePrivate(path)) read = ReadFileChecked(path, text, &why);
  const FileRead backupRead = ReadFileChecked(backup, saved, &backupWhy);
  const bool haveBackup = backupRead == FileRead::Ok && HasContent(saved) && IniFile::LooksLikeSettingsText(saved);
  // Where this session's settings are written; empty when nowhere (nothing the user had may be
  // written over and no copy could be made): they are then read from readFrom and not saved.
  std::string openName = SettingsFileName;
  std::string readFrom = path;
  std::string notice;
  // The backup takes the place of a file that holds nothing usable.
  auto useBackup = [&] {
    if (haveBackup && openName.empty()) readFrom = backup;
    if (haveBackup && (openName.empty() || WriteFileAtomic(ProgDir + openName, saved, kPrivate)))
      return " The backup " + backupName + " is used; it holds the previous save.";
    return std::string(" The program starts with default settings.");
  };
  auto backupNote = [&] {
    if (haveBackup) return " The backup " + backupName + " holds the previous save and is left as it is.";
    if (backupRead == FileRead::Unreadable) return " The backup " + backupName + " cannot be read (" + backupWhy + ").";
    return " There is no backup " + backupName + ".";
  };
  // Nothing the user had is written over unless it was kept aside first.
  auto saveElsewhere = [&](std::string_view first) {
    return SaveElsewhere(ProgDir, SettingsFileName, "settings", openName, first, kPrivate);
  };
  // A file cut inside its last line: the lines before the cut still read.
  const size_t lastBreak = text.rfind('\n');
  const std::string wholeLines = text.substr(0, lastBreak == std::string::npos ? 0 : lastBreak + 1);
  const bool cut = read == FileRead::Ok && HasContent(text) && text.back() != '\n' &&
                   IniFile::LooksLikeSettingsText(wholeLines);
  std::string usable;  // a cut file's settings that read, to be completed from the backup
  if (read == FileRead::Unreadable) {
    bool reused = false;
    notice = file + " cannot be read (" + why + ")." +
             KeepUnreadableAside(ProgDir, SettingsFileName, "settings", openName, haveBackup ? saved : "", reused, kPrivate);
    if (!reused) notice += useBackup();
  } else if (read == FileRead::Missing) {
    // Deleted, or a link to nothing: the backup comes back in its place (never through the link)
    // rather than defaults that the next save would make the only copy.
    if (haveBackup) notice = file + " is missing." + useBackup();
  } else if (!HasContent(text)) {
    // An empty file (a write cut short, a full disk) holds no settings: it never replaces the
    // backup, which takes its place.
    if (haveBackup) {
      if (WriteFileAtomic(path, saved, kPrivate))
        notice = file + " was empty; the backup " + backupName + " is used.";
      else
        notice = file + " was empty and the backup " + backupName +
                 " could not be copied over it; the program starts with default settings.";
    }
  } else if (!cut && !IniFile::LooksLikeSettingsText(text)) {
    std::string asideWhy;
    const std::string aside = CopyAside(ProgDir, SettingsFileName, text, kPrivate, &asideWhy);
    notice = file + " could not be read.";
    if (aside.empty()) {
      notice += " It could not be kept aside (" + asideWhy + "), so it is left as it is." +
                saveElsewhere(haveBackup ? saved : "");
    } else {
      notice += " It was kept as " + aside + ".";
      if (!haveBackup) WriteFileAtomic(path, "", kPrivate);  // its bytes are aside; nothing of it is read
    }
    notice += useBackup();
  } else if (cut) {
    // It reads as settings but may have been cut: used as it stands, completed from the backup,
    // never made the backup. A last line that is not even a key is left out.
    std::string asideWhy;
    const std::string aside = CopyAside(ProgDir, SettingsFileName, text, kPrivate, &asideWhy);
    usable = IniFile::LooksLikeSettingsText(text) ? text : wholeLines;
    notice = file + " did not read whole: it does not end with a line break (it may have been cut, or written by "
                    "hand). Every setting that reads is used.";
    if (aside.empty()) {
      notice += " It could not be copied aside (" + asideWhy + ")." + saveElsewhere(usable);
    } else {
      notice += " Its bytes were kept as " + aside + ".";
      if (usable.size() != text.size() && !WriteFileAtomic(path, usable, kPrivate)) usable = text;
    }
    notice += backupNote();
  } else {
    settingsAtStart = text;
    if (const std::string since = NewerSessionSaveNote(ProgDir, SettingsFileName, "settings"); !since.empty())
      notice = file + " reads again and is used." + since;
    // The program removes keys itself (a deleted view), so a key gone is no news for a box.
    if (haveBackup) {
      const std::set<std::string> have = SettingsNames(text);
      int lacking = 0;
      std::string first;
      for (const IniFile::KeyLine& k : IniFile::KeysOf(saved))
        if (!k.Key.empty() && !have.contains(UpperCase(k.Section) + "\n" + UpperCase(k.Key)) && !lacking++)
          first = "[" + k.Section + "] " + k.Key;
      if (lacking)
        WriteLog(std::string(SettingsFileName) + " lacks " + std::to_string(lacking) +
                     (lacking == 1 ? " setting" : " settings") + " of its backup " +
                     backupName + ", the first " + first + "; the backup keeps them, and " + backupName + OlderSuffix +
                     " once the backup follows this file",
                 0);
    }
    // A file that read whole makes a missing backup; an existing one changes only at the close.
    if (!haveBackup && backupRead != FileRead::Unreadable && !WriteFileAtomic(backup, text, kPrivate))
      WriteLog("The settings backup " + backupName + " could not be written", 0);
  }
  if (!openName.empty() && !MakeFilePrivate(ProgDir + openName)) WriteLog("The settings file could not be made private", 0);
  IniFile_ = std::make_unique<TMyIniFile>(openName.empty() ? readFrom : ProgDir + openName);
  if (openName.empty()) IniFile_->RefuseWrites();
  if (cut && haveBackup && !openName.empty()) {
    const int taken = TakeMissingKeys(*IniFile_, usable, saved);
    notice += " " + std::to_string(taken) + (taken == 1 ? " setting was" : " settings were") + " taken from the backup " +
              backupName + ".";
  }
  if (const std::string older = OlderObstacleNote(ProgDir, SettingsFileName); !older.empty())
    notice += (notice.empty() ? "" : " ") + older;
  if (!notice.empty()) AddUserNotice(notice);
}

void OpenRegistryFile() {
  const std::filesystem::path path = RegistryStore::CurrentPath();
  std::string dir = path.parent_path().string() + "/", name = path.filename().string();
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  bool writable = true;
  ReadKeepingAside(dir, name, "The file of per-user values " + path.string(), [](std::string_view text) {
    if (!HasContent(text)) return std::string();
    if (!IniFile::LooksLikeSettingsText(text)) return std::string("it does not read as settings");
    return text.back() == '\n' ? std::string() : std::string("it does not end with a line break (it may have been cut)");
  }, writable);
  if (!writable) RegistryStore::CurrentUser().RefuseWrites();
}

TMyIniFile::TMyIniFile(const std::string& path) : file_(path, 0600) {
  // Copies beside each other (ALLOWDUP) keep each other's changes.
  file_.ShareWithOtherWriters();
}

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
  if (refused_) return false;
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
  if (refused_) return false;
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
  if (refused_) return;
  LockHold hold(IniLock, kOwner, true);
  if (hold) file_.EraseSection(section);
}

void TMyIniFile::DeleteKey(std::string_view section, std::string_view key) {
  if (refused_) return;
  LockHold hold(IniLock, kOwner, true);
  if (hold) file_.DeleteKey(section, key);
}

std::string TMyIniFile::LastWriteProblem() const {
  if (LastWriteOk()) return {};
  const std::string name = std::filesystem::path(FileName()).filename().string();
  if (refused_) return name + " is not written over: what it held could not be kept aside at start";
  if (file_.LastWriteError() == ETIMEDOUT) return name + " was not written: " + FolderLockProblem;
  return WriteFailure(ProgDir, name, file_.LastWriteError());
}

void TMyIniFile::BeginBatch() { file_.BeginBatch(); }
void TMyIniFile::EndBatch() { file_.EndBatch(); }
