#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vn::net {

// "%" and two hexadecimal digits become that byte (an escape of 0 is dropped); every other
// character, including a "%" without two digits after it, is copied.
std::string DecodeUrl(std::string_view text);

// True when every "%" in text starts an escape of two hexadecimal digits.
bool HasValidEscapes(std::string_view text);

// The query decoded into the params list, one name=value per line: "%0D" becomes the
// character 27, "%0A" is dropped, escapes are decoded, "+" becomes a blank and "&" a line
// break. A "%" without two hexadecimal digits raises EWinshoeException.
std::vector<std::string> DecodeQueryParams(std::string_view query);

// Standard Base64 in units of four characters; characters after the last whole unit are
// ignored. A character outside the alphabet raises EWinshoeException.
std::string DecodeBase64(std::string_view text);

// True for a Host header naming this machine's loopback: 127.0.0.1, localhost or [::1],
// with or without a port.
bool IsLoopbackHost(std::string_view hostHeader);

// Escapes text for use inside an HTML page.
std::string HtmlEscape(std::string_view text);

}  // namespace vn::net
