#pragma once
// Symbol texts: which are equities and which are separator rows; lists of symbols.
#include <string>
#include <string_view>
#include <vector>

// False for "TOTAL" or an empty text; true when every character of the upper-cased symbol is
// 'A' to 'Z', a blank, '+' or '.', or '/' in first place, or a digit in last place after a
// leading '/'.
bool IsValidSymbol(std::string_view symbol);
// True for a non-empty text made only of '-' (a separator row of a portfolio).
bool IsDashesOnly(std::string_view text);
// Adds the symbol unless the list holds it already (any case); false when it did.
bool AddUniqueSymbol(std::vector<std::string>& symbols, std::string_view symbol);
