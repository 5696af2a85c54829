#pragma once
// Starts tests/fixtures/fake_site.py on 127.0.0.1, reads its port, and ends it when destroyed.
#include <string>
#include <sys/types.h>

class FakeSite {
public:
  FakeSite();
  ~FakeSite();
  FakeSite(const FakeSite&) = delete;
  FakeSite& operator=(const FakeSite&) = delete;

  bool Running() const { return port_ > 0; }
  int Port() const { return port_; }
  // "127.0.0.1:port", as a host text for GetHttp.
  std::string Host() const { return "127.0.0.1:" + std::to_string(port_); }

private:
  pid_t pid_ = -1;
  int stdinFd_ = -1;
  int port_ = 0;
};

// One fake site shared by the tests of an executable, started on first use.
FakeSite& TheFakeSite();

// A definition file of tests/fixtures/retrieval with "@PORT@" replaced by the port.
std::string SiteFixtureText(const std::string& name, int port);
// Copies it into the program folder; returns its name there.
std::string InstallSiteFixture(const std::string& name, int port);
