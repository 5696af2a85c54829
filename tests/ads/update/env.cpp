#include "common/program_folder_env.h"

[[maybe_unused]] static auto* env = ::testing::AddGlobalTestEnvironment(new ProgramFolderEnvironment("test_update"));
