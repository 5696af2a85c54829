#include <gtest/gtest.h>

#include <random>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "streaming/client/http_streamer.h"

TEST(HttpStreamer, GrowsReadsAndPeeks) {
  THTTPStreamer q("a name longer than twenty characters");
  EXPECT_EQ(q.Name().size(), 20u);
  std::vector<char> bytes(600, 'x');
  q.Write(bytes.data(), bytes.size());
  EXPECT_EQ(q.Capacity(), 1000u);

  THTTPStreamer full("full");
  std::vector<char> b500(500, 'y');
  full.Write(b500.data(), 500);
  EXPECT_EQ(full.Capacity(), 500u);
  full.Write("z", 1);
  EXPECT_EQ(full.Capacity(), 1000u);

  THTTPStreamer p("peek");
  p.Write("\x01\x02\x03", 3);
  char out[4] = {0};
  EXPECT_FALSE(p.Read(out, 4));  // too few: nothing changes
  EXPECT_TRUE(p.Read(out, 2, true));
  EXPECT_EQ(p.Queued(), 3u);
  int32_t v = 0;
  ASSERT_TRUE(p.ReadInt24(v));
  EXPECT_EQ(v, 197121);

  THTTPStreamer w("word");
  std::string body(258, 'k');
  w.Write("\x01\x02", 2);
  w.Write(body.data(), body.size());
  std::string s;
  ASSERT_TRUE(w.ReadWordStr(s));
  EXPECT_EQ(s, body);
}

// Bytes that wrap around the ring's end come out in order.
TEST(HttpStreamer, WrapsAroundTheBufferEnd) {
  THTTPStreamer q("wrap");
  std::vector<char> a(400, 'a');
  q.Write(a.data(), a.size());
  char sink[400];
  ASSERT_TRUE(q.Read(sink, 300));
  std::string b = "0123456789" + std::string(190, 'b');  // 100 + 200 fits 500 without growing
  q.Write(b.data(), b.size());
  EXPECT_EQ(q.Capacity(), 500u);
  ASSERT_TRUE(q.Read(sink, 100));
  std::string back(200, '\0');
  ASSERT_TRUE(q.Read(back.data(), 200));
  EXPECT_EQ(back, b);
}

// One writer and one reader on random chunk sizes, with a small cap so the writer waits for
// room: every byte is read once, in order.
TEST(HttpStreamer, EveryByteReadOnceInOrder) {
  for (int round = 0; round < 6; ++round) {
    THTTPStreamer q("prop");
    q.SetMaxCapacity(700 + round * 300);
    const size_t total = 200000;
    std::thread writer([&] {
      std::mt19937 rng(round);
      std::vector<char> chunk;
      size_t sent = 0;
      while (sent < total) {
        const size_t n = std::min<size_t>(total - sent, 1 + rng() % (round % 2 ? 3000 : 40));
        chunk.resize(n);
        for (size_t i = 0; i < n; ++i) chunk[i] = static_cast<char>((sent + i) * 31 % 251);
        q.Write(chunk.data(), n);
        sent += n;
      }
    });
    std::mt19937 rng(round + 100);
    size_t got = 0;
    bool ok = true;
    std::vector<char> buf;
    while (got < total && ok) {
      const size_t n = std::min<size_t>(total - got, 1 + rng() % 500);
      buf.resize(n);
      if (rng() % 3 == 0) {
        for (size_t i = 0; i < n; ++i) {
          uint8_t b;
          ASSERT_TRUE(q.ReadByte(b));
          buf[i] = static_cast<char>(b);
        }
      } else {
        ASSERT_TRUE(q.ReadBytes(buf.data(), n));
      }
      for (size_t i = 0; i < n && ok; ++i) ok = buf[i] == static_cast<char>((got + i) * 31 % 251);
      got += n;
    }
    writer.join();
    EXPECT_TRUE(ok) << "round " << round;
    EXPECT_EQ(q.Queued(), 0u);
    EXPECT_LE(q.Capacity(), static_cast<size_t>(700 + round * 300));
  }
}

TEST(HttpStreamer, BlockedReadersAndWritersGiveUp) {
  // The stop flag releases a blocked reader.
  THTTPStreamer q("stop");
  std::thread t([&] {
    q.WaitForBytes(1, 200);  // the reader is surely waiting by then, or already released
    q.SetTerminated(true);
  });
  std::string s;
  EXPECT_FALSE(q.ReadShortStr(s));
  t.join();
  EXPECT_TRUE(s.empty());

  // A request that ended releases a reader that waits for a record's rest.
  THTTPStreamer e("end");
  e.Write("\x05" "ab", 3);
  std::atomic<bool> ended{false};
  e.SetEndProbe([&] { return ended.load(); });
  std::thread t2([&] { ended = true; });
  EXPECT_FALSE(e.ReadShortStr(s));
  t2.join();

  // A value longer than the cap still comes through.
  THTTPStreamer small("small");
  small.SetMaxCapacity(500);
  std::string sent(3000, '\0');
  for (size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>(i % 199);
  std::thread t3([&] {
    const std::string head{static_cast<char>(sent.size() >> 8), static_cast<char>(sent.size() & 255)};
    small.Write(head.data(), 2);
    small.Write(sent.data(), sent.size());
  });
  ASSERT_TRUE(small.ReadWordStr(s));
  t3.join();
  EXPECT_EQ(s, sent);

  // A writer at the cap fails rather than drop bytes: at its deadline, and when stopped.
  THTTPStreamer f("cap");
  f.SetMaxCapacity(500);
  f.SetWriteWaitMs(50);
  std::vector<char> big(800, 'q');
  EXPECT_THROW(f.Write(big.data(), big.size()), EQueueFull);
  f.SetTerminated(true);
  EXPECT_THROW(f.Write("x", 1), EQueueFull);
}

TEST(HttpStreamer, MeterForgetsAfterThirtySeconds) {
  const int64_t realTick = TickMs();
  TestClock clock;
  clock.Advance(realTick + 60000);
  ScopedClock scoped(clock);
  MeterBandwidth(0);  // older records go
  const int64_t before = BandwidthBytes.load();
  THTTPStreamer q("metered");
  q.Write("12345", 5);
  clock.Advance(200);
  q.Write("678", 3);
  EXPECT_EQ(BandwidthBytes.load(), before + 8);
  clock.Advance(29000);
  MeterBandwidth(0);
  EXPECT_EQ(BandwidthBytes.load(), before + 8);
  clock.Advance(31000);
  MeterBandwidth(0);
  EXPECT_EQ(BandwidthBytes.load(), 0);
  THTTPStreamer quiet("quiet", true);
  quiet.Write("abc", 3);
  EXPECT_EQ(BandwidthBytes.load(), 0);
}
