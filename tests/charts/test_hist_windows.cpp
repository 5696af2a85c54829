// Both historical chart windows offscreen against the fake chart site: look-up, fetch, cache,
// cancel, close during a fetch, errors, trend lines with the mouse, the site banner, and
// screenshots.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <filesystem>
#include <mutex>

#include "ads/banner/ad_banner.h"
#include "ads/banner/ad_params.h"
#include "ads/gif/anim_image_control.h"
#include "charts/hist_ad.h"
#include "charts/hist_banner_row.h"
#include "charts/hist_cache.h"
#include "charts/hist_chart_view.h"
#include "charts/hist_install.h"
#include "charts/hist_new_window.h"
#include "charts/hist_thread.h"
#include "charts/hist_window.h"
#include "core/ad_locations.h"
#include "core/chart_cache.h"
#include "core/log.h"
#include "core/main_hooks.h"
#include "core/settings_file.h"
#include "hist_test_gif.h"
#include "hist_test_site.h"

namespace fs = std::filesystem;
using namespace histtest;

namespace {

void EmptyCache() {
  std::error_code ec;
  fs::remove_all(ChartCacheDir(), ec);
  fs::create_directories(ChartCacheDir(), ec);
  ChartCacheBytes = 0;
}

void Mouse(QWidget* w, QEvent::Type type, int x, int y) {
  const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
  QMouseEvent e(type, QPointF(x, y), w->mapToGlobal(QPointF(x, y)), Qt::LeftButton, buttons, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

void Drag(QWidget* w, int x0, int y0, int x1, int y1) {
  Mouse(w, QEvent::MouseButtonPress, x0, y0);
  Mouse(w, QEvent::MouseMove, (x0 + x1) / 2, (y0 + y1) / 2);
  Mouse(w, QEvent::MouseMove, x1, y1);
  Mouse(w, QEvent::MouseButtonRelease, x1, y1);
}

void Screenshot(QWidget* w, const std::string& name) {
  const std::string dir = std::string(VN_BINARY_DIR) + "/screenshots";
  QDir().mkpath(QString::fromStdString(dir));
  w->grab().save(QString::fromStdString(dir + "/" + name));
}

template <typename W>
void CloseAndFlush(W*& w) {
  if (w) w->close();
  w = nullptr;
  for (int i = 0; i < 3; ++i) QApplication::processEvents();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace

TEST(HistWindow, LooksUpFetchesCachesRefetchesAndDrawsLines) {
  ASSERT_TRUE(SetUpChartSite());
  EmptyCache();
  Ini().DeleteKey("History", "AAPL");
  InstallHistCharts(nullptr);
  ASSERT_TRUE(MainHooks.OpenHistory);
  MainHooks.OpenHistory("aapl");
  TfrmHist* w = FindHistWindow("AAPL");
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->windowTitle().toStdString(), "History Graphs for AAPL");
  // The look-up runs after the first activation; its identifier goes to symbols.dat.
  ASSERT_TRUE(WaitFor([&] { return w->SidParam.rfind("sid=", 0) == 0; }));
  std::string dat;
  ReadWholeFile(ProgDir + "symbols.dat", dat);
  EXPECT_NE(dat.find("|AAPL|"), std::string::npos) << dat;
  EXPECT_NE(dat.find("|MSFT|"), std::string::npos) << dat;
  EXPECT_TRUE(w->pbGet->isEnabled());

  // A second open of the symbol brings the same window forward.
  OpenHistoryWindow("AAPL");
  EXPECT_EQ(HistWindows.Count(), 1);

  const int before = SiteCount("/chart.asp");
  w->dfStock->setText("ibm");
  w->pbGetClick();
  EXPECT_TRUE(w->NoticeShown());
  ASSERT_TRUE(WaitFor([&] { return !w->Fetching() && !w->GifText.empty(); }));
  EXPECT_FALSE(w->NoticeShown());
  EXPECT_EQ(w->GifText.compare(0, 3, "GIF"), 0);
  EXPECT_NE(w->LastQuery.find("symb=AAPL&sid="), std::string::npos) << w->LastQuery;
  EXPECT_NE(w->LastQuery.find("comp=IBM%3A"), std::string::npos) << w->LastQuery;
  EXPECT_EQ(SiteCount("/chart.asp"), before + 1);
  TDateTime stamp;
  const std::string name = w->GetCacheName(stamp);
  EXPECT_TRUE(fs::exists(HistCachePath(name)));

  // The same choices again: fetched anew. Other choices cached earlier: from the cache.
  w->pbGetClick();
  ASSERT_TRUE(WaitFor([&] { return !w->Fetching(); }));
  EXPECT_EQ(SiteCount("/chart.asp"), before + 2);
  const int style = w->cmbBack->currentIndex();
  w->cmbBack->setCurrentIndex(style == 0 ? 1 : 0);
  w->pbGetClick();
  ASSERT_TRUE(WaitFor([&] { return !w->Fetching(); }));
  EXPECT_EQ(SiteCount("/chart.asp"), before + 3);
  w->cmbBack->setCurrentIndex(style);
  w->pbGetClick();
  EXPECT_FALSE(w->Fetching());  // straight from the cache
  EXPECT_EQ(SiteCount("/chart.asp"), before + 3);
  EXPECT_TRUE(SameText(w->ShownFile, HistCachePath(name)));

  // Trend lines with the mouse; Delete in an edit field leaves them alone.
  HistChartView* view = w->Image1;
  Drag(view, 40, 250, 300, 80);
  Drag(view, 60, 200, 480, 200);
  ASSERT_EQ(view->Lines().LineCount(), 2);
  EXPECT_TRUE(w->pbClearLines->isVisible());
  Screenshot(w, "hist_site1_chart_lines.png");
  // Keys go to the focused control as the user types them.
  w->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w));
  auto pressDelete = [] { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Delete); };
  w->dfVal->setFocus();
  w->dfVal->setCursorPosition(0);
  const QString values = w->dfVal->text();
  pressDelete();
  EXPECT_EQ(view->Lines().LineCount(), 2);
  EXPECT_EQ(w->dfVal->text(), values.mid(1));  // the field took the key
  w->dfVal->setText(values);
  // Clicking a line on the chart takes the focus out of the edit field: Delete removes the line.
  QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(200, 200));  // the second line's body
  EXPECT_EQ(view->Lines().SelectedLine(), 2);
  pressDelete();
  EXPECT_EQ(view->Lines().LineCount(), 1);
  EXPECT_EQ(w->dfVal->text(), values);
  // With a list focused, Delete still reaches the window.
  Drag(view, 60, 200, 480, 200);
  ASSERT_EQ(view->Lines().LineCount(), 2);
  w->cmbPeriod->setFocus();
  pressDelete();
  EXPECT_EQ(view->Lines().LineCount(), 1);
  w->pbClearLinesClick();
  EXPECT_EQ(view->Lines().LineCount(), 0);
  EXPECT_FALSE(w->pbClearLines->isVisible());

  // The rubber band while dragging: solid, 2 pixels wide, the chart XOR a colour: red for the
  // style at position 0, the chart's pixel at (2, 2) for one without a colour of its own.
  const QImage plain = view->Rendered();
  for (int style : {0, 1}) {
    w->cmbBack->setCurrentIndex(style);
    Mouse(view, QEvent::MouseButtonPress, 40, 150);
    Mouse(view, QEvent::MouseMove, 400, 150);
    const QImage banded = view->Rendered();
    Mouse(view, QEvent::MouseButtonRelease, 400, 150);
    w->pbClearLinesClick();
    const QRgb colour = style == 0 ? qRgb(255, 0, 0) : plain.pixel(2, 2);
    int wrongColumns = 0;
    for (int x = 60; x <= 380; ++x) {
      int changed = 0;
      for (int y = 140; y <= 160; ++y) {
        if (banded.pixel(x, y) == plain.pixel(x, y)) continue;
        ++changed;
        EXPECT_EQ(banded.pixel(x, y) & 0xFFFFFF, (plain.pixel(x, y) ^ colour) & 0xFFFFFF) << style << " at " << x << "," << y;
      }
      if (changed != 2) ++wrongColumns;
    }
    EXPECT_EQ(wrongColumns, 0) << style;
  }

  // The state is kept per symbol.
  CloseAndFlush(w);
  EXPECT_EQ(HistWindows.Count(), 0);
  const std::string state = Ini().ReadString("History", "AAPL", "");
  EXPECT_NE(state.find("|ibm|"), std::string::npos) << state;  // as typed
  MainHooks.OpenHistory = nullptr;
  MainHooks.OpenProphet = nullptr;
}

