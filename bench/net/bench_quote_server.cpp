// Serves the quote server's replies from a table seeded with N symbols until stdin closes.
// Usage: bench_quote_server N — prints the port it listens on (127.0.0.1).
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "core/add_snap.h"
#include "streaming/quote_server.h"

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 1;
  const TDateTime day = EncodeDate(2024, 6, 3);
  for (int i = 0; i < count; ++i) {
    char symbol[16];
    std::snprintf(symbol, sizeof symbol, "S%04d", i);
    SnapData d;
    d.Symbol = symbol;
    d.Last = 10.0f + static_cast<float>(i % 997) * 0.37f;
    d.Bid = d.Last - 0.05f;
    d.Ask = d.Last + 0.05f;
    d.Open = d.Last - 1;
    d.Low = d.Last - 1.5f;
    d.High = d.Last + 1.25f;
    d.Volume = 1000.0f * static_cast<float>(i + 1);
    d.BidSize = 12;
    d.AskSize = 15;
    d.LastSize = 340;
    d.TradeCount = i;
    d.MarketDate = day;
    d.QuoteTime = EncodeTime(15, 59, i % 60, 0);
    if (AddSnap(d) < 0) return 1;
  }
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
