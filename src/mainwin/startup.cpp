#include "mainwin/startup.h"

#include <filesystem>

#include "core/branding.h"
#include "core/log.h"
#include "core/program_state.h"
#include "core/settings.h"
#include "core/settings_file.h"

StartupSwitches Switches;

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

bool PrepareProgramFolder(int argc, const char* const* argv, const std::string& exeDir) {
  ParseEarlySwitches(argc, argv);
  ProgDir = ResolveProgDir();
  std::error_code ec;
  const bool created = !std::filesystem::exists(ProgDir, ec);
  if (!SeedProgDir(ProgDir, DefaultDataDir(exeDir))) return false;
  // Our own support library and updater come with a new folder only, so a folder whose
  // library was removed keeps working without it.
  if (created) InstallProgramBinaries(ProgDir, exeDir);
  LoadParamLines(ProgDir + "params.par", ParamList);
  return true;
}

void InitFoundation(bool alone) {
  StartLog(alone);
  WriteLog("START", 0);
  OpenSettingsFile();
  LoadBranding();
  LoadMiscSettings();
  LoadGlobVars(LiveSettings);
}

void FinishFoundation() {
  // The main window wrote the settings at its close.
  WriteLog("Final", 0);
}
