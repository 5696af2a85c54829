#include "platform/ini_file.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <set>

#include "platform/folder_lock.h"

IniFile::IniFile(std::string path, std::optional<mode_t> mode) : path_(std::move(path)), mode_(mode) { Reload(); }

void IniFile::Reload() {
  std::lock_guard lock(mutex_);
  preamble_.clear();
  sections_.clear();
  sectionIndex_.clear();
  std::string bytes;
  if (ReadWholeFile(path_, bytes)) Parse(bytes);
  if (shared_) TakeBase();
}

namespace {
// The parts of one line: a section header, a key line, or neither.
enum class LineKind { Blank, Comment, Section, Key, Other };

LineKind ClassifyLine(std::string_view trimmed, std::string* name = nullptr, std::string* value = nullptr) {
  if (trimmed.empty()) return LineKind::Blank;
  if (trimmed[0] == ';') return LineKind::Comment;
  if (trimmed[0] == '[') {
    const size_t end = trimmed.find(']');
    if (name) *name = Trim(trimmed.substr(1, end == std::string_view::npos ? std::string_view::npos : end - 1));
    return end == std::string_view::npos ? LineKind::Other : LineKind::Section;
  }
  const size_t eq = trimmed.find('=');
  if (eq == std::string_view::npos) return LineKind::Other;
  std::string key = Trim(trimmed.substr(0, eq));
  if (key.empty()) return LineKind::Other;
  if (name) *name = std::move(key);
  if (value) *value = Trim(trimmed.substr(eq + 1));
  return LineKind::Key;
}
}  // namespace

bool IniFile::LooksLikeSettingsText(std::string_view text) {
  if (text.find('\0') != std::string_view::npos) return false;
  text = WithoutByteOrderMark(text);
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    const LineKind kind = ClassifyLine(Trim(text.substr(pos, end - pos)));
    if (kind == LineKind::Other) return false;
    pos = end + 1;
  }
  return true;
}

std::vector<IniFile::KeyLine> IniFile::KeysOf(std::string_view text) {
  std::vector<KeyLine> out;
  std::set<std::string> seen;
  StringList lines;
  lines.SetText(text);
  std::string section;
  bool inSection = false;
  for (int i = 0; i < lines.Count(); ++i) {
    std::string name, value;
    const LineKind kind = ClassifyLine(Trim(lines[i]), &name, &value);
    if (kind == LineKind::Section) {
      section = std::move(name);
      inSection = true;
      if (seen.insert(UpperCase(section)).second) out.push_back({section, {}, {}});
    } else if (kind == LineKind::Key && inSection && seen.insert(UpperCase(section) + "\n" + UpperCase(name)).second) {
      out.push_back({section, std::move(name), std::move(value)});
    }
  }
  return out;
}

void IniFile::Section::Reindex() {
  index.clear();
  for (size_t i = 0; i < entries.size(); ++i)
    if (entries[i].raw.empty()) index.emplace(UpperCase(entries[i].key), i);
}

void IniFile::ReindexSections() {
  sectionIndex_.clear();
  for (size_t i = 0; i < sections_.size(); ++i) sectionIndex_.emplace(UpperCase(sections_[i].name), i);
}

IniFile::Section& IniFile::AddSection(const std::string& name) {
  sectionIndex_.emplace(UpperCase(name), sections_.size());
  sections_.push_back({name, {}, {}});
  return sections_.back();
}

void IniFile::Parse(std::string_view text) {
  StringList lines;
  lines.SetText(text);
  size_t current = SIZE_MAX;
  for (int i = 0; i < lines.Count(); ++i) {
    const std::string& original = lines[i];
    std::string name, value;
    const LineKind kind = ClassifyLine(Trim(original), &name, &value);
    if (kind == LineKind::Blank) continue;
    if (kind == LineKind::Section) {
      auto it = sectionIndex_.find(UpperCase(name));
      if (it != sectionIndex_.end()) {
        current = it->second;
      } else {
        AddSection(name);
        current = sections_.size() - 1;
      }
      continue;
    }
    if (current == SIZE_MAX) {
      preamble_.push_back(original);
      continue;
    }
    Section& s = sections_[current];
    // The first line of a key wins, as on reading; a repeated one is kept as it stood.
    if (kind == LineKind::Key && s.index.emplace(UpperCase(name), s.entries.size()).second)
      s.entries.push_back({std::move(name), std::move(value), {}});
    else
      s.entries.push_back({{}, {}, original});
  }
}

IniFile::Section* IniFile::FindSection(std::string_view name) {
  auto it = sectionIndex_.find(UpperCase(name));
  return it == sectionIndex_.end() ? nullptr : &sections_[it->second];
}

