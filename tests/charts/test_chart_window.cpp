// The chart window offscreen: symbol kinds, commands, settings, the picker, and a screenshot.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QAction>
#include <QLineEdit>
#include <QPainter>

#include <cmath>
#include <filesystem>

#include "chart_test_data.h"
#include "charts/chart_widget.h"
#include "charts/chart_window.h"
#include "charts/custom_period_dialog.h"
#include "charts/pick_indicator_dialog.h"
#include "core/add_snap.h"
#include "core/settings.h"
#include "core/settings_file.h"
#include "core/stock_table.h"

using namespace charttest;

namespace {

void Feed(const std::string& symbol, int minutes, float base) {
  for (int m = 0; m < minutes; ++m) {
    SnapData d;
    d.Symbol = symbol;
    d.Last = base + std::sin(m / 7.0f) * 0.8f + m * 0.01f;
    d.Bid = d.Last - 0.05f;
    d.Ask = d.Last + 0.05f;
    d.Volume = 1000.0f * m;
    d.MarketDate = Day;
    d.QuoteTime = EncodeTime(9, 30, 0, 0) + m / 1440.0;
    AddSnap(d);
  }
}

void Pump() {
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
}

}  // namespace

TEST(ChartWindow, SymbolKindsPeriodsCaptionsAndClear) {
  Feed("TSTA", 120, 25);
  Feed("$TIDX", 30, 1000);
  TdlgChart* stock = OpenChart("TSTA");
  TdlgChart* index = OpenChart("$TIDX");
  TdlgChart* port = OpenChart("PORT1");
  ASSERT_TRUE(stock && index && port);
  EXPECT_EQ(OpenChart("tsta"), stock);  // one window per symbol
  Pump();
  EXPECT_FALSE(stock->NoVolume);
  EXPECT_TRUE(index->NoVolume);
  EXPECT_TRUE(port->NoVolume);
  EXPECT_EQ(index->Settings.IndName[6], "MACD");
  EXPECT_TRUE(stock->Island->isVisible());
  EXPECT_FALSE(index->Research->isVisible());
  EXPECT_GT(stock->RedrawCount(), 0);
  EXPECT_TRUE(stock->windowTitle().startsWith("TSTA: "));
  EXPECT_TRUE(stock->windowTitle().endsWith("(All)"));
  EXPECT_TRUE(stock->panNoData->isHidden());
  EXPECT_FALSE(port->panNoData->isHidden());  // nothing collected for the portfolio

  stock->wmHandleMessages(WmSysCommand, Period30Min);
  Pump();
  EXPECT_TRUE(stock->windowTitle().endsWith("(30m)"));
  EXPECT_TRUE(stock->popShow30->isChecked());
  EXPECT_FALSE(stock->PopAllDay->isChecked());
  EXPECT_NEAR(stock->PriceChart->BottomAxis.Min, At(9, 30) + 89 * MinuteDays, 1e-6);

  ChartHooks.AskCustomMinutes = [](QWidget*, int) { return std::optional<int>(90); };
  stock->wmHandleMessages(WmSysCommand, PeriodCustom);
  Pump();
  EXPECT_TRUE(stock->windowTitle().endsWith("(1h30m)"));
  EXPECT_EQ(TdlgChart::PeriodText(PeriodCustom, 60), "1h");
  EXPECT_EQ(TdlgChart::PeriodText(PeriodCustom, 45), "45m");
  EXPECT_EQ(TdlgCustTP::MinutesFromText(" 2000 "), 1440);
  EXPECT_FALSE(TdlgCustTP::MinutesFromText("1.5"));

  stock->wmHandleMessages(WmSysCommand, 1000);
  EXPECT_FALSE(stock->Settings.ShowBottom);
  EXPECT_EQ(stock->popVol->text(), "Show &Bottom Chart");

  // "Sync All Charts": the index keeps its own bottom indicator.
  stock->Settings.IndName[6] = "Volume";
  stock->wmHandleMessages(WmSysCommand, 1005);
  EXPECT_EQ(index->Settings.Period, PeriodCustom);
  EXPECT_EQ(index->Settings.CustomMinutes, 90);
  EXPECT_EQ(index->Settings.IndName[6], "MACD");

  // Clear, declined and confirmed.
  ChartHooks.AskYesNo = [](QWidget*, const std::string&, const std::string&) { return false; };
  stock->wmHandleMessages(WmSysCommand, 1008);
  StockInfoType* rec = StockTable.Objects(StockTable.Find("TSTA"));
  EXPECT_EQ(rec->Values.Count(), 120);
  ChartHooks.AskYesNo = [](QWidget*, const std::string&, const std::string&) { return true; };
  stock->wmHandleMessages(WmSysCommand, 1008);
  Pump();
  EXPECT_EQ(rec->Values.Count(), 0);
  EXPECT_FALSE(stock->panNoData->isHidden());

  // The pulse reaches every window; closing saves the settings line.
  const int before = index->RedrawCount();
  PulseCharts();
  Pump();
  EXPECT_GT(index->RedrawCount(), before);
  CloseAllCharts();
  Pump();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(OpenChartWindows().empty());
  const std::string saved = Ini().ReadString("Charts", "TSTA", "");
  EXPECT_NE(saved.find(",1010,N,"), std::string::npos);
  EXPECT_NE(saved.find(",90,"), std::string::npos);

  // Reopened, the window comes back with its settings.
  TdlgChart* again = OpenChart("TSTA");
  Pump();
  EXPECT_EQ(again->Settings.Period, PeriodCustom);
  EXPECT_EQ(again->Settings.CustomMinutes, 90);
  EXPECT_FALSE(again->Settings.ShowBottom);
  again->close();
  Pump();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  ChartHooks = ChartHookTable();
}

