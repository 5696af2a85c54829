#pragma once
// Log lines stay plain text whatever they quote.
#include <string>
#include <string_view>

// The text with every byte below 0x20, 0x7F and every byte that is not part of valid UTF-8
// written as \xNN (upper-case hex), so bytes from outside can neither break a line, send escape
// sequences to a terminal nor leave broken characters in the file.
std::string LogSafeText(std::string_view text);
