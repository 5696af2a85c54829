#pragma once
// Stopping every streaming object while the program replaces its own files (the streaming
// support library), and starting again the ones that ran. The streaming feature fills the
// hooks; without streaming both calls do nothing.
#include <functional>

struct StreamerControlHookTable {
  std::function<void()> Suspend;
  std::function<void()> Resume;
};
extern StreamerControlHookTable StreamerHooks;

void SuspendStreamers();
void ResumeStreamers();
