#pragma once
// The log writers: stocks.log (the "LOG" switch) and d.log / the debug window.
#include <atomic>
#include <functional>
#include <string>
#include <string_view>

// Lines at or below this level are written (levels in use: 0 and 99).
extern int LogThreshold;

// Deletes an old stocks.log (only when fresh: not while another copy writes it) and starts a new
// one with "Log File Start" (when LogOn).
void StartLog(bool fresh = true);
// One line "hh:mm:ss.zzz message" to stocks.log in the program folder, when LogOn. Control
// bytes and bytes that are not valid UTF-8 are written as \xNN (LogSafeText).
void WriteLog(std::string_view message, int level = 0);

// The debug window's state; the window sets these while it is open. Read by any thread.
extern std::atomic<bool> DebugToFile;
extern std::atomic<bool> DebugScrollStopped;
// Sets (or, with nullptr, clears) what receives each debug line while the debug window is
// shown. Taken under the log's lock: once it returns, no call of the previous sink runs.
void SetDebugWindowSink(std::function<void(const std::string& line)> sink);
// Adds a line to the debug window when shown and to d.log while DebugToFile is set.
void WriteDebugLog(std::string_view line);
