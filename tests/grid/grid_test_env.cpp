// Every grid test runs in a fresh temporary program folder, with error dialogs suppressed
// and an offscreen application object for the windows.
#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>
#include <filesystem>

#include "core/error_report.h"
#include "core/program_state.h"
#include "core/settings_file.h"
#include "platform/registry.h"

namespace {

class GridEnvironment : public ::testing::Environment {
public:
  void SetUp() override {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    dir_ = std::filesystem::temp_directory_path() / ("vn_grid_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    ProgDir = dir_.string() + "/";
    RegistryStore::SetFileForTests(ProgDir + "registry.ini");
    SuppressErrorDialogs(true);
    OpenSettingsFile();
    static int argc = 1;
    static char name[] = "test_grid";
    static char* argv[] = {name, nullptr};
    app_ = new QApplication(argc, argv);
  }
  void TearDown() override {
    delete app_;
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

private:
  std::filesystem::path dir_;
  QApplication* app_ = nullptr;
};

[[maybe_unused]] auto* env = ::testing::AddGlobalTestEnvironment(new GridEnvironment);

}  // namespace
