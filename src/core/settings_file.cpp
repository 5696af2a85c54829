#include "core/settings_file.h"

#include <filesystem>
#include <stdexcept>

#include "core/locks.h"
#include "core/log.h"
#include "core/program_state.h"

std::unique_ptr<TMyIniFile> IniFile_;

TMyIniFile& Ini() {
  if (!IniFile_) throw std::logic_error("The settings file is not open");
  return *IniFile_;
}

void OpenSettingsFile() {
  std::string path = ProgDir + "STOCKS.INI";
  std::error_code ec;
  if (std::filesystem::exists(path, ec))
    std::filesystem::copy_file(path, ProgDir + "STOCKS.IN_", std::filesystem::copy_options::overwrite_existing, ec);
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
