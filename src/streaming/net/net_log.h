#pragma once

#include <functional>
#include <string>

namespace vn::net {

// The socket library reports through this hook; the application routes it into its log.
// The default handler ignores every line.
void SetNetLogHandler(std::function<void(const std::string&)> handler);
void NetLog(const std::string& line);

}  // namespace vn::net