TEST(ChartWindow, ResearchAddressIsEncodedAndWebOnly) {
  EXPECT_EQ(TdlgChart::ResearchAddress("RESEARCH......https://x.test/q?s=##STOCKS##", "A&B C"),
            "https://x.test/q?s=A%26B+C");
  EXPECT_EQ(TdlgChart::ResearchAddress("RESEARCH......file:///etc/passwd", "A"), "");
  EXPECT_EQ(TdlgChart::ResearchAddress("RESEARCH......", "A"), "");
}

TEST(PickIndicator, FieldsFollowTheTypeAndValuesAreCheckedOnClose) {
  PickIndOn = true;
  PickAllowVolume = false;
  for (int s = 1; s <= 6; ++s) {
    PickIndName[s] = IndNone;
    for (int r = 0; r < 3; ++r) PickIndParam[r][s] = 10;
  }
  PickIndName[2] = "Horiz. Line";
  PickIndParam[0][2] = 25.5;
  PickIndParam[1][2] = 1;
  PickIndName[6] = "Volume";  // not offered without volume
  ShowFractions = true;
  TdlgPickInd dlg;
  dlg.show();
  Pump();
  EXPECT_EQ(dlg.cmbBottom->currentText(), "MACD");
  EXPECT_TRUE(dlg.CheckBox[2]->isVisible());
  EXPECT_TRUE(dlg.CheckBox[2]->isChecked());
  EXPECT_TRUE(dlg.Field[12]->isHidden());
  EXPECT_EQ(dlg.Field[2]->text(), "25 1/2");
  EXPECT_EQ(dlg.Caption[2]->text(), "Value");

  dlg.CheckBox[2]->setChecked(false);
  dlg.CheckBox1Click(2);
  EXPECT_EQ(dlg.Field[12]->text(), "0");
  dlg.Field[2]->setText("0.5");  // a level below 1 is fine
  dlg.Edit1Change(dlg.Field[2]);
  dlg.TypeBox[1]->setCurrentText("SMA");
  dlg.cmbTypeClick(1);
  dlg.Field[1]->setText("-3");
  dlg.Edit1Change(dlg.Field[1]);
  EXPECT_EQ(dlg.Field[1]->text(), "1");
  dlg.Field[1]->setText("1.2.3");
  dlg.Edit1Change(dlg.Field[1]);
  EXPECT_EQ(dlg.Field[1]->text(), "10");
  dlg.cmbBottom->setCurrentText("Slow Stoch.");
  dlg.cmbTypeClick(6);
  dlg.Field[6]->setText("0");  // never left: checked on close
  dlg.accept();
  EXPECT_EQ(PickIndName[1], "SMA");
  EXPECT_EQ(PickIndParam[0][2], 0.5);
  EXPECT_EQ(PickIndParam[1][2], 0);
  EXPECT_EQ(PickIndParam[0][6], 1);
  ShowFractions = false;
}

TEST(ChartWidget, SkipsNonFiniteAndRendersOntoAnyPainter) {
  TChart chart;
  chart.resize(300, 200);
  ChartLineSeries* s = chart.AddSeries();
  s->Color = Qt::yellow;
  for (int i = 0; i < 1000; ++i) s->Append(i, i % 7 == 3 ? std::nan("") : i % 50);
  for (int i = 0; i < 900; ++i) s->RemoveFirst();
  ASSERT_EQ(s->Count(), 100);
  EXPECT_EQ(s->X(0), 900);
  chart.BottomAxis.DateTime = false;
  chart.BottomAxis.SetMinMax(900, 1000);
  chart.RightAxis.SetMinMax(0, 50);
  chart.RightAxis.LabelFormatter = [](double, const std::string& t) { return "<" + t + ">"; };
  EXPECT_EQ(chart.RightAxis.LabelText(25), "<25>");
  EXPECT_EQ(FormatFloatPattern("#,##0.00", 1234567.891), "1,234,567.89");
  EXPECT_EQ(FormatFloatPattern("#.0###", 0.05), ".05");
  QImage img(300, 200, QImage::Format_RGB32);
  img.fill(Qt::black);
  QPainter p(&img);
  chart.Render(p, img.rect());
  p.end();
  int yellow = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) yellow += QColor(img.pixel(x, y)) == QColor(Qt::yellow);
  EXPECT_GT(yellow, 50);
}

TEST(ChartWindow, ScreenshotWithOverlaysAndMacd) {
  Feed("SHOT", 240, 40);
  TdlgChart* c = OpenChart("SHOT");
  ASSERT_TRUE(c);
  c->resize(800, 560);
  c->Settings.IndName[1] = "SMA";
  c->Settings.IndName[2] = "Bollinger High";
  c->Settings.IndName[3] = "Bollinger Low";
  c->Settings.IndParam[0][1] = 20;
  c->Settings.IndName[6] = "MACD";
  Pump();
  c->FormResize();
  c->msgRedraw(true);
  Pump();
  EXPECT_GT(c->PriceChart->Series(3).Count(), 100);
  EXPECT_GT(c->VolChart->Series(2).Count(), 100);
  EXPECT_TRUE(c->lbLegend[1]->isVisible());
  const std::string dir = VN_BINARY_DIR "/screenshots";
  std::filesystem::create_directories(dir);
  EXPECT_TRUE(c->grab().save(QString::fromStdString(dir + "/intraday_chart.png")));
  c->close();
  Pump();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
