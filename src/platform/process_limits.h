#pragma once
// What the process needs from the system, settled before anything else runs.
#include <string>

// Ignores SIGXFSZ, so a write past a file-size limit fails (EFBIG) instead of ending the program,
// and raises the soft open-file limit to the hard one. False, with the message for the user in
// error, when fewer than minFiles file handles are allowed: the program cannot run then.
bool PrepareProcessLimits(std::string& error, unsigned long minFiles = 64);
