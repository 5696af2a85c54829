#pragma once
// What the browser engine needs settled before the application object exists.
#include <string>

// Call first thing in main(), before QApplication is constructed: shares OpenGL contexts, turns
// the engine's sandbox off when running as root (it refuses to start otherwise) and adds our
// engine switches to QTWEBENGINE_CHROMIUM_FLAGS, keeping the user's own.
void PrepareBrowserEnvironment();

// Flags with each of our engine switches appended once (those already present are kept as is).
std::string WithBrowserEngineFlags(const std::string& flags);