// Symbols of share classes written with '+' or a blank open both windows, from the main window
// and typed into their fields, and are fetched as one request each, encoded; in site 2's compare
// field a blank separates symbols and '+' stays inside one.
TEST(HistQuery, SymbolsWithPlusOrBlankAreFetched) {
  ASSERT_TRUE(SetUpChartSite());
  EmptyCache();
  for (const char* key : {"BRK B", "BRK+B"}) {
    Ini().DeleteKey("History", key);
    Ini().DeleteKey("Prophet", key);
  }
  InstallHistCharts(nullptr);
  // A box refusing the symbol would wait for a click: it is said and closed.
  QTimer noBoxes;
  QObject::connect(&noBoxes, &QTimer::timeout, [] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      ADD_FAILURE() << box->text().toStdString();
      box->close();
    }
  });
  noBoxes.start(50);
  auto draw = [](HistChartForm* w) {
    const int before = SiteCount("/chart.asp");
    w->GifText.clear();
    QTest::mouseClick(w->pbGet, Qt::LeftButton);
    EXPECT_TRUE(WaitFor([&] { return !w->Fetching() && !w->GifText.empty(); })) << w->NoticeText();
    EXPECT_FALSE(w->NoticeShown()) << w->NoticeText();
    EXPECT_EQ(SiteCount("/chart.asp"), before + 1);
    return w->GifText;  // its comment is the request as the site had it
  };
  auto type = [](QLineEdit* field, const char* text) {
    field->setFocus();
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(field, text);
    QTest::keyClick(field, Qt::Key_Tab);
  };

  MainHooks.OpenHistory("brk b");
  TfrmHist* one = FindHistWindow("BRK B");
  ASSERT_NE(one, nullptr);
  EXPECT_EQ(one->windowTitle().toStdString(), "History Graphs for BRK B");
  one->activateWindow();
  ASSERT_TRUE(WaitFor([&] { return one->SidParam.rfind("sid=", 0) == 0; })) << one->NoticeText();
  std::string chart = draw(one);
  EXPECT_NE(chart.find("&symb=BRK+B&sid="), std::string::npos) << one->LastQuery;
  const std::string firstSid = one->SidParam;
  type(one->dfName, "brk+b");
  EXPECT_EQ(one->Symbol, "BRK+B");
  ASSERT_TRUE(WaitFor([&] { return one->SidParam != firstSid && one->pbGet->isEnabled(); })) << one->NoticeText();
  EXPECT_EQ(one->SidParam.rfind("sid=", 0), 0u);
  type(one->dfStock, "brk b");
  chart = draw(one);
  EXPECT_NE(chart.find("&symb=BRK%2BB&sid="), std::string::npos) << one->LastQuery;
  EXPECT_NE(chart.find("&comp=BRK+B%3A"), std::string::npos) << one->LastQuery;
  Screenshot(one, "hist_site1_plus_symbol.png");
  CloseAndFlush(one);

  MainHooks.OpenProphet("brk+b");
  TFrmHistNew* two = FindProphetWindow("BRK+B");
  ASSERT_NE(two, nullptr);
  type(two->dfStock, "brk+b  ge");
  chart = draw(two);
  EXPECT_NE(chart.find("compare=BRK%2BB,GE&symbol=BRK%2BB&"), std::string::npos) << two->Edit1->text().toStdString();
  type(two->dfName, "brk b");
  EXPECT_EQ(two->Symbol, "BRK B");
  chart = draw(two);
  EXPECT_NE(chart.find("&symbol=BRK+B&"), std::string::npos) << two->Edit1->text().toStdString();
  Screenshot(two, "hist_site2_blank_symbol.png");
  CloseAndFlush(two);
  MainHooks.OpenHistory = nullptr;
  MainHooks.OpenProphet = nullptr;
}

