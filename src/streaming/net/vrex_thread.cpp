#include "vrex_thread.h"

#include <exception>
#include <string>

#include "net_log.h"

namespace vn::net {

TvrexThread::~TvrexThread() {
  // Owners stop and join before destruction; this is the last line of defence so that a
  // std::thread is never destroyed joinable.
  if (fThread.joinable()) {
    fTerminated.store(true);
    fThread.join();
  }
}

void TvrexThread::Start() {
  fThread = std::thread(&TvrexThread::ThreadMain, this);
}

void TvrexThread::Terminate() {
  fTerminated.store(true, std::memory_order_release);
  WakeUp();
}

void TvrexThread::WaitFor() {
  if (fThread.joinable() && fThread.get_id() != std::this_thread::get_id()) fThread.join();
}

void TvrexThread::TerminateAndWaitFor() {
  Terminate();
  WaitFor();
}

void TvrexThread::Execute() {
  BeforeRun();
  while (!Terminated()) Run();
  AfterRun();
}

void TvrexThread::ThreadMain() {
  try {
    Execute();
  } catch (const std::exception& e) {
    NetLog(std::string("Thread ended by an exception: ") + e.what());
  } catch (...) {
    NetLog("Thread ended by an unknown exception");
  }
  fFinished.store(true, std::memory_order_release);
  OnFinished();
}

}  // namespace vn::net
