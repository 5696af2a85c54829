// Socket layer over socketpair(): buffered reads, complete writes, errors.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

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
