#include <gtest/gtest.h>

#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include "core/program_state.h"
#include "core/settings_file.h"
#include "core/sites.h"
#include "platform/messages.h"
#include "stream_test_util.h"
#include "streaming/client/book_window.h"
#include "streaming/client/streamer_messages.h"
#include "streaming/client/zeruv_streamer.h"

namespace {

void Feed(BookModel& m, std::initializer_list<std::pair<int, int32_t>> fields) {
  for (auto [c, v] : fields) m.Field(c, v);
}

}  // namespace

TEST(BookModel, PricesLevelsBarAndRatio) {
  EXPECT_DOUBLE_EQ(BookPrice(20 * 256 + 128), 20.5);
  EXPECT_DOUBLE_EQ(BookPrice(20 * 256 + 192), 20.75);

  BookModel m;
  Feed(m, {{2, 36000}, {13, 999},  // a field before the first row goes nowhere
           {12, 1}, {13, 500}, {14, 20 * 256}, {12, 2}, {13, 300}, {14, 20 * 256}, {12, 3}, {13, 200}, {14, 19 * 256 + 192},
           {15, 4}, {16, 400}, {17, 20 * 256 + 128}, {83, 0}});
  ASSERT_EQ(m.Bids.size(), 3u);
  EXPECT_EQ(m.BidColors, (std::vector<TColor>{65535, 65535, 65280}));
  EXPECT_DOUBLE_EQ(m.Asks[0].Price, 20.5);  // the ask price is scaled like the bid price
  EXPECT_EQ(m.BidTotal, 1000);
  EXPECT_EQ(m.AskTotal, 400);
  // Sorted by price, equal prices merged into the first.
  ASSERT_EQ(m.Bar.size(), 4u);
  EXPECT_DOUBLE_EQ(m.Bar[0].Price, 19.75);
  EXPECT_DOUBLE_EQ(m.Bar[1].Volume, 800);
  EXPECT_DOUBLE_EQ(m.Bar[2].Volume, 0);
  int mark = 0;
  std::vector<BookBarSegment> pieces = BookBarSegments(m.Bar, 303, mark);
  ASSERT_EQ(pieces.size(), 3u);
  EXPECT_EQ(pieces[0].Width, 43);   // 200 of 1400 of 300
  EXPECT_EQ(pieces[1].Width, 171);  // the best bid level, then the mark
  EXPECT_EQ(mark, 214);
  EXPECT_EQ(pieces[2].X, 217);
  EXPECT_EQ(BookModel::CaptionWithRatio(BookModel::CaptionWithTime("09:00:00 Ratio: 1:2", "10:00:00"), 1000, 400),
            "10:00:00 Ratio: 1000:400");

  // An empty snapshot: no rows, one grey piece.
  Feed(m, {{2, 36001}, {83, 0}});
  EXPECT_TRUE(m.Bids.empty());
  pieces = BookBarSegments(m.Bar, 100, mark);
  ASSERT_EQ(pieces.size(), 1u);
  EXPECT_EQ(pieces[0].Color, BookGrey);
  EXPECT_EQ(mark, -1);

  // Rows past the 50th of a side are not stored, nor are their fields.
  m.Field(2, 0);
  for (int i = 1; i <= 60; ++i) Feed(m, {{12, i}, {13, i}, {14, 256 * i}});
  ASSERT_EQ(m.Bids.size(), 50u);
  EXPECT_DOUBLE_EQ(m.Bids.back().Volume, 50);
}

TEST(BookWindow, ShowsTheBookFromItsStream) {
  CallbackMsg = RegisterWindowMessage("VNCallback");
  StreamerMessageHook = [](const std::string&, const std::string&) {};
  WriteStreamSite("IsldStr.Par", "/stream?book=1&s=##STOCKS##&tag=book");
  auto* w = new TfrmIStream;
  w->resize(520, 420);
  w->show();
  w->SetSymbol("  abcd ");
  EXPECT_EQ(w->Symbol(), "ABCD");
  w->pbStartClick();
  EXPECT_EQ(w->pbStart->text(), "Stop");
  ASSERT_TRUE(WaitFor([&] { return w->tbBA->rowCount() == 4 && w->windowTitle().contains("Ratio"); }));
  EXPECT_EQ(w->windowTitle(), "10:00:00 Ratio: 1000:500");
  EXPECT_EQ(w->lbOrders->text(), "1,205");
  EXPECT_EQ(w->lbVolume->text(), "345,678");
  EXPECT_EQ(w->lbPrice->text(), "20.5");
  EXPECT_EQ(w->tbBA->item(0, 0)->text(), "500");
  EXPECT_EQ(w->tbBA->item(2, 1)->text(), "19.75");
  EXPECT_EQ(w->tbBA->item(0, 0)->background().color(), QColor(255, 255, 0));
  EXPECT_EQ(w->tbBA->item(2, 0)->background().color(), QColor(0, 255, 0));
  EXPECT_EQ(w->tbBA->item(1, 3)->background().color(), QColor(0, 255, 0));
  EXPECT_EQ(w->tbBA->item(3, 0)->background().color(), QColor(192, 192, 192));

  // The same bid cell twice: highlighted, then not; the middle column shows the arrow.
  w->tbBAClick(1, 0);
  EXPECT_EQ(w->Highlighted(), 102);
  EXPECT_FALSE(w->tbBA->item(1, 2)->text().isEmpty());
  w->tbBAClick(1, 0);
  EXPECT_EQ(w->Highlighted(), -1);
  w->tbBAClick(0, 4);
  EXPECT_EQ(w->Highlighted(), 201);

  // The heartbeat lights the status and starts the fade.
  ASSERT_TRUE(WaitFor([&] { return w->FadeStep() > 0 || w->Timer1->isActive(); }));

  QDir().mkpath(QString::fromStdString(std::string(VN_BINARY_DIR) + "/screenshots"));
  EXPECT_TRUE(w->grab().save(QString::fromStdString(std::string(VN_BINARY_DIR) + "/screenshots/stream_book_window.png")));

  QFont f = w->tbBA->font();
  f.setPointSize(4);
  w->tbBA->setFont(f);
  w->pbFontUpClick();
  EXPECT_EQ(w->tbBA->font().pointSize(), 4);

  // A new symbol restarts the running stream; closing stops it.
  w->SetSymbol("WXYZ");
  EXPECT_EQ(w->pbStart->text(), "Stop");
  EXPECT_EQ(w->tbBA->rowCount(), 1);
  TZeruvStreamer* s = w->Streamer();
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->ThreadAt(1)->symbols, "WXYZ");
  w->close();
  WaitAndPump(10);
}

