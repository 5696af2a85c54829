#include "core/streamer_control.h"

StreamerControlHookTable StreamerHooks;

void SuspendStreamers() {
  if (StreamerHooks.Suspend) StreamerHooks.Suspend();
}

void ResumeStreamers() {
  if (StreamerHooks.Resume) StreamerHooks.Resume();
}
