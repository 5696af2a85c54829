#include "ads/update/update_list.h"

#include <charconv>

#include "core/program_files.h"
#include "platform/string_list.h"
#include "updater/updater_core.h"

bool VersionRange::Holds(double version) const {
  return Lowest - VersionTolerance <= version && version <= Highest + VersionTolerance;
}

std::vector<std::string> SplitRangeText(std::string_view text) {
  std::vector<std::string> parts;
  std::string cur;
  for (char c : text) {
    if (c == '\t' || c == '(' || c == ')' || c == ',') {
      if (!cur.empty()) parts.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) parts.push_back(cur);
  return parts;
}

bool ReadNumber(std::string_view text, double& value) {
  std::string t = Trim(text);
  if (t.empty()) return false;
  const char* b = t.data();
  if (*b == '+') ++b;
  double v = 0;
  auto r = std::from_chars(b, t.data() + t.size(), v);
  if (r.ec != std::errc() || r.ptr != t.data() + t.size()) return false;
  value = v;
  return true;
}

VersionRange ParseVersionRange(std::string_view field) {
  VersionRange r;
  auto parts = SplitRangeText(field);
  double lo = 0, hi = 0;
  if (parts.empty() || !ReadNumber(parts[0], lo)) lo = 0;
  r.Lowest = lo;
  if (parts.size() >= 2 && ReadNumber(parts[1], hi)) r.Highest = hi;
  else r.Highest = lo == 0 ? 999 : lo;
  return r;
}

std::vector<std::string> SplitListFields(std::string_view line) {
  std::vector<std::string> fields;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size()) break;
    std::string f;
    if (line[i] == '\'') {
      size_t end = line.find('\'', i + 1);
      if (end == std::string_view::npos) end = line.size();
      f = std::string(line.substr(i + 1, end - i - 1));
      i = end + 1;
    } else {
      while (i < line.size() && line[i] != ' ' && line[i] != '\t') f += line[i++];
    }
    fields.push_back(std::move(f));
  }
  return fields;
}

UpdateLine ClassifyUpdateLine(std::string_view line) {
  UpdateLine out;
  if (line.substr(0, 2) == "//") {
    out.Kind = UpdateLineKind::Comment;
  } else if (line.substr(0, 11) == "UPDATESITE:") {
    out.Kind = UpdateLineKind::Server;
    out.Text = Trim(line.substr(11));
  } else if (line.substr(0, 4) == "MSG:") {
    out.Kind = UpdateLineKind::Message;
    out.Text = std::string(line.substr(4));
  } else {
    out.Fields = SplitListFields(line);
    const size_t n = out.Fields.size();
    if (n == 3 && SameText(out.Fields[0], "DELETE")) out.Kind = UpdateLineKind::Delete;
    else if (n == 4 && SameText(out.Fields[0], "RENAME")) out.Kind = UpdateLineKind::Rename;
    else if (n >= 5 && n <= 7) out.Kind = UpdateLineKind::FileEntry;
    if (out.Kind == UpdateLineKind::Ignored) out.Fields.clear();
  }
  return out;
}

std::vector<std::string> SplitListLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view l = text.substr(start, end - start);
    if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
    lines.emplace_back(l);
    start = end + 1;
  }
  return lines;
}

bool ReadFileEntry(const std::vector<std::string>& fields, FileEntry& e) {
  if (fields.size() < 5 || fields.size() > 7) return false;
  e = FileEntry{};
  e.Remote = fields[0];
  e.Local = fields[1];
  if (!ReadNumber(fields[2], e.NewVersion)) return false;
  e.Range = ParseVersionRange(fields[3]);
  e.Description = fields[4];
  // The list's bullet character, in the old code page or in UTF-8.
  if (!e.Description.empty() && static_cast<unsigned char>(e.Description[0]) == 199) e.Description.erase(0, 1);
  else if (e.Description.compare(0, 2, "\xC3\x87") == 0) e.Description.erase(0, 2);
  for (size_t i = 5; i < fields.size(); ++i) {
    const std::string flag = UpperCase(fields[i]);
    if (flag == "REQUIRED") e.Required = true;
    else if (flag == "UPDATEONLY") e.UpdateOnly = true;
  }
  return true;
}

bool IsUpdateListFile(std::string_view name) {
  const std::string up = UpperCase(name);
  for (const char* ext : {".PAR", ".SDF", ".NWS", ".HUB", ".LGS", ".IND", ".LUP"})
    if (up.find(ext) != std::string::npos) return true;
  return false;
}

std::string ExecutableStem(std::string_view exeDefault) {
  std::string up = UpperCase(exeDefault.empty() ? std::string_view("STOCKS.EXE") : exeDefault);
  up.pop_back();
  return up;
}

bool IsExecutableName(std::string_view localName, std::string_view exeDefault) {
  const std::string stem = ExecutableStem(exeDefault);
  return !stem.empty() && UpperCase(localName).find(stem) != std::string::npos;
}

bool IsSafeLocalName(std::string_view name) {
  if (name.empty() || name.size() > 255 || name == "." || name == "..") return false;
  if (name.find("..") != std::string_view::npos) return false;
  for (unsigned char c : name)
    if (c < 0x20 || c == 0x7F || c == '/' || c == '\\' || c == ':') return false;
  return true;
}

bool IsSafeRemoteName(std::string_view name) {
  if (name.empty() || name.size() > 1024 || name.find("..") != std::string_view::npos) return false;
  for (unsigned char c : name)
    if (c <= 0x20 || c == 0x7F || c == '\\' || c == '?' || c == '#') return false;
  return true;
}

bool IsProtectedName(std::string_view name, std::string_view exeDefault, std::string_view runningExeName) {
  if (IsProtectedProgramFile(name)) return true;
  // The program itself, and the copy of it that the updater keeps to put back.
  for (std::string_view exe : {exeDefault, runningExeName})
    if (!exe.empty() && (SameText(name, exe) || SameText(name, BackupPath(std::string(exe))))) return true;
  return false;
}
