#include "core/aside_copies.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "core/program_files.h"
#include "core/user_notices.h"
#include "platform/string_list.h"

namespace fs = std::filesystem;

namespace {

// "<name><infix><date>-<time>", with "-<n>" added while that name is taken.
std::string FreeName(const std::string& dir, const std::string& name, const char* infix) {
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  ::localtime_r(&now, &tm);
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
  std::error_code ec;
  for (int n = 0; n < 100; ++n) {
    std::string candidate = name + infix + stamp + (n ? "-" + std::to_string(n) : std::string());
    if (!fs::exists(fs::symlink_status(dir + candidate, ec))) return candidate;
  }
  return {};
}

}  // namespace

std::string ReadKeepingAside(const std::string& dir, const std::string& name, const std::string& subject,
                             const std::function<std::string(std::string_view)>& damage, bool& writable) {
  writable = true;
  std::string text, why;
  const FileRead read = ReadFileChecked(dir + name, text, &why);
  if (read == FileRead::Missing) return {};
  if (read == FileRead::Unreadable) {
    std::string asideWhy;
    const std::string aside = MoveAside(dir, name, &asideWhy);
    writable = !aside.empty();
    AddUserNotice(subject + " cannot be read (" + why + ")." +
                  (aside.empty() ? " It could not be moved aside (" + asideWhy +
                                       "), so it is left as it is and nothing is written to it this session."
                                 : " It was moved aside, unchanged, as " + aside + "; a new one takes its place."));
    return {};
  }
  const std::string wrong = damage(text);
  if (wrong.empty()) return text;
  std::string asideWhy;
  const std::string aside = CopyAside(dir, name, text, 0600, &asideWhy);
  writable = !aside.empty();
  AddUserNotice(subject + " did not read whole: " + wrong + "." +
                (aside.empty() ? " It could not be copied aside (" + asideWhy +
                                     "), so it is left as it is and nothing is written to it this session."
                               : " Its bytes were kept as " + aside + "; what reads of it is used."));
  return text;
}

std::string WriteFailure(const std::string& dir, const std::string& name, int err) {
  std::error_code ec;
  const fs::file_status st = fs::symlink_status(dir + name, ec);
  if (!ec && fs::is_directory(st)) return name + " could not be written: a folder is in its place";
  if (!ec && fs::exists(st) && !fs::is_regular_file(st) && !fs::is_symlink(st))
    return name + " could not be written: something that is not a plain file is in its place";
  return name + " could not be written (" + std::strerror(err ? err : EIO) + ")";
}

std::string CopyAside(const std::string& dir, const std::string& name, std::string_view bytes, mode_t mode,
                      std::string* why) {
  const std::string prefix = name + DamagedInfix;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string entry = it->path().filename().string();
    if (entry.compare(0, prefix.size(), prefix) != 0 || IsOwnAtomicTemporary(entry)) continue;
    std::error_code sizeEc;
    if (!it->is_regular_file(sizeEc) || it->file_size(sizeEc) != bytes.size()) continue;
    std::string kept;
    if (ReadFileChecked(it->path().string(), kept) == FileRead::Ok && kept == bytes) return entry;
  }
  const std::string aside = FreeName(dir, name, DamagedInfix);
  if (aside.empty()) {
    if (why) *why = "no free name for a copy";
    return {};
  }
  if (!WriteFileAtomic(dir + aside, bytes, mode)) {
    if (why) *why = std::strerror(errno);  // a free name: nothing stands in its place
    return {};
  }
  return aside;
}

std::string MoveAside(const std::string& dir, const std::string& name, std::string* why) {
  const std::string aside = FreeName(dir, name, DamagedInfix);
  std::error_code ec;
  if (aside.empty()) {
    if (why) *why = "no free name for a copy";
    return {};
  }
  fs::rename(dir + name, dir + aside, ec);
  if (ec && why) *why = ec.message();
  return ec ? std::string() : aside;
}

std::string SessionSaveName(const std::string& dir, const std::string& name) { return FreeName(dir, name, SavedInfix); }

std::string NewestSessionSave(const std::string& dir, const std::string& name) {
  const std::string prefix = name + SavedInfix;
  std::string newest;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string entry = it->path().filename().string();
    if (entry.compare(0, prefix.size(), prefix) != 0 || IsOwnAtomicTemporary(entry)) continue;
    std::error_code typeEc;
    if (!it->is_regular_file(typeEc)) continue;
    // The stamp sorts as text; a "-<n>" added to a taken name sorts after its base.
    const auto stampOf = [&](const std::string& n) { return n.substr(prefix.size()); };
    if (newest.empty() || stampOf(entry).size() > stampOf(newest).size() ||
        (stampOf(entry).size() == stampOf(newest).size() && entry > newest))
      newest = entry;
  }
  return newest;
}