TEST(HistWindow, ErrorsCancelCloseDuringFetchAndUnconfiguredSite) {
  ASSERT_TRUE(SetUpChartSite());
  EmptyCache();
  // No identifier on the look-up page.
  auto* w = new TfrmHist("NOSID");
  w->show();
  ASSERT_TRUE(WaitFor([&] { return !w->FirstActivate && !w->Fetching(); }));
  EXPECT_EQ(w->NoticeText(), "Error getting stock info.");
  EXPECT_EQ(w->pbPanelBut->text().toStdString(), "&Retry");
  EXPECT_EQ(w->SidParam, "ERR");
  Screenshot(w, "hist_site1_lookup_error.png");
  CloseAndFlush(w);

  // A chart page that is no GIF: an error, nothing cached.
  w = new TfrmHist("BADCHART");
  w->show();
  ASSERT_TRUE(WaitFor([&] { return w->SidParam.rfind("sid=", 0) == 0; }));
  w->pbGetClick();
  ASSERT_TRUE(WaitFor([&] { return !w->Fetching(); }));
  EXPECT_EQ(w->NoticeText(), "Error Fetching Chart");
  EXPECT_EQ(w->pbPanelBut->text().toStdString(), "&Try Again");
  EXPECT_EQ(GetGifCacheSize(), 0);

  // A chart cut short, with or without a length given: the error with Try Again, nothing shown
  // or cached; Try Again asks again.
  for (const char* cut : {"cutshort", "cutlen"}) {
    // The user types the symbol over the old one and presses Enter, then clicks Get.
    QTest::keyClick(w->dfName, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(w->dfName, cut);
    QTest::keyClick(w->dfName, Qt::Key_Return);
    ASSERT_TRUE(SameText(w->Symbol, cut)) << w->Symbol;
    ASSERT_TRUE(WaitFor([&] { return w->SidParam.rfind("sid=", 0) == 0 && !w->Fetching(); }));
    const int before = SiteCount("/chart.asp");
    QTest::mouseClick(w->pbGet, Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return !w->Fetching(); }));
    EXPECT_EQ(w->NoticeText(), "Error Fetching Chart") << cut;
    EXPECT_EQ(w->pbPanelBut->text().toStdString(), "&Try Again");
    EXPECT_TRUE(w->GifText.empty()) << cut;
    EXPECT_FALSE(w->Image1->HasChart()) << cut;
    EXPECT_EQ(GetGifCacheSize(), 0) << cut;
    QTest::mouseClick(w->pbPanelBut, Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return !w->Fetching(); }));
    EXPECT_EQ(SiteCount("/chart.asp"), before + 2);
    EXPECT_EQ(w->NoticeText(), "Error Fetching Chart");
    EXPECT_EQ(GetGifCacheSize(), 0) << cut;
  }
  Screenshot(w, "hist_site1_chart_cut_short.png");

  // An invalid typed compare stock is refused before anything is sent.
  w->dfStock->setText("A&B");
  w->pbGetClick();
  EXPECT_FALSE(w->Fetching());
  EXPECT_EQ(w->NoticeText(), "\"A&B\" is not a valid symbol");
  w->dfStock->clear();

  // Renaming to a slow chart; Cancel ends the wait at once.
  w->dfName->setText("slow");
  w->dfNameExit();
  EXPECT_EQ(w->Symbol, "SLOW");
  ASSERT_TRUE(WaitFor([&] { return w->SidParam.rfind("sid=", 0) == 0 && !w->Fetching(); }));
  w->pbGetClick();
  ASSERT_TRUE(w->Fetching());
  w->pbPanelButClick();
  EXPECT_FALSE(w->Fetching());
  EXPECT_FALSE(w->NoticeShown());
  // A new request after the cancel runs once the thread is free; closing during it is safe.
  w->pbGetClick();
  EXPECT_TRUE(w->Fetching());
  CloseAndFlush(w);
  EXPECT_TRUE(WaitFor([] { return RunningHttpRequests() == 0; }));

  // No host configured: the window says so and guesses nothing.
  ReadParamsFile("no-such-file.par", ParamList);
  w = new TfrmHist("ZZZ");
  w->show();
  ASSERT_TRUE(WaitFor([&] { return !w->FirstActivate; }));
  EXPECT_EQ(w->NoticeText(), NoChartSiteText);
  w->pbGetClick();
  EXPECT_EQ(w->NoticeText(), NoChartSiteText);
  EXPECT_FALSE(w->Fetching());
  CloseAndFlush(w);
}

