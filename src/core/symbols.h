#pragma once
// Symbol texts: which are equities and which are separator rows.
#include <string_view>

// False for "TOTAL" or an empty text; true when every character of the upper-cased symbol is
// 'A' to 'Z', a blank, '+' or '.', or '/' in first place, or a digit in last place after a
// leading '/'.
bool IsValidSymbol(std::string_view symbol);
// True for a non-empty text made only of '-' (a separator row of a portfolio).
bool IsDashesOnly(std::string_view text);
