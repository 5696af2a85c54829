#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace vn::net {

// The socket library reports through this hook; the application routes it into its log.
// The default handler ignores every line.
void SetNetLogHandler(std::function<void(const std::string&)> handler);
// Lines are made one line of plain text first: a CR LF pair becomes a blank, then LogLineText.
void NetLog(const std::string& line);

// Text from outside as one log line, escaped as every log line is (LogSafeText: control bytes
// and broken UTF-8 as \xNN), so that a peer can neither break a line nor send escape sequences
// to a terminal.
std::string LogLineText(std::string_view text);

}  // namespace vn::net
