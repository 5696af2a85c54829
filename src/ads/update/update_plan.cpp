#include "ads/update/update_plan.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "ads/update/update_file.h"
#include "core/branding.h"
#include "core/program_files.h"
#include "core/program_state.h"
#include "platform/string_list.h"
#include "retrieval/site_files.h"

namespace fs = std::filesystem;

std::string FindNameNoCase(const std::string& dir, const std::string& name) {
  std::error_code ec;
  if (fs::exists(fs::symlink_status(dir + name, ec))) return name;
  for (auto it = fs::directory_iterator(dir, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const std::string n = it->path().filename().string();
    if (SameText(n, name)) return n;
  }
  return {};
}

UpdateFolderView ProgFolderView() {
  // The folder is read once: a list names thousands of files, each looked up in any case.
  struct Names {
    std::set<std::string> exact;
    std::map<std::string, std::string> upper;  // upper-cased -> the first name found
    std::string Find(const std::string& name) const {
      if (exact.count(name)) return name;
      auto it = upper.find(UpperCase(name));
      return it == upper.end() ? std::string() : it->second;
    }
  };
  auto names = std::make_shared<Names>();
  std::error_code ec;
  for (auto it = fs::directory_iterator(ProgDir, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const std::string n = it->path().filename().string();
    names->exact.insert(n);
    names->upper.emplace(UpperCase(n), n);
  }
  UpdateFolderView v;
  v.Exists = [names](const std::string& name) { return !names->Find(name).empty(); };
  v.SiteFileVersion = [names](const std::string& name, bool check) { return GetSiteFileVersion(names->Find(name), check); };
  v.TrailerVersion = [names](const std::string& name) { return ReadTrailerVersion(ProgDir + names->Find(name)); };
  v.NotPlainFile = [names](const std::string& name) {
    const std::string n = names->Find(name);
    std::error_code e;
    return !n.empty() && !fs::is_regular_file(fs::symlink_status(ProgDir + n, e));
  };
  return v;
}

std::vector<ProgramFileVersion> VersionedProgramFiles() {
  std::vector<ProgramFileVersion> out;
  std::error_code ec;
  for (auto it = fs::directory_iterator(ProgDir, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::error_code e;
    if (name.empty() || name[0] == '.' || !fs::is_regular_file(it->symlink_status(e))) continue;
    if (IsProtectedName(name, Branding.ExeDefault, "")) continue;
    const double v = IsUpdateListFile(name) ? GetSiteFileVersion(name, true) : ReadTrailerVersion(ProgDir + name);
    if (v > 0) out.push_back({name, v});
  }
  std::sort(out.begin(), out.end(),
            [](const ProgramFileVersion& a, const ProgramFileVersion& b) { return UpperCase(a.Name) < UpperCase(b.Name); });
  return out;
}

void ReadMessageHeader(std::string_view rest, int& number, double& lowest, double& highest) {
  const auto parts = SplitRangeText(rest);
  double n = 0;
  number = !parts.empty() && ReadNumber(parts[0], n) && n > 0 && n < 2e9 ? int(n) : 0;
  lowest = 0;
  highest = 99999;
  if (parts.size() > 1) ReadNumber(parts[1], lowest);
  if (parts.size() > 2) ReadNumber(parts[2], highest);
}

namespace {

// The folder as the list's earlier steps leave it: a name deleted, or standing for another
// name's file (renamed, or to be installed).
class FolderState {
public:
  FolderState(const UpdateFolderView& view) : view_(view) {}
  bool Exists(const std::string& name) const {
    auto it = names_.find(UpperCase(name));
    if (it == names_.end()) return view_.Exists && view_.Exists(name);
    return !it->second.empty();
  }
  // The installed file whose versions a name reads now.
  std::string Source(const std::string& name) const {
    auto it = names_.find(UpperCase(name));
    return it == names_.end() ? name : it->second;
  }
  void Delete(const std::string& name) { names_[UpperCase(name)] = ""; }
  void Rename(const std::string& from, const std::string& to) {
    const std::string src = Source(from);
    Delete(from);
    names_[UpperCase(to)] = src;
  }
  void Fetched(const std::string& name) { names_[UpperCase(name)] = name; }

private:
  const UpdateFolderView& view_;
  std::map<std::string, std::string> names_;  // upper-cased name -> source, "" = deleted
};

bool Allowed(const std::string& name, const PlanInput& in) {
  return IsSafeLocalName(name) && !IsProtectedName(name, in.ExeDefault, in.RunningExeName);
}

bool Allowed(const std::string& name, const PlanInput& in, const UpdateFolderView& folder) {
  return Allowed(name, in) && !(folder.NotPlainFile && folder.NotPlainFile(name));
}

}  // namespace

UpdatePlan PlanUpdate(std::string_view listText, const PlanInput& in, const UpdateFolderView& folder,
                      const std::atomic<bool>* cancel) {
  UpdatePlan plan;
  plan.LastMessage = in.LastMessage;
  FolderState state(folder);
  std::set<std::string> taken;  // upper-cased local names already chosen

  int msgNumber = 0;
  double msgLow = 0, msgHigh = 99999;
  std::string msgText;
  auto closeMessage = [&] {
    if (msgNumber > 0 && msgNumber > plan.LastMessage && msgLow - 0.0001 <= in.ProgVersion &&
        in.ProgVersion <= msgHigh + VersionTolerance) {
      if (!msgText.empty()) plan.Messages.push_back({msgNumber, msgText});
      plan.LastMessage = msgNumber;
    }
  };

  int entries = 0;
  for (const std::string& line : SplitListLines(listText)) {
    if (cancel && cancel->load()) {
      plan.Cancelled = true;
      break;
    }
    const UpdateLine ul = ClassifyUpdateLine(line);
    const bool entry = ul.Kind == UpdateLineKind::Server || ul.Kind == UpdateLineKind::Delete ||
                       ul.Kind == UpdateLineKind::Rename || ul.Kind == UpdateLineKind::FileEntry ||
                       (ul.Kind == UpdateLineKind::Message && !ul.Text.empty() && ul.Text[0] == '#');
    if (entry && ++entries > MaxListEntries) {
      UpdatePlan refused;
      refused.LastMessage = in.LastMessage;
      refused.TooLong = true;
      return refused;
    }
    switch (ul.Kind) {
      case UpdateLineKind::Server:
        if (!ul.Text.empty() && IsSafeRemoteName(ul.Text)) plan.Servers.push_back(ul.Text);
        else if (!ul.Text.empty()) plan.Refused.push_back(line);
        break;
      case UpdateLineKind::Message:
        if (!ul.Text.empty() && ul.Text[0] == '#') {
          closeMessage();
          ReadMessageHeader(std::string_view(ul.Text).substr(1), msgNumber, msgLow, msgHigh);
          msgText.clear();
        } else {
          msgText += ul.Text + "\r\n";
        }
        break;
      case UpdateLineKind::Delete: {
        const std::string& name = ul.Fields[1];
        if (!ParseVersionRange(ul.Fields[2]).Holds(in.ProgVersion)) break;
        if (!Allowed(name, in, folder)) {
          plan.Refused.push_back(line);
          break;
        }
        plan.Steps.push_back({StepKind::Delete, name, "", -1});
        state.Delete(name);
        taken.erase(UpperCase(name));
        break;
      }
      case UpdateLineKind::Rename: {
        const std::string &from = ul.Fields[1], &to = ul.Fields[2];
        if (!ParseVersionRange(ul.Fields[3]).Holds(in.ProgVersion)) break;
        if (!Allowed(from, in, folder) || !Allowed(to, in, folder)) {
          plan.Refused.push_back(line);
          break;
        }
        if (!state.Exists(from) || SameText(from, to)) break;
        plan.Steps.push_back({StepKind::Rename, from, to, -1});
        state.Rename(from, to);
        taken.erase(UpperCase(from));
        taken.erase(UpperCase(to));
        break;
      }
      case UpdateLineKind::FileEntry: {
        FileEntry e;
        if (!ReadFileEntry(ul.Fields, e)) goto done;  // an unreadable entry ends the list
        if (!e.Range.Holds(in.ProgVersion)) break;
        if (!Allowed(e.Local, in, folder) || !IsSafeRemoteName(e.Remote)) {
          plan.Refused.push_back(line);
          break;
        }
        if (taken.count(UpperCase(e.Local))) break;
        const bool exe = IsExecutableName(e.Local, in.ExeDefault);
        // A quiet run has no window to restart the program from.
        if (exe && in.Quiet) break;
        const bool def = IsUpdateListFile(e.Local);
        std::string kind;
        if (!state.Exists(e.Local) && !exe) {
          if (e.Required) kind = "REQUIRED ";
          else if (!e.UpdateOnly) kind = "NEW         ";
        } else {
          bool take = false;
          const std::string src = state.Source(e.Local);
          if (exe) {
            take = e.NewVersion - VersionTolerance > in.ProgVersion;
          } else if (def) {
            // An installed file meant for a newer program is replaced whatever its version.
            const double v1 = folder.SiteFileVersion ? folder.SiteFileVersion(src, false) : 0;
            if (v1 - VersionTolerance > in.ProgVersion) take = true;
            else take = e.NewVersion - VersionTolerance > (folder.SiteFileVersion ? folder.SiteFileVersion(src, true) : 0);
          } else {
            take = e.NewVersion - VersionTolerance > (folder.TrailerVersion ? folder.TrailerVersion(src) : 0);
          }
          if (take) kind = e.Required ? "REQUIRED " : "UPDATED ";
        }
        if (kind.empty()) break;
        PlannedFile f;
        f.Display = kind + e.Description;
        f.Entry = std::move(e);
        f.Line = line;
        f.Executable = exe;
        f.Definition = def;
        taken.insert(UpperCase(f.Entry.Local));
        plan.Steps.push_back({StepKind::Install, f.Entry.Local, "", int(plan.Files.size())});
        state.Fetched(f.Entry.Local);
        plan.Files.push_back(std::move(f));
        break;
      }
      default:
        break;
    }
  }
done:
  if (!plan.Cancelled) closeMessage();
  return plan;
}

unsigned InstalledFileMode(std::string_view localName, std::string_view exeDefault) {
  const std::string up = UpperCase(localName);
  const bool program = IsExecutableName(localName, exeDefault) || SameText(localName, UpdaterFileName) ||
                       (up.size() > 3 && up.compare(up.size() - 3, 3, ".SO") == 0) || up.find(".SO.") != std::string::npos;
  return program ? 0755 : 0644;
}

namespace {

bool IsLink(const std::string& path) {
  struct stat st{};
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool IsPlainFileOrMissing(const std::string& path) {
  struct stat st{};
  if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT;
  return S_ISREG(st.st_mode);
}

}  // namespace

ApplyReport ApplyUpdatePlan(const UpdatePlan& plan, const std::map<int, std::string>& staged, const std::string& dir,
                            const PlanInput& in, const ApplyHooks& hooks) {
  ApplyReport r;
  std::set<std::string> installed;  // upper-cased
  // The name as it stands in the folder, any case, else the list's.
  auto actual = [&](const std::string& name) {
    std::string n = FindNameNoCase(dir, name);
    return n.empty() ? name : n;
  };
  for (const PlanStep& s : plan.Steps) {
    if (!Allowed(s.Name, in) || (s.Kind == StepKind::Rename && !Allowed(s.NewName, in))) continue;
    if (s.Kind == StepKind::Delete) {
      if (installed.count(UpperCase(s.Name))) {
        r.Skipped.push_back("DELETE " + s.Name + ": installed by this run");
        continue;
      }
      const std::string path = dir + actual(s.Name);
      if (IsLink(path) || !IsPlainFileOrMissing(path)) {
        r.Skipped.push_back("DELETE " + s.Name + ": not a plain file");
        continue;
      }
      ::unlink(path.c_str());
      if (IsUpdateListFile(s.Name) && hooks.EraseSection) hooks.EraseSection(UpperCase(s.Name));
    } else if (s.Kind == StepKind::Rename) {
      if (installed.count(UpperCase(s.NewName))) {
        r.Skipped.push_back("RENAME " + s.Name + " " + s.NewName + ": installed by this run");
        continue;
      }
      const std::string from = dir + actual(s.Name), to = dir + actual(s.NewName);
      struct stat st{};
      if (::lstat(from.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || !IsPlainFileOrMissing(to)) {
        r.Skipped.push_back("RENAME " + s.Name + " " + s.NewName + ": not a plain file");
        continue;
      }
      if (::rename(from.c_str(), to.c_str()) != 0) {
        r.Errors.push_back("Error renaming file: " + s.Name);
        continue;
      }
      installed.erase(UpperCase(s.Name));
      if (IsUpdateListFile(s.Name) && IsUpdateListFile(s.NewName) && hooks.MoveSection)
        hooks.MoveSection(UpperCase(s.Name), UpperCase(s.NewName));
    } else {
      const PlannedFile& f = plan.Files[size_t(s.File)];
      auto it = staged.find(s.File);
      if (!f.Picked || it == staged.end()) continue;
      const std::string to = dir + actual(f.Entry.Local);
      if (!IsPlainFileOrMissing(to)) {
        r.Errors.push_back("Error writing file: " + f.Entry.Local + " (not a plain file)");
        continue;
      }
      const bool lib = SameText(f.Entry.Local, SupportLibraryFileName);
      if (lib && hooks.BeforeSupportLibrary) hooks.BeforeSupportLibrary();
      ::chmod(it->second.c_str(), InstalledFileMode(f.Entry.Local, in.ExeDefault));
      const bool ok = ::rename(it->second.c_str(), to.c_str()) == 0;
      if (lib && hooks.AfterSupportLibrary) hooks.AfterSupportLibrary();
      if (!ok) {
        r.Errors.push_back("Error writing file: " + f.Entry.Local);
        continue;
      }
      installed.insert(UpperCase(f.Entry.Local));
      r.Installed.push_back(to);
    }
  }
  // Copies moved into place are gone; the rest (not picked, refused) go now.
  for (const auto& entry : staged) ::unlink(entry.second.c_str());
  return r;
}
