#pragma once
// The chart window's caption and research address, kept apart from the window so they can be
// checked without one.
#include <string>

enum class ChartKind { Stock, Index, Portfolio };

// "MSFT: 25 1/2 (10m)", "Dow: 10500.25 (All)", "My Port: $1234.50 (1h)" or, in percent mode,
// "My Port: 2.50% (1h)". name: the index's or portfolio's name (the symbol for a stock).
std::string ChartCaption(ChartKind kind, const std::string& name, double last, bool portfolioPercent, int period,
                         int customMinutes);

// The research address in a pop-up entry's command text (after its 14-character head), with
// "##STOCKS##" replaced by the encoded symbol; empty when it is not a plain http(s) address.
std::string ChartResearchAddress(const std::string& command, const std::string& symbol);
