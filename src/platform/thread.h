#pragma once
// A worker thread with an owner. It is never suspended or killed: it parks on a gate and
// is stopped by its terminate flag; the owner joins it before freeing what it uses.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class Thread {
public:
  Thread() = default;
  // A last resort only: by now the derived class's members are gone, so every derived
  // thread stops itself (Stop) in its own destructor, and owners stop it before that.
  virtual ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starts Execute on a new thread; a thread started "suspended" parks at its first WaitGate.
  void Start(bool suspended = false);
  // Sets the flag and wakes every wait of the thread.
  void Terminate();
  bool Terminated() const { return terminated_.load(); }
  // The flag itself, for waits that take a cancel flag.
  const std::atomic<bool>& TerminateFlag() const { return terminated_; }
  // Opens or closes the gate; a closed gate holds the thread at its next WaitGate.
  void Resume();
  void Suspend();
  bool Started() const { return started_; }
  bool Finished() const { return finished_.load(); }
  // Waits up to timeoutMs (a negative time-out waits for ever) for Execute to return and
  // joins the thread then. False when it still runs, and at once when called by the thread
  // itself.
  bool WaitFor(int timeoutMs);
  // Terminate, then WaitFor.
  bool Stop(int timeoutMs);
  // Runs fn on the main thread and waits for it; gives up (false) once terminated.
  bool Synchronize(const std::function<void()>& fn);

  std::string Name;

protected:
  virtual void Execute() = 0;
  // Parks while the gate is closed. False when terminated (or at the time-out).
  bool WaitGate(int timeoutMs = -1);
  // Sleeps, waking early on Terminate. False when terminated.
  bool Sleep(int ms);

private:
  void Run();
  std::thread thread_;
  std::atomic<std::thread::id> runningId_{};
  std::mutex mutex_;
  std::condition_variable cv_;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finished_{false};
  bool gateOpen_ = true;
  bool started_ = false;
};
