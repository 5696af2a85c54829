// Socket layer over socketpair(): buffered reads, complete writes, errors.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <thread>
#include <vector>

#include "listener.h"
#include "text_routines.h"
#include "winshoe_socket.h"

using namespace vn::net;

namespace {

// One end wrapped in a TWinshoeSocket, the other a raw descriptor playing the peer.
struct SocketPair {
  TWinshoeSocket sock;
  int peer = -1;
  SocketPair() {
    int fds[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    sock.SetHandle(fds[0]);
    peer = fds[1];
  }
  ~SocketPair() {
    if (peer != -1) ::close(peer);
  }
  void Send(std::string_view text) const {
    ASSERT_EQ(::send(peer, text.data(), text.size(), MSG_NOSIGNAL), static_cast<ssize_t>(text.size()));
  }
  void ClosePeer() {
    ::close(peer);
    peer = -1;
  }
  std::string ReceiveAll() const {
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = ::recv(peer, buf, sizeof buf, MSG_DONTWAIT)) > 0) out.append(buf, static_cast<size_t>(n));
    return out;
  }
};

}  // namespace

TEST(SocketLayer, ReadLnJoinsSplitLinesAndKeepsLeftoverBytes) {
  SocketPair p;
  std::thread writer([&] {
    p.Send("GET /a");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    p.Send("bc HTTP/1.0\r");  // CR and LF in different receives
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    p.Send("\nHost: x\r\n\r\nrest");
  });
  EXPECT_EQ(p.sock.ReadLn(), "GET /abc HTTP/1.0");
  writer.join();
  EXPECT_EQ(p.sock.ReadLn(), "Host: x");
  EXPECT_EQ(p.sock.ReadLn(), "");
  EXPECT_EQ(p.sock.BufferedBytes(), 4u);
  EXPECT_EQ(p.sock.ReadBuffer(4), "rest");
}

TEST(SocketLayer, ReadBufferReturnsExactCountAcrossReceives) {
  SocketPair p;
  p.sock.SetBufferChunk(3);  // ignored while connected
  EXPECT_EQ(p.sock.BufferChunk(), 8192);
  p.Send("0123");
  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    p.Send("456789\r\n");
  });
  EXPECT_EQ(p.sock.ReadBuffer(7), "0123456");
  writer.join();
  EXPECT_EQ(p.sock.ReadLn(), "789");
}

TEST(SocketLayer, PeerClosingMidLineRaisesGracefulCloseAndDisconnects) {
  SocketPair p;
  p.Send("abc");
  p.ClosePeer();
  try {
    p.sock.ReadLn();
    FAIL() << "ReadLn returned";
  } catch (const EWinshoeConnClosedGraceful& e) {
    EXPECT_STREQ(e.what(), "Connection Closed Gracefully.");
  }
  EXPECT_FALSE(p.sock.Connected());
  EXPECT_TRUE(p.sock.ClosedGracefully());
  // Further reads on the closed socket raise rather than block or crash.
  EXPECT_THROW(p.sock.ReadLn(), EWinshoeSocketError);
}

TEST(SocketLayer, WritesToGonePeerRaiseWithoutSignal) {
  SocketPair p;
  p.sock.Write("hello");
  EXPECT_EQ(p.ReceiveAll(), "hello");
  p.ClosePeer();
  // A default SIGPIPE would kill the test process here.
  try {
    for (int i = 0; i < 4; ++i) p.sock.Write(std::string(65536, 'x'));
    FAIL() << "no error raised";
  } catch (const EWinshoeSocketError& e) {
    EXPECT_EQ(e.LastError(), WSAESHUTDOWN);
    EXPECT_EQ(std::string(e.what()),
              "Socket Error #10058\r\nCannot send or receive after socket is closed.");
  }
  EXPECT_FALSE(p.sock.Connected());
  // An empty write on the closed socket is a no-op; anything else reports the closed socket.
  EXPECT_NO_THROW(p.sock.Write(""));
  try {
    p.sock.Write("x");
    FAIL();
  } catch (const EWinshoeClosedSocket& e) {
    EXPECT_STREQ(e.what(), "Socket is closed, cannot write");
  }
}