// A symbol typed while a chart is fetched cancels that fetch and switches, in both windows.
TEST(HistWindow, ASymbolTypedDuringAFetchSwitches) {
  ASSERT_TRUE(SetUpChartSite());
  EmptyCache();
  Ini().DeleteKey("History", "SLOW");
  Ini().DeleteKey("Prophet", "SLOW");
  HistChartForm* windows[] = {new TfrmHist("SLOW"), new TFrmHistNew("SLOW")};
  for (HistChartForm* w : windows) {
    w->show();
    ASSERT_TRUE(WaitFor([&] { return !w->Fetching(); }));
    QTest::mouseClick(w->pbGet, Qt::LeftButton);
    ASSERT_TRUE(w->Fetching());
    QTest::keyClick(w->dfName, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(w->dfName, "ibm");
    QTest::keyClick(w->dfName, Qt::Key_Return);
    EXPECT_EQ(w->Symbol, "IBM");
    EXPECT_EQ(w->dfName->text().toStdString(), "IBM");
    EXPECT_TRUE(w->windowTitle().endsWith("for IBM")) << w->windowTitle().toStdString();
    // The new symbol's chart comes; the slow one never shows.
    ASSERT_TRUE(WaitFor([&] { return !w->Fetching(); }));
    QTest::mouseClick(w->pbGet, Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return !w->Fetching() && !w->GifText.empty(); }));
    EXPECT_FALSE(w->NoticeShown()) << w->NoticeText();
    w->close();
  }
  for (int i = 0; i < 3; ++i) QApplication::processEvents();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// With the program's own banners, both windows' banner locations carry their two blurb labels,
