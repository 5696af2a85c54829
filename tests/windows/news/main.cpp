// The browser engine's settings must be in place before the application object, which the
// program folder environment makes; so this executable brings its own main.
#include <gtest/gtest.h>

#include "common/program_folder_env.h"
#include "windows/browser/browser_environment.h"

int main(int argc, char** argv) {
  PrepareBrowserEnvironment();
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new ProgramFolderEnvironment("test_news"));
  return RUN_ALL_TESTS();
}
