#pragma once
// Messages for the user found before any window could show them (a damaged settings or
// portfolio file at start): queued here, logged at once, and shown by the main window.
#include <string>
#include <vector>

void AddUserNotice(const std::string& text);
// Writes the notices queued so far to the log again (those queued before it was started).
void LogUserNotices();
// The notices queued so far, in order; the queue is empty afterwards.
std::vector<std::string> TakeUserNotices();