// left and right of the banner panel on the window's background, site 2's with arrows at the
// banner; a window too narrow for them shows the banner alone.
TEST(HistWindow, OwnBannersHaveTheirBlurbLabels) {
  ASSERT_TRUE(SetUpChartSite("HISTOURADS=YES\n"));
  StringList ads;
  ads.SetText("AD1SORC1=127.0.0.1:9/banner.gif\nAD1HREF1=http://127.0.0.1:9/\nADTIMR1=5\nADWGHT1=1\n"
              "ADLOCT1=3\nADREDIR1=N\nBLURB1=Left|Right\n");
  ReadAdParams(ads);
  ASSERT_TRUE(HasAdsForLocation(3));
  HistChartForm* windows[] = {new TfrmHist("MSFT"), new TFrmHistNew("MSFT")};
  for (HistChartForm* w : windows) {
    w->show();
    AdBanner* banner = nullptr;
    for (QWidget* c : w->findChildren<QWidget*>())
      if (auto* b = dynamic_cast<AdBanner*>(c)) banner = b;
    ASSERT_NE(banner, nullptr);
    ASSERT_TRUE(w->ClickLabL && w->ClickLabR);
    {
      std::lock_guard lock(AdLock);
      EXPECT_EQ(AdLocBlurb1[banner->Location()], w->ClickLabL);
      EXPECT_EQ(AdLocBlurb2[banner->Location()], w->ClickLabR);
    }
    // A banner and a blurb as the banner system shows them.
    const std::string gif = SmallGif(468, 60);
    {
      std::lock_guard lock(AdLock);
      TAnimGif* picture = AdLocGif[banner->Location()];
      picture->LoadFromMemory(reinterpret_cast<const uint8_t*>(gif.data()), gif.size());
      banner->Image()->SetPicture(picture);
      banner->Image()->show();
    }
    w->ClickLabL->setText("Keep this program free");
    w->ClickLabR->setText("Click on sponsors' banners!");
    w->resize(1000, w->height());
    ASSERT_TRUE(WaitFor([&] { return w->BannerRow->LabelsShown() && w->ClickLabR->isVisible(); }));
    const bool arrows = dynamic_cast<TFrmHistNew*>(w) != nullptr;
    ASSERT_EQ(w->ClickPicL != nullptr, arrows);
    const QRect panel(banner->parentWidget()->mapTo(w, QPoint(0, 0)), banner->parentWidget()->size());
    EXPECT_EQ(panel.size(), QSize(470, 62));
    auto inWindow = [&](QWidget* c) { return QRect(c->mapTo(w, QPoint(0, 0)), c->size()); };
    // Outside the panel, each on its side, the arrows between the labels and the panel.
    EXPECT_LE(inWindow(w->ClickLabL).right(), panel.left());
    EXPECT_GE(inWindow(w->ClickLabR).left(), panel.right());
    EXPECT_FALSE(w->ClickLabL->isAncestorOf(banner) || banner->parentWidget()->isAncestorOf(w->ClickLabL));
    if (arrows) {
      EXPECT_TRUE(w->ClickPicL->isVisible() && w->ClickPicR->isVisible());
      EXPECT_LE(inWindow(w->ClickLabL).right(), inWindow(w->ClickPicL).left());
      EXPECT_LE(inWindow(w->ClickPicL).right(), panel.left());
      EXPECT_GE(inWindow(w->ClickPicR).left(), panel.right());
      EXPECT_LE(inWindow(w->ClickPicR).right(), inWindow(w->ClickLabR).left());
    }
    // Readable: drawn in the window's own text colour on its background, not over the banner.
    EXPECT_EQ(w->ClickLabL->palette().color(QPalette::WindowText), w->palette().color(QPalette::WindowText));
    Screenshot(w, arrows ? "hist_site2_banner_blurbs.png" : "hist_site1_banner_blurbs.png");
    if (arrows) {
      // Too narrow for the labels: the banner alone, whole, as the news window does it.
      w->resize(w->minimumWidth(), w->height());
      ASSERT_TRUE(WaitFor([&] { return !w->BannerRow->LabelsShown(); }));
      EXPECT_FALSE(w->ClickLabL->isVisible() || w->ClickLabR->isVisible() || w->ClickPicL->isVisible() ||
                   w->ClickPicR->isVisible());
      EXPECT_TRUE(w->rect().contains(inWindow(banner->parentWidget())));
      Screenshot(w, "hist_site2_banner_narrow.png");
    }
    ASSERT_TRUE(WaitFor([&] { return !w->Fetching(); }));
    w->close();
  }
  for (int i = 0; i < 3; ++i) QApplication::processEvents();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  ReadAdParams(StringList());
}

