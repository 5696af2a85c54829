#pragma once
// Messages of the streaming client for the user. Shown without blocking the caller; tests
// replace the hook to see them.
#include <functional>
#include <string>

extern std::function<void(const std::string& text, const std::string& caption)> StreamerMessageHook;
// Logs the message and hands it to the hook (a non-modal message box by default).
void ShowStreamerMessage(const std::string& text, const std::string& caption);
