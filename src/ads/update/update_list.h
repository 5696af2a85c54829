#pragma once
// Update lists as the update site serves them: version ranges, the kinds of lines, and the
// rules for the file names a list may name (lists are outside input).
#include <string>
#include <string_view>
#include <vector>

// Two versions are the same within this tolerance.
constexpr double VersionTolerance = 0.00001;

struct VersionRange {
  double Lowest = 0;
  double Highest = 999;
  // Lowest - tolerance <= version <= Highest + tolerance.
  bool Holds(double version) const;
};

// A range field: split at tab, "(", ")" and ","; the first number is the lowest version (0 when
// it is no number); the second the highest, else 999 when the lowest is 0, else the lowest.
VersionRange ParseVersionRange(std::string_view field);

// The parts of a text split at tab, "(", ")" and ",", empty parts dropped.
std::vector<std::string> SplitRangeText(std::string_view text);
// A number written with "."; false when the whole text is no number.
bool ReadNumber(std::string_view text, double& value);

enum class UpdateLineKind { Ignored, Comment, Server, Message, Delete, Rename, FileEntry };

struct UpdateLine {
  UpdateLineKind Kind = UpdateLineKind::Ignored;
  std::string Text;                 // Server: the server; Message: the text after "MSG:"
  std::vector<std::string> Fields;  // Delete, Rename, FileEntry
};

// Splits at tabs and blanks; apostrophes quote a field that holds blanks.
std::vector<std::string> SplitListFields(std::string_view line);
UpdateLine ClassifyUpdateLine(std::string_view line);
// The list's lines: split at LF, a CR at a line's end dropped.
std::vector<std::string> SplitListLines(std::string_view text);

struct FileEntry {
  std::string Remote, Local;
  double NewVersion = 0;
  VersionRange Range;
  std::string Description;
  bool Required = false, UpdateOnly = false;
};
// False when the version field is no number (the list is not read further).
bool ReadFileEntry(const std::vector<std::string>& fields, FileEntry& entry);

// A local name holding ".PAR", ".SDF", ".NWS", ".HUB", ".LGS", ".IND" or ".LUP" (any case).
bool IsUpdateListFile(std::string_view name);

// The executable's name less its last character, upper-cased ("EXEDEFAULT"): a local name
// holding it is the program's executable.
std::string ExecutableStem(std::string_view exeDefault);
bool IsExecutableName(std::string_view localName, std::string_view exeDefault);

// A plain file name of the program folder: no separators, no "..", no control characters,
// not "." and not empty.
bool IsSafeLocalName(std::string_view name);
// A path on the update site: may hold "/", but no CR, LF, blank, control character or "..".
bool IsSafeRemoteName(std::string_view name);
// Files a list never deletes, renames or overwrites: every file the program protects (its user
// data, their backups, logs, guard files, temporaries, exports, the cache), and the executable by
// its default name and the running one's, with the updater's backup of it. Compared without
// regard to case.
bool IsProtectedName(std::string_view name, std::string_view exeDefault, std::string_view runningExeName);
