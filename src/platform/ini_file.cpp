#include "platform/ini_file.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

IniFile::IniFile(std::string path) : path_(std::move(path)) { Reload(); }

void IniFile::Reload() {
  std::lock_guard lock(mutex_);
  sections_.clear();
  std::string bytes;
  if (ReadWholeFile(path_, bytes)) Parse(bytes);
}

void IniFile::Parse(std::string_view text) {
  StringList lines;
  lines.SetText(text);
  Section* current = nullptr;
  for (int i = 0; i < lines.Count(); ++i) {
    std::string line = Trim(lines[i]);
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      size_t end = line.find(']');
      std::string name = Trim(line.substr(1, end == std::string::npos ? std::string::npos : end - 1));
      current = FindSection(name);
      if (!current) {
        sections_.push_back({name, {}});
        current = &sections_.back();
      }
      continue;
    }
    if (!current) continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = Trim(std::string_view(line).substr(0, eq));
    std::string value = Trim(std::string_view(line).substr(eq + 1));
    if (key.empty()) continue;
    bool found = false;
    for (auto& e : current->entries)
      if (SameText(e.key, key)) {
        found = true;  // the first line of a key wins, as on reading
        break;
      }
    if (!found) current->entries.push_back({key, value});
  }
}

IniFile::Section* IniFile::FindSection(std::string_view name) {
  for (auto& s : sections_)
    if (SameText(s.name, name)) return &s;
  return nullptr;
}

const IniFile::Section* IniFile::FindSection(std::string_view name) const {
  for (auto& s : sections_)
    if (SameText(s.name, name)) return &s;
  return nullptr;
}

bool IniFile::Lookup(std::string_view section, std::string_view key, std::string& value) const {
  const Section* s = FindSection(Trim(section));
  if (!s) return false;
  std::string k = Trim(key);
  for (const auto& e : s->entries)
    if (SameText(e.key, k)) {
      value = e.value;
      return true;
    }
  return false;
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
  std::string sec = Trim(section), k = Trim(key), v = Trim(value);
  Section* s = FindSection(sec);
  if (!s) {
    sections_.push_back({sec, {}});
    s = &sections_.back();
  }
  bool found = false;
  for (auto& e : s->entries)
    if (SameText(e.key, k)) {
      if (e.value == v) return true;
      e.value = v;
      found = true;
      break;
    }
  if (!found) s->entries.push_back({k, v});
  Flush();
  return lastWriteOk_;
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
    for (const auto& e : s->entries) keys.Add(e.key);
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
    for (const auto& e : s->entries) lines.Add(e.key + "=" + e.value);
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
  std::string sec = Trim(section);
  for (auto it = sections_.begin(); it != sections_.end(); ++it)
    if (SameText(it->name, sec)) {
      sections_.erase(it);
      Flush();
      return;
    }
}

void IniFile::DeleteKey(std::string_view section, std::string_view key) {
  std::lock_guard lock(mutex_);
  Section* s = FindSection(Trim(section));
  if (!s) return;
  std::string k = Trim(key);
  for (auto it = s->entries.begin(); it != s->entries.end(); ++it)
    if (SameText(it->key, k)) {
      s->entries.erase(it);
      Flush();
      return;
    }
}

void IniFile::BeginBatch() {
  std::lock_guard lock(mutex_);
  ++batch_;
}

void IniFile::EndBatch() {
  std::lock_guard lock(mutex_);
  if (batch_ > 0 && --batch_ == 0 && dirty_) Flush();
}

void IniFile::Flush() {
  if (batch_ > 0) {
    dirty_ = true;
    return;
  }
  dirty_ = false;
  std::string out;
  for (const auto& s : sections_) {
    out += "[" + s.name + "]\r\n";
    for (const auto& e : s.entries) out += e.key + "=" + e.value + "\r\n";
    out += "\r\n";
  }
  lastWriteOk_ = WriteFileAtomic(path_, out);
}
