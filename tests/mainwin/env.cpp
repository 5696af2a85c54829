#include "common/program_folder_env.h"
#include "core/settings_file.h"

// The in-process windows leave the local quote server off (its port is shared).
[[maybe_unused]] static auto* env = ::testing::AddGlobalTestEnvironment(
    new ProgramFolderEnvironment("test_mainwin", [] { Ini().WriteString("VNServer", "Active", "NO"); }));
