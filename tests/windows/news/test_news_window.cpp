#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QTimer>
#include <QHeaderView>
#include <QTest>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "common/fake_site.h"
#include "windows/browser/event_wait.h"
#include "core/ad_locations.h"
#include "core/locks.h"
#include "core/log.h"
#include "core/main_hooks.h"
#include "core/market_clock.h"
#include "core/news.h"
#include "core/pending.h"
#include "core/program_state.h"
#include "core/settings.h"
#include "core/settings_file.h"
#include "core/stock_table.h"
#include "core/url_launch.h"
#include "platform/datetime.h"
#include "retrieval/news_thread.h"
#include "retrieval/site_files.h"
#include "windows/browser/browser_control.h"
#include "windows/browser/browser_nav_bar.h"
#include "windows/news/news_window.h"
#include "windows/news/news_images.h"
#include "windows/news/news_logic.h"
#include "windows/news/web_news_install.h"
#include "windows/web/browser_window.h"

namespace {

void AddSymbol(const std::string& s) {
  LockHold w(AddSnapLock, "TEST");
  LockHold t(StockListLock, "TEST");
  StockTable.Add(s);
}

int AddHeadline(const std::string& symbol, const std::string& title, const std::string& link, const std::string& source,
                int day) {
  NewsRec rec;
  rec.Time = EncodeDate(2024, 6, day) + 0.44;
  rec.Title = title;
  rec.Link = link;
  rec.Source = source;
  return AddNewsItem(symbol, rec);
}

std::string Screenshots() {
  const std::string dir = std::string(VN_BINARY_DIR) + "/screenshots/";
  QDir().mkpath(QString::fromStdString(dir));
  return dir;
}

// Runs the timer's every-fifth-tick work once.
void HandOverTick(TfrmNews& w) {
  for (int i = 0; i < 5; ++i) w.Timer1Timer();
}

// Every button of the headline row shown, whole, inside the pane, clear of the others and
// wide enough for its caption.
void ExpectButtonsFit(TfrmNews& w, const std::string& where) {
  std::vector<QPushButton*> buttons{w.pbSelAll, w.pbMarkRead, w.pbMarkNotRead, w.pbNoBulb,
                                    w.pbForce,  w.pbForceAll, w.pbSetNews,     w.pbDetail};
  for (size_t i = 0; i < buttons.size(); ++i) {
    QPushButton* b = buttons[i];
    const std::string name = b->text().toStdString() + " at " + where;
    EXPECT_TRUE(b->isVisible()) << name;
    EXPECT_TRUE(w.panNews->rect().contains(b->geometry())) << name;
    QString caption = b->text();
    caption.remove('&');
    EXPECT_GE(b->width(), b->fontMetrics().horizontalAdvance(caption) + 4) << name;
    EXPECT_FALSE(b->geometry().intersects(w.tbNews->geometry())) << name;
    for (size_t j = i + 1; j < buttons.size(); ++j)
      EXPECT_FALSE(b->geometry().intersects(buttons[j]->geometry())) << name << " / " << buttons[j]->text().toStdString();
  }
}


class NewsWindowTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    site_ = new FakeSite("news");
    HaveIE4 = BrowserControlAvailable();
    for (const char* s : {"AAA", "BBB", "TOTAL", "IBM", "MSFT", "-----", "AAB"}) AddSymbol(s);
    AddHeadline("AAA", "AAA beats estimates", site_->Url("/article/AAA/1"), "Wire 1", 10);
    AddHeadline("AAA", "", site_->Url("/article/AAA/2"), "Wire 2", 11);  // no title: not listed
    AddHeadline("AAA", "AAA opens a plant", site_->Url("/article/AAA/3"), "Wire 3", 12);
    AddHeadline("AAA", "AAA without a source", site_->Url("/article/AAA/4"), "", 12);
    AddHeadline("MSFT", "MSFT ships", site_->Url("/article/MSFT/1"), "Wire 1", 12);
    SetNewsFlag("MSFT", 1);
  }
  static void TearDownTestSuite() {
    delete site_;
    site_ = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(site_->Running());
    LiveSettings.NewsTwoPanes = false;
    LiveSettings.NewsBrowserOff = false;
    UrlHooks.OpenURL = [this](const std::string& url) { opened.push_back(url); };
  }
  void TearDown() override {
    UrlHooks = {};
    if (frmNews) delete frmNews.data();
    if (frmIE) delete frmIE.data();
  }
  std::vector<std::string> opened;
  static FakeSite* site_;
};
FakeSite* NewsWindowTest::site_ = nullptr;

