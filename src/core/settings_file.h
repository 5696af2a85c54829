#pragma once
// The settings file STOCKS.INI: every access runs under the lock "INI".
#include <atomic>
#include <memory>
#include <string>
#include <string_view>

#include "platform/ini_file.h"
#include "platform/string_list.h"

class TMyIniFile {
public:
  explicit TMyIniFile(const std::string& path);

  std::string ReadString(std::string_view section, std::string_view key, std::string_view def) const;
  // False when the lock was not obtained or the key/value was refused (a log line says why).
  bool WriteString(std::string_view section, std::string_view key, std::string_view value);
  int ReadInteger(std::string_view section, std::string_view key, int def) const;
  bool WriteInteger(std::string_view section, std::string_view key, int value);
  // "YES"/"NO" booleans as the settings file writes them; reads also "1"/"0", any case.
  bool ReadYesNo(std::string_view section, std::string_view key, bool def) const;
  bool WriteYesNo(std::string_view section, std::string_view key, bool value);
  double ReadFloat(std::string_view section, std::string_view key, double def) const;
  bool WriteFloat(std::string_view section, std::string_view key, double value);
  void ReadSection(std::string_view section, StringList& keys) const;
  void ReadSectionValues(std::string_view section, StringList& lines) const;
  void ReadSections(StringList& sections) const;
  void EraseSection(std::string_view section);
  void DeleteKey(std::string_view section, std::string_view key);
  void BeginBatch();
  void EndBatch();
  const std::string& FileName() const { return file_.FileName(); }
  // False while the last write of the file failed (a full disk, a folder turned read-only), and
  // always once writes are refused.
  bool LastWriteOk() const { return !refused_ && file_.LastWriteOk(); }
  // Why the last write failed, for the user (empty while LastWriteOk).
  std::string LastWriteProblem() const;
  // The file is read only: nothing may be written over it (its bytes were not kept).
  void RefuseWrites() { refused_ = true; }

private:
  mutable IniFile file_;
  std::atomic<bool> refused_{false};
};

// The one settings-file object, on STOCKS.INI in the program folder (null before start-up).
extern std::unique_ptr<TMyIniFile> IniFile_;
TMyIniFile& Ini();
// Opens STOCKS.INI in ProgDir. A file that did not read whole never replaces the backup
// "STOCKS.IN_", and nothing the user had is written over unseen (each case is a user notice):
// - read whole: copied to the backup when there is none (else it follows at the close);
// - missing: the backup takes its place;
// - no final line break (it may be cut) but reads as settings: used as it stands, its bytes
//   copied aside ("STOCKS.INI.damaged-<stamp>", once per distinct content), every key it lacks
//   taken from the backup;
// - does not read as settings (IniFile::LooksLikeSettingsText): copied aside, the backup takes
//   its place;
// - empty or blank: the backup takes its place;
// - cannot be read, also once made private: moved aside, the backup takes its place.
// When a file cannot be kept aside, the session's settings go to "STOCKS.INI.saved-<stamp>".
// Both files are written readable by the user only.
void OpenSettingsFile();
// Opens the per-user values file (RegistryStore) at start, kept as the user files are
// (ReadKeepingAside): one that cannot be read is moved aside, one that does not read as settings
// or was cut has its bytes copied aside, each beside it in its own folder and said.
void OpenRegistryFile();
// At the close: the file as it read whole at start becomes the backup (BackupFollows). False
// when the backup was not renewed; why says what stood in the way.
bool SettingsBackupFollows(std::string* why = nullptr);
// Creates the file when missing and makes it readable and writable by the user only; a link is
// left alone (true), never the file it points to.
bool MakeFilePrivate(const std::string& path);
