#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <iosfwd>
#include <limits>
#include <mutex>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "header_list.h"
#include "socket_errors.h"

namespace vn::net {

// The socket library's start and end, counted: the start that comes first and the end that
// goes last do the work. POSIX sockets need no set-up, so the end only writes its log lines,
// "WinShoes" and "WinShoesZ", through NetLog. An owner that uses the library for the whole run
// holds a WinshoeLibraryUse.
void WinshoeLibraryStart();
void WinshoeLibraryEnd();
struct WinshoeLibraryUse {
  WinshoeLibraryUse() { WinshoeLibraryStart(); }
  ~WinshoeLibraryUse() { WinshoeLibraryEnd(); }
  WinshoeLibraryUse(const WinshoeLibraryUse&) = delete;
  WinshoeLibraryUse& operator=(const WinshoeLibraryUse&) = delete;
};

// A socket handle with the bind/listen basics. The handle is closed by the thread that uses
// the socket; other threads only wake that thread with WakeUp().
class TWinshoe {
 public:
  TWinshoe() = default;
  TWinshoe(const TWinshoe&) = delete;
  TWinshoe& operator=(const TWinshoe&) = delete;
  virtual ~TWinshoe();

  static constexpr const char* Version = "7.035B";

  std::string BoundIP;  // empty = every local address
  int Port = 0;

  int Handle() const { return fHandle.load(std::memory_order_acquire); }
  bool Connected() const { return Handle() != -1; }
  virtual void CloseSocket();
  virtual void Disconnect();

  void AllocateSocket();
  void Bind();
  void Listen(int backlog = 5);
  // The port the socket is bound to (useful when Port was 0).
  int BoundPort() const;

  // When result is -1: returns true for an error among the accepted Winsock numbers and
  // raises EWinshoeSocketError for any other. Otherwise returns false.
  bool CheckError(int result, std::initializer_list<int> accepted = {}) const;

  // Shuts the socket down so that a thread blocked on it returns. Safe from any thread.
  void WakeUp();

 protected:
  void SetHandleValue(int fd);

 private:
  std::mutex fHandleMutex;
  std::atomic<int> fHandle{-1};
};

// "name: value" lines and the closing empty line, each ended by CRLF. Line breaks inside
// names and values become blanks.
std::string HeaderText(const THeaderList& list);
// Adds header lines (line ends taken off) to list, joining a line that starts with a blank or
// tab to the one before. Raises when there is no line before it.
void AddHeaderLines(THeaderList& list, std::vector<std::string>& lines);

// Where Capture puts the lines it reads: a list (added), a stream (each line and CRLF), or
// none, which hands them to the socket's capture hook (the listener's capture event for a
// served connection). Any other kind of target is refused when Capture runs.
class TCaptureTarget {
 public:
  TCaptureTarget() = default;
  TCaptureTarget(std::nullptr_t) {}
  TCaptureTarget(std::vector<std::string>& list) : fList(&list) {}
  TCaptureTarget(std::ostream& stream) : fStream(&stream) {}
  template <typename T>
    requires(!std::is_base_of_v<std::ostream, T> && !std::is_same_v<T, std::vector<std::string>>)
  TCaptureTarget(T&) : fOther(true) {}

  std::vector<std::string>* List() const { return fList; }
  std::ostream* Stream() const { return fStream; }
  bool Unsupported() const { return fOther; }

 private:
  std::vector<std::string>* fList = nullptr;
  std::ostream* fStream = nullptr;
  bool fOther = false;
};

// A connected socket with a receive buffer: line and counted reads, complete writes and
// header capture. Used by one thread at a time.
class TWinshoeSocket : public TWinshoe {
 public:
  using Clock = std::chrono::steady_clock;

  TWinshoeSocket() = default;

  bool ASCIIFilter = false;
  int BufferChunk() const { return fBufferChunk; }
  void SetBufferChunk(int value);