const IniFile::Section* IniFile::FindSection(std::string_view name) const {
  auto it = sectionIndex_.find(UpperCase(name));
  return it == sectionIndex_.end() ? nullptr : &sections_[it->second];
}

bool IniFile::Lookup(std::string_view section, std::string_view key, std::string& value) const {
  const Section* s = FindSection(Trim(section));
  if (!s) return false;
  auto it = s->index.find(UpperCase(Trim(key)));
  if (it == s->index.end()) return false;
  value = s->entries[it->second].value;
  return true;
}

bool IniFile::IsSafeKey(std::string_view key) {
  if (Trim(key).empty()) return false;
  for (char c : key)
    if (c == '=' || c == '[' || c == ']' || c == ';' || c == '\r' || c == '\n' || c == '\0') return false;
  return true;
}

bool IniFile::IsSafeValue(std::string_view value) {
  for (char c : value)
    if (c == '\r' || c == '\n' || c == '\0') return false;
  return true;
}

std::string IniFile::ReadString(std::string_view section, std::string_view key, std::string_view def) const {
  std::lock_guard lock(mutex_);
  std::string v;
  return Lookup(section, key, v) ? v : std::string(def);
}

bool IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  // A section name is a key of the file too: the same characters would break it.
  if (!IsSafeKey(section) || !IsSafeKey(key) || !IsSafeValue(value)) return false;
  std::lock_guard lock(mutex_);
  const Change c{Change::Write, Trim(section), Trim(key), Trim(value)};
  std::string now;
  if (Lookup(c.Section, c.Key, now) && now == c.Value) return true;
  Apply(c);
  Flush();
  return lastWriteOk_;
}

void IniFile::Apply(const Change& c) {
  if (c.What == Change::Erase) {
    auto it = sectionIndex_.find(UpperCase(c.Section));
    if (it == sectionIndex_.end()) return;
    sections_.erase(sections_.begin() + static_cast<std::ptrdiff_t>(it->second));
    ReindexSections();
    return;
  }
  Section* s = FindSection(c.Section);
  if (c.What == Change::Delete) {
    if (!s) return;
    auto it = s->index.find(UpperCase(c.Key));
    if (it == s->index.end()) return;
    s->entries.erase(s->entries.begin() + static_cast<std::ptrdiff_t>(it->second));
    s->Reindex();
    return;
  }
  if (!s) s = &AddSection(c.Section);
  auto [it, added] = s->index.emplace(UpperCase(c.Key), s->entries.size());
  if (added) s->entries.push_back({c.Key, c.Value, {}});
  else s->entries[it->second].value = c.Value;
}

int IniFile::ReadInteger(std::string_view section, std::string_view key, int def) const {
  std::string v = ReadString(section, key, "");
  if (v.empty()) return def;
  int result = 0;
  const char* b = v.data();
  const char* e = v.data() + v.size();
  if (*b == '+') ++b;
  // Hex as "$1F" or "0x1F", as the class library read it.
  if (v.size() > 1 && v[0] == '$') {
    auto r = std::from_chars(v.data() + 1, e, result, 16);
    return r.ec == std::errc() && r.ptr == e ? result : def;
  }
  if (v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X')) {
    auto r = std::from_chars(v.data() + 2, e, result, 16);
    return r.ec == std::errc() && r.ptr == e ? result : def;
  }
  auto r = std::from_chars(b, e, result);
  return r.ec == std::errc() && r.ptr == e ? result : def;
}

bool IniFile::WriteInteger(std::string_view section, std::string_view key, int value) {
  return WriteString(section, key, std::to_string(value));
}

bool IniFile::ReadBool(std::string_view section, std::string_view key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

bool IniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  return WriteString(section, key, value ? "1" : "0");
}

double IniFile::ReadFloat(std::string_view section, std::string_view key, double def) const {
  std::string v = ReadString(section, key, "");
  if (v.empty()) return def;
  double d = 0;
  auto r = std::from_chars(v.data(), v.data() + v.size(), d);
  if (r.ec != std::errc() || r.ptr != v.data() + v.size() || !std::isfinite(d)) return def;
  return d;
}

bool IniFile::WriteFloat(std::string_view section, std::string_view key, double value) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  return WriteString(section, key, std::string_view(buf, static_cast<size_t>(r.ptr - buf)));
}

void IniFile::ReadSection(std::string_view section, StringList& keys) const {
  std::lock_guard lock(mutex_);
  keys.Clear();
  if (const Section* s = FindSection(Trim(section)))
    for (const auto& e : s->entries)
      if (e.raw.empty()) keys.Add(e.key);
}

void IniFile::ReadSections(StringList& sections) const {
  std::lock_guard lock(mutex_);
  sections.Clear();
  for (const auto& s : sections_) sections.Add(s.name);
}

