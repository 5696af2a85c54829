// Serves the quote server's replies from a table seeded with N symbols until stdin closes.
// Usage: bench_quote_server N [changing] [short] — prints the port it listens on (127.0.0.1).
// With "changing", the quote generation moves on before every request is handled, as on a
// quote change, so no GETLASTQUOTE reply can come from the reply cache: each is built anew.
// With "short", the symbols have three letters ("AAA", "AAB", ...) instead of "S0000".
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "quote_seed.h"
#include "streaming/quote_server.h"

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 1;
  bool changing = false, shortNames = false;
  for (int i = 2; i < argc; ++i) {
    changing = changing || std::strcmp(argv[i], "changing") == 0;
    shortNames = shortNames || std::strcmp(argv[i], "short") == 0;
  }
  if (!SeedQuoteTable(count, shortNames)) return 1;
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
