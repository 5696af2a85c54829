#include "mainwin/startup.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "core/branding.h"
#include "core/log.h"
#include "core/program_files.h"
#include "core/program_state.h"
#include "core/settings.h"
#include "core/settings_file.h"
#include "core/user_notices.h"
#include "retrieval/cookie_store.h"

StartupSwitches Switches;

namespace {
bool aloneOnFolder = true;

// Whether path is a plain file (not through a link) or missing.
bool IsPlainFileOrNothing(const std::string& path) {
  std::error_code ec;
  const auto st = std::filesystem::symlink_status(path, ec);
  return ec || !std::filesystem::exists(st) || std::filesystem::is_regular_file(st);
}
}  // namespace

StartupSwitches ParseStartupSwitches(int argc, const char* const* argv) {
  StartupSwitches s;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string up = UpperCase(arg);
    if (up.rfind("HTML=", 0) == 0) s.HtmlFile = arg.substr(5);
    else if (up == "DEBUG") s.Debug = true;
    else if (up == "ADS") s.Ads = true;
    else if (up == "DEADLOCKS") s.Deadlocks = true;
    else if (up == "DEMO") s.Demo = true;
  }
  return s;
}

std::string DefaultDataDir(const std::string& exeDir) {
  std::error_code ec;
  std::string beside = exeDir + "/data";
  if (std::filesystem::is_directory(beside, ec)) return beside;
  return VN_SOURCE_DATA_DIR;
}

bool PrepareProgramFolder(int argc, const char* const* argv, const std::string& exeDir, std::string& error) {
  ParseEarlySwitches(argc, argv);
  ProgDir = ResolveProgDir();
  std::string why;
  if (!MakeProgDir(ProgDir, why)) {
    error = "Cannot create the program folder " + ProgDir + ": " + why;
    return false;
  }
  // Settings, portfolios and the single-copy guard all live here: nothing works without writing.
  if (why = FolderWriteProblem(ProgDir); !why.empty()) {
    error = "The program folder " + ProgDir + " cannot be written: " + why;
    return false;
  }
  std::vector<std::string> failed = SeedProgDir(ProgDir, DefaultDataDir(exeDir));
  InstallProgramBinaries(ProgDir, exeDir, &failed);
  if (!failed.empty()) {
    std::string list;
    for (const std::string& f : failed) list += "\n" + f;
    AddUserNotice("Some files could not be copied into the program folder " + ProgDir +
                  "; they are tried again at the next start:" + list);
  }
  LoadParamLines(ProgDir + "params.par", ParamList);
  return true;
}

void InitFoundation(bool alone, bool sole) {
  StartLog(alone);
  WriteLog("START", 0);
  // Said before the log began (the program folder, params.par).
  LogUserNotices();
  if (const int removed = RemoveLeftoverTemporaries(ProgDir, sole))
    WriteLog("Removed " + std::to_string(removed) + " left-over temporary files", 0);
  OpenSettingsFile();
  // Loaded at start, so that one that cannot be read is said in the start's box.
  OpenRegistryFile();
  OpenCookieStore();
  // A save that failed (or never came) when the last session ended is said now, once. A copy
  // beside another leaves the note to the copy that wrote it.
  aloneOnFolder = alone;
  if (alone) {
    std::string unsaved, why;
    const std::string note = ProgDir + SaveFailedMarkerName;
    const FileRead read = ReadFileChecked(note, unsaved, &why);
    const bool inTheWay = read == FileRead::Unreadable && !IsPlainFileOrNothing(note);
    if (read == FileRead::Ok) {
      unsaved = Trim(unsaved.substr(0, 1000));
      AddUserNotice(unsaved == UnfinishedSavesText
                        ? unsaved + " Changes of that session may be missing."
                        : "When the program last ended, its save failed: " + unsaved +
                              " Changes of that session may be missing.");
    } else if (inTheWay) {
      // Not ours to remove; it only keeps the note from being left.
      AddUserNotice(std::string("The note ") + SaveFailedMarkerName + ", which tells a start that the last session did "
                    "not finish its saves, cannot be read (" + why + "): whether the last session's saves finished "
                    "cannot be told, and this session cannot leave that note. It is left as it is.");
    } else if (read == FileRead::Unreadable) {
      AddUserNotice(std::string("The note ") + SaveFailedMarkerName + " cannot be read (" + why +
                    "): the last session's saves may not have finished. Changes of that session may be missing.");
    }
    if (inTheWay) {
      WriteLog(std::string("The note ") + SaveFailedMarkerName + " cannot be written: something is in its place", 0);
    } else if (!WriteFileAtomic(note, std::string(UnfinishedSavesText) + "\n", 0600)) {
      const std::string why = std::strerror(errno);
      WriteLog(std::string("The note ") + SaveFailedMarkerName + " could not be written: " + why, 0);
      AddUserNotice("The program folder " + ProgDir + " cannot take this session's saves (" + why +
                    "): settings, portfolios and collected data changed now may not be kept.");
    }
  }
  LoadBranding();
  LoadMiscSettings();
  LoadGlobVars(LiveSettings);
}

bool SavesEnded(const std::string& failure) {
  const std::string note = ProgDir + SaveFailedMarkerName;
  if (failure.empty()) {
    std::error_code ec;
    // Only our own note: an empty folder in its place is not.
    if (aloneOnFolder && std::filesystem::is_regular_file(std::filesystem::symlink_status(note, ec)))
      std::filesystem::remove(note, ec);
    return true;
  }
  return WriteFileAtomic(note, failure + "\n", 0600);
}

bool AloneOnFolder() { return aloneOnFolder; }

void FinishFoundation() {
  // The main window wrote the settings at its close.
  WriteLog("Final", 0);
}
