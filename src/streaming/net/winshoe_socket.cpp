#include "winshoe_socket.h"

#include "net_log.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <istream>
#include <ostream>
#include <stdexcept>

namespace vn::net {

namespace {
std::mutex libraryMutex;
int libraryUsers = 0;
}  // namespace

void WinshoeLibraryStart() {
  std::lock_guard lock(libraryMutex);
  ++libraryUsers;
}

void WinshoeLibraryEnd() {
  std::lock_guard lock(libraryMutex);
  if (libraryUsers == 0 || --libraryUsers > 0) return;
  NetLog("WinShoes");
  NetLog("WinShoesZ");
}

// ---- TWinshoe ---------------------------------------------------------------------------

TWinshoe::~TWinshoe() {
  TWinshoe::CloseSocket();
}

void TWinshoe::SetHandleValue(int fd) {
  std::lock_guard lock(fHandleMutex);
  fHandle.store(fd, std::memory_order_release);
}

void TWinshoe::CloseSocket() {
  // Closed under the lock so that WakeUp never shuts down a reused descriptor number.
  std::lock_guard lock(fHandleMutex);
  const int fd = fHandle.exchange(-1);
  if (fd != -1) ::close(fd);
}

void TWinshoe::Disconnect() {
  if (Connected()) CloseSocket();
}

void TWinshoe::WakeUp() {
  std::lock_guard lock(fHandleMutex);
  const int fd = fHandle.load();
  if (fd != -1) ::shutdown(fd, SHUT_RDWR);
}

void TWinshoe::AllocateSocket() {
  CloseSocket();
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd == -1) throw EWinshoeInvalidSocket("Cannot allocate socket.");
  SetHandleValue(fd);
}

void TWinshoe::Bind() {
  const int fd = Handle();
  const int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(Port));
  if (BoundIP.empty()) {
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
  } else if (::inet_pton(AF_INET, BoundIP.c_str(), &addr.sin_addr) != 1) {
    throw EWinshoeSocketError(10049);
  }
  const int rc = ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
  if (CheckError(rc, {WSAEADDRINUSE}))
    throw EWinshoeException("Could not bind socket. Address and port are already in use.");
}

void TWinshoe::Listen(int backlog) {
  CheckError(::listen(Handle(), backlog));
}

