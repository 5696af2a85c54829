#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>

#include <chrono>
#include <thread>
#include <QWidget>

#include "core/add_snap.h"
#include "core/locks.h"
#include "core/main_hooks.h"
#include "core/portfolios.h"
#include "core/program_state.h"
#include "core/settings_file.h"
#include "core/sites.h"
#include "core/streamer_control.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "stream_test_util.h"
#include "streaming/client/streamer_messages.h"
#include "streaming/client/streaming_install.h"
#include "streaming/client/zeruv_streamer.h"

namespace {

// Answers the notice (0, 1) as the main window does.
class FakeMainWindow : public QWidget {
public:
  int Announcements = 0;

protected:
  bool event(QEvent* e) override {
    if (e->type() == WindowMessageEvent::EventType) {
      auto* m = static_cast<WindowMessageEvent*>(e);
      if (m->Msg == CallbackMsg && m->WParam == 0 && m->LParam == 1) {
        ++Announcements;
        if (MainHooks.UpdateStreaming) MainHooks.UpdateStreaming(!ShuttingDown);
      }
      return true;
    }
    return QWidget::event(e);
  }
};

void ShowPortfolio(std::initializer_list<const char*> symbols) {
  LockHold hold(PortLock, "TEST");
  PortList.clear();
  PortType p;
  p.Name = "Streamed";
  p.Id = "PORT1";
  for (const char* s : symbols) {
    PortRowRec row;
    row.Symbol = s;
    p.Rows.push_back(row);
  }
  PortList.push_back(p);
  CurPortIndex = 1;
}

}  // namespace

TEST(StreamingHooks, MainWindowStreamsItsPortfolioWithoutRestartLoops) {
  CallbackMsg = RegisterWindowMessage("VNCallback");
  StreamerMessageHook = [](const std::string&, const std::string&) {};
  CurSite = std::make_shared<HTTPSite>();
  CurSite->EnteredLogin = "trader";
  CurSite->EnteredPassword = "wrong";
  WriteStreamSite("Hook.Par", "/stream?s=##STOCKS##&name=##NAME##&pwd=##CRYPTPWD##&pw=1&tag=hook");
  ShowPortfolio({"HKA", "HKB"});
  Ini().WriteString("Stocks", "StreamFile", "Hook.Par");
  int dialogs = 0;
  {
    FakeMainWindow w;
    InstallStreaming(&w);
    MainHooks.ShowLoginDialog = [&] { ++dialogs; };
    ASSERT_TRUE(MainHooks.StreamingTimeoutCheck && MainHooks.UpdateStreaming && MainHooks.StreamingPanelText);
    MainHooks.StreamingTimeoutCheck();  // the first housekeeping tick starts streaming
    EXPECT_TRUE(MainHooks.StreamingActive());
    EXPECT_NE(MainHooks.StreamingPanelText().find("Streaming: 1 running"), std::string::npos);

    // The service refuses the password: the user is asked once, however many ticks pass.
    ASSERT_TRUE(WaitFor([&] {
      MainHooks.StreamingTimeoutCheck();
      return dialogs > 0;
    }));
    for (int i = 0; i < 5; ++i) MainHooks.StreamingTimeoutCheck();
    WaitAndPump(50);
    EXPECT_EQ(dialogs, 1);
    EXPECT_FALSE(MainHooks.StreamingActive());
    EXPECT_EQ(StreamCount("hook"), 1);

    // The dialog changed the password: streaming starts again, and its own notices restart nothing.
    CurSite->EnteredPassword = "secret";
    MainHooks.StreamingTimeoutCheck();
    EXPECT_TRUE(MainHooks.StreamingActive());
    ASSERT_TRUE(WaitFor([&] { return w.Announcements >= 2; }));
    WaitAndPump(100);
    EXPECT_EQ(StreamCount("hook"), 2);
    EXPECT_NE(MainHooks.StreamingPanelText().find("B/30s"), std::string::npos);

    // Another portfolio shown: the next tick streams its symbols.
    ShowPortfolio({"HKC"});
    MainHooks.StreamingTimeoutCheck();
    EXPECT_TRUE(WaitFor([&] { return StreamCount("hook") == 3; }));

    // Suspension for an update and back.
    ASSERT_TRUE(StreamerHooks.Suspend && StreamerHooks.Resume);
    SuspendStreamers();
    EXPECT_FALSE(MainHooks.StreamingActive());
    ResumeStreamers();
    EXPECT_TRUE(MainHooks.StreamingActive());

    MainHooks.UpdateStreaming(false);
    EXPECT_FALSE(MainHooks.StreamingActive());
  }
  MainHooks = {};
  StreamerHooks = {};
  Ini().WriteString("Stocks", "StreamFile", "");
  CurSite.reset();
}

// A portfolio switched while the login check runs is streamed once the check has ended, and a
// check that got no answer is tried again later, not at every tick.
TEST(StreamingHooks, StartDuringTheLoginCheckAndACheckWithoutAnAnswer) {
  CallbackMsg = RegisterWindowMessage("VNCallback");
  StreamerMessageHook = [](const std::string&, const std::string&) {};
  CurSite = std::make_shared<HTTPSite>();
  CurSite->EnteredLogin = "pause";  // answered after a second
  CurSite->EnteredPassword = "secret";
  WriteStreamSite("Check.Par", "/stream?s=##STOCKS##&tag=check", true);
  ShowPortfolio({"CKA"});
  Ini().WriteString("Stocks", "StreamFile", "Check.Par");
  auto quoted = [](const char* symbol) {
    StockQuote q;
    LockHold hold(AddSnapLock, "TEST");
    return hold && GetStockQuote(symbol, q) >= 0;
  };
  // Housekeeping ticks from the event loop itself, as the main window's timer runs them (a
  // login check cannot wait inside another wait).
  auto tickUntil = [](const std::function<bool()>& done) {
    for (int i = 0; i < 1000; ++i) {
      MainHooks.StreamingTimeoutCheck();
      if (done()) return true;
      QCoreApplication::processEvents();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  };
  {
    FakeMainWindow w;
    InstallStreaming(&w);
    // The housekeeping tick comes again while the check waits, after the portfolio changed.
    QTimer::singleShot(200, &w, [] {
      ShowPortfolio({"CKZ"});
      MainHooks.StreamingTimeoutCheck();
    });
    MainHooks.StreamingTimeoutCheck();
    EXPECT_TRUE(tickUntil([&] { return quoted("CKZ"); }));
    MainHooks.UpdateStreaming(false);
    EXPECT_FALSE(MainHooks.StreamingActive());

    // No answer in time: streaming is off, and the ticks do not start a check every time.
    ShowPortfolio({"CKN"});
    StreamerTiming.LoginCheckMs = 300;
    StreamerTiming.StartRetryMs = 2500;
    MainHooks.StreamingTimeoutCheck();
    EXPECT_FALSE(MainHooks.StreamingActive());
    StreamerTiming.LoginCheckMs = 20000;
    const int64_t failed = TickMs();
    MainHooks.StreamingTimeoutCheck();
    if (TickMs() - failed < 2000) {
      EXPECT_FALSE(MainHooks.StreamingActive());
    }
    // A while later the next tick tries again, and streams.
    EXPECT_TRUE(tickUntil([&] { return quoted("CKN"); }));
    MainHooks.UpdateStreaming(false);
  }
  StreamerTiming = {};
  MainHooks = {};
  StreamerHooks = {};
  Ini().WriteString("Stocks", "StreamFile", "");
  CurSite.reset();
}
