#pragma once
// A symbol table of N symbols "S0000".. (or, short, of three letters "AAA"..) with one snapshot
// each, for the quote server benchmarks.
#include <cstdio>

#include "core/add_snap.h"
#include "core/stock_table.h"

// The name of the i-th short symbol (i below 17,576).
inline void ShortSymbol(int i, char out[4]) {
  out[0] = static_cast<char>('A' + i / 676 % 26);
  out[1] = static_cast<char>('A' + i / 26 % 26);
  out[2] = static_cast<char>('A' + i % 26);
  out[3] = '\0';
}

inline bool SeedQuoteTable(int count, bool shortNames = false) {
  const TDateTime day = EncodeDate(2024, 6, 3);
  for (int i = 0; i < count; ++i) {
    char symbol[16];
    if (shortNames)
      ShortSymbol(i, symbol);
    else
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
    if (AddSnap(d) < 0) return false;
  }
  return true;
}

// As a quote change does for readers: every reply kept so far is stale. (A bare step of the
// generation, so that the benchmark's many connection threads do not contend as writers.)
inline void ChangeSeededQuote() { QuoteGeneration.fetch_add(1, std::memory_order_release); }
