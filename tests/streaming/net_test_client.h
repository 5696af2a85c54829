#pragma once
// Small blocking HTTP client and a wait helper for the listener tests.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace vn::net::testing {

// receiveBuffer (bytes, 0: the system's): a small one keeps a reply that is not read with the
// server.
inline int ConnectLoopback(int port, int recvTimeoutMs = 5000, int receiveBuffer = 0) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  timeval tv{recvTimeoutMs / 1000, (recvTimeoutMs % 1000) * 1000};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  if (receiveBuffer > 0) ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

inline bool SendAll(int fd, const std::string& text) {
  size_t sent = 0;
  while (sent < text.size()) {
    const ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

// Reads until the server closes; a time-out or reset ends the text where it stands and
// appends "<timeout>" or "<reset>".
inline std::string ReadToEnd(int fd) {
  std::string out;
  char buf[8192];
  for (;;) {
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n == 0) return out;
    if (n < 0) return out + (errno == ECONNRESET ? "<reset>" : "<timeout>");
    out.append(buf, static_cast<size_t>(n));
  }
}

inline std::string Exchange(int port, const std::string& request) {
  const int fd = ConnectLoopback(port);
  if (fd < 0) return "<connect failed>";
  SendAll(fd, request);
  std::string reply = ReadToEnd(fd);
  ::close(fd);
  return reply;
}

inline std::string Body(const std::string& reply) {
  const size_t p = reply.find("\r\n\r\n");
  return p == std::string::npos ? std::string() : reply.substr(p + 4);
}

inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace vn::net::testing