TEST(HistWindow, SiteBannerAndWipeOrder) {
  ASSERT_TRUE(SetUpChartSite("HISTINITADPATH=/adf/abs/\n"));
  EmptyCache();
  // With debug logging on, the banner's page goes to the debug log as one line.
  std::vector<std::string> debugLines;
  std::mutex debugMutex;
  SetDebugWindowSink([&](const std::string& line) {
    std::lock_guard lock(debugMutex);
    debugLines.push_back(line);
  });
  DebugOn = true;
  // A wipe order never carried out empties the look-up cache, even without the settings key.
  Ini().DeleteKey("Stocks", "HISTWIPECACHE");
  ParamList.Insert(0, "HISTWIPECACHE=12/01/2026 10:00");
  auto* w = new TfrmHist("MSFT");
  w->show();
  EXPECT_EQ(Ini().ReadString("Stocks", "HISTWIPECACHE", ""), "12/01/2026 10:00");
  EXPECT_EQ(SiteIdCache.find("MSFT"), std::string::npos);
  EXPECT_FALSE(w->OurAds);
  // The non-quiet look-up starts the site's banner; its link comes only with its image.
  ASSERT_TRUE(WaitFor([&] { return !w->AdLink.empty(); }));
  EXPECT_EQ(w->AdLink.rfind("http://" + ChartSite().Host() + "/click/", 0), 0u) << w->AdLink;
  EXPECT_EQ(w->AdImage.rfind("/adimg/", 0), 0u);
  EXPECT_NE(SiteIdCache.find("|MSFT|"), std::string::npos);
  DebugOn = false;
  SetDebugWindowSink(nullptr);
  EXPECT_GE(std::count_if(debugLines.begin(), debugLines.end(),
                          [](const std::string& l) { return l.rfind("<html><body><a href=\"http://", 0) == 0 && l.find("/adimg/") != std::string::npos; }),
            1);
  w->pbGetClick();
  ASSERT_TRUE(WaitFor([&] { return !w->Fetching() && !w->GifText.empty(); }));
  Screenshot(w, "hist_site1_site_banner.png");
  CloseAndFlush(w);
}

// Each banner pass ends on "Done Fetching Ad", also one that stopped early.
TEST(HistSiteAd, EveryPassEndsWithItsDoneLine) {
  ASSERT_TRUE(SetUpChartSite());
  std::vector<std::string> lines;
  std::mutex linesMutex;
  SetDebugWindowSink([&](const std::string& line) {
    std::lock_guard lock(linesMutex);
    lines.push_back(line);
  });
  DebugOn = true;
  // A page without a link ("No HREF"), a missing page ("ERR"), an image that cannot be fetched.
  for (const std::string path : {"/click/1", "/missing", "/adf/rel/"}) {
    TAdThread t;
    t.AdSite = ChartSite().Host();
    t.AdPath = path;
    t.ImageSite = "127.0.0.1:1";
    t.Start(true);
    t.RequestPass();
    ASSERT_TRUE(WaitFor([&] { return !t.Busy(); })) << path;
    t.Shutdown();
    std::lock_guard lock(linesMutex);
    ASSERT_FALSE(lines.empty()) << path;
    EXPECT_EQ(lines.back(), "Done Fetching Ad") << path;
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Done Fetching Ad"), 1) << path;
    lines.clear();
  }
  DebugOn = false;
  SetDebugWindowSink(nullptr);
}

