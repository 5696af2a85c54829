#pragma once
// One running copy per user: a later start hands over to the first and exits.
#include <QObject>

#include <functional>
#include <memory>
#include <string>

class QLocalServer;

class SingleInstance {
public:
  // name: the guard's name ("Vantrx"); it is made per user and program folder, in the user's
  // runtime folder ($XDG_RUNTIME_DIR) or else the program folder.
  SingleInstance(const std::string& name, const std::string& progDir);
  ~SingleInstance();
  // True when another copy runs; it has been told to show itself.
  bool AnotherIsRunning();
  // The socket's full path.
  const std::string& Name() const { return name_; }
  // Becomes the running copy; onActivate runs when a later start knocks. False when another
  // copy answered meanwhile (it was told to show itself) or the socket could not be made.
  bool Claim(std::function<void()> onActivate);

private:
  std::string name_;
  std::unique_ptr<QLocalServer> server_;
};