TEST_F(NewsWindowTest, SelectionListsHeadlinesAndReadMarksSurviveARereading) {
  OpenNewsWindow("msft");
  ASSERT_TRUE(frmNews);
  TfrmNews& w = *frmNews;
  // Valid symbols only, sorted; bulbs from the records' flags.
  std::vector<std::string> listed;
  for (int i = 0; i < w.lbSymb->count(); ++i) listed.push_back(w.lbSymb->item(i)->text().toStdString());
  EXPECT_EQ(listed, (std::vector<std::string>{"AAA", "AAB", "BBB", "IBM", "MSFT"}));
  // Each item keeps its number from the table's order: the bulbs' arrays are indexed by it.
  EXPECT_EQ(TfrmNews::ItemObject(w.lbSymb->item(1)), 4);
  EXPECT_EQ(TfrmNews::ItemObject(w.lbSymb->item(4)), 3);
  EXPECT_EQ(w.CurrentSymbol, "MSFT");
  EXPECT_EQ(w.Titles.Count(), 1);
  // Looking at a symbol clears its bulb.
  TDateTime lastCheck, unread;
  EXPECT_EQ(GetNewsInfo("MSFT", lastCheck, unread), 0);
  EXPECT_FALSE(w.HasNewNews(TfrmNews::ItemObject(w.lbSymb->currentItem())));

  w.SelectSymbol(" aaa ");
  EXPECT_EQ(w.CurrentSymbol, "AAA");
  ASSERT_EQ(w.Titles.Count(), 2) << "a headline without a title or a source is not listed";
  EXPECT_EQ(w.Titles[0], "AAA opens a plant");  // the last stored first
  EXPECT_EQ(w.tbNews->rowCount(), 2);
  EXPECT_EQ(w.tbNews->item(1, 2)->text().toStdString(), "AAA beats estimates");
  EXPECT_EQ(w.tbNews->item(0, 1)->text().toStdString(), "Jun 12,2024, 10:33");
  EXPECT_EQ(w.tbNews->item(0, 3)->text().toStdString(), "Wire 3");
  EXPECT_EQ(w.windowTitle().toStdString(), "News for AAA last checked on Jun 12, 2024 at 10:33 Eastern Time");
  EXPECT_FALSE(w.txtNoNews->isVisible());
  EXPECT_TRUE(w.pbMarkRead->isVisible());

  // Mark the second headline read; the mark is in the store, so a re-read keeps it.
  w.tbNews->selectRow(1);
  w.pbMarkReadClick();
  EXPECT_EQ(w.ReadMarks[1], "Y");
  EXPECT_EQ(w.ReadMarks[0], "N");
  const std::string keptId = w.Ids[1];
  w.lbSymbClick();  // clicking the item again re-reads and keeps the chosen headline
  EXPECT_EQ(w.ReadMarks[1], "Y");
  EXPECT_EQ(w.Ids[w.CurrentEntry()], keptId);
  w.pbSelAllClick();
  w.pbMarkNotReadClick();
  w.lbSymbClick();
  EXPECT_EQ(w.ReadMarks[0], "N");
  EXPECT_EQ(w.ReadMarks[1], "N");
  w.popMarkReadClick();
  w.lbSymbClick();
  EXPECT_EQ(w.ReadMarks[0], "Y");
  EXPECT_EQ(w.ReadMarks[1], "Y");

  // The same symbol again through SelectSymbol does not reload.
  w.ReadMarks.SetString(0, "X");
  w.SelectSymbol("AAA");
  EXPECT_EQ(w.ReadMarks[0], "X");

  // A symbol without headlines: the notice over an empty grid, the row actions do nothing.
  w.SelectSymbol("BBB");
  EXPECT_EQ(w.Titles.Count(), 0);
  EXPECT_TRUE(w.txtNoNews->isVisible());
  EXPECT_FALSE(w.pbMarkRead->isVisible());
  w.tbNews->selectAll();
  w.pbMarkReadClick();
  w.popMarkReadClick();
  w.pbDetailClick(w.pbDetail);
  w.pbDetailClick(nullptr);
  w.popCopyAddressClick();
  EXPECT_EQ(w.ReadMarks.Count(), 0);
  EXPECT_TRUE(opened.empty());

  // A symbol that is not listed: no selection, the caption "News".
  w.SelectSymbol("ZZZZ");
  EXPECT_EQ(w.CurrentSymbol, "");
  EXPECT_EQ(w.windowTitle().toStdString(), "News");
  EXPECT_FALSE(w.txtNoNews->isVisible());
}