TEST(SocketLayer, FileWritesToGonePeerRaiseWithoutSignal) {
  // A reply sent from an in-memory file (the quote server's kept replies) to a peer that went.
  const int file = ::memfd_create("reply", MFD_CLOEXEC);
  ASSERT_GE(file, 0);
  const std::string text(1 << 20, 'x');
  ASSERT_EQ(::write(file, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  SocketPair p;
  p.ClosePeer();
  // A default SIGPIPE would kill the test process here.
  EXPECT_THROW(p.sock.WriteFile(file, text.size()), EWinshoeSocketError);
  ::close(file);
  // The signal is neither left pending nor held back afterwards.
  sigset_t pending, blocked;
  sigpending(&pending);
  pthread_sigmask(SIG_BLOCK, nullptr, &blocked);
  EXPECT_FALSE(sigismember(&pending, SIGPIPE));
  EXPECT_FALSE(sigismember(&blocked, SIGPIPE));
}

TEST(SocketLayer, ErrorTextsAndErrnoMapping) {
  EXPECT_EQ(SocketErrorText(10035), "Socket Error #10035\r\nOperation would block. ");
  EXPECT_EQ(SocketErrorText(10048), "Socket Error #10048\r\nAddress already in use.");
  EXPECT_EQ(SocketErrorText(12345), "Socket Error #12345\r\n");
  EXPECT_EQ(WinsockErrorFromErrno(EAGAIN), 10035);
  EXPECT_EQ(WinsockErrorFromErrno(ECONNRESET), 10054);
  EXPECT_EQ(WinsockErrorFromErrno(EPIPE), 10058);
  EXPECT_EQ(WinsockErrorFromErrno(ETIMEDOUT), 10060);
  EXPECT_EQ(WinsockErrorFromErrno(ECONNREFUSED), 10061);
  EXPECT_EQ(WinsockErrorFromErrno(EMFILE), 10024);
}

TEST(SocketLayer, LongLinesAndTooManyHeaderLinesAreRefused) {
  {
    SocketPair p;
    p.Send(std::string(100, 'a'));  // no CRLF: must not wait for more once over the limit
    EXPECT_THROW(p.sock.ReadLn(50), EWinshoeException);
  }
  {
    SocketPair p;
    p.Send(std::string(50, 'a') + "\r\n" + std::string(51, 'b') + "\r\n");
    EXPECT_EQ(p.sock.ReadLn(50).size(), 50u);
    EXPECT_THROW(p.sock.ReadLn(50), EWinshoeException);
  }
  {
    SocketPair p;
    std::string head;
    for (int i = 0; i < 5; ++i) head += "X-" + std::to_string(i) + ": v\r\n";
    p.Send(head + "\r\n");
    THeaderList list;
    EXPECT_THROW(p.sock.CaptureHeader(list, 4), EWinshoeException);
  }
}

TEST(SocketLayer, CaptureHeaderJoinsContinuationsAndSplitsNames) {
  SocketPair p;
  p.Send("Host: example\r\nX-Long: one\r\n\t two \r\n  three\r\nNoColon\r\nEmpty:\r\n\r\nBODY");
  THeaderList list;
  p.sock.CaptureHeader(list);
  ASSERT_EQ(list.Count(), 4u);
  EXPECT_EQ(list.Values("host"), "example");
  EXPECT_EQ(list.Values("X-Long"), "one two three");
  EXPECT_EQ(list[2].first, "NoColon");
  EXPECT_TRUE(list.Has("Empty"));
  EXPECT_EQ(p.sock.ReadBuffer(4), "BODY");

  // A continuation with nothing to continue is a malformed header.
  SocketPair q;
  q.Send(" folded\r\n\r\n");
  THeaderList other;
  EXPECT_THROW(q.sock.CaptureHeader(other), EWinshoeException);
}

TEST(SocketLayer, WriteHeaderCannotBeSplitByLineBreaksInValues) {
  SocketPair p;
  THeaderList list;
  list.Add("X-A", "1\r\nSet-Cookie: evil");
  p.sock.WriteHeader(list);
  EXPECT_EQ(p.ReceiveAll(), "X-A: 1  Set-Cookie: evil\r\n\r\n");
}

TEST(SocketLayer, DeadlineEndsAWaitForASilentPeer) {
  SocketPair p;
  p.sock.SetDeadline(TWinshoeSocket::Clock::now() + std::chrono::milliseconds(50));
  try {
    p.sock.ReadLn();
    FAIL();
  } catch (const EWinshoeSocketError& e) {
    EXPECT_EQ(e.LastError(), WSAETIMEDOUT);
  }
}

TEST(SocketLayer, WakeUpFromAnotherThreadEndsABlockedRead) {
  SocketPair p;
  std::thread waker([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    p.sock.WakeUp();
  });
  EXPECT_THROW(p.sock.ReadLn(), EWinshoeConnClosedGraceful);
  waker.join();
}

TEST(SocketLayer, AsciiFilterClearsTheTopBit) {
  SocketPair p;
  p.sock.ASCIIFilter = true;
  p.Send("\xC1\xE2\r\n");
  EXPECT_EQ(p.sock.ReadLn(), "Ab");
}

TEST(SocketLayer, BindToAPortInUseReportsIt) {
  TWinshoe first;
  first.BoundIP = "127.0.0.1";
  first.AllocateSocket();
  first.Bind();
  first.Listen();
  TWinshoe second;
  second.BoundIP = "127.0.0.1";
  second.Port = first.BoundPort();
  second.AllocateSocket();
  try {
    second.Bind();
    FAIL();
  } catch (const EWinshoeException& e) {
    EXPECT_STREQ(e.what(), "Could not bind socket. Address and port are already in use.");
  }
}

// The watchers' events: progress once per kilobyte passed, and every piece as it went.
TEST(SocketLayer, WorkAndDebugEventsSeeEveryPieceAndEachKilobyte) {
  SocketPair p;
  std::vector<int64_t> work;
  std::vector<std::string> read, written, status;
  p.sock.OnWork = [&](TWinshoeSocket&, int64_t bytes) { work.push_back(bytes); };
  p.sock.OnDebugRead = [&](TWinshoeSocket&, std::string_view piece) { read.emplace_back(piece); };
  p.sock.OnDebugWrite = [&](TWinshoeSocket&, std::string_view piece) { written.emplace_back(piece); };
  p.sock.OnStatus = [&](TWinshoeSocket&, const std::string& text) { status.push_back(text); };
  // Six receives of 500 bytes: the totals 1,500 and 2,500 pass the first two kilobytes.
  for (int i = 0; i < 6; ++i) {
    const std::string piece(500, static_cast<char>('a' + i));
    p.Send(piece);
    EXPECT_EQ(p.sock.ReadBuffer(500), piece);
  }
  EXPECT_EQ(work, (std::vector<int64_t>{1500, 2500}));
  ASSERT_EQ(read.size(), 6u);
  EXPECT_EQ(read[5], std::string(500, 'f'));
  p.sock.WriteLn("hello");
  p.sock.Write("");
  EXPECT_EQ(written, (std::vector<std::string>{"hello\r\n"}));
  EXPECT_EQ(p.ReceiveAll(), "hello\r\n");
  // Bytes beyond the peer's room go in several pieces; together they are what was sent.
  const std::string big(4 << 20, 'x');
  std::thread reader([&] {
    std::string got;
    char buf[65536];
    while (got.size() < big.size()) {
      const ssize_t n = ::recv(p.peer, buf, sizeof buf, 0);
      if (n <= 0) break;
      got.append(buf, static_cast<size_t>(n));
    }
    EXPECT_EQ(got.size(), big.size());
  });
  written.clear();
  p.sock.Write(big);
  reader.join();
  size_t total = 0;
  for (const std::string& w : written) total += w.size();
  EXPECT_GT(written.size(), 1u);
  EXPECT_EQ(total, big.size());
  p.sock.Disconnect();
  EXPECT_EQ(status, (std::vector<std::string>{"Disconnected."}));
}

TEST(SocketLayer, CaptureIntoAStreamTheListenersEventOrNothingElse) {
  SocketPair p;
  p.Send("one\r\n..two\r\n.\r\nthree\r\nEND\r\n");
  std::ostringstream stream;
  EXPECT_EQ(p.sock.Capture(stream, {".", "END"}), 1);
  EXPECT_EQ(stream.str(), "one\r\n.two\r\n");
  // Another kind of target is refused before a line is taken.
  int other = 0;
  try {
    p.sock.Capture(other, {"END"});
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "objc type not supported.");
  }
  std::vector<std::string> list;
  EXPECT_EQ(p.sock.Capture(list, {".", "STOP", "END"}), 3);
  EXPECT_EQ(list, std::vector<std::string>{"three"});

  // Without a target a served connection hands the lines to its listener's event.
  TWinshoeListener listener;
  std::vector<std::string> captured;
  listener.OnCapture = [&](TWinshoeServer&, const std::string& line) { captured.push_back(line); };
  TWinshoeServer connection(&listener);
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
  connection.SetHandle(fds[0]);
  ASSERT_EQ(::send(fds[1], "a\r\nb\r\n.\r\n", 9, MSG_NOSIGNAL), 9);
  EXPECT_EQ(connection.Capture(nullptr, {"."}), 1);
  EXPECT_EQ(captured, (std::vector<std::string>{"a", "b"}));
  ::close(fds[1]);
}

TEST(SocketLayer, TextRoutines) {
  EXPECT_EQ(MinIntValue(std::vector<int>{4, -2, 7}), -2);
  EXPECT_EQ(MinIntValue(std::vector<int>{}), 0);
  std::ostringstream out;
  WriteToStream(out, "a");
  WriteLnToStream(out, "b");
  EXPECT_EQ(out.str(), "ab\r\n");
  // The first occurrence, every one, either case, or both.
  EXPECT_EQ(ReplaceText("xAxaxa", "a", "b", 0), "xAxbxa");
  EXPECT_EQ(ReplaceText("xAxaxa", "a", "b", ReplaceAll), "xAxbxb");
  EXPECT_EQ(ReplaceText("xAxaxa", "a", "b", ReplaceIgnoreCase), "xbxaxa");
  EXPECT_EQ(ReplaceText("xAxaxa", "a", "b", ReplaceAll | ReplaceIgnoreCase), "xbxbxb");
  // A replacement holding the pattern is not replaced again; an empty pattern changes nothing.
  EXPECT_EQ(ReplaceText("aa", "a", "aa", ReplaceAll), "aaaa");
  EXPECT_EQ(ReplaceText("abc", "", "x", ReplaceAll), "abc");
  EXPECT_EQ(ReplaceText("abc", "abcd", "x", ReplaceAll), "abc");
}
