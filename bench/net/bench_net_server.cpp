// Serves one fixed reply from our HTTP listener on 127.0.0.1 until stdin closes.
// Usage: bench_net_server BODYFILE — prints the port it listens on.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "http_listener.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s BODYFILE\n", argv[0]);
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  const std::string body = ss.str();

  vn::net::TWinshoeHTTPListener listener;
  listener.BoundIP = "127.0.0.1";
  listener.Port = 0;
  listener.ServerSoftware = "Vantora";
  listener.OnCommandGet = [&](vn::net::TWinshoeServerThread*, vn::net::THTTPRequestInfo&,
                              vn::net::THTTPResponseInfo& rs) {
    rs.ContentLength = static_cast<int64_t>(body.size());
    rs.ContentText = body;
  };
  listener.SetActive(true);
  std::printf("%d\n", listener.BoundPort());
  std::fflush(stdout);
  std::string line;
  while (std::getline(std::cin, line)) {
  }
  return 0;
}