// The caption follows each news round of the shown symbol, also a round that brings nothing new
// (and so hands nothing over): it says when the symbol was last checked.
TEST_F(NewsWindowTest, TheCaptionFollowsEachNewsRoundOfTheShownSymbol) {
  AddSymbol("NWC");
  auto source = std::make_shared<HTTPSite>();
  std::string error;
  LoadSiteFile(InstallSiteFixture("fake.NWS", site_->Port()), *source, nullptr, error);
  ASSERT_TRUE(error.empty()) << error;
  // The market clock moved on between the rounds by the synchronised offset.
  ClockSynced = true;
  EtOffsetCache = 0;
  OpenNewsWindow("NWC");
  TfrmNews& w = *frmNews;
  EXPECT_EQ(w.windowTitle().toStdString(), "News for NWC - never checked yet");
  auto roundAndCaption = [&] {
    EXPECT_TRUE(FetchNewsForSymbol(*source, "NWC", nullptr));
    TDateTime lastCheck = 0, unread = 0;
    GetNewsInfo("NWC", lastCheck, unread);
    const QString expected = QString::fromStdString(NewsCaption("NWC", lastCheck, unread));
    for (int i = 0; i < 100 && w.windowTitle() != expected; ++i) QTest::qWait(50);  // the window's own timer
    EXPECT_EQ(w.windowTitle(), expected);
    return expected;
  };
  const QString first = roundAndCaption();  // three new headlines, handed over
  EXPECT_EQ(w.Titles.Count(), 3);
  EtOffsetCache = 20.0 / 1440;
  const QString second = roundAndCaption();  // nothing new
  EXPECT_NE(second, first);
  EXPECT_EQ(w.Titles.Count(), 3);
  ClockSynced = false;
  EtOffsetCache = 0;
}

TEST_F(NewsWindowTest, HandOverLightsBulbsAndRelistsTheCurrentSymbol) {
  OpenNewsWindow("IBM");
  TfrmNews& w = *frmNews;
  EXPECT_EQ(w.Titles.Count(), 0);
  QListWidgetItem* aaa = w.lbSymb->findItems("AAA", Qt::MatchExactly).value(0);
  ASSERT_NE(aaa, nullptr);

  // The news thread stores headlines and names the symbols in the hand-over list.
  AddHeadline("IBM", "IBM news", site_->Url("/article/IBM/1"), "Wire 1", 12);
  SetNewsFlag("IBM", 1);
  SetNewsFlag("AAA", 1);
  AddHandOver(NewsHandOver, "IBM");
  AddHandOver(NewsHandOver, "AAA");
  AddHandOver(NewsHandOver, "NOTLISTED");
  HandOverTick(w);
  EXPECT_EQ(w.HandOverRepaints(), 2);
  EXPECT_TRUE(w.HasNewNews(TfrmNews::ItemObject(aaa)));
  EXPECT_GT(w.NewestUnread(TfrmNews::ItemObject(aaa)), 0);
  // The current symbol with new news is listed again (and its bulb goes).
  EXPECT_EQ(w.Titles.Count(), 1);
  TDateTime lastCheck, unread;
  EXPECT_EQ(GetNewsInfo("IBM", lastCheck, unread), 0);

  // While another thread holds the hand-over's lock, the tick skips and leaves the list alone.
  AddHandOver(NewsHandOver, "AAA");
  std::atomic<bool> held{false}, release{false};
  std::thread holder([&] {
    LockHold hold(RefreshLock, "HOLDER");
    held = true;
    while (!release) std::this_thread::yield();
  });
  while (!held) std::this_thread::yield();
  const int before = w.HandOverRepaints();
  HandOverTick(w);
  EXPECT_EQ(w.HandOverRepaints(), before);
  release = true;
  holder.join();
  HandOverTick(w);
  EXPECT_EQ(w.HandOverRepaints(), before + 1);

  // Clearing every bulb asks first.
  bool asked = false;
  w.ConfirmClearBulbs = [&](QWidget*) { return asked = true; };
  w.pbNoBulbClick();
  EXPECT_TRUE(asked);
  EXPECT_EQ(GetNewsInfo("AAA", lastCheck, unread), 0);
}

