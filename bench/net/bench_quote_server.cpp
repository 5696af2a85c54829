// Serves the quote server's replies from a table seeded with N symbols until stdin closes.
// Usage: bench_quote_server N [changing] — prints the port it listens on (127.0.0.1).
// With "changing", the quote generation moves on before every request is handled, as on a
// quote change, so no GETLASTQUOTE reply can come from the reply cache: each is built anew.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "quote_seed.h"
#include "streaming/quote_server.h"

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 1;
  const bool changing = argc > 2 && std::strcmp(argv[2], "changing") == 0;
  if (!SeedQuoteTable(count)) return 1;
  VNServer server;
  server.Listener().Port = 0;
  if (changing) {
    auto handler = server.Listener().OnCommandGet;
    server.Listener().OnCommandGet = [handler](vn::net::TWinshoeServerThread* t, vn::net::THTTPRequestInfo& rq,
                                               vn::net::THTTPResponseInfo& rs) {
      ChangeSeededQuote();
      handler(t, rq, rs);
    };
  }
  if (!server.SetActive(true)) return 1;
  std::printf("%d\n", server.Listener().BoundPort());
  std::fflush(stdout);
  std::string line;
  while (std::getline(std::cin, line)) {
  }
  return 0;
}