int TWinshoe::BoundPort() const {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  if (::getsockname(Handle(), reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
  return ntohs(addr.sin_port);
}

bool TWinshoe::CheckError(int result, std::initializer_list<int> accepted) const {
  if (result != -1) return false;
  const int err = WinsockErrorFromErrno(errno);
  for (int a : accepted)
    if (a == err) return true;
  throw EWinshoeSocketError(err);
}

// ---- TWinshoeSocket ---------------------------------------------------------------------

void TWinshoeSocket::SetBufferChunk(int value) {
  if (!Connected() && value > 0) fBufferChunk = value;
}

void TWinshoeSocket::SetHandle(int fd) {
  CloseSocket();
  fBuffer.clear();
  fStart = fScanned = 0;
  fClosedGracefully = false;
  fWorkBytes = 0;
  SetHandleValue(fd);
  if (fd != -1) Status("Connected.");
}

void TWinshoeSocket::Disconnect() {
  if (!Connected()) return;
  TWinshoe::Disconnect();
  Status("Disconnected.");
}

void TWinshoeSocket::CountWork(size_t bytes) {
  const int64_t before = fWorkBytes;
  fWorkBytes += static_cast<int64_t>(bytes);
  if (OnWork && fWorkBytes / 1024 != before / 1024) OnWork(*this, fWorkBytes);
}

void TWinshoeSocket::RaiseSocketError(int err) {
  const int n = WinsockErrorFromErrno(err);
  if (n == WSAESHUTDOWN) Disconnect();
  throw EWinshoeSocketError(n);
}

void TWinshoeSocket::WaitFor(short events) {
  for (;;) {
    int timeout = -1;
    if (fDeadline != Clock::time_point::max()) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(fDeadline - Clock::now()).count();
      if (left <= 0) throw EWinshoeSocketError(WSAETIMEDOUT);
      timeout = left > 60000 ? 60000 : static_cast<int>(left) + 1;
    }
    pollfd p{Handle(), events, 0};
    const int rc = ::poll(&p, 1, timeout);
    if (rc > 0) return;
    if (rc < 0 && errno != EINTR) RaiseSocketError(errno);
  }
}

void TWinshoeSocket::ReadFromStack() {
  if (!Connected()) throw EWinshoeSocketError(10057);
  // Drop consumed bytes once they dominate the buffer, so it does not creep.
  if (fStart > 0 && (fStart >= fBuffer.size() / 2 || fStart > static_cast<size_t>(fBufferChunk))) {
    fBuffer.erase(0, fStart);
    fStart = 0;
  }
  const size_t old = fBuffer.size();
  fBuffer.resize(old + static_cast<size_t>(fBufferChunk));
  ssize_t n;
  for (;;) {
    n = ::recv(Handle(), fBuffer.data() + old, static_cast<size_t>(fBufferChunk), MSG_DONTWAIT);
    if (n >= 0) break;
    const int err = errno;
    if (err == EINTR) continue;
    if (err == EAGAIN || err == EWOULDBLOCK) {
      try {
        WaitFor(POLLIN);
      } catch (...) {
        fBuffer.resize(old);
        throw;
      }
      continue;
    }
    fBuffer.resize(old);
    RaiseSocketError(err);
  }
  fBuffer.resize(old + static_cast<size_t>(n));
  if (n == 0) {
    fClosedGracefully = true;
    Disconnect();
    throw EWinshoeConnClosedGraceful("Connection Closed Gracefully.");
  }
  if (OnDebugRead) OnDebugRead(*this, std::string_view(fBuffer).substr(old));
  CountWork(static_cast<size_t>(n));
  if (ASCIIFilter)
    for (size_t i = old; i < fBuffer.size(); ++i) fBuffer[i] = static_cast<char>(fBuffer[i] & 0x7F);
  Touch();
}

void TWinshoeSocket::Taken() {
  fScanned = 0;
  // A long line (a quote request of thousands of symbols) leaves a large buffer behind: it is
  // not kept for the rest of the connection, only the bytes still unread.
  if (fBuffer.capacity() > kKeptBufferBytes && fBuffer.size() - fStart <= kKeptBufferBytes) {
    std::string(fBuffer, fStart).swap(fBuffer);
    fStart = 0;
  } else if (fStart == fBuffer.size()) {
    fBuffer.clear();
    fStart = 0;
  }
}

std::string TWinshoeSocket::ReadLn(size_t maxLength) {
  for (;;) {
    const size_t from = fStart + fScanned;
    // A line ends in LF, with or without a CR before it (HTTP/1.1 allows a bare LF).
    const size_t pos = fBuffer.find('\n', from);
    if (pos != std::string::npos) {
      const size_t len = pos - fStart - (pos > fStart && fBuffer[pos - 1] == '\r' ? 1 : 0);
      if (len > maxLength) throw EWinshoeLineTooLong();
      std::string line = fBuffer.substr(fStart, len);
      fStart = pos + 1;
      Taken();
      return line;
    }
    const size_t avail = fBuffer.size() - fStart;
    fScanned = avail;
    // A CR at the very end may still be followed by its LF.
    if (avail - (avail > 0 && fBuffer.back() == '\r' ? 1 : 0) > maxLength) throw EWinshoeLineTooLong();
    ReadFromStack();
  }
}

std::string TWinshoeSocket::ReadBuffer(size_t count) {
  if (count == 0) {
    ReadFromStack();
    return {};
  }
  while (fBuffer.size() - fStart < count) ReadFromStack();
  std::string out = fBuffer.substr(fStart, count);
  fStart += count;
  Taken();
  return out;
}

void TWinshoeSocket::Write(std::string_view text, bool more) {
  if (text.empty()) return;
  if (!Connected()) throw EWinshoeClosedSocket("Socket is closed, cannot write");
  size_t sent = 0;
  while (sent < text.size()) {
    const ssize_t n = ::send(Handle(), text.data() + sent, text.size() - sent,
                             MSG_NOSIGNAL | MSG_DONTWAIT | (more ? MSG_MORE : 0));
    if (n > 0) {
      if (OnDebugWrite) OnDebugWrite(*this, text.substr(sent, static_cast<size_t>(n)));
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n == 0) {
      fClosedGracefully = true;
      Disconnect();
      throw EWinshoeConnClosedGraceful("Connection Closed Gracefully.");
    }
    const int err = errno;
    if (err == EINTR) continue;
    if (err == EAGAIN || err == EWOULDBLOCK) {
      WaitFor(POLLOUT);
      continue;
    }
    RaiseSocketError(err);
  }
}

namespace {
// sendfile has no MSG_NOSIGNAL: while it runs, a peer that has gone raises SIGPIPE, which would
// end the program. The signal is held back for this thread and any that came is taken away.
class NoPipeSignal {
public:
  NoPipeSignal() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    wasPending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
  }
  ~NoPipeSignal() {
    if (!wasPending_) {
      const timespec none{0, 0};
      while (sigtimedwait(&pipe_, nullptr, &none) == SIGPIPE) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  NoPipeSignal(const NoPipeSignal&) = delete;
  NoPipeSignal& operator=(const NoPipeSignal&) = delete;

private:
  sigset_t pipe_, old_;
  bool wasPending_ = false;
};
}  // namespace

void TWinshoeSocket::WriteFile(int fd, size_t size) {
  if (!Connected()) throw EWinshoeClosedSocket("Socket is closed, cannot write");
  off_t offset = 0;
  while (static_cast<size_t>(offset) < size) {
    const off_t from = offset;
    ssize_t n;
    int err = 0;
    {
      NoPipeSignal held;
      n = ::sendfile(Handle(), fd, &offset, size - static_cast<size_t>(offset));
      if (n < 0) err = errno;
    }
    if (n > 0) {
      if (OnDebugWrite) {
        // The kernel sent the piece straight from the file; the hook reads it back from there.
        std::string piece(static_cast<size_t>(n), '\0');
        const ssize_t got = ::pread(fd, piece.data(), piece.size(), from);
        piece.resize(got > 0 ? static_cast<size_t>(got) : 0);
        OnDebugWrite(*this, piece);
      }
      continue;
    }
    if (n == 0) RaiseSocketError(EIO);  // the file is shorter than it should be
    if (err == EINTR) continue;
    if (err == EAGAIN || err == EWOULDBLOCK) {
      WaitFor(POLLOUT);
      continue;
    }
    RaiseSocketError(err);
  }
}

void TWinshoeSocket::WriteStream(std::istream& stream) {
  char chunk[8192];
  while (stream) {
    stream.read(chunk, sizeof chunk);
    const std::streamsize got = stream.gcount();
    if (got <= 0) break;
    Write(std::string_view(chunk, static_cast<size_t>(got)));
  }
}

int TWinshoeSocket::Capture(const TCaptureTarget& target,
                            const std::vector<std::string>& markers, size_t maxLines,
                            size_t maxBytes) {
  if (target.Unsupported()) throw std::runtime_error("objc type not supported.");
  const bool dotted = !markers.empty() && markers[0] == ".";
  size_t bytes = 0;
  size_t lines = 0;
  for (;;) {
    const size_t room = maxBytes - bytes;
    std::string line = ReadLn(room);
    for (size_t i = 0; i < markers.size(); ++i)
      if (line == markers[i]) return static_cast<int>(i) + 1;
    bytes += line.size() + 2;
    if (bytes > maxBytes) throw EWinshoeException("Header is too long.");
    if (lines++ >= maxLines) throw EWinshoeException("Too many header lines.");
    if (dotted && line.size() >= 2 && line[0] == '.' && line[1] == '.') line.erase(0, 1);
    if (std::vector<std::string>* list = target.List()) {
      list->push_back(std::move(line));
    } else if (std::ostream* stream = target.Stream()) {
      WriteLnToStream(*stream, line);
    } else {
      CaptureLine(line);
    }
  }
}

void TWinshoeSocket::CaptureHeader(THeaderList& list, size_t maxLines, size_t maxBytes) {
  std::vector<std::string> lines;
  Capture(lines, {""}, maxLines, maxBytes);
  AddHeaderLines(list, lines);
}

void AddHeaderLines(THeaderList& list, std::vector<std::string>& lines) {
  for (std::string& line : lines) {
    if (!line.empty() && (line[0] == ' ' || line[0] == '\t')) {
      // Folded continuation of the line before.
      if (list.Empty()) throw EWinshoeException("Error in parsing header.");
      for (char& c : line)
        if (c == '\t') c = ' ';
      std::string& value = list.Back().second;
      if (!value.empty()) value += ' ';
      value += TrimAscii(line);
      continue;
    }
    const size_t colon = line.find(':');
    if (colon == std::string::npos) {
      list.Add(std::move(line), {});
    } else {
      list.Add(line.substr(0, colon), TrimAscii(std::string_view(line).substr(colon + 1)));
    }
  }
}

namespace {
// Header text never carries a line break of its own: that would let a value forge headers.
void AppendHeaderText(std::string& out, std::string_view text) {
  for (char c : text) out += (c == '\r' || c == '\n') ? ' ' : c;
}
}  // namespace

std::string HeaderText(const THeaderList& list) {
  std::string out;
  for (const auto& [name, value] : list) {
    AppendHeaderText(out, name);
    out += ": ";
    AppendHeaderText(out, value);
    out += "\r\n";
  }
  out += "\r\n";
  return out;
}

void TWinshoeSocket::WriteHeader(const THeaderList& list) {
  Write(HeaderText(list));
}

bool TWinshoeSocket::PendingInput() const {
  int n = 0;
  if (!Connected() || ::ioctl(Handle(), FIONREAD, &n) != 0) return false;
  return n > 0;
}

void TWinshoeSocket::LingeringClose(std::chrono::milliseconds maxWait, size_t maxBytes) {
  if (!Connected()) return;
  const int fd = Handle();
  ::shutdown(fd, SHUT_WR);
  const auto deadline = Clock::now() + maxWait;
  size_t drained = 0;
  char sink[4096];
  while (drained < maxBytes) {
    const ssize_t n = ::recv(fd, sink, sizeof sink, MSG_DONTWAIT);
    if (n == 0) break;
    if (n > 0) {
      drained += static_cast<size_t>(n);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) break;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left)) <= 0) break;
  }
  CloseSocket();
}

}  // namespace vn::net