// The symbol list follows the keyboard as it follows a click, and "No Bulbs" darkens the
// window's own list at once.
TEST_F(NewsWindowTest, ArrowKeysChooseTheSymbolAndNoBulbsDarkensTheList) {
  OpenNewsWindow("AAA");
  TfrmNews& w = *frmNews;
  w.lbSymb->setFocus();
  QTest::keyClick(w.lbSymb, Qt::Key_Down);
  EXPECT_EQ(w.lbSymb->currentItem()->text(), "AAB");
  EXPECT_EQ(w.CurrentSymbol, "AAB");
  EXPECT_EQ(w.windowTitle().toStdString().rfind("News for AAB", 0), 0u) << w.windowTitle().toStdString();
  EXPECT_EQ(w.Titles.Count(), 0);
  QTest::keyClick(w.lbSymb, Qt::Key_End);
  EXPECT_EQ(w.CurrentSymbol, "MSFT");
  EXPECT_EQ(w.Titles.Count(), 1);
  QTest::keyClick(w.lbSymb, Qt::Key_Up);
  EXPECT_EQ(w.CurrentSymbol, "IBM");
  // F4 and the refresh act on the symbol the keys chose.
  {
    LockHold hold(NfrcLock, "TEST");
    NewsForceList.clear();
  }
  QTest::keyClick(w.lbSymb, Qt::Key_F4);
  {
    LockHold hold(NfrcLock, "TEST");
    EXPECT_EQ(NewsForceList, "IBM");
    NewsForceList.clear();
  }
  // A click on another symbol chooses it; a click on the current one lists it again.
  QListWidgetItem* aaa = w.lbSymb->findItems("AAA", Qt::MatchExactly).value(0);
  QTest::mouseClick(w.lbSymb->viewport(), Qt::LeftButton, {}, w.lbSymb->visualItemRect(aaa).center());
  EXPECT_EQ(w.CurrentSymbol, "AAA");
  ASSERT_EQ(w.Titles.Count(), 2);
  w.Titles.SetString(0, "stale");
  QTest::mouseClick(w.lbSymb->viewport(), Qt::LeftButton, {}, w.lbSymb->visualItemRect(aaa).center());
  EXPECT_EQ(w.Titles[0], "AAA opens a plant");

  // Bulbs lit by the news thread; "No Bulbs", answered Yes, puts every one out at once.
  for (const char* s : {"AAB", "BBB", "MSFT"}) {
    SetNewsFlag(s, 1);
    AddHandOver(NewsHandOver, s);
  }
  HandOverTick(w);
  auto lit = [&] {
    int n = 0;
    for (int i = 0; i < w.lbSymb->count(); ++i) n += w.HasNewNews(TfrmNews::ItemObject(w.lbSymb->item(i)));
    return n;
  };
  ASSERT_EQ(lit(), 3);
  w.ConfirmClearBulbs = [](QWidget*) { return true; };
  QTest::mouseClick(w.pbNoBulb, Qt::LeftButton);
  EXPECT_EQ(lit(), 0);
  for (int i = 0; i < w.lbSymb->count(); ++i) EXPECT_EQ(w.NewestUnread(TfrmNews::ItemObject(w.lbSymb->item(i))), 0);
}

// The window closed while maximised stores its normal place and size, and opens maximised
// again over them; closed maximised once more, it still keeps them.
TEST_F(NewsWindowTest, ClosedMaximisedItKeepsItsNormalPlace) {
  Ini().WriteInteger("News", "NWINX", 40);
  Ini().WriteInteger("News", "NWINY", 30);
  Ini().WriteInteger("News", "NWINW", 640);
  Ini().WriteInteger("News", "NWINH", 470);
  Ini().WriteString("News", "NSTATE", "NO");
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    OpenNewsWindow("AAA");
    TfrmNews& w = *frmNews;
    EXPECT_EQ(w.isMaximized(), round == 1);
    if (round == 0) w.showMaximized();
    for (int i = 0; i < 50 && w.width() <= 640; ++i) WaitAndPump(10);
    ASSERT_GT(w.width(), 640);
    w.close();
    delete frmNews.data();
    EXPECT_EQ(Ini().ReadString("News", "NSTATE", ""), "MX");
    EXPECT_EQ(Ini().ReadInteger("News", "NWINW", 0), 640);
    EXPECT_EQ(Ini().ReadInteger("News", "NWINH", 0), 470);
    EXPECT_EQ(Ini().ReadInteger("News", "NWINX", 0), 40);
    EXPECT_EQ(Ini().ReadInteger("News", "NWINY", 0), 30);
  }
  Ini().EraseSection("News");
}

TEST_F(NewsWindowTest, RefreshQueuesWholeSymbolsOnce) {
  {
    LockHold hold(NfrcLock, "TEST");
    NewsForceList = "IBMX";
  }
  OpenNewsWindow("IBM");
  TfrmNews& w = *frmNews;
  w.pbForceClick(w.pbForce);
  w.pbForceClick(w.pbForce);
  EXPECT_TRUE(w.pbForce->isEnabled());
  {
    LockHold hold(NfrcLock, "TEST");
    EXPECT_EQ(NewsForceList, "IBM IBMX");
  }
  w.pbForceClick(w.pbForceAll);
  {
    LockHold hold(NfrcLock, "TEST");
    EXPECT_EQ(NewsForceList, "MSFT BBB AAB AAA IBM IBMX");
    NewsForceList.clear();
  }
}

