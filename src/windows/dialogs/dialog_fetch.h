#pragma once
// One page fetched for a small dialog: a result slot, a request thread, a bounded wait.
#include <atomic>
#include <string>

// Fetches the page (port 80 unless the host names one, time-out 60 s, the site agent "***") into
// page and frees everything it took. The wait processes events on the main thread and ends on
// the cancel flag, at the deadline and on shut-down. False when the request failed or the wait
// did not see it end; page then holds what the slot had ("ERR" or nothing).
bool FetchDialogPage(char tag, const std::string& method, const std::string& host, const std::string& path,
                     const std::string& extraHeader, const std::string& postData, const std::atomic<bool>* cancel,
                     std::string& page);
