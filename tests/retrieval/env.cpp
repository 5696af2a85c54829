#include "common/program_folder_env.h"
#include "retrieval/http_engine.h"

// Requests still running at the end are ended before the folder goes.
[[maybe_unused]] static auto* env =
    ::testing::AddGlobalTestEnvironment(new ProgramFolderEnvironment("test_retrieval", {}, [] { ShutdownHttp(); }));
