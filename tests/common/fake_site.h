#pragma once
// Starts a local fake site, tests/fixtures/sites/<name>.py, on 127.0.0.1 and reads its port (the
// first line it prints). The site ends when its standard input closes: when this object is
// destroyed, or when the test process dies.
#include <string>
#include <vector>

#include <sys/types.h>

class FakeSite {
public:
  // args go to the script after its name (e.g. {"--demo"}).
  explicit FakeSite(const std::string& name = "quotes", const std::vector<std::string>& args = {});
  ~FakeSite();
  FakeSite(const FakeSite&) = delete;
  FakeSite& operator=(const FakeSite&) = delete;

  // False when the script did not start or gave no port within its deadline.
  bool Running() const { return port_ > 0; }
  int Port() const { return port_; }
  // "127.0.0.1:port", as a host text for GetHttp.
  std::string Host() const { return "127.0.0.1:" + std::to_string(port_); }
  // "http://127.0.0.1:port" + path.
  std::string Url(const std::string& path = "/") const { return "http://" + Host() + path; }

private:
  void Stop();

  pid_t pid_ = -1;
  int stdinFd_ = -1;
  int port_ = 0;
};

// The quote site, shared by the tests of an executable, started on first use.
FakeSite& TheFakeSite();

// The path of a fake site's script: tests/fixtures/sites/<name>.py.
std::string FakeSiteScript(const std::string& name);

// A definition file of tests/fixtures/retrieval with "@PORT@" replaced by the port.
std::string SiteFixtureText(const std::string& name, int port);
// Copies it into the program folder; returns its name there.
std::string InstallSiteFixture(const std::string& name, int port);
