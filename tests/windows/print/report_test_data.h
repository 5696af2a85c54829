#pragma once
// Quotes and portfolios for the report and dialog tests.
#include <string>
#include <vector>

#include "core/add_snap.h"
#include "core/locks.h"
#include "core/market_clock.h"
#include "core/portfolios.h"
#include "core/settings_file.h"
#include "grid/grid_views.h"

// A quote at the market clock's time, seconds later.
inline void SeedQuote(const char* symbol, float last, float prev, float volume, const char* tick = "", int seconds = 0) {
  SnapData s;
  s.Symbol = symbol;
  s.Last = last;
  s.PrevClose = prev;
  s.Volume = volume;
  s.Bid = last - 0.05f;
  s.Ask = last + 0.05f;
  s.TickMark = tick;
  s.MarketDate = s.QuoteTime = MarketNow() + seconds / 86400.0;
  AddSnap(s);
}

inline PortRowRec Holding(const char* symbol, double shares = 0, double base = 0, const char* note = "") {
  PortRowRec r;
  r.Symbol = symbol;
  r.Shares = shares;
  r.BasePrice = base;
  r.Note = note;
  return r;
}

// Replaces the portfolios with these, saved so that PortDefs lists them too.
inline void SetPortfolios(std::vector<PortType> ports) {
  {
    LockHold hold(PortLock, "TEST");
    PortList = std::move(ports);
    CurPortIndex = 1;  // the main window shows the first
  }
  SavePortfolios();
}

inline PortType MakePort(const char* name, const char* id, std::vector<PortRowRec> rows) {
  PortType p;
  p.Name = name;
  p.Id = id;
  p.Rows = std::move(rows);
  return p;
}

// Two portfolios and a view with the split, chart, tick and gap columns.
inline void SeedReportData() {
  SeedQuote("IBM", 123.0f, 120.0f, 1200000.0f, "D", -30);
  SeedQuote("IBM", 124.0f, 120.0f, 1210000.0f, "U", -20);
  SeedQuote("IBM", 122.5f, 120.0f, 1220000.0f, "D", -10);
  SeedQuote("IBM", 125.5f, 120.0f, 1234567.0f, "U");
  SeedQuote("MSFT", 303.0f, 305.0f, 21000000.0f, "U", -30);
  SeedQuote("MSFT", 301.25f, 305.0f, 22000000.0f, "D");
  SeedQuote("ODD", 10.0f, 10.0f, 5.0f);
  SetPortfolios({MakePort("Tech", "TECH1", {Holding("IBM", 100, 100, "a|b {$PAGE} ##x **UP**"), Holding("-----"), Holding("MSFT", 10, 310)}),
                 MakePort("Other", "OTH1", {Holding("ODD", 5, 8)})});
  Ini().WriteString("Views", "Report", "SymCol,GainCol,VChangeCol,SepCol,ChartCol,TickCol,VolCol,NoteCol");
  LoadViews();
}
