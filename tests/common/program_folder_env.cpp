#include "common/program_folder_env.h"

#include <cstdlib>
#include <unistd.h>

#include "core/error_report.h"
#include "core/program_state.h"
#include "core/settings_file.h"
#include "platform/registry.h"

ProgramFolderEnvironment::ProgramFolderEnvironment(std::string name, std::function<void()> afterSetUp,
                                                   std::function<void()> beforeTearDown)
    : name_(std::move(name)), afterSetUp_(std::move(afterSetUp)), beforeTearDown_(std::move(beforeTearDown)) {}

void ProgramFolderEnvironment::SetUp() {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  dir_ = std::filesystem::temp_directory_path() / ("vn_" + name_ + "_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir_);
  ProgDir = dir_.string() + "/";
  InstallProgramBinaries(ProgDir, VN_BINARY_DIR);
  RegistryStore::SetFileForTests(ProgDir + "registry.ini");
  SuppressErrorDialogs(true);
  OpenSettingsFile();
  if (afterSetUp_) afterSetUp_();
  static int argc = 1;
  static std::string appName;
  appName = name_;
  static char* argv[] = {appName.data(), nullptr};
  app_ = new QApplication(argc, argv);
}

void ProgramFolderEnvironment::TearDown() {
  if (beforeTearDown_) beforeTearDown_();
  delete app_;
  app_ = nullptr;
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}
