#include "platform/string_list.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {
// The process's file-creation mask, read without changing it (umask() would, for every thread).
mode_t CurrentUmask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
  return 022;
}

// After a rename the folder's entry is on disk too, so a power loss keeps the old or the new file.
void SyncFolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}
}  // namespace

int CompareTextNoCase(std::string_view a, std::string_view b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char ca = static_cast<unsigned char>(a[i]);
    unsigned char cb = static_cast<unsigned char>(b[i]);
    if (ca >= 'a' && ca <= 'z') ca = static_cast<unsigned char>(ca - 32);
    if (cb >= 'a' && cb <= 'z') cb = static_cast<unsigned char>(cb - 32);
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompareTextNoCase(a, b) == 0;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && SameText(s.substr(0, prefix.size()), prefix);
}

bool EndsWithNoCase(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && SameText(s.substr(s.size() - suffix.size()), suffix);
}

std::string UpperCase(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return r;
}

std::string LowerCase(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return r;
}

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return std::string(s.substr(b, e - b));
}

bool WriteFileAtomic(const std::string& path, std::string_view bytes, std::optional<mode_t> mode) {
  // A unique temporary file beside the target, so that two writers never share one.
  std::string tmp = path + ".tmpXXXXXX";
  const int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
  if (fd < 0) return false;
  int err = 0;
  if (mode) {
    if (::fchmod(fd, *mode) != 0) err = errno;
  } else {
    // The file keeps the permissions its owner gave it (a settings file with passwords may be
    // private); a new one gets the usual ones.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) ::fchmod(fd, st.st_mode & 07777);
    else ::fchmod(fd, 0666 & ~CurrentUmask());
  }
  for (size_t done = 0; done < bytes.size() && !err;) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) done += static_cast<size_t>(n);
    else if (n == 0) err = EIO;
    else if (errno != EINTR) err = errno;
  }
  if (!err && ::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && !err) err = errno;
  if (!err && std::rename(tmp.c_str(), path.c_str()) != 0) err = errno;
  if (err) {
    std::remove(tmp.c_str());
    errno = err;  // the caller may say why
    return false;
  }
  SyncFolderOf(path);
  return true;
}

bool HasContent(std::string_view bytes) {
  for (char c : bytes)
    if (static_cast<unsigned char>(c) > ' ') return true;
  return false;
}

bool ReadWholeFile(const std::string& path, std::string& out) { return ReadFileChecked(path, out) == FileRead::Ok; }

FileRead ReadFileChecked(const std::string& path, std::string& out, std::string* why) {
  out.clear();
  auto fail = [&](int err) {
    if (why) *why = err == EISDIR ? "a folder is in its place" : err == EINVAL ? "it is not a plain file" : std::strerror(err);
    return FileRead::Unreadable;
  };
  // Non-blocking, so a pipe put in its place cannot hang the read.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return FileRead::Missing;
    return fail(errno);
  }
  struct stat st {};
  int err = 0;
  if (::fstat(fd, &st) != 0) err = errno;
  else if (S_ISDIR(st.st_mode)) err = EISDIR;
  else if (!S_ISREG(st.st_mode)) err = EINVAL;
  char buf[65536];
  while (!err) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) out.append(buf, static_cast<size_t>(n));
    else if (n == 0) break;
    else if (errno != EINTR) err = errno;
  }
  ::close(fd);
  if (!err) return FileRead::Ok;
  out.clear();
  return fail(err);
}

int StringList::Compare(std::string_view a, std::string_view b) const {
  if (caseSensitive_) return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
  return CompareTextNoCase(a, b);
}

void StringList::SetString(int i, std::string s) {
  items_.at(static_cast<size_t>(i)).text = std::move(s);
  if (sorted_) Sort();
}

bool StringList::Find(std::string_view s, int& index) const {
  int lo = 0, hi = Count() - 1;
  bool found = false;
  while (lo <= hi) {
    int mid = (lo + hi) / 2;
    int c = Compare(items_[static_cast<size_t>(mid)].text, s);
    if (c < 0) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
      if (c == 0) {
        found = true;
        if (dups_ != Dups::Accept) lo = mid;
      }
    }
  }
  index = lo;
  return found;
}

int StringList::Add(std::string s, void* object) {
  if (!sorted_) {
    items_.push_back({std::move(s), object});
    return Count() - 1;
  }
  int index;
  if (Find(s, index)) {
    if (dups_ == Dups::Ignore) return index;
    if (dups_ == Dups::Error) throw std::invalid_argument("String list does not allow duplicates");
  }
  items_.insert(items_.begin() + index, Item{std::move(s), object});
  return index;
}

void StringList::Insert(int index, std::string s, void* object) {
  if (sorted_) throw std::logic_error("Operation not allowed on sorted string list");
  if (index < 0 || index > Count()) throw std::out_of_range("List index out of bounds");
  items_.insert(items_.begin() + index, Item{std::move(s), object});
}

void StringList::Delete(int index) {
  if (index < 0 || index >= Count()) throw std::out_of_range("List index out of bounds");
  items_.erase(items_.begin() + index);
}

void StringList::Append(const StringList& other) {
  for (const auto& it : other.items_) Add(it.text, it.object);
}

