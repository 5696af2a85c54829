#include <gtest/gtest.h>

#include <QCoreApplication>

#include <atomic>

#include "platform/clock.h"
#include "platform/messages.h"
#include "platform/thread.h"

namespace {

class Counter : public Thread {
public:
  std::atomic<int> rounds{0};
  ~Counter() override { Stop(-1); }

protected:
  void Execute() override {
    while (WaitGate()) {
      Suspend();  // one round per resume, as the fetch worker does; closed before counting
      ++rounds;   // so that the test's next Resume cannot be undone
    }
  }
};

class Sleeper : public Thread {
public:
  ~Sleeper() override { Stop(-1); }

protected:
  void Execute() override { Sleep(60 * 60 * 1000); }
};

class Syncer : public Thread {
public:
  std::atomic<int> ran{0};
  std::atomic<bool> gaveUp{false};
  std::atomic<bool> lastRound{false}, atLast{false}, mainBusy{false};
  ~Syncer() override { Stop(-1); }

protected:
  void Execute() override {
    while (!Terminated()) {
      if (lastRound) {
        // Asks once more only when the main thread has stopped processing events.
        atLast = true;
        while (!mainBusy) SleepMs(1);
        if (!Synchronize([this] { ++ran; })) gaveUp = true;
        return;
      }
      Synchronize([this] { ++ran; });
      Sleep(1);
    }
  }
};

}  // namespace

TEST(Thread, GateHoldsUntilResumedAndTerminateEndsIt) {
  Counter c;
  c.Start(true);
  EXPECT_FALSE(c.WaitFor(30));
  EXPECT_EQ(c.rounds, 0);
  for (int i = 1; i <= 3; ++i) {
    c.Resume();
    ASSERT_EQ(WaitUntil([&] { return c.rounds >= i; }, nullptr, 5000), WaitResult::Done);
  }
  EXPECT_TRUE(c.Stop(5000));
  EXPECT_TRUE(c.Finished());
  EXPECT_EQ(c.rounds, 3);
}

TEST(Thread, TerminateWakesALongSleep) {
  Sleeper s;
  s.Start();
  EXPECT_FALSE(s.WaitFor(20));
  EXPECT_TRUE(s.Stop(5000));
}

TEST(Thread, SynchronizeRunsOnTheMainThreadAndGivesUpWhenTerminated) {
  int argc = 0;
  QCoreApplication app(argc, nullptr);
  Syncer s;
  s.Start();
  // Nothing runs until the main thread processes events.
  WaitUntil([&] { return s.ran.load() >= 3; }, nullptr, 5000);
  EXPECT_GE(s.ran.load(), 3);
  // The worker asks again while the main thread processes no events and then blocks in
  // Stop: it must give up instead of deadlocking.
  s.lastRound = true;
  ASSERT_EQ(WaitUntil([&] { return s.atLast.load(); }, nullptr, 5000), WaitResult::Done);
  s.mainBusy = true;
  EXPECT_TRUE(s.Stop(5000));
  EXPECT_TRUE(s.gaveUp);
}

TEST(Thread, WaitForOnItsOwnThreadReturnsAtOnce) {
  struct Self : Thread {
    std::atomic<int> result{-1};
    ~Self() override { Stop(-1); }
    void Execute() override { result = WaitFor(-1) ? 1 : 0; }
  } t;
  t.Start();
  ASSERT_TRUE(t.WaitFor(5000));
  EXPECT_EQ(t.result, 0);
}

TEST(Messages, RegisteredNumbersAreStablePerName) {
  int a = RegisterWindowMessage("VNCallback");
  EXPECT_GE(a, 0xC000);
  EXPECT_EQ(RegisterWindowMessage("vncallback"), a);
  EXPECT_NE(RegisterWindowMessage("Vantrx"), a);
}

TEST(Messages, WaitUntilEndsOnCancelDeadlineAndShutDown) {
  TestClock clock(0);
  ScopedClock use(clock);
  std::atomic<bool> cancel{false};
  EXPECT_EQ(WaitUntil([] { return false; }, &cancel, 500), WaitResult::TimedOut);
  cancel = true;
  EXPECT_EQ(WaitUntil([] { return false; }, &cancel, 500), WaitResult::Cancelled);
  ShuttingDown = true;
  EXPECT_EQ(WaitUntil([] { return false; }, nullptr, 500), WaitResult::ShuttingDown);
  ShuttingDown = false;
  EXPECT_EQ(WaitUntil([] { return true; }, nullptr, 0), WaitResult::Done);
}