void IniFile::ReadSectionValues(std::string_view section, StringList& lines) const {
  std::lock_guard lock(mutex_);
  lines.Clear();
  if (const Section* s = FindSection(Trim(section)))
    for (const auto& e : s->entries)
      if (e.raw.empty()) lines.Add(e.key + "=" + e.value);
}

bool IniFile::SectionExists(std::string_view section) const {
  std::lock_guard lock(mutex_);
  return FindSection(Trim(section)) != nullptr;
}

bool IniFile::ValueExists(std::string_view section, std::string_view key) const {
  std::lock_guard lock(mutex_);
  std::string v;
  return Lookup(section, key, v);
}

void IniFile::EraseSection(std::string_view section) {
  std::lock_guard lock(mutex_);
  if (!FindSection(Trim(section))) return;
  Apply({Change::Erase, Trim(section), {}, {}});
  Flush();
}

void IniFile::DeleteKey(std::string_view section, std::string_view key) {
  std::lock_guard lock(mutex_);
  std::string now;
  if (!Lookup(section, key, now)) return;
  Apply({Change::Delete, Trim(section), Trim(key), {}});
  Flush();
}

void IniFile::BeginBatch() {
  std::lock_guard lock(mutex_);
  ++batch_;
}

void IniFile::EndBatch() {
  std::lock_guard lock(mutex_);
  if (batch_ > 0 && --batch_ == 0 && dirty_) Flush();
}

std::string IniFile::Text() const {
  std::string out;
  for (const auto& line : preamble_) out += line + "\r\n";
  for (const auto& s : sections_) {
    out += "[" + s.name + "]\r\n";
    for (const auto& e : s.entries) out += (e.raw.empty() ? e.key + "=" + e.value : e.raw) + "\r\n";
    out += "\r\n";
  }
  return out;
}

void IniFile::Flush() {
  if (batch_ > 0) {
    dirty_ = true;
    return;
  }
  dirty_ = false;
  if (shared_) return MergeIntoFile();
  lastWriteOk_ = WriteFileAtomic(path_, Text(), mode_);
  if (!lastWriteOk_) lastWriteError_ = errno;
}

void IniFile::ShareWithOtherWriters() {
  std::lock_guard lock(mutex_);
  shared_ = true;
  TakeBase();
}

void IniFile::TakeBase() {
  base_.clear();
  for (const Section& s : sections_) {
    BaseSection& b = base_[UpperCase(s.name)];
    b.Name = s.name;
    for (const Entry& e : s.entries)
      if (e.raw.empty()) b.Keys.emplace(UpperCase(e.key), std::pair(e.key, e.value));
  }
}

std::vector<IniFile::Change> IniFile::ChangesSinceBase() const {
  std::vector<Change> changes;
  for (const auto& [upper, b] : base_) {
    const Section* s = FindSection(b.Name);
    if (!s) {
      changes.push_back({Change::Erase, b.Name, {}, {}});
      continue;
    }
    for (const auto& [upperKey, kv] : b.Keys)
      if (!s->index.contains(upperKey)) changes.push_back({Change::Delete, b.Name, kv.first, {}});
  }
  for (const Section& s : sections_) {
    auto b = base_.find(UpperCase(s.name));
    for (const Entry& e : s.entries) {
      if (!e.raw.empty()) continue;
      if (b != base_.end()) {
        auto k = b->second.Keys.find(UpperCase(e.key));
        if (k != b->second.Keys.end() && k->second.second == e.value) continue;
      }
      changes.push_back({Change::Write, s.name, e.key, e.value});
    }
  }
  return changes;
}

void IniFile::MergeIntoFile() {
  const std::vector<Change> changes = ChangesSinceBase();
  if (changes.empty()) {
    lastWriteOk_ = true;
    return;
  }
  const std::string dir = path_.substr(0, path_.find_last_of('/') + 1);
  FolderLock shared(dir);
  if (!shared) {
    // Kept: the next write takes these changes too.
    lastWriteOk_ = false;
    lastWriteError_ = errno;
    return;
  }
  std::string bytes;
  const FileRead read = ReadFileChecked(path_, bytes);
  std::string out;
  if (read == FileRead::Ok && HasContent(bytes) && LooksLikeSettingsText(bytes)) {
    IniFile file{std::string()};
    file.Parse(WithoutByteOrderMark(bytes));
    for (const Change& c : changes) file.Apply(c);
    out = file.Text();
  } else {
    out = Text();
  }
  lastWriteOk_ = WriteFileAtomic(path_, out, mode_);
  if (!lastWriteOk_) {
    lastWriteError_ = errno;
    return;
  }
  TakeBase();
}