int StringList::IndexOf(std::string_view s) const {
  if (sorted_) {
    int index;
    return Find(s, index) ? index : -1;
  }
  for (int i = 0; i < Count(); ++i)
    if (Compare(items_[static_cast<size_t>(i)].text, s) == 0) return i;
  return -1;
}

int StringList::IndexOfName(std::string_view name) const {
  for (int i = 0; i < Count(); ++i) {
    const std::string& t = items_[static_cast<size_t>(i)].text;
    size_t eq = t.find('=');
    if (eq != std::string::npos && Compare(std::string_view(t).substr(0, eq), name) == 0) return i;
  }
  return -1;
}

std::string StringList::Names(int i) const {
  const std::string& t = (*this)[i];
  size_t eq = t.find('=');
  return eq == std::string::npos ? std::string() : t.substr(0, eq);
}

std::string StringList::ValueFromIndex(int i) const {
  const std::string& t = (*this)[i];
  size_t eq = t.find('=');
  return eq == std::string::npos ? std::string() : t.substr(eq + 1);
}

std::string StringList::Values(std::string_view name) const {
  int i = IndexOfName(name);
  return i < 0 ? std::string() : ValueFromIndex(i);
}

void StringList::SetValue(std::string_view name, std::string_view value) {
  int i = IndexOfName(name);
  if (value.empty()) {
    if (i >= 0) Delete(i);
    return;
  }
  std::string line = std::string(name) + "=" + std::string(value);
  if (i < 0) Add(std::move(line));
  else SetString(i, std::move(line));
}

void StringList::SetSorted(bool sorted) {
  if (sorted && !sorted_) {
    sorted_ = true;
    Sort();
  }
  sorted_ = sorted;
}

void StringList::SetCaseSensitive(bool cs) {
  caseSensitive_ = cs;
  if (sorted_) Sort();
}

void StringList::Sort() {
  std::stable_sort(items_.begin(), items_.end(),
                   [this](const Item& a, const Item& b) { return Compare(a.text, b.text) < 0; });
}

void StringList::CustomSort(const std::function<bool(const std::string&, const std::string&)>& less) {
  std::stable_sort(items_.begin(), items_.end(), [&](const Item& a, const Item& b) { return less(a.text, b.text); });
}

std::string StringList::DelimitedText(char delimiter, char quote) const {
  if (Count() == 1 && items_[0].text.empty()) return std::string(2, quote);
  std::string out;
  for (int i = 0; i < Count(); ++i) {
    const std::string& s = items_[static_cast<size_t>(i)].text;
    bool needQuote = s.empty();
    for (char c : s)
      if (static_cast<unsigned char>(c) <= ' ' || c == quote || c == delimiter) {
        needQuote = true;
        break;
      }
    if (i) out += delimiter;
    if (!needQuote) {
      out += s;
      continue;
    }
    out += quote;
    for (char c : s) {
      if (c == quote) out += quote;
      out += c;
    }
    out += quote;
  }
  return out;
}

void StringList::SetDelimitedText(std::string_view text, char delimiter, char quote) {
  Clear();
  auto blank = [](char c) { return c != 0 && static_cast<unsigned char>(c) <= ' '; };
  size_t p = 0, n = text.size();
  while (p < n && blank(text[p])) ++p;
  while (p < n) {
    std::string s;
    if (text[p] == quote) {
      ++p;
      while (p < n) {
        if (text[p] == quote) {
          if (p + 1 < n && text[p + 1] == quote) {
            s += quote;
            p += 2;
            continue;
          }
          ++p;
          break;
        }
        s += text[p++];
      }
    } else {
      size_t start = p;
      while (p < n && static_cast<unsigned char>(text[p]) > ' ' && text[p] != delimiter) ++p;
      s.assign(text.substr(start, p - start));
    }
    Add(std::move(s));
    while (p < n && blank(text[p])) ++p;
    if (p < n && text[p] == delimiter) {
      if (p + 1 == n) Add(std::string());
      do {
        ++p;
      } while (p < n && blank(text[p]));
    }
  }
}

std::string StringList::Text() const {
  std::string out;
  for (const auto& it : items_) {
    out += it.text;
    out += "\r\n";
  }
  return out;
}

std::string_view WithoutByteOrderMark(std::string_view text) {
  return text.starts_with("\xEF\xBB\xBF") ? text.substr(3) : text;
}

void StringList::SetText(std::string_view text) {
  Clear();
  text = WithoutByteOrderMark(text);
  size_t p = 0;
  while (p < text.size()) {
    size_t e = p;
    while (e < text.size() && text[e] != '\r' && text[e] != '\n') ++e;
    Add(std::string(text.substr(p, e - p)));
    if (e < text.size() && text[e] == '\r') ++e;
    if (e < text.size() && text[e] == '\n') ++e;
    p = e;
  }
}

bool StringList::LoadFromFile(const std::string& path) {
  std::string bytes;
  if (!ReadWholeFile(path, bytes)) return false;
  SetText(bytes);
  return true;
}

bool StringList::SaveToFile(const std::string& path) const { return WriteFileAtomic(path, Text()); }