TEST(BookWindow, FailedStartLeavesStart) {
  CallbackMsg = RegisterWindowMessage("VNCallback");
  StreamerMessageHook = [](const std::string&, const std::string&) {};
  WriteStreamSite("IsldStr.Par", "/stream?book=1&s=##STOCKS##");
  CurSite.reset();
  auto* w = new TfrmIStream;
  w->pbStartClick();  // no symbol yet
  EXPECT_EQ(w->pbStart->text(), "Start");
  w->close();
}

// Closing the window while its login check waits ends the check; nothing of the window or its
// streamer is used afterwards.
TEST(BookWindow, ClosedDuringTheLoginCheck) {
  CallbackMsg = RegisterWindowMessage("VNCallback");
  StreamerMessageHook = [](const std::string&, const std::string&) {};
  WriteStreamSite("IsldStr.Par", "/stream?book=1&s=##STOCKS##&tag=slow", true);
  CurSite = std::make_shared<HTTPSite>();
  CurSite->EnteredLogin = "slow";
  QPointer<TfrmIStream> w = new TfrmIStream;
  w->show();
  w->SetSymbol("SLOW");
  QTimer::singleShot(100, w, [w] { w->close(); });
  w->pbStartClick();
  WaitAndPump(20);
  EXPECT_TRUE(!w || w->isHidden());
  EXPECT_EQ(StreamCount("slow"), 0);
  CurSite.reset();
}

// Closed maximised, the book opens next time at the size it had before it was maximised, not as a
// normal window as large as the screen.
TEST(BookWindow, ClosedMaximisedKeepsItsRestoredSize) {
  StreamerMessageHook = [](const std::string&, const std::string&) {};
  WriteStreamSite("IsldStr.Par", "/stream?book=1&s=##STOCKS##");
  auto* w = new TfrmIStream;
  w->resize(581, 420);
  w->show();
  WaitAndPump(20);
  w->showMaximized();
  for (int i = 0; i < 100 && w->width() == 581; ++i) WaitAndPump(20);
  ASSERT_NE(w->width(), 581);
  w->close();
  WaitAndPump(10);
  EXPECT_EQ(Ini().ReadInteger("IslandSt", "NWINW", 0), 581);
  EXPECT_EQ(Ini().ReadInteger("IslandSt", "NWINH", 0), 420);
}

// Stopped, then given another symbol by typing it: the old symbol's last match, today's
// activity and caption go at once, not at the next Start.
TEST(BookWindow, NewSymbolClearsTheOldFigures) {
  CallbackMsg = RegisterWindowMessage("VNCallback");
  StreamerMessageHook = [](const std::string&, const std::string&) {};
  WriteStreamSite("IsldStr.Par", "/stream?book=1&s=##STOCKS##&tag=book");
  QPointer<TfrmIStream> w = new TfrmIStream;
  w->resize(520, 420);
  w->show();
  w->SetSymbol("ABCD");
  QTest::mouseClick(w->pbStart, Qt::LeftButton);
  ASSERT_TRUE(WaitFor([&] { return w->windowTitle().contains("Ratio") && !w->lbPrice->text().isEmpty(); }));
  QTest::mouseClick(w->pbStart, Qt::LeftButton);
  EXPECT_EQ(w->pbStart->text(), "Start");
  EXPECT_FALSE(w->lbOrders->text().isEmpty());
  w->dfSymb->setFocus();
  QTest::keyClick(w->dfSymb, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(w->dfSymb, "wxyz");
  QTest::keyClick(w->dfSymb, Qt::Key_Return);
  EXPECT_EQ(w->Symbol(), "WXYZ");
  EXPECT_EQ(w->windowTitle().toStdString(), "Island Book Streamer");
  for (QLabel* label : {w->lbOrders, w->lbVolume, w->lbPrice, w->lbTime}) EXPECT_EQ(label->text().toStdString(), "");
  EXPECT_EQ(w->tbBA->rowCount(), 1);
  EXPECT_EQ(w->pbStart->text(), "Start");
  w->close();
  WaitAndPump(10);
}
