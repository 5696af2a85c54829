#pragma once

#include <stdexcept>
#include <string>

namespace vn::net {

class EWinshoeException : public std::runtime_error {
 public:
  explicit EWinshoeException(const std::string& message) : std::runtime_error(message) {}
};

// Carries a Winsock error number; the message is SocketErrorText(number).
class EWinshoeSocketError : public EWinshoeException {
 public:
  explicit EWinshoeSocketError(int errorNumber);
  int LastError() const { return fLastError; }

 private:
  int fLastError;
};

class EWinshoeResponseError : public EWinshoeException {
  using EWinshoeException::EWinshoeException;
};
class EWinshoeClosedSocket : public EWinshoeException {
  using EWinshoeException::EWinshoeException;
};
class EWinshoeInvalidSocket : public EWinshoeException {
  using EWinshoeException::EWinshoeException;
};
class EWinshoeSilentException : public EWinshoeException {
  using EWinshoeException::EWinshoeException;
};
class EWinshoeConnClosedGraceful : public EWinshoeException {
  using EWinshoeException::EWinshoeException;
};
// A line passed the reader's limit; the bytes read so far stay unread.
class EWinshoeLineTooLong : public EWinshoeException {
 public:
  EWinshoeLineTooLong() : EWinshoeException("Line is too long.") {}
};

// Winsock error numbers used by the library by name.
inline constexpr int WSAEINTR = 10004;
inline constexpr int WSAEWOULDBLOCK = 10035;
inline constexpr int WSAEADDRINUSE = 10048;
inline constexpr int WSAECONNABORTED = 10053;
inline constexpr int WSAECONNRESET = 10054;
inline constexpr int WSAESHUTDOWN = 10058;
inline constexpr int WSAETIMEDOUT = 10060;

// The Winsock number for a POSIX errno value; errno values without a Winsock twin
// become 10000 + errno (the Winsock numbering scheme), which carry no message.
int WinsockErrorFromErrno(int err);

// "Socket Error #" + number + CRLF + the fixed message (none for an unlisted number).
std::string SocketErrorText(int errorNumber);

}  // namespace vn::net
