#pragma once
// An ordered list of strings with optional, non-owning object pointers, after the class
// library's string list: sorting, name=value access and its comma-text quoting rules.
#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class StringList {
public:
  enum class Dups { Accept, Ignore, Error };

  StringList() = default;

  int Count() const { return static_cast<int>(items_.size()); }
  bool Empty() const { return items_.empty(); }
  const std::string& operator[](int i) const { return items_.at(static_cast<size_t>(i)).text; }
  const std::string& Strings(int i) const { return (*this)[i]; }
  void SetString(int i, std::string s);
  void* Objects(int i) const { return items_.at(static_cast<size_t>(i)).object; }
  void SetObject(int i, void* object) { items_.at(static_cast<size_t>(i)).object = object; }

  // Adds in order, or at the sorted place when Sorted. Returns the index (-1 when ignored).
  int Add(std::string s, void* object = nullptr);
  void Insert(int index, std::string s, void* object = nullptr);
  void Delete(int index);
  void Clear() { items_.clear(); }
  void Append(const StringList& other);

  // Index of the string (case rule of the list), -1 when absent.
  int IndexOf(std::string_view s) const;
  // Binary search on a sorted list; the index where it is or would go.
  bool Find(std::string_view s, int& index) const;
  int IndexOfName(std::string_view name) const;

  // name=value access.
  std::string Names(int i) const;
  std::string ValueFromIndex(int i) const;
  std::string Values(std::string_view name) const;
  void SetValue(std::string_view name, std::string_view value);  // empty value deletes the line

  bool Sorted() const { return sorted_; }
  void SetSorted(bool sorted);
  bool CaseSensitive() const { return caseSensitive_; }
  void SetCaseSensitive(bool cs);
  Dups Duplicates() const { return dups_; }
  void SetDuplicates(Dups d) { dups_ = d; }
  void Sort();
  void CustomSort(const std::function<bool(const std::string&, const std::string&)>& less);

  // The class library's quoting: items holding blanks, control characters, the quote or the
  // delimiter are quoted, with the quote doubled inside.
  std::string DelimitedText(char delimiter = ',', char quote = '"') const;
  void SetDelimitedText(std::string_view text, char delimiter = ',', char quote = '"');
  std::string CommaText() const { return DelimitedText(','); }
  void SetCommaText(std::string_view text) { SetDelimitedText(text, ','); }

  // Lines, each ended by CR LF; reading accepts LF, CR LF and CR.
  std::string Text() const;
  void SetText(std::string_view text);
  bool LoadFromFile(const std::string& path);
  bool SaveToFile(const std::string& path) const;  // written to a temporary file and renamed

  int Compare(std::string_view a, std::string_view b) const;

private:
  struct Item {
    std::string text;
    void* object = nullptr;
  };
  std::vector<Item> items_;
  bool sorted_ = false;
  bool caseSensitive_ = false;
  Dups dups_ = Dups::Accept;
};

// Case-insensitive comparison of ASCII texts, as the settings and symbol names need.
int CompareTextNoCase(std::string_view a, std::string_view b);
bool SameText(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view s, std::string_view prefix);
bool EndsWithNoCase(std::string_view s, std::string_view suffix);
std::string UpperCase(std::string_view s);
std::string LowerCase(std::string_view s);
std::string Trim(std::string_view s);

// Writes bytes to a temporary file beside the target and renames it into place. The file gets
// mode when given, else the target's permissions, or the usual ones for a new file. On failure
// errno says why.
bool WriteFileAtomic(const std::string& path, std::string_view bytes, std::optional<mode_t> mode = std::nullopt);
// The text after a UTF-8 byte-order mark at its start (some editors save one); never part of a
// line or a name.
std::string_view WithoutByteOrderMark(std::string_view text);
// False for an empty text or one of blanks and line ends only: such a file holds nothing.
bool HasContent(std::string_view bytes);
// A ReadFileChecked that only says whether it read: never blocks on a pipe or device.
bool ReadWholeFile(const std::string& path, std::string& out);
// A read that tells a missing file from one that exists but cannot be read (no permission, an
// I/O error, a folder or other non-file in its place); why says which, for the user.
enum class FileRead { Ok, Missing, Unreadable };
FileRead ReadFileChecked(const std::string& path, std::string& out, std::string* why = nullptr);
