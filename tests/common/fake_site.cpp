#include "common/fake_site.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "core/program_state.h"
#include "core/text_helpers.h"
#include "platform/string_list.h"

extern char** environ;

namespace {

// The interpreter's start on a loaded machine; a site that has not printed its port by then is
// taken as broken.
constexpr int kStartDeadlineMs = 20000;

// The port line: digits only, 1..65535; 0 otherwise.
int ParsePortLine(const std::string& text) {
  const size_t end = text.find('\n');
  if (end == std::string::npos || end == 0 || end > 5) return 0;
  int port = 0;
  for (size_t i = 0; i < end; ++i) {
    if (text[i] < '0' || text[i] > '9') return 0;
    port = port * 10 + (text[i] - '0');
  }
  return port <= 65535 ? port : 0;
}

}  // namespace

std::string FakeSiteScript(const std::string& name) { return std::string(VN_FIXTURES_DIR) + "/sites/" + name + ".py"; }

FakeSite::FakeSite(const std::string& name, const std::vector<std::string>& args) {
  // Close-on-exec, so no other child (another site) keeps this site's stdin open.
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0) return;
  if (pipe2(out, O_CLOEXEC) != 0) {
    close(in[0]);
    close(in[1]);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  std::string script = FakeSiteScript(name);
  std::vector<std::string> words{"python3", script};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, "python3", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  if (rc != 0) {
    close(in[1]);
    close(out[0]);
    return;
  }
  pid_ = pid;
  stdinFd_ = in[1];
  // The first line is the port; one deadline for the whole start.
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartDeadlineMs);
  while (line.find('\n') == std::string::npos && line.size() < 64) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) break;
    pollfd p{out[0], POLLIN, 0};
    const int n = poll(&p, 1, static_cast<int>(left));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    char buf[64];
    const ssize_t got = read(out[0], buf, sizeof buf);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;  // the script ended (a missing file, an error) before its port
    line.append(buf, static_cast<size_t>(got));
  }
  close(out[0]);
  port_ = ParsePortLine(line);
  if (!port_) Stop();
}

FakeSite::~FakeSite() { Stop(); }

void FakeSite::Stop() {
  port_ = 0;
  if (stdinFd_ >= 0) close(stdinFd_);
  stdinFd_ = -1;
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  pid_ = -1;
}

FakeSite& TheFakeSite() {
  static FakeSite site("quotes");
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
