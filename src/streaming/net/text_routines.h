#pragma once
// ASCII copies of the text helpers of the platform layer: this library stays free of Qt.

#include <string>
#include <string_view>

namespace vn::net {

// Returns the part of text before the first delimiter and removes it and the delimiter
// from text; without the delimiter returns all of text and empties it.
std::string Fetch(std::string& text, const std::string& delimiter);

// The 1-based position of the last occurrence of sub in text that starts at or before
// start (-1 = from the end); 0 when absent.
int RPos(const std::string& sub, const std::string& text, int start = -1);

std::string UpperCaseAscii(std::string text);
bool SameTextAscii(std::string_view a, std::string_view b);
std::string TrimAscii(std::string_view text);

}  // namespace vn::net
