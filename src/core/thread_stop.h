#pragma once
// Stopping an owned thread within a bound at shut-down, without ever killing it.
#include <functional>
#include <memory>
#include <string_view>

#include "platform/thread.h"

// Flags the thread, wakes it (wake, when given) and joins it within boundMs. A thread that
// does not end in time is logged and kept aside (never killed) until ReleaseOverrunThreads;
// the pointer is empty afterwards either way. True when it ended in time.
bool StopOwnedThread(std::unique_ptr<Thread>& thread, std::string_view name, int boundMs,
                     const std::function<void()>& wake = {});
// Joins the threads kept aside, waiting up to waitMs in all; returns how many still run.
// Those are left to the end of the process.
int ReleaseOverrunThreads(int waitMs);
