#include "common/fake_site.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "core/program_state.h"
#include "core/text_helpers.h"
#include "platform/string_list.h"

extern char** environ;

FakeSite::FakeSite() {
  int in[2], out[2];
  if (pipe(in) != 0) return;
  if (pipe(out) != 0) {
    close(in[0]);
    close(in[1]);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, in[1]);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  std::string script = std::string(VN_FIXTURES_DIR) + "/fake_site.py";
  char python[] = "python3";
  char* argv[] = {python, script.data(), nullptr};
  int rc = posix_spawnp(&pid_, "python3", &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  if (rc != 0) {
    pid_ = -1;
    close(in[1]);
    close(out[0]);
    return;
  }
  stdinFd_ = in[1];
  // The first line is the port; give the interpreter up to 10 s to start.
  std::string line;
  pollfd p{out[0], POLLIN, 0};
  while (line.find('\n') == std::string::npos && poll(&p, 1, 10000) > 0) {
    char buf[64];
    ssize_t n = read(out[0], buf, sizeof buf);
    if (n <= 0) break;
    line.append(buf, static_cast<size_t>(n));
  }
  close(out[0]);
  port_ = std::atoi(line.c_str());
}

FakeSite::~FakeSite() {
  if (stdinFd_ >= 0) close(stdinFd_);
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
}

FakeSite& TheFakeSite() {
  static FakeSite site;
  return site;
}

std::string SiteFixtureText(const std::string& name, int port) {
  std::string text;
  ReadWholeFile(std::string(VN_FIXTURES_DIR) + "/retrieval/" + name, text);
  ReplaceAll(text, "@PORT@", std::to_string(port), false);
  return text;
}

std::string InstallSiteFixture(const std::string& name, int port) {
  WriteFileAtomic(ProgDir + name, SiteFixtureText(name, port));
  return name;
}
