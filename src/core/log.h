#pragma once
// The log writers: stocks.log (the "LOG" switch) and d.log / the debug window.
#include <functional>
#include <string>
#include <string_view>

// Lines at or below this level are written (levels in use: 0 and 99).
extern int LogThreshold;

// Deletes an old stocks.log (only when fresh: not while another copy writes it) and starts a new
// one with "Log File Start" (when LogOn).
void StartLog(bool fresh = true);
// One line "hh:mm:ss.zzz message" to stocks.log in the program folder, when LogOn.
void WriteLog(std::string_view message, int level = 0);

// The debug window's state; the window sets these while it is open.
extern bool DebugToFile;
extern bool DebugScrollStopped;
// Called with each debug line while the debug window is shown (set by that window).
extern std::function<void(const std::string& line)> DebugWindowSink;
// Adds a line to the debug window when shown and to d.log while DebugToFile is set.
void WriteDebugLog(std::string_view line);
