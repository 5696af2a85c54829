#pragma once
// One running copy per user and program folder: a later start hands over to the running copy
// and exits. The guard is a lock file held for the copy's lifetime (the system frees it when
// the process ends, however it ends); a local socket beside it carries the hand-over.
#include <QObject>

#include <functional>
#include <memory>
#include <string>

class QLocalServer;

class SingleInstance {
public:
  // name: the guard's name ("Vantrx"); it is made per user and program folder, in the user's
  // runtime folder ($XDG_RUNTIME_DIR) or else the program folder (an absolute path).
  SingleInstance(const std::string& name, const std::string& progDir);
  ~SingleInstance();
  // Marks this copy as running on the folder, for its lifetime (also a copy that may run
  // beside others). True when no other copy was running at that moment.
  bool EnterPresence();
  // Takes the single-copy guard for this copy's lifetime; false when another copy holds it,
  // or when the guard's file cannot be made (OpenError then says why).
  bool TryLock();
  const std::string& OpenError() const { return openError_; }
  // Tells the running copy to show itself, knocking until it answers or waitMs have passed
  // (it may still be starting). True when it answered.
  bool KnockHolder(int waitMs);
  // True when another copy answers at once; it has been told to show itself.
  bool AnotherIsRunning();
  // The socket's full path.
  const std::string& Name() const { return name_; }
  // Opens the hand-over socket; onActivate runs when a later start knocks. Needs the guard
  // (TryLock); false when the socket could not be made.
  bool Claim(std::function<void()> onActivate);

private:
  std::string name_;
  std::string openError_;
  int lockFd_ = -1;
  int presenceFd_ = -1;
  std::unique_ptr<QLocalServer> server_;
};
