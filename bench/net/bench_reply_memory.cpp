// A server's memory while clients ask for long GETLASTQUOTE replies and do not read them.
// Usage: bench_reply_memory PORT PIDS CLIENTS SYMBOLS
// PIDS: the server's processes, comma-separated (their resident sizes are summed). Each of
// CLIENTS connections sends GETLASTQUOTE of 65,000 symbols (its own tag, then the table's
// SYMBOLS three-letter symbols over and over: a 256 KB request) with a small receive buffer and
// does not read. Prints one line "key=value ..." with the memory in MB (resident size plus the
// in-memory files held open) before, at the peak (sampled every 5 ms; beside it the kernel's
// resident high-water mark) and while the clients wait (and of it in files), how many got the
// busy answer and how many wait for a reply, how long a well-behaved client waited for a
// one-symbol reply each time a waiting client left (a free slot), and the memory after all left.
// Bounded: every wait has a limit; the clients live only as long as the run.
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "../../tests/streaming/net_test_client.h"
#include "quote_seed.h"

using namespace vn::net::testing;

namespace {

using Clock = std::chrono::steady_clock;

// One field of /proc/PID/status ("VmRSS", "VmHWM") in kB, summed over the processes.
long StatusKb(const std::vector<int>& pids, const std::string& field) {
  long sum = 0;
  for (int pid : pids) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(f, line);)
      if (line.rfind(field + ":", 0) == 0) sum += std::atol(line.c_str() + field.size() + 1);
  }
  return sum;
}
double Mb(long kb) { return static_cast<double>(kb) / 1024.0; }

// In-memory files the processes hold open (kept replies lie in them), in kB: memory of theirs
// that the resident size does not show.
long MemoryFilesKb(const std::vector<int>& pids) {
  long sum = 0;
  for (int pid : pids) {
    const std::string dir = "/proc/" + std::to_string(pid) + "/fd/";
    for (int fd = 0; fd < 4096; ++fd) {
      char target[256];
      const ssize_t n = ::readlink((dir + std::to_string(fd)).c_str(), target, sizeof target - 1);
      if (n <= 0) continue;
      target[n] = '\0';
      struct stat st {};
      if (std::string_view(target).starts_with("/memfd:") && ::stat((dir + std::to_string(fd)).c_str(), &st) == 0)
        sum += static_cast<long>(st.st_blocks) / 2;
    }
  }
  return sum;
}
long MemoryKb(const std::vector<int>& pids) { return StatusKb(pids, "VmRSS") + MemoryFilesKb(pids); }

// Until the processes' memory has not changed for a second, and at least 3 s (a server's idle
// connection threads end after 2 s); at most 15 s.
long Settled(const std::vector<int>& pids) {
  long last = MemoryKb(pids);
  for (int round = 0, same = 0; round < 150 && (same < 10 || round < 30); ++round) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const long now = MemoryKb(pids);
    same = now == last ? same + 1 : 0;
    last = now;
  }
  return last;
}

std::string Query(int client, int symbols) {
  std::string q = "/REQ?GETLASTQUOTE(T" + std::to_string(client);
  char name[4];
  for (int i = 1; i < 65000; ++i) {
    ShortSymbol(i % symbols, name);
    q += ',';
    q += name;
  }
  return q + ")";
}

// Milliseconds for a whole one-symbol reply with status 200; -1 when none came within 5 s.
double Probe(int port) {
  const auto t0 = Clock::now();
  const int fd = ConnectLoopback(port, 5000);
  if (fd < 0) return -1;
  SendAll(fd, "GET /REQ?GETLASTQUOTE(AAA) HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
  const std::string reply = ReadToEnd(fd);
  ::close(fd);
  if (reply.find(" 200 ") != 8 || reply.find("</PRE>") == std::string::npos) return -1;
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: %s PORT PIDS CLIENTS SYMBOLS\n", argv[0]);
    return 2;
  }
  const int port = std::atoi(argv[1]);
  std::vector<int> pids;
  {
    std::stringstream list(argv[2]);
    for (std::string pid; std::getline(list, pid, ',');) pids.push_back(std::atoi(pid.c_str()));
  }
  const int clients = std::clamp(std::atoi(argv[3]), 1, 1024);
  const int symbols = std::clamp(std::atoi(argv[4]), 1, 17576);

  std::vector<std::string> queries;
  for (int i = 0; i < clients; ++i) queries.push_back(Query(i, symbols));
  const long before = MemoryKb(pids);

  std::atomic<bool> sampling{true};
  std::atomic<long> peak{before};
  std::thread sampler([&] {
    while (sampling) {
      peak = std::max(peak.load(), MemoryKb(pids));
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });

  // Every client at once, each from its own thread, as many programs would.
  std::vector<int> fds(static_cast<size_t>(clients), -1);
  {
    std::vector<std::thread> senders;
    for (int i = 0; i < clients; ++i)
      senders.emplace_back([&, i] {
        const int fd = ConnectLoopback(port, 5000, 4096);
        const timeval limit{5, 0};  // a request the server never reads ends the client
        if (fd >= 0) ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        if (fd >= 0 && SendAll(fd, "GET " + queries[static_cast<size_t>(i)] + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n"))
          fds[static_cast<size_t>(i)] = fd;
        else if (fd >= 0)
          ::close(fd);
      });
    for (std::thread& t : senders) t.join();
  }
  const long held = Settled(pids);
  const long heldFiles = MemoryFilesKb(pids);

  // A busy answer has come whole; any other reply waits to be read.
  int busy = 0, waiting = 0;
  std::vector<int> full;
  for (int fd : fds) {
    if (fd < 0) continue;
    char head[512];
    const ssize_t n = ::recv(fd, head, sizeof head, MSG_PEEK | MSG_DONTWAIT);
    const std::string text = n > 0 ? std::string(head, static_cast<size_t>(n)) : std::string();
    if (text.find("busy, try again") != std::string::npos) {
      ++busy;
    } else {
      ++waiting;
      full.push_back(fd);
    }
  }

  // A well-behaved client each time a slot frees: a waiting client with a reply leaves.
  std::vector<double> probes;
  for (int i = 0; i < 5; ++i) {
    int gone = -1;
    if (!full.empty()) {
      gone = full.back();
      full.pop_back();
    } else {
      for (int fd : fds)
        if (fd >= 0) {
          gone = fd;
          break;
        }
    }
    if (gone >= 0) {
      std::replace(fds.begin(), fds.end(), gone, -1);
      ::close(gone);
    }
    probes.push_back(Probe(port));
  }

  for (int fd : fds)
    if (fd >= 0) ::close(fd);
  const long after = Settled(pids);
  const long afterFiles = MemoryFilesKb(pids);
  sampling = false;
  sampler.join();

  double worst = 0;
  bool allAnswered = true;
  for (double p : probes) {
    allAnswered = allAnswered && p >= 0;
    worst = std::max(worst, p);
  }
  std::printf("before=%.1f peak=%.1f hwm=%.1f held=%.1f held_files=%.1f after=%.1f after_files=%.1f busy=%d waiting=%d "
              "probe_max_ms=%.1f probes_answered=%s\n",
              Mb(before), Mb(peak), Mb(StatusKb(pids, "VmHWM")), Mb(held), Mb(heldFiles), Mb(after), Mb(afterFiles), busy, waiting,
              worst, allAnswered ? "yes" : "no");
  return 0;
}
