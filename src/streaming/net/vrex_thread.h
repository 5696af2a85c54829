#pragma once

#include <atomic>
#include <thread>

namespace vn::net {

// A thread that runs BeforeRun, then Run repeatedly until told to stop, then AfterRun.
// It never frees itself: its owner calls TerminateAndWaitFor (or Terminate and later
// WaitFor) before destroying it.
class TvrexThread {
 public:
  TvrexThread() = default;
  TvrexThread(const TvrexThread&) = delete;
  TvrexThread& operator=(const TvrexThread&) = delete;
  virtual ~TvrexThread();

  void Start();
  // Sets the stop flag and wakes the thread from whatever it blocks in.
  void Terminate();
  bool Terminated() const { return fTerminated.load(std::memory_order_acquire); }
  // Joins the thread; returns at once when it was never started or is already joined.
  void WaitFor();
  void TerminateAndWaitFor();
  // True once Execute has returned (the thread may still need joining).
  bool Finished() const { return fFinished.load(std::memory_order_acquire); }

 protected:
  virtual void Execute();
  virtual void Run() = 0;
  virtual void BeforeRun() {}
  virtual void AfterRun() {}
  // Called by Terminate after the flag is set; wakes a blocked Run.
  virtual void WakeUp() {}
  // Called on the thread after Execute has returned, with Finished already set.
  virtual void OnFinished() {}
  // Lets a thread that serves one job after another start the next one unstopped.
  void ClearTerminated() { fTerminated.store(false, std::memory_order_release); }

 private:
  void ThreadMain();

  std::thread fThread;
  std::atomic<bool> fTerminated{false};
  std::atomic<bool> fFinished{false};
};

}  // namespace vn::net
