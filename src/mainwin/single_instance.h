#pragma once
// One running copy per user: a later start hands over to the first and exits.
#include <QObject>

#include <functional>
#include <memory>
#include <string>

class QLocalServer;

class SingleInstance {
public:
  // name: the guard's name ("Vantrx"); it is made per user.
  SingleInstance(const std::string& name, const std::string& progDir);
  ~SingleInstance();
  // True when another copy runs; it has been told to show itself.
  bool AnotherIsRunning();
  // Becomes the running copy; onActivate runs when a later start knocks.
  bool Claim(std::function<void()> onActivate);

private:
  std::string name_;
  std::unique_ptr<QLocalServer> server_;
};
