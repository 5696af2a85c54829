#pragma once
// ASCII copies of the text helpers of the platform layer: this library stays free of Qt.

#include <iosfwd>
#include <span>
#include <string>
#include <string_view>

namespace vn::net {

// Returns the part of text before the first delimiter and removes it and the delimiter
// from text; without the delimiter returns all of text and empties it.
std::string Fetch(std::string& text, const std::string& delimiter);

// The 1-based position of the last occurrence of sub in text that starts at or before
// start (-1 = from the end); 0 when absent.
int RPos(const std::string& sub, const std::string& text, int start = -1);

// The smallest value of the array; 0 for an empty one.
int MinIntValue(std::span<const int> values);

// Writes the text, or the text and CRLF, to the stream.
void WriteToStream(std::ostream& stream, std::string_view text);
void WriteLnToStream(std::ostream& stream, std::string_view text);

// Flags of ReplaceText.
constexpr int ReplaceAll = 1;         // every occurrence, not only the first
constexpr int ReplaceIgnoreCase = 2;  // ASCII letters match in either case
// Replaces oldPattern by newPattern in text. Replaced text is not searched again, so a
// newPattern holding oldPattern cannot loop; an empty oldPattern replaces nothing.
std::string ReplaceText(std::string_view text, std::string_view oldPattern, std::string_view newPattern,
                        int flags);

std::string UpperCaseAscii(std::string text);
bool SameTextAscii(std::string_view a, std::string_view b);
std::string TrimAscii(std::string_view text);

}  // namespace vn::net
