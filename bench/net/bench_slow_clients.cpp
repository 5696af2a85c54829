// How long a normal client waits for its reply while slow clients hold connections open.
// Usage: bench_slow_clients PORT PATH SLOW REQUESTS
// Opens SLOW connections to 127.0.0.1:PORT that send the start of a request and then one
// more byte every second, never finishing it; then times REQUESTS sequential requests for
// PATH (one connection each) and prints "answered median_ms p90_ms max_ms slow first_ms".
// Bounded: the slow
// clients live only while the requests run, each request waits at most 5 s.
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "../../tests/streaming/net_test_client.h"

using namespace vn::net::testing;

namespace {

using Clock = std::chrono::steady_clock;

// One request; true when a 200 reply arrived whole, each wait for it bounded by 5 s.
bool Request(int port, const std::string& path) {
  const int fd = ConnectLoopback(port, 5000);
  if (fd < 0) return false;
  const bool sent = SendAll(fd, "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
  const std::string reply = sent ? ReadToEnd(fd) : std::string();
  ::close(fd);
  return reply.starts_with("HTTP/1.") && reply.find(" 200 ") == 8 && !reply.ends_with("<timeout>") &&
         !reply.ends_with("<reset>");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: %s PORT PATH SLOW REQUESTS\n", argv[0]);
    return 2;
  }
  const int port = std::atoi(argv[1]);
  const std::string path = argv[2];
  const int slowCount = std::min(std::atoi(argv[3]), 2000);
  const int requests = std::min(std::atoi(argv[4]), 10000);

  std::vector<int> slow;
  for (int i = 0; i < slowCount; ++i) {
    const int fd = ConnectLoopback(port);
    if (fd < 0) break;
    ::send(fd, "GET /REQ?ENUM", 13, MSG_NOSIGNAL);
    slow.push_back(fd);
  }
  std::atomic<bool> stop{false};
  std::thread dribbler([&] {
    while (!stop) {
      for (int fd : slow) ::send(fd, "S", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
      for (int i = 0; i < 100 && !stop; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  // Let the server take the slow connections in before timing.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));

  std::vector<double> ms;
  double first = 0;
  int answered = 0;
  for (int i = 0; i < requests; ++i) {
    const auto t0 = Clock::now();
    if (Request(port, path)) ++answered;
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    if (i == 0) first = ms.back();
  }
  stop = true;
  dribbler.join();
  for (int fd : slow) ::close(fd);
  std::sort(ms.begin(), ms.end());
  auto at = [&](double q) { return ms.empty() ? 0.0 : ms[std::min(ms.size() - 1, static_cast<size_t>(q * ms.size()))]; };
  std::printf("%d %.3f %.3f %.3f %zu %.3f\n", answered, at(0.5), at(0.9), ms.empty() ? 0.0 : ms.back(), slow.size(),
              first);
  return 0;
}