  // For callers that watch a connection; the quote server sets none of them. OnStatus hears
  // "Connected." and "Disconnected."; OnWork gets the bytes received so far each time another
  // kilobyte is passed; OnDebugRead and OnDebugWrite get every piece received and sent.
  std::function<void(TWinshoeSocket&, const std::string&)> OnStatus;
  std::function<void(TWinshoeSocket&, int64_t)> OnWork;
  std::function<void(TWinshoeSocket&, std::string_view)> OnDebugRead;
  std::function<void(TWinshoeSocket&, std::string_view)> OnDebugWrite;

  // Adopts a connected socket handle (from accept or socketpair).
  virtual void SetHandle(int fd);
  void Disconnect() override;

  // Reads one line and returns it without its end: LF, or CR LF. A line longer than
  // maxLength raises EWinshoeLineTooLong and leaves what was read unread, so that a caller
  // who sees from Unread() that the line may be longer can read on with a larger limit.
  std::string ReadLn(size_t maxLength = std::numeric_limits<size_t>::max());
  // The received bytes not yet read.
  std::string_view Unread() const { return std::string_view(fBuffer).substr(fStart); }
  // Returns exactly count bytes; count 0 receives once and returns an empty text.
  virtual std::string ReadBuffer(size_t count);

  // more: further bytes follow at once, so the kernel may hold these back to join them.
  void Write(std::string_view text, bool more = false);
  // Sends size bytes of a file from its start, the kernel handing pages over without a copy.
  void WriteFile(int fd, size_t size);
  void WriteLn(std::string_view text) { Write(std::string(text) + "\r\n"); }
  void WriteStream(std::istream& stream);

  // Reads lines into target until a line equals one of the markers; returns the 1-based
  // index of that marker. With "." as first marker a leading ".." loses one point. A target of
  // another kind raises "objc type not supported." before anything is read.
  int Capture(const TCaptureTarget& target, const std::vector<std::string>& markers,
              size_t maxLines = std::numeric_limits<size_t>::max(),
              size_t maxBytes = std::numeric_limits<size_t>::max());
  // Reads header lines up to an empty line, joining continuation lines.
  void CaptureHeader(THeaderList& list, size_t maxLines = std::numeric_limits<size_t>::max(),
                     size_t maxBytes = std::numeric_limits<size_t>::max());
  // Sends "name: value" lines and an empty line, in one write.
  void WriteHeader(const THeaderList& list);

  // Every wait for the peer ends with socket error 10060 at this point in time.
  void SetDeadline(Clock::time_point deadline) { fDeadline = deadline; }
  void ClearDeadline() { fDeadline = Clock::time_point::max(); }

  bool ClosedGracefully() const { return fClosedGracefully; }
  size_t BufferedBytes() const { return fBuffer.size() - fStart; }
  // True when the kernel holds received bytes that nobody has read yet.
  bool PendingInput() const;

  // Ends the sending side, lets the peer read what was sent, and discards what it still
  // sends for at most maxWait / maxBytes, then closes. Avoids a reset that would destroy
  // the reply in the peer's receive queue.
  void LingeringClose(std::chrono::milliseconds maxWait, size_t maxBytes);

 protected:
  // Called after every receive; servers record their last activity here.
  virtual void Touch() {}
  // Takes the lines of a Capture without a target; a plain socket has nobody to give them to.
  virtual void CaptureLine(const std::string& line) { (void)line; }
  // Receives once into the buffer; raises on a closed connection or an error.
  void ReadFromStack();
  // Bytes up to fStart have been taken.
  void Taken();
  static constexpr size_t kKeptBufferBytes = 64 * 1024;

 private:
  void WaitFor(short events);
  [[noreturn]] void RaiseSocketError(int err);

  void CountWork(size_t bytes);
  void Status(const char* text) {
    if (OnStatus) OnStatus(*this, text);
  }

  int fBufferChunk = 8192;
  int64_t fWorkBytes = 0;  // received since the handle was set
  std::string fBuffer;
  size_t fStart = 0;      // first unread byte in fBuffer
  size_t fScanned = 0;    // bytes after fStart known to hold no CRLF
  bool fClosedGracefully = false;
  Clock::time_point fDeadline = Clock::time_point::max();
};

}  // namespace vn::net
