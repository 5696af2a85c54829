#pragma once
// The comparing step of an update run as a plan: the list is read in order against a view of
// the program folder, and gives the servers, the messages to show, the files to fetch and the
// delete, rename and install steps in list order. The steps are applied only after every
// download of the run has been fetched and checked.
#include <atomic>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "ads/update/update_list.h"
#include "core/program_files.h"

// What the planner asks about the program folder (local names, any case).
struct UpdateFolderView {
  std::function<bool(const std::string& name)> Exists;
  std::function<double(const std::string& name, bool check)> SiteFileVersion;
  std::function<double(const std::string& name)> TrailerVersion;
  // True when the name stands for a link or anything but a plain file: never touched.
  std::function<bool(const std::string& name)> NotPlainFile;
};
// The view over the program folder (ProgDir), as its names stand when the view is made.
UpdateFolderView ProgFolderView();
// The program folder's files that carry a version: definition files by their VERSION line,
// other files by their version trailer; user data, links and files without a version are left
// out. Sorted by name, any case.
std::vector<ProgramFileVersion> VersionedProgramFiles();

// The name of an entry of dir (ending with "/") that matches without regard to case, the exact
// one first; empty when none.
std::string FindNameNoCase(const std::string& dir, const std::string& name);

struct PlanInput {
  double ProgVersion = 0;
  bool Quiet = false;
  int LastMessage = 0;          // "LastMessage" or "LastQMessage"
  std::string ExeDefault;       // Branding.ExeDefault
  std::string RunningExeName;   // the running program's file name
};

struct PlannedFile {
  FileEntry Entry;
  std::string Line;     // the list line
  std::string Display;  // "REQUIRED ", "NEW         " or "UPDATED " + description
  bool Executable = false;
  bool Definition = false;
  bool Picked = true;   // the file picker clears it
};

struct PlannedMessage {
  int Number = 0;
  std::string Text;
};

enum class StepKind { Delete, Rename, Install };
struct PlanStep {
  StepKind Kind = StepKind::Delete;
  std::string Name;     // Delete, Rename: the local name; Install: the file's local name
  std::string NewName;  // Rename
  int File = -1;        // Install: index into Files
};

// The most entries a list may hold: file entries, DELETE, RENAME, UPDATESITE lines and message
// headers together. A longer list is refused whole, so that a window never offers, and a run
// never works through, more than this.
constexpr int MaxListEntries = 5000;

struct UpdatePlan {
  std::vector<std::string> Servers;       // "UPDATESITE:" lines
  std::vector<PlannedMessage> Messages;   // to show, in order
  int LastMessage = 0;                    // to store afterwards; never below the input's
  std::vector<PlannedFile> Files;
  std::vector<PlanStep> Steps;
  std::vector<std::string> Refused;       // lines refused for their names, for the log
  bool Cancelled = false;
  bool TooLong = false;                   // more than MaxListEntries: nothing else is filled
};

// The message header "#number(low,high)": number (0 when none) and range (0 .. 99999).
void ReadMessageHeader(std::string_view rest, int& number, double& lowest, double& highest);

UpdatePlan PlanUpdate(std::string_view listText, const PlanInput& in, const UpdateFolderView& folder,
                      const std::atomic<bool>* cancel = nullptr);

// What applying the steps does outside the files; unset entries do nothing.
struct ApplyHooks {
  std::function<void(const std::string& section)> EraseSection;
  std::function<void(const std::string& from, const std::string& to)> MoveSection;
  std::function<void()> BeforeSupportLibrary;  // the streaming library is about to change
  std::function<void()> AfterSupportLibrary;
};

struct ApplyReport {
  std::vector<std::string> Installed;  // full paths, in order
  std::vector<std::string> Errors;     // status texts of steps that failed
  std::vector<std::string> Skipped;    // log lines of steps left out
};

// Applies the plan's steps in list order in dir (ending with "/"): Install moves the file's
// staged copy (staged[file index], a temporary file in dir) into place. A file not picked or
// not staged is not installed; a name installed by the run is never deleted or renamed over
// afterwards; links and protected names are never touched. Staged copies left unused are removed.
ApplyReport ApplyUpdatePlan(const UpdatePlan& plan, const std::map<int, std::string>& staged, const std::string& dir,
                            const PlanInput& in, const ApplyHooks& hooks);

// Mode of an installed file: 0755 for programs and libraries, else 0644.
unsigned InstalledFileMode(std::string_view localName, std::string_view exeDefault);