std::string SaveElsewhere(const std::string& dir, const std::string& name, const std::string& what,
                          std::string& saveName, std::string_view first, mode_t mode) {
  saveName = SessionSaveName(dir, name);
  if (!saveName.empty() && WriteFileAtomic(dir + saveName, first, mode))
    return " This session's " + what + " are saved as " + saveName + ".";
  const std::string why = std::strerror(errno);
  saveName.clear();
  return " No copy of this session's " + what + " could be written either (" + why + "): they are not saved.";
}

std::string KeepUnreadableAside(const std::string& dir, const std::string& name, const std::string& what,
                                std::string& saveName, std::string_view first, bool& reused, mode_t mode) {
  reused = false;
  std::string why;
  const std::string aside = MoveAside(dir, name, &why);
  if (!aside.empty()) return " It was moved aside, unchanged, as " + aside + ".";
  const std::string left = " It could not be moved aside (" + why + "), so it is left as it is.";
  // One saved copy serves every session while the file stays unreadable.
  if (const std::string newest = NewestSessionSave(dir, name); !newest.empty()) {
    std::string kept;
    if (ReadFileChecked(dir + newest, kept) == FileRead::Ok) {
      saveName = newest;
      reused = true;
      return left + " The newest saved copy " + newest + " is used, and this session's " + what + " are saved to it.";
    }
  }
  return left + SaveElsewhere(dir, name, what, saveName, first, mode);
}

std::string NewerSessionSaveNote(const std::string& dir, const std::string& name, const std::string& what) {
  const std::string newest = NewestSessionSave(dir, name);
  std::error_code ec1, ec2;
  if (newest.empty() || fs::last_write_time(dir + newest, ec1) <= fs::last_write_time(dir + name, ec2) || ec1 || ec2)
    return {};
  return " The saved copy " + newest + " holds the " + what + " of the sessions while " + name +
         " could not be read; it is left as it is and nothing of it is merged.";
}

namespace {
std::string OlderUnreadable(const std::string& older, const std::string& why) {
  return older + ", which keeps what a newer backup lacks, cannot be read (" + why + "), so it is not written over";
}
}  // namespace

std::string OlderObstacleNote(const std::string& dir, const std::string& name) {
  const std::string backup = BackupFileName(name);
  std::string bytes, why;
  if (backup.empty() || ReadFileChecked(dir + backup + OlderSuffix, bytes, &why) != FileRead::Unreadable) return {};
  return OlderUnreadable(backup + OlderSuffix, why) + ", and the backup " + backup +
         " is not renewed while it is in the way.";
}

bool BackupFollows(const std::string& dir, const std::string& name, std::string_view atStart,
                   const std::function<std::set<std::string>(std::string_view)>& namesOf,
                   const std::function<std::string(std::string_view incoming, std::string_view outgoing)>& carry,
                   mode_t mode, std::string* why) {
  const std::string backup = BackupFileName(name);
  if (backup.empty() || atStart.empty()) return true;
  std::string saved;
  const FileRead read = ReadFileChecked(dir + backup, saved);
  if (read == FileRead::Unreadable || (read == FileRead::Ok && saved == atStart)) return true;
  const auto failed = [&](const std::string& text) {
    if (why) *why = "The backup " + backup + " was left as it was: " + text + ".";
    return false;
  };
  if (read == FileRead::Ok && HasContent(saved)) {
    const std::set<std::string> now = namesOf(atStart);
    bool lacks = false;
    for (const std::string& n : namesOf(saved)) lacks = lacks || !now.contains(n);
    if (lacks) {
      const std::string older = backup + OlderSuffix;
      std::string kept, keptWhy;
      const FileRead olderRead = ReadFileChecked(dir + older, kept, &keptWhy);
      if (olderRead == FileRead::Unreadable) return failed(OlderUnreadable(older, keptWhy));
      const std::string merged = olderRead == FileRead::Ok && HasContent(kept) ? carry(saved, kept) : saved;
      if (merged != kept && !WriteFileAtomic(dir + older, merged, mode)) return failed(WriteFailure(dir, older, errno));
    }
  }
  if (!WriteFileAtomic(dir + backup, atStart, mode)) return failed(WriteFailure(dir, backup, errno));
  return true;
}
