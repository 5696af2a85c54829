#pragma once
// How long the whole desktop session has gone without keyboard or mouse input, as the display
// server counts it: input to any program, not only to ours.
#include <cstdint>
#include <optional>

// Milliseconds since the session's last input; nothing where the display server cannot say
// (not X11, a server without the screen-saver extension, or a build without it).
std::optional<int64_t> SessionIdleMs();
