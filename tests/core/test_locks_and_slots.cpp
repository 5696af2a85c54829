#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "core/error_report.h"
#include "core/locks.h"
#include "core/result_slots.h"
#include "platform/clock.h"
#include "platform/messages.h"

namespace {
struct ReportCatcher {
  std::atomic<int> count{0};
  std::string message, position;
  ReportCatcher() {
    SetErrorReportHandler([this](const std::string& m, const std::string& p) {
      message = m;
      position = p;
      ++count;
    });
  }
  ~ReportCatcher() { SetErrorReportHandler(nullptr); }
};
}  // namespace

TEST(MyCriticalSection, TryEntryGivesUpAndDeadlockIsReported) {
  TestClock clock(0);
  ScopedClock use(clock);
  ReportCatcher reports;
  MyCriticalSection cs("TESTLOCK");
  EXPECT_EQ(cs.Owner(), "EMPTY");
  ASSERT_TRUE(cs.Enter("holder"));
  EXPECT_EQ(cs.Owner(), "holder");

  bool got = true;
  std::thread t([&] { got = cs.Enter("trier", true); });
  t.join();
  EXPECT_FALSE(got);
  EXPECT_EQ(reports.count, 0);
  EXPECT_GE(clock.TickMs(), MyCriticalSection::TryRounds * MyCriticalSection::RoundMs);

  std::thread w([&] { got = cs.Enter("waiter", false); });
  w.join();
  EXPECT_FALSE(got);
  EXPECT_EQ(reports.count, 1);
  EXPECT_EQ(reports.position, "DEADLOCK!");
  EXPECT_NE(reports.message.find("TESTLOCK"), std::string::npos);
  EXPECT_NE(reports.message.find("holder"), std::string::npos);
  // The failed entries did not disturb the holder.
  EXPECT_EQ(cs.Owner(), "holder");
  cs.Leave();
  EXPECT_EQ(cs.Owner(), "EMPTY");
  EXPECT_TRUE(cs.Enter("next", true));
  cs.Leave();
}

TEST(MyCriticalSection, ShutDownEndsWaitsWithoutTheReportAndTryNowNeverWaits) {
  TestClock clock(0);
  ScopedClock use(clock);
  ReportCatcher reports;
  MyCriticalSection cs("SHUT");
  ASSERT_TRUE(cs.Enter("holder"));
  EXPECT_FALSE(cs.TryEnterNow("painter"));
  EXPECT_EQ(clock.TickMs(), 1);  // not a single round waited
  ShuttingDown = true;
  bool got = true;
  std::thread w([&] { got = cs.Enter("closing", false); });
  w.join();
  ShuttingDown = false;
  EXPECT_FALSE(got);
  EXPECT_EQ(reports.count, 0);
  EXPECT_EQ(cs.Owner(), "holder");
  cs.Leave();
  EXPECT_TRUE(cs.TryEnterNow("painter"));
  cs.Leave();
}

TEST(MyCriticalSection, WaiterGetsTheLockOnceFreed) {
  MyCriticalSection cs("X");
  ASSERT_TRUE(cs.Enter("a"));
  std::atomic<bool> started{false}, released{false}, got{false}, gotWhileHeld{false};
  std::thread t([&] {
    started = true;
    LockHold hold(cs, "b");
    gotWhileHeld = hold.Ok() && !released;
    got = hold.Ok();
  });
  while (!started) std::this_thread::yield();
  // The waiter is inside Enter meanwhile; it must not get the lock while "a" holds it.
  bool early = false;
  for (const int64_t until = TickMs() + 50; TickMs() < until && !early;) {
    early = got.load();
    std::this_thread::yield();
  }
  EXPECT_FALSE(early);
  EXPECT_EQ(cs.Owner(), "a");
  released = true;
  cs.Leave();
  t.join();
  EXPECT_TRUE(got);
  EXPECT_FALSE(gotWhileHeld);
  EXPECT_FALSE(cs.Busy());
}

TEST(ResultSlots, AllocateDeliverAndRunOut) {
  ReportCatcher reports;
  std::vector<int> taken;
  for (int i = 0; i < HResCount; ++i) {
    int s = AllocHRes('T');
    ASSERT_EQ(s, i + 1);
    taken.push_back(s);
  }
  EXPECT_EQ(AllocHRes('T'), 0);
  EXPECT_EQ(reports.count, 1);
  EXPECT_EQ(reports.message, "No HRES left!");

  // A freed slot is the next one handed out, empty and not done.
  SetHRes(500, "old");
  FreeHRes(500);
  EXPECT_EQ(AllocHRes('Q'), 500);
  EXPECT_EQ(HResTag(500), 'Q');
  EXPECT_EQ(GetHRes(500), "");
  EXPECT_FALSE(HResDone(500));
  // An empty delivery still ends a wait.
  std::thread t([] { SetHRes(500, ""); });
  EXPECT_EQ(WaitForSlot(500, nullptr, 5000), WaitResult::Done);
  t.join();
  EXPECT_TRUE(HResDone(500));

  for (int s : taken) FreeHRes(s);
  EXPECT_EQ(HResInUse(), 0);
  // Out-of-range slots are ignored, and a freed slot takes no late delivery.
  SetHRes(0, "x");
  SetHRes(1001, "x");
  SetHRes(7, "late");
  EXPECT_EQ(GetHRes(7), "");
}

TEST(LockedRandom, StaysInRange) {
  for (int i = 0; i < 1000; ++i) {
    int v = LockedRandom(7, i % 2 == 0);
    EXPECT_GE(v, 0);
    EXPECT_LT(v, 7);
  }
  EXPECT_EQ(LockedRandom(0, true), 0);
  // The 64-bit form reaches past 32 bits.
  const int64_t wide = int64_t(1) << 40;
  int64_t highest = 0;
  for (int i = 0; i < 200; ++i) {
    const int64_t v = LockedRandom(wide, i % 2 == 0);
    EXPECT_GE(v, 0);
    EXPECT_LT(v, wide);
    highest = std::max(highest, v);
  }
  EXPECT_GT(highest, int64_t(1) << 32);
  EXPECT_EQ(LockedRandom(int64_t(0), true), 0);
}
