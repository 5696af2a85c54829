#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace vn::net {

// The socket library reports through this hook; the application routes it into its log.
// The default handler ignores every line.
void SetNetLogHandler(std::function<void(const std::string&)> handler);
// Lines are made one line of plain text first (LogLineText).
void NetLog(const std::string& line);

// Text from outside as one log line: every control character becomes a blank (CR LF together
// one), so that a peer can neither break a line nor send escape sequences to a terminal.
std::string LogLineText(std::string_view text);

}  // namespace vn::net