TEST_F(NewsWindowTest, KeysSelectAllHeadlinesAndRefreshTheSymbol) {
  OpenNewsWindow("AAA");
  TfrmNews& w = *frmNews;
  QKeyEvent ctrlA(QEvent::KeyPress, Qt::Key_A, Qt::ControlModifier, "a");
  QCoreApplication::sendEvent(&w, &ctrlA);
  EXPECT_EQ(w.tbNews->selectionModel()->selectedRows().size(), 2);
  {
    LockHold hold(NfrcLock, "TEST");
    NewsForceList.clear();
  }
  QKeyEvent f4(QEvent::KeyPress, Qt::Key_F4, Qt::NoModifier);
  QCoreApplication::sendEvent(&w, &f4);
  LockHold hold(NfrcLock, "TEST");
  EXPECT_EQ(NewsForceList, "AAA");
  NewsForceList.clear();
}

TEST_F(NewsWindowTest, TheSymbolTableIsReadOnlyUnderItsLock) {
  std::atomic<bool> held{false}, release{false};
  std::thread holder([&] {
    LockHold hold(StockListLock, "HOLDER");
    held = true;
    while (!release) std::this_thread::yield();
  });
  while (!held) std::this_thread::yield();
  frmNews = new TfrmNews(nullptr);
  frmNews->show();
  EXPECT_TRUE(frmNews->SymbolListPending());
  EXPECT_EQ(frmNews->lbSymb->count(), 0);
  release = true;
  holder.join();
  HandOverTick(*frmNews);
  EXPECT_FALSE(frmNews->SymbolListPending());
  EXPECT_EQ(frmNews->lbSymb->count(), 5);
}

TEST_F(NewsWindowTest, ArticlesOpenInThePaneTheBrowserWindowOrOutside) {
  OpenNewsWindow("AAA");
  TfrmNews& w = *frmNews;
  w.resize(760, 560);
  ASSERT_EQ(w.Titles.Count(), 2);
  w.tbNews->setCurrentCell(0, 0);
  if (w.WB) {
    EXPECT_FALSE(w.NoBrowserPane);
    w.pbDetailClick(w.pbDetail);
    EXPECT_TRUE(w.PanTop->isVisible());
    EXPECT_TRUE(SpinUntil([&] { return w.NavPan->dfAddress->text().toStdString() == w.Links[0]; }));
    EXPECT_FALSE(w.PanTop->isVisible());
    EXPECT_EQ(w.ReadMarks[0], "Y");
    // Wait for the engine's first paint of the article before the picture.
    const QImage blank = w.WB->grab().toImage();
    SpinUntil([&] { return w.WB->grab().toImage() != blank; }, 10000);
  }
  w.grab().save(QString::fromStdString(Screenshots() + "news_window.png"));

  // "Open in New Window" always goes outside.
  w.pbDetailClick(nullptr);
  EXPECT_EQ(opened, (std::vector<std::string>{w.Links[0]}));

  // Splitter at the very top or bottom keeps 5 % or 95 %; the headlines keep 62 pixels.
  w.Splitter1Moved(0);
  EXPECT_EQ(w.SplitPercent, 5);
  EXPECT_GE(w.panNews->height(), 62);
  w.Splitter1Moved(100000);
  EXPECT_EQ(w.SplitPercent, 95);
  w.Splitter1Moved(w.PanSplit->height() * 40 / 100);

  // The two-pane layout: the detail goes to the browser window, reused for the next one.
  LiveSettings.NewsTwoPanes = true;
  w.ApplyPaneLayout();
  w.FormResize();
  EXPECT_TRUE(w.NoBrowserPane);
  EXPECT_FALSE(w.lowerPane->isVisible());
  w.PopupMenu1Popup();
  EXPECT_FALSE(w.popShowDetailInIE->isVisible());
  w.tbNews->setCurrentCell(1, 0);
  w.pbDetailClick(w.pbDetail);
  ASSERT_TRUE(frmIE);
  QPointer<TfrmIE> first = frmIE;
  w.tbNews->setCurrentCell(0, 0);
  w.pbDetailClick(w.pbDetail);
  EXPECT_EQ(frmIE, first);
  w.grab().save(QString::fromStdString(Screenshots() + "news_window_two_panes.png"));

  // With the built-in browser off, even the detail goes outside.
  LiveSettings.NewsBrowserOff = true;
  opened.clear();
  w.pbDetailClick(w.pbDetail);
  EXPECT_EQ(opened, (std::vector<std::string>{w.Links[0]}));
  LiveSettings.NewsTwoPanes = false;
  LiveSettings.NewsBrowserOff = false;
  w.ApplyPaneLayout();
  const double split = w.SplitPercent;
  w.close();
  EXPECT_TRUE(frmNews.isNull()) << "a closed window must not be reused before it is freed";
  ASSERT_TRUE(SpinUntil([] { return frmNews.isNull(); }));
  EXPECT_NEAR(Ini().ReadFloat("News", "NSPLIT", 0), split, 0.01);
  EXPECT_EQ(Ini().ReadInteger("News", "NWINW", 0), 760);

  // Reopening restores the splitter.
  OpenNewsWindow("AAA");
  EXPECT_NEAR(frmNews->SplitPercent, split, 0.01);
}

