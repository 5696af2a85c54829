#pragma once
// A settings file of [sections] and key=value lines. Sections and keys compare without
// regard to case and keep the spelling they were first written with. Every write goes
// through to the file at once, written to a temporary file and renamed into place. Lines that
// are not sections or keys (comments, repeated keys, stray text) are kept and written back as
// they stood.
#include <mutex>
#include <optional>
#include <sys/types.h>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/string_list.h"

class IniFile {
public:
  // Reads the file when it exists; a missing file is an empty one. With mode, every write gives
  // the file that mode (else it keeps the mode it has).
  explicit IniFile(std::string path, std::optional<mode_t> mode = std::nullopt);

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

  // The file is written by other processes too: each write, key deletion and section erasure
  // is then applied to the file as it stands at that moment, under a lock on its folder that
  // every writer takes (read, merge, write), and a write of the value this object already holds
  // writes nothing; so nothing another writer changed is written back over. Reads keep this
  // object's own view: the file as read, with this object's own changes. A file that does not
  // read as settings at that moment is written from that view, as without sharing.
  void ShareWithOtherWriters();

  // Re-reads the file from disk.
  void Reload();
  // The last write's outcome: false when the file could not be written.
  bool LastWriteOk() const { return lastWriteOk_; }
  // The errno of the last write that failed.
  int LastWriteError() const { return lastWriteError_; }

  static bool IsSafeKey(std::string_view key);
  static bool IsSafeValue(std::string_view value);
  // Whether the bytes read as a settings file: no NUL byte, and every non-blank line is a
  // "[section]" header, a "key=value" line with a key, or a comment starting with ";".
  static bool LooksLikeSettingsText(std::string_view text);
  // Every key of a settings text in file order (the first of a repeated key), and every section
  // as an entry with an empty key.
  struct KeyLine {
    std::string Section, Key, Value;
  };
  static std::vector<KeyLine> KeysOf(std::string_view text);

private:
  struct Entry {
    std::string key, value;
    std::string raw;  // a line kept as it stood (key empty): never read, written back
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
    std::unordered_map<std::string, size_t> index;  // upper-cased key -> entry
    void Reindex();
  };
  Section* FindSection(std::string_view name);
  const Section* FindSection(std::string_view name) const;
  Section& AddSection(const std::string& name);
  void ReindexSections();
  bool Lookup(std::string_view section, std::string_view key, std::string& value) const;
  void Parse(std::string_view text);
  void Flush();
  std::string Text() const;
  // One change of this object's view, as the shared file takes it.
  struct Change {
    enum Kind { Write, Delete, Erase } What;
    std::string Section, Key, Value;
  };
  void Apply(const Change& c);
  // The view's changes since it was last read or written, against base_.
  std::vector<Change> ChangesSinceBase() const;
  // Writes the view's changes into the file as it stands (under the folder's lock).
  void MergeIntoFile();

  std::string path_;
  std::optional<mode_t> mode_;
  std::vector<std::string> preamble_;  // lines before the first section, kept as they stood
  std::vector<Section> sections_;
  std::unordered_map<std::string, size_t> sectionIndex_;  // upper-cased name -> section
  mutable std::recursive_mutex mutex_;
  int batch_ = 0;
  bool dirty_ = false;
  bool lastWriteOk_ = true;
  int lastWriteError_ = 0;
  bool shared_ = false;
  // While shared: the view as last read or written, keyed by upper-cased section and key.
  struct BaseSection {
    std::string Name;
    std::unordered_map<std::string, std::pair<std::string, std::string>> Keys;  // key, value
  };
  std::unordered_map<std::string, BaseSection> base_;
  void TakeBase();
};
