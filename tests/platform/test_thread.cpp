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
      ++rounds;
      Suspend();  // one round per resume, as the fetch worker does
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
  ~Syncer() override { Stop(-1); }

protected:
  void Execute() override {
    while (!Terminated()) {
      if (!Synchronize([this] { ++ran; })) gaveUp = true;
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
    while (c.rounds < i) SleepMs(1);
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
  // With the main thread blocked in Stop, the worker must give up instead of deadlocking.
  EXPECT_TRUE(s.Stop(5000));
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