TEST_F(NewsWindowTest, BannerRowWithAdsAndNoneWithout) {
  OpenNewsWindow("AAA");
  const int gridWithout = frmNews->tbNews->height();
  EXPECT_FALSE(frmNews->SideAdsWanted);
  EXPECT_FALSE(frmNews->panAd->isVisible());
  delete frmNews.data();

  const bool savedShowAds = ShowAds;
  ShowAds = true;
  {
    std::lock_guard lock(AdLock);
    for (int kind : {2, 48, 49, 50, 51, 52, 53}) {
      AdTable[kind].Source = "127.0.0.1/banner.gif";
      AdTable[kind].Location = kind;
    }
  }
  OpenNewsWindow("AAA");
  TfrmNews& w = *frmNews;
  QCoreApplication::processEvents();
  if (w.SideAdsWanted) {  // the screen is wide enough
    EXPECT_TRUE(w.panAd->isVisible());
    // At least the room the banner row needs, more when the buttons and the grid need it.
    EXPECT_GE(w.minimumSize().width(), 555);
    EXPECT_GE(w.minimumSize().height(), 185);
    EXPECT_EQ(w.tbNews->height(), gridWithout - 64);
    int used = 0;
    {
      std::lock_guard lock(AdLock);
      for (int i = 1; i <= AdLocationCount; ++i) used += AdLocUsed[i] ? 1 : 0;
    }
    EXPECT_EQ(used, 7);
    // Every part shown stays inside the pane and clear of the others.
    std::vector<QRect> parts;
    for (QWidget* child : w.panNews->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
      if (child->isVisible() && child->geometry().top() >= w.panNews->height() - 66) parts.push_back(child->geometry());
    for (size_t i = 0; i < parts.size(); ++i) {
      EXPECT_TRUE(w.panNews->rect().contains(parts[i]));
      for (size_t j = i + 1; j < parts.size(); ++j) EXPECT_FALSE(parts[i].intersects(parts[j]));
    }
    w.resize(1, 1);  // as small as it lets itself be made
    QCoreApplication::processEvents();
    ExpectButtonsFit(w, "the minimum size with banners");
    EXPECT_TRUE(w.panNews->rect().contains(w.panAd->geometry()));
    EXPECT_FALSE(w.panAd->geometry().intersects(w.pbForce->geometry()));
    w.grab().save(QString::fromStdString(Screenshots() + "news_window_minimum_banners.png"));
    w.resize(1100, 560);
    QCoreApplication::processEvents();
    w.grab().save(QString::fromStdString(Screenshots() + "news_window_banners.png"));
  }
  w.close();
  ASSERT_TRUE(SpinUntil([] { return frmNews.isNull(); }));
  {
    std::lock_guard lock(AdLock);
    int used = 0;
    for (int i = 1; i <= AdLocationCount; ++i) used += AdLocUsed[i] ? 1 : 0;
    EXPECT_EQ(used, 0) << "closing gives every banner location back";
    for (int kind : {2, 48, 49, 50, 51, 52, 53}) AdTable[kind] = GIFAdRec{};
  }
  ShowAds = savedShowAds;
}

}  // namespace