namespace {

// The captions of the window's buttons, boxes and labels that do not fit their control.
std::vector<std::string> ClippedCaptions(QWidget* window) {
  std::vector<std::string> clipped;
  auto check = [&](QWidget* w, QString text, int room) {
    text.remove('&');
    if (!w->isVisible() || text.isEmpty() || text.contains('\n')) return;
    if (w->fontMetrics().horizontalAdvance(text) > room) clipped.push_back(text.toStdString());
  };
  for (QAbstractButton* b : window->findChildren<QAbstractButton*>()) {
    const int indicator = qobject_cast<QCheckBox*>(b) ? 20 : 6;  // a box's square, a button's frame
    check(b, b->text(), b->width() - indicator);
  }
  for (QLabel* l : window->findChildren<QLabel*>()) check(l, l->text(), l->contentsRect().width());
  return clipped;
}

}  // namespace

// Both windows stay above the main window only: a dialog opened from the main window (the
// preferences) comes above them.
TEST(HistWindow, BothStayAboveTheMainWindowOnly) {
  ASSERT_TRUE(SetUpChartSite());
  QMainWindow main;
  main.show();
  OpenHistoryWindow("IBM");
  OpenProphetWindow("IBM");
  HistChartForm* windows[] = {FindHistWindow("IBM"), FindProphetWindow("IBM")};
  for (HistChartForm* w : windows) {
    ASSERT_NE(w, nullptr);
    EXPECT_FALSE(w->windowFlags() & Qt::WindowStaysOnTopHint) << w->windowTitle().toStdString();
    ASSERT_NE(w->windowHandle(), nullptr);
    EXPECT_EQ(w->windowHandle()->transientParent(), main.windowHandle());
  }
  // At their built-in size every caption fits (the Prophet window's widest buttons included).
  for (HistChartForm* w : windows) {
    QApplication::processEvents();
    EXPECT_EQ(ClippedCaptions(w), std::vector<std::string>()) << w->windowTitle().toStdString();
  }
  Screenshot(windows[1], "hist_site2_captions.png");
  // The compare stock's label reads "& Stock", its ampersand shown once.
  std::vector<std::string> ampersands;
  for (QLabel* l : windows[0]->findChildren<QLabel*>())
    if (l->text().contains('&') && !l->buddy()) ampersands.push_back(l->text().toStdString());
  EXPECT_EQ(ampersands, std::vector<std::string>{"& Stock"});
  for (HistChartForm* w : windows) {
    ASSERT_TRUE(WaitFor([&] { return !w->Fetching(); }));
    w->close();
  }
  for (int i = 0; i < 3; ++i) QApplication::processEvents();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST(HistWindow, BothSaveTheirRestoredPlaceWhenClosedMaximised) {
  ASSERT_TRUE(SetUpChartSite());
  Ini().DeleteKey("History", "IBM");
  Ini().DeleteKey("Prophet", "IBM");
  OpenHistoryWindow("IBM");
  OpenProphetWindow("IBM");
  HistChartForm* windows[] = {FindHistWindow("IBM"), FindProphetWindow("IBM")};
  QRect normal[2];
  for (int i = 0; i < 2; ++i) {
    HistChartForm* w = windows[i];
    ASSERT_NE(w, nullptr);
    ASSERT_TRUE(WaitFor([&] { return !w->Fetching(); }));
    w->move(60 + i * 10, 50 + i * 10);
    QApplication::processEvents();
    normal[i] = QRect(w->pos(), w->size());
    w->showMaximized();
    ASSERT_TRUE(WaitFor([&] { return w->size() != normal[i].size(); }));
    w->close();
  }
  for (int i = 0; i < 3; ++i) QApplication::processEvents();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  const auto site1 = SplitStateFields(Ini().ReadString("History", "IBM", ""));
  ASSERT_GE(site1.size(), 2u);
  EXPECT_EQ(site1[0] + "," + site1[1], std::to_string(normal[0].x()) + "," + std::to_string(normal[0].y()));
  const auto site2 = SplitStateFields(Ini().ReadString("Prophet", "IBM", ""));
  ASSERT_EQ(site2.size(), 14u);
  EXPECT_EQ(site2[0] + "," + site2[1] + " " + site2[12] + "x" + site2[13],
            std::to_string(normal[1].x()) + "," + std::to_string(normal[1].y()) + " " +
                std::to_string(normal[1].width()) + "x" + std::to_string(normal[1].height()));
}

TEST(HistNewWindow, FetchesToTheWindowSizeAndCachesBySize) {
  ASSERT_TRUE(SetUpChartSite());
  EmptyCache();
  Ini().DeleteKey("Prophet", "MSFT");
  auto* w = new TFrmHistNew("MSFT");
  w->show();
  EXPECT_EQ(w->windowTitle().toStdString(), "Prophet Graphs for MSFT");
  EXPECT_EQ(HistNewWindows.IndexOf("MSFT"), 0);
  // The built-in state: two EMA values, flags "06" and "2".
  EXPECT_EQ(w->BottomFlags, "06");
  EXPECT_EQ(w->TopFlags, "2");
  w->UpperPop("Envelopes");
  w->UpperPop("Bollinger Bands");
  EXPECT_EQ(w->TopFlags, "123");
  w->dfStock->setText("ibm  ge,");
  w->pbGetClick();
  ASSERT_TRUE(WaitFor([&] { return !w->Fetching() && !w->GifText.empty(); }));
  const std::string query = w->Edit1->text().toStdString();
  const std::string size = "width=" + std::to_string(w->Image1->width()) + "&height=" + std::to_string(w->Image1->height());
  EXPECT_NE(query.find(size), std::string::npos) << query;
  EXPECT_NE(query.find("compare=IBM,GE&"), std::string::npos) << query;
  EXPECT_NE(query.find("symbol=MSFT&duration=6m&"), std::string::npos) << query;
  EXPECT_NE(query.find("&bb=20&sar=1&env=5"), std::string::npos) << query;
  TDateTime stamp;
  const std::string before = w->GetCacheName(stamp);
  EXPECT_TRUE(fs::exists(HistCachePath(before)));
  Drag(w->Image1, 30, 60, 400, 200);
  Screenshot(w, "hist_site2_chart.png");

  // A new size asks the site for that size, under another name.
  w->resize(w->width() + 120, w->height() + 60);
  QApplication::processEvents();
  EXPECT_NE(w->GetCacheName(stamp), before);
  w->pbGetClick();
  ASSERT_TRUE(WaitFor([&] { return !w->Fetching(); }));
  EXPECT_NE(w->Edit1->text().toStdString().find("width=" + std::to_string(w->Image1->width())), std::string::npos);
  EXPECT_EQ(w->Image1->Lines().LineCount(), 1);  // lines stay across images
  Screenshot(w, "hist_site2_resized.png");
  CloseAndFlush(w);
  const auto f = SplitStateFields(Ini().ReadString("Prophet", "MSFT", ""));
  ASSERT_EQ(f.size(), 14u);
  EXPECT_EQ(f[9], "123");
}

TEST(HistThread, OneRequestAtATimeCancelAndResultsPerRequest) {
  ASSERT_TRUE(ChartSite().Running());
  THistThread t('#');
  std::vector<int> done;
  t.OnDone = [&](int serial) { done.push_back(serial); };
  t.Start(true);
  int slow = 0, second = 0;
  ASSERT_TRUE(t.Request(ChartSite().Host(), 80, "/chart.asp?symb=SLOW&ms=20000", "", slow));
  EXPECT_FALSE(t.Request(ChartSite().Host(), 80, "/chart.asp?symb=X", "", second));
  t.Cancel();
  ASSERT_TRUE(WaitFor([&] { return done.size() == 1; }));
  std::string body;
  bool cancelled = false;
  EXPECT_FALSE(t.TakeResult(slow + 1, body, cancelled));
  ASSERT_TRUE(t.TakeResult(slow, body, cancelled));
  EXPECT_TRUE(cancelled);
  EXPECT_TRUE(body.empty());

  ASSERT_TRUE(t.Request(ChartSite().Host(), 80, "/chart.asp?symb=IBM", "", second));
  ASSERT_TRUE(WaitFor([&] { return done.size() == 2; }));
  ASSERT_TRUE(t.TakeResult(second, body, cancelled));
  EXPECT_FALSE(cancelled);
  EXPECT_EQ(body.compare(0, 3, "GIF"), 0);

  // A request still running when its owner stops the thread ends at once.
  ASSERT_TRUE(t.Request(ChartSite().Host(), 80, "/chart.asp?symb=SLOW&ms=20000", "", slow));
  t.Shutdown();
  EXPECT_TRUE(t.Finished());
}
