// Serves the quote server's replies from a table seeded with N symbols until stdin closes.
// Usage: bench_quote_server N — prints the port it listens on (127.0.0.1).
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "quote_seed.h"
#include "streaming/quote_server.h"

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 1;
  if (!SeedQuoteTable(count)) return 1;
  VNServer server;
  server.Listener().Port = 0;
  if (!server.SetActive(true)) return 1;
  std::printf("%d\n", server.Listener().BoundPort());
  std::fflush(stdout);
  std::string line;
  while (std::getline(std::cin, line)) {
  }
  return 0;
}