TEST_F(NewsWindowTest, ButtonsFitAtTheDefaultAndTheMinimumSizeAndDetailShowsTheStory) {
  OpenNewsWindow("AAA");
  TfrmNews& w = *frmNews;
  w.resize(TfrmNews::DesignWidth, TfrmNews::DesignHeight);
  QCoreApplication::processEvents();
  ExpectButtonsFit(w, "the default size");
  w.grab().save(QString::fromStdString(Screenshots() + "news_window_default.png"));

  w.resize(w.minimumSizeHint().expandedTo(w.minimumSize()));
  w.resize(1, 1);  // as small as the window lets itself be made
  QCoreApplication::processEvents();
  ExpectButtonsFit(w, "the minimum size");
  EXPECT_GE(w.tbNews->height(), 2 * w.tbNews->verticalHeader()->defaultSectionSize()) << "no room left for a headline";
  w.grab().save(QString::fromStdString(Screenshots() + "news_window_minimum.png"));

  // Detail, clicked as the user does, shows the story: the first one right after the symbol
  // is chosen, then the one clicked.
  w.resize(TfrmNews::DesignWidth, TfrmNews::DesignHeight);
  QCoreApplication::processEvents();
  const QImage empty = w.WB ? w.WB->grab().toImage() : QImage();
  QTest::mouseClick(w.pbDetail, Qt::LeftButton);
  EXPECT_EQ(w.ReadMarks[0], "Y");
  if (w.WB) EXPECT_TRUE(SpinUntil([&] { return w.WB->LocationURL() == w.Links[0] && !w.WB->Busy(); }));
  else EXPECT_EQ(opened, (std::vector<std::string>{w.Links[0]}));
  opened.clear();
  if (w.WB) SpinUntil([&] { return w.WB->grab().toImage() != empty; }, 10000);
  const QImage firstStory = w.WB ? w.WB->grab().toImage() : QImage();
  QTest::mouseClick(w.tbNews->viewport(), Qt::LeftButton, {}, w.tbNews->visualRect(w.tbNews->model()->index(1, 2)).center());
  ASSERT_EQ(w.CurrentEntry(), 1);
  QTest::mouseClick(w.pbDetail, Qt::LeftButton);
  EXPECT_EQ(w.ReadMarks[1], "Y");
  if (w.WB) {
    EXPECT_TRUE(SpinUntil([&] { return w.WB->LocationURL() == w.Links[1] && !w.WB->Busy(); }));
    EXPECT_FALSE(w.PanTop->isVisible());
    EXPECT_TRUE(w.WB->isVisible());
    EXPECT_GE(w.WB->height(), 100) << "the story has no room to show";
    SpinUntil([&] { return w.WB->grab().toImage() != firstStory; }, 10000);  // the engine paints a little later
    w.grab().save(QString::fromStdString(Screenshots() + "news_window_default_detail.png"));
  } else {
    EXPECT_EQ(opened, (std::vector<std::string>{w.Links[1]}));
  }
}

TEST_F(NewsWindowTest, LinksThatCannotOpenAreSaidAndNeverLeaveTheSpinnerRunning) {
  AddHeadline("AAB", "No link at all", "", "Wire 1", 13);
  AddHeadline("AAB", "A script link", "javascript:alert(1)", "Wire 2", 14);
  AddHeadline("AAB", "A link with blanks", site_->Url("/article/AAB/a b"), "Wire 3", 15);
  OpenNewsWindow("AAB");
  TfrmNews& w = *frmNews;
  std::vector<std::string> notices;
  w.Notice = [&](const std::string& text) { notices.push_back(text); };
  ASSERT_EQ(w.Titles.Count(), 3);
  for (bool twoPanes : {false, true}) {
    LiveSettings.NewsTwoPanes = twoPanes;
    w.ApplyPaneLayout();
    for (int row : {1, 2}) {  // the script link, then the empty one
      notices.clear();
      QTest::mouseClick(w.tbNews->viewport(), Qt::LeftButton, {},
                        w.tbNews->visualRect(w.tbNews->model()->index(row, 2)).center());
      QTest::mouseClick(w.pbDetail, Qt::LeftButton);
      EXPECT_FALSE(w.PanTop->isVisible()) << row;
      EXPECT_FALSE(w.SpinImg->Animating()) << row;
      ASSERT_EQ(notices.size(), 1u) << row;
      EXPECT_NE(notices[0].find(row == 1 ? "not a web address" : "no link"), std::string::npos) << notices[0];
      EXPECT_TRUE(opened.empty());
      EXPECT_FALSE(frmIE);
    }
  }
  // A real link with a blank opens, encoded as the pane would, in the browser window.
  notices.clear();
  QTest::mouseClick(w.tbNews->viewport(), Qt::LeftButton, {}, w.tbNews->visualRect(w.tbNews->model()->index(0, 2)).center());
  QTest::mouseClick(w.pbDetail, Qt::LeftButton);
  if (w.WB) {
    ASSERT_TRUE(frmIE);
    EXPECT_EQ(frmIE->NavPan->dfAddress->text().toStdString(), site_->Url("/article/AAB/a%20b"));
    EXPECT_TRUE(SpinUntil([&] { return frmIE->WB->HasDocument() && !frmIE->WB->Busy(); }));
    EXPECT_EQ(frmIE->WB->LocationName(), "Article AAB a%20b");
  }
  LiveSettings.NewsBrowserOff = true;
  QTest::mouseClick(w.pbDetail, Qt::LeftButton);
  EXPECT_EQ(opened, (std::vector<std::string>{site_->Url("/article/AAB/a b")}));
  EXPECT_EQ(notices.size(), 0u) << "a link that opens is not reported: " << notices.front();
}

