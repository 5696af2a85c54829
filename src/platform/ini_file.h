#pragma once
// A settings file of [sections] and key=value lines. Sections and keys compare without
// regard to case and keep the spelling they were first written with. Every write goes
// through to the file at once, written to a temporary file and renamed into place.
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/string_list.h"

class IniFile {
public:
  // Reads the file when it exists; a missing file is an empty one.
  explicit IniFile(std::string path);

  const std::string& FileName() const { return path_; }

  std::string ReadString(std::string_view section, std::string_view key, std::string_view def) const;
  // False (nothing written) when the key or value could break the file: keys holding
  // "=", "[", "]", ";" or a line break, values holding a line break, empty keys or sections.
  bool WriteString(std::string_view section, std::string_view key, std::string_view value);
  int ReadInteger(std::string_view section, std::string_view key, int def) const;
  bool WriteInteger(std::string_view section, std::string_view key, int value);
  bool ReadBool(std::string_view section, std::string_view key, bool def) const;
  bool WriteBool(std::string_view section, std::string_view key, bool value);
  double ReadFloat(std::string_view section, std::string_view key, double def) const;
  bool WriteFloat(std::string_view section, std::string_view key, double value);

  void ReadSection(std::string_view section, StringList& keys) const;
  void ReadSections(StringList& sections) const;
  void ReadSectionValues(std::string_view section, StringList& lines) const;
  bool SectionExists(std::string_view section) const;
  bool ValueExists(std::string_view section, std::string_view key) const;
  void EraseSection(std::string_view section);
  void DeleteKey(std::string_view section, std::string_view key);

  // Several writes in one file write: the file is written when the last batch ends.
  void BeginBatch();
  void EndBatch();

  // Re-reads the file from disk.
  void Reload();
  // The last write's outcome: false when the file could not be written.
  bool LastWriteOk() const { return lastWriteOk_; }

  static bool IsSafeKey(std::string_view key);
  static bool IsSafeValue(std::string_view value);

private:
  struct Entry {
    std::string key, value;
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
  };
  Section* FindSection(std::string_view name);
  const Section* FindSection(std::string_view name) const;
  bool Lookup(std::string_view section, std::string_view key, std::string& value) const;
  void Parse(std::string_view text);
  void Flush();

  std::string path_;
  std::vector<Section> sections_;
  mutable std::recursive_mutex mutex_;
  int batch_ = 0;
  bool dirty_ = false;
  bool lastWriteOk_ = true;
};