TEST_F(NewsWindowTest, ANewBrowserWindowComesInFrontOfTheNewsWindow) {
  LiveSettings.NewsTwoPanes = true;
  OpenNewsWindow("AAA");
  TfrmNews& w = *frmNews;
  // Above the main window only, not above other programs.
  ASSERT_FALSE(w.windowFlags() & Qt::WindowStaysOnTopHint);
  QTest::mouseClick(w.pbDetail, Qt::LeftButton);
  if (!BrowserControlAvailable()) GTEST_SKIP() << "no browser engine here";
  ASSERT_TRUE(frmIE);
  ASSERT_TRUE(SpinUntil([] { return QApplication::activeWindow() == frmIE.data(); }, 5000));
  // The browser window the news window opened is kept above it.
  ASSERT_TRUE(frmIE->windowHandle());
  EXPECT_EQ(frmIE->windowHandle()->transientParent(), w.windowHandle());
  // The news window can close first; the browser window stays.
  QPointer<TfrmIE> browser = frmIE;
  w.close();
  ASSERT_TRUE(SpinUntil([] { return frmNews.isNull(); }));
  EXPECT_TRUE(browser && browser->isVisible());
}

TEST(NewsUnit, LogsItsStartAndEnd) {
  const bool savedLog = LogOn;
  LogOn = true;
  const std::string path = ProgDir + "stocks.log";
  std::remove(path.c_str());
  {
    QWidget main;
    InstallWebAndNews(&main);
    main.show();
    // A second window after the first closed: the unit started once all the same.
    OpenNewsWindow("AAA");
    EXPECT_TRUE(frmNews);
    if (frmNews) frmNews->close();
    EXPECT_TRUE(SpinUntil([] { return frmNews.isNull(); }, 5000));
    OpenNewsWindow("AAA");
    EXPECT_TRUE(frmNews);
    main.close();
    SpinUntil([] { return frmNews.isNull(); }, 5000);
  }
  LogOn = savedLog;
  MainHooks = {};
  UrlHooks = {};
  std::ifstream in(path);
  std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t web = log.find(" Web Init"), news = log.find(" NewsForm Init"), fin = log.find(" NewFormFinal\r"),
               finZ = log.find(" NewFormFinalZ");
  ASSERT_NE(web, std::string::npos) << log;
  ASSERT_NE(news, std::string::npos) << log;
  ASSERT_NE(fin, std::string::npos) << log;
  ASSERT_NE(finZ, std::string::npos) << log;
  EXPECT_LT(fin, finZ);
  EXPECT_EQ(log.find(" NewsForm Init", news + 1), std::string::npos) << "once per program, not per window";
}

// Without the mouse: Tab reaches the headlines, the arrows choose one, Tab and Shift+Tab leave
// the table for the controls beside it, and Detail, reached by Tab, opens the chosen story.
TEST_F(NewsWindowTest, DrivenByKeyboardAlone) {
  OpenNewsWindow("AAA");
  TfrmNews& w = *frmNews;
  w.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w, 5000));
  w.lbSymb->setFocus();
  auto press = [&](int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QWidget* at = w.focusWidget();
    QTest::keyClick(at ? at : &w, static_cast<Qt::Key>(key), mods);
  };
  for (int i = 0; i < 10 && w.focusWidget() != w.tbNews; ++i) press(Qt::Key_Tab);
  ASSERT_EQ(w.focusWidget(), w.tbNews);
  press(Qt::Key_Down);
  EXPECT_EQ(w.CurrentEntry(), 1);
  press(Qt::Key_Tab);
  QWidget* next = w.focusWidget();
  EXPECT_NE(next, w.tbNews);
  EXPECT_TRUE(next && next->isVisible());
  press(Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_EQ(w.focusWidget(), w.tbNews);
  press(Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_NE(w.focusWidget(), w.tbNews);
  EXPECT_EQ(w.CurrentEntry(), 1);  // passing through kept the headline chosen
  for (int i = 0; i < 30 && w.focusWidget() != w.pbDetail; ++i) press(Qt::Key_Tab);
  ASSERT_EQ(w.focusWidget(), w.pbDetail);
  press(Qt::Key_Space);
  EXPECT_EQ(w.ReadMarks[1], "Y");
  if (w.WB) EXPECT_TRUE(SpinUntil([&] { return w.WB->LocationURL() == w.Links[1]; }));
  else EXPECT_EQ(opened, (std::vector<std::string>{w.Links[1]}));
}
