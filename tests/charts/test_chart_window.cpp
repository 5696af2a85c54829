// The chart window offscreen: symbol kinds, commands, settings, the picker, and a screenshot.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QAction>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMainWindow>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QWindow>

#include <cmath>
#include <filesystem>

#include "chart_test_data.h"
#include "charts/chart_widget.h"
#include "charts/chart_window.h"
#include "charts/custom_period_dialog.h"
#include "charts/pick_indicator_dialog.h"
#include "core/add_snap.h"
#include "core/button_form.h"
#include "core/program_state.h"
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

// Picks an entry of the chart's pop-up menu as a user does: a right click on the price chart,
// then a click on the entry.
void PickFromPopup(TdlgChart* c, QAction* entry) {
  const QPoint at = c->PriceChart->rect().center();
  QContextMenuEvent right(QContextMenuEvent::Mouse, at, c->PriceChart->mapToGlobal(at));
  QApplication::sendEvent(c->PriceChart, &right);
  ASSERT_TRUE(c->Pop->isVisible());
  ASSERT_TRUE(entry->isVisible());
  QTest::mouseClick(c->Pop, Qt::LeftButton, {}, c->Pop->actionGeometry(entry).center());
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
  EXPECT_EQ(TdlgCustTP::MinutesFromText(" 90 "), 90);

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

// Portfolio snapshots are stored in dollars with their previous close; in "%" mode the chart
// plots and captions each one's change from its own previous close, and follows the setting.
TEST(ChartWindow, PercentPortfolioChartsPlotTheChangeFromEachPreviousClose) {
  for (int m = 0; m < 20; ++m) {
    SnapData d;
    d.Symbol = "PORT7";
    // Shares bought after ten minutes: value and previous close both double.
    d.Last = m < 10 ? 1000.0f + m * 10.0f : 2200.0f;
    d.PrevClose = m < 10 ? 1000.0f : 2000.0f;
    d.MarketDate = Day;
    d.QuoteTime = EncodeTime(9, 30, 0, 0) + m / 1440.0;
    AddSnap(d);
  }
  ChartHooks.PortNameForSymbol = [](const std::string&) { return std::string("Demo Portfolio"); };
  LiveSettings.PortChart = "%";
  TdlgChart* c = OpenChart("PORT7");
  ASSERT_TRUE(c);
  Pump();
  EXPECT_EQ(c->windowTitle().toStdString(), "Demo Portfolio: 10.00% (All)");
  const ChartLineSeries& line = c->PriceChart->Series(0);
  ASSERT_EQ(line.Count(), 20);
  EXPECT_NEAR(line.Y(0), 0, 1e-4);
  EXPECT_NEAR(line.Y(5), 5, 1e-4);
  EXPECT_NEAR(line.Y(19), 10, 1e-4);
  EXPECT_LT(c->PriceChart->RightAxis.Max, 100);

  // Switched to dollars (as the preferences do), the chart is drawn again in dollars.
  LiveSettings.PortChart = "$";
  c->ApplySettings();
  c->PostRedraw();
  for (int i = 0; i < 100 && !c->windowTitle().contains('$'); ++i) Pump();
  EXPECT_EQ(c->windowTitle().toStdString(), "Demo Portfolio: $2200.00 (All)");
  EXPECT_NEAR(c->PriceChart->Series(0).Y(19), 2200, 1e-3);
  c->close();
  Pump();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  ChartHooks = ChartHookTable();
  LiveSettings.PortChart.clear();
}

// Export Data: a name typed without an extension gets ".csv"; a write that fails is said.
TEST(ChartWindow, ExportAppliesTheDefaultExtensionAndSaysAFailure) {
  Feed("EXPT", 5, 30);
  std::string typed;
  std::vector<std::string> told;
  ChartHooks.AskExportFileName = [&](QWidget*, const std::string&) { return typed; };
  ChartHooks.Tell = [&](QWidget*, const std::string& text, const std::string& caption) {
    told.push_back(caption + ": " + text);
  };
  DebugOn = true;  // the command shows in debug mode only
  TdlgChart* c = OpenChart("EXPT");
  ASSERT_TRUE(c);
  Pump();
  namespace fs = std::filesystem;
  const fs::path dir = fs::path(ProgDir) / "export";
  fs::create_directories(dir);
  typed = (dir / "ticks").string();
  PickFromPopup(c, c->ExportChartData1);
  EXPECT_TRUE(fs::exists(dir / "ticks.csv"));
  EXPECT_FALSE(fs::exists(dir / "ticks"));
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0], "Export Finished: Data saved in comma-separated format to file \"" + (dir / "ticks.csv").string() + "\".");
  // A folder that does not exist: the user is told, nothing is claimed.
  typed = (dir / "missing" / "ticks.csv").string();
  PickFromPopup(c, c->ExportChartData1);
  ASSERT_EQ(told.size(), 2u);
  EXPECT_EQ(told[1], "Export Failed: The data could not be saved to file \"" + typed + "\".");
  DebugOn = false;
  c->close();
  Pump();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  ChartHooks = ChartHookTable();
}

// A chart closed while one of its dialogs is open ends the dialog first and closes after it;
// the dialog is never freed under its own loop.
TEST(ChartWindow, ClosedWhileItsDialogIsOpen) {
  ChartHooks = ChartHookTable();
  TdlgChart* c = OpenChart("DLGC");
  ASSERT_TRUE(c);
  Pump();
  QPointer<TdlgChart> chart(c);
  bool sawDialog = false;
  QTimer::singleShot(100, c, [&] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (qobject_cast<QDialog*>(w) && w->isVisible()) sawDialog = true;
    chart->close();  // as the window's close button does
  });
  PickFromPopup(c, c->PopShowCustTP);  // the custom period dialog, left open
  EXPECT_TRUE(sawDialog);
  for (int i = 0; i < 100 && chart; ++i) {
    Pump();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  EXPECT_FALSE(chart);
  EXPECT_TRUE(OpenChartWindows().empty());
}

TEST(ChartWindow, ResearchAddressIsEncodedAndWebOnly) {
  EXPECT_EQ(TdlgChart::ResearchAddress("RESEARCH......https://x.test/q?s=##STOCKS##", "A&B C"),
            "https://x.test/q?s=A%26B+C");
  EXPECT_EQ(TdlgChart::ResearchAddress("RESEARCH......file:///etc/passwd", "A"), "");
  EXPECT_EQ(TdlgChart::ResearchAddress("RESEARCH......", "A"), "");
}

namespace {

// Types into a field as a user does (the old text selected first) and leaves it by Tab; the
// field's text afterwards.
QString TypeAndLeave(QLineEdit* field, const QString& typed) {
  field->setFocus();
  QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
  if (typed.isEmpty()) QTest::keyClick(field, Qt::Key_Delete);
  QTest::keyClicks(field, typed);
  QTest::keyClick(field, Qt::Key_Tab);
  return field->text();
}

}  // namespace

// Every field is corrected as it is left, never refused: letters and values below 1 become 1, a
// text that does not read becomes 10, a value above the limit the limit; stored values open as
// stored, in plain decimals; a horizontal-line level below 1 keeps its decimals; OK always closes.
TEST(PickIndicator, FieldsAreCorrectedAsTheyAreLeft) {
  PickIndOn = true;
  PickAllowVolume = false;
  for (int s = 1; s <= 6; ++s) {
    PickIndName[s] = IndNone;
    for (int r = 0; r < 3; ++r) PickIndParam[r][s] = 10;
  }
  PickIndName[1] = "SMA";
  PickIndParam[0][1] = 9.5;  // values the settings take
  PickIndName[4] = "Bollinger High";
  PickIndParam[0][4] = 2000;
  PickIndName[2] = "Horiz. Line";
  PickIndParam[0][2] = 25.5;
  PickIndParam[1][2] = 1;
  PickIndName[3] = "Horiz. Line";
  PickIndParam[0][3] = 0.00001;
  PickIndName[6] = "Volume";  // not offered without volume
  ShowFractions = true;
  QWidget chart;  // the chart it is opened from, in a corner
  chart.setGeometry(0, 0, 300, 200);
  chart.show();
  TdlgPickInd dlg(&chart);
  dlg.show();
  dlg.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
  const QPoint centre = dlg.screen()->availableGeometry().center();
  EXPECT_LE((dlg.frameGeometry().center() - centre).manhattanLength(), 4) << dlg.frameGeometry().center().x();

  EXPECT_EQ(dlg.cmbBottom->currentText(), "MACD");
  EXPECT_EQ(dlg.Field[1]->text(), "9.5");
  EXPECT_EQ(dlg.Field[4]->text(), "2000");
  EXPECT_EQ(dlg.Field[2]->text(), "25.5");
  EXPECT_EQ(dlg.Field[3]->text(), "0.00001");
  EXPECT_EQ(dlg.Caption[2]->text(), "Value");
  EXPECT_TRUE(dlg.CheckBox[2]->isVisible());
  EXPECT_TRUE(dlg.CheckBox[2]->isChecked());
  EXPECT_TRUE(dlg.Field[12]->isHidden());

  const std::pair<const char*, const char*> periods[] = {
      {"0", "1"},      {"-3", "1"},   {"abc", "1"},   {"", "1"},      {"1.2.3", "10"},
      {"2.5", "2.5"},  {"99999", "1440"}, {"12abc", "12"}, {"20 1/2", "20.5"}, {"20", "20"}};
  for (const auto& [typed, shown] : periods) EXPECT_EQ(TypeAndLeave(dlg.Field[1], typed), shown) << typed;
  // Passing through a stored value above the limit brings it to the limit.
  dlg.Field[4]->setFocus();
  QTest::keyClick(dlg.Field[4], Qt::Key_Tab);
  EXPECT_EQ(dlg.Field[4]->text(), "1440");
  const std::pair<const char*, const char*> levels[] = {
      {"0.0005", "0.0005"}, {"0.12345", "0.12345"}, {"-3", "1"}, {"0", "1"}, {"x", "1"}, {"25.5", "25 1/2"}};
  for (const auto& [typed, shown] : levels) EXPECT_EQ(TypeAndLeave(dlg.Field[2], typed), shown) << typed;
  QTest::mouseClick(dlg.CheckBox[2], Qt::LeftButton);  // Adjust Scale off: the hidden field says 0
  EXPECT_EQ(dlg.Field[12]->text(), "0");
  QTest::mouseClick(dlg.CheckBox[2], Qt::LeftButton);

  // The bottom type chosen from its list; stochastic periods stop at 1000.
  dlg.cmbBottom->setFocus();
  while (dlg.cmbBottom->currentText() != "Slow Stoch." && dlg.cmbBottom->currentIndex() + 1 < dlg.cmbBottom->count())
    QTest::keyClick(dlg.cmbBottom, Qt::Key_Down);
  ASSERT_EQ(dlg.cmbBottom->currentText(), "Slow Stoch.");
  EXPECT_EQ(dlg.BotIndPar[2]->text(), "%K Slow");
  EXPECT_EQ(TypeAndLeave(dlg.Field[6], "5000"), "1000");
  // A value typed and not left is corrected by the click on OK, which always closes.
  dlg.Field[16]->setFocus();
  QTest::keyClick(dlg.Field[16], Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(dlg.Field[16], "0");
  const std::string dir = VN_BINARY_DIR "/screenshots";
  std::filesystem::create_directories(dir);
  EXPECT_TRUE(dlg.grab().save(QString::fromStdString(dir + "/indicator_picker_corrected.png")));
  QTest::mouseClick(dlg.findChild<QPushButton*>("pbOK"), Qt::LeftButton);
  EXPECT_FALSE(dlg.isVisible());
  EXPECT_EQ(dlg.result(), QDialog::Accepted);
  EXPECT_EQ(PickIndName[1], "SMA");
  EXPECT_EQ(PickIndParam[0][1], 20);
  EXPECT_EQ(PickIndParam[0][4], 1440);
  EXPECT_EQ(PickIndParam[0][2], 25.5);
  EXPECT_EQ(PickIndParam[1][2], 1);
  EXPECT_EQ(PickIndParam[0][3], 0.00001);
  EXPECT_EQ(PickIndName[6], "Slow Stoch.");
  EXPECT_EQ(PickIndParam[0][6], 1000);
  EXPECT_EQ(PickIndParam[1][6], 1);
  ShowFractions = false;
}

namespace {

// True when a pixel of colour c lies within 2 px of (x, y).
bool ColourNear(const QImage& img, int x, int y, QColor c) {
  for (int dy = -2; dy <= 2; ++dy)
    for (int dx = -2; dx <= 2; ++dx) {
      const QPoint p(x + dx, y + dy);
      if (img.rect().contains(p) && QColor(img.pixel(p)) == c) return true;
    }
  return false;
}

// Where a point of a series on the right axis is painted.
QPoint Mapped(const TChart& chart, const QRect& rect, double x, double y) {
  const QRect plot = chart.PlotRect(rect, QFontMetrics(chart.font()));
  const ChartAxis& b = chart.BottomAxis;
  const ChartAxis& v = chart.RightAxis;
  return QPoint(static_cast<int>(std::lround(plot.left() + (x - b.Min) * (plot.width() - 1) / (b.Max - b.Min))),
                static_cast<int>(std::lround(plot.bottom() - (y - v.Min) * (plot.height() - 1) / (v.Max - v.Min))));
}

}  // namespace

TEST(ChartWidget, DrawsPointsWhereTheAxesPutThemAndLabelsInside) {
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
  // The line passes through its points, and a gap (NaN at 955) leaves the segment around it out.
  for (int x : {921, 940, 981}) EXPECT_TRUE(ColourNear(img, Mapped(chart, img.rect(), x, x % 50).x(), Mapped(chart, img.rect(), x, x % 50).y(), Qt::yellow)) << x;
  const QPoint gap = Mapped(chart, img.rect(), 955, 5.5);
  EXPECT_FALSE(ColourNear(img, gap.x(), gap.y(), Qt::yellow));
  for (const TChart::AxisLabel& l : chart.Labels(img.rect(), QFontMetrics(chart.font())))
    EXPECT_TRUE(img.rect().contains(l.Box)) << l.Text.toStdString();
}

TEST(ChartWindow, CascadeStaysWithinTheScreen) {
  // Two new charts without places of their own open one step apart.
  ASSERT_TRUE(OpenChartWindows().empty());
  TdlgChart* a = OpenChart("CASA");
  TdlgChart* b = OpenChart("CASB");
  Pump();
  // (The window system may nudge the first one by its frame.)
  const QPoint step = b->geometry().topLeft() - a->geometry().topLeft();
  EXPECT_GE(step.x(), 20);
  EXPECT_GE(step.y(), 20);
  for (TdlgChart* w : {a, b}) EXPECT_TRUE(w->screen()->availableGeometry().contains(w->frameGeometry()));
  const QPoint first = a->geometry().topLeft();
  a->move(a->screen()->availableGeometry().topLeft() + QPoint(150, 120));
  Pump();
  const QPoint own = a->geometry().topLeft();
  CloseAllCharts();
  Pump();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

  // A chart opened at its saved place is not a cascaded one: the next new chart takes the first
  // cascade place, not the one after it.
  Ini().DeleteKey("Charts", "CASB");
  a = OpenChart("CASA");
  Pump();
  EXPECT_EQ(a->geometry().topLeft(), own);
  b = OpenChart("CASB");
  Pump();
  EXPECT_EQ(b->geometry().topLeft(), first);
  CloseAllCharts();
  Pump();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  for (const char* symbol : {"CASA", "CASB"}) Ini().DeleteKey("Charts", symbol);
}

TEST(ChartWindow, ClosedMaximisedItReopensAtItsRestoredPlace) {
  Ini().DeleteKey("Charts", "MAXC");
  TdlgChart* c = OpenChart("MAXC");
  c->setGeometry(c->screen()->availableGeometry().topLeft().x() + 70, c->screen()->availableGeometry().top() + 60, 420, 330);
  Pump();
  const QRect normal = c->geometry();
  c->showMaximized();
  for (int i = 0; i < 100 && c->size() == normal.size(); ++i) Pump();
  ASSERT_NE(c->size(), normal.size());
  c->close();
  Pump();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  c = OpenChart("MAXC");
  Pump();
  EXPECT_FALSE(c->isMaximized());
  EXPECT_EQ(c->geometry(), normal);
  CloseAllCharts();
  Pump();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  Ini().DeleteKey("Charts", "MAXC");
}

TEST(ChartWindow, DialogsComeAboveAndBadMinutesAreRefused) {
  QMainWindow main;
  main.resize(400, 300);
  main.show();
  Pump();
  Feed("DLGS", 30, 20);
  TdlgChart* c = OpenChart("DLGS");
  ASSERT_TRUE(c);
  Pump();
  // Kept above the main window, not above every window of every program.
  EXPECT_FALSE(c->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  ASSERT_TRUE(c->windowHandle());
  EXPECT_EQ(c->windowHandle()->transientParent(), main.windowHandle());
  {
    TdlgPickInd dlg(c);
    EXPECT_FALSE(dlg.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  }
  EXPECT_FALSE(c->LookupButton()->toolTip().isEmpty());
  EXPECT_FALSE(c->HelpButton()->toolTip().isEmpty());

  // F1 opens the program's help from the chart and from the picker.
  int helps = 0;
  GlobalHotKeys.Help = [&] { ++helps; };
  QKeyEvent f1(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
  QApplication::sendEvent(c->PriceChart, &f1);
  EXPECT_EQ(helps, 1);
  {
    TdlgPickInd dlg(c);
    dlg.show();
    Pump();
    QKeyEvent f1b(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
    QApplication::sendEvent(dlg.Field[1], &f1b);
    EXPECT_EQ(helps, 2);
    EXPECT_TRUE(dlg.isVisible());
    // "%K Slow" fits its label, which covers no field.
    dlg.cmbBottom->setCurrentText("Slow Stoch.");
    dlg.cmbTypeClick(6);
    for (QLabel* l : dlg.BotIndPar) {
      EXPECT_LE(l->sizeHint().width(), l->width()) << l->text().toStdString();
      for (QLineEdit* f : dlg.Field) {
        if (!f) continue;
        EXPECT_FALSE(l->geometry().intersects(f->geometry())) << l->text().toStdString();
      }
    }
    EXPECT_EQ(dlg.BotIndPar[2]->text(), "%K Slow");
    dlg.reject();
  }
  GlobalHotKeys.Help = nullptr;

  // The hidden "Printer Setup..." item opens the printer dialog.
  bool setupShown = false;
  QTimer::singleShot(0, [&] {
    QWidget* m = QApplication::activeModalWidget();
    setupShown = m && m->inherits("QPrintDialog");
    if (auto* d = qobject_cast<QDialog*>(m)) d->reject();
  });
  c->PrinterSetup1->trigger();
  EXPECT_TRUE(setupShown);

  // The custom period: letters, decimals, nothing, 0 and negatives are refused in the dialog.
  {
    TdlgCustTP tp(c);
    tp.show();
    for (const char* bad : {"abc", "1.5", "", "0", "-5"}) {
      tp.dfMin->setText(bad);
      tp.pbOKClick();
      EXPECT_TRUE(tp.isVisible()) << bad;
      EXPECT_TRUE(tp.lbError->isVisible()) << bad;
      EXPECT_EQ(tp.lbError->text(), "Enter a whole number of minutes from 1 to 1440.");
    }
    tp.dfMin->setText("90");
    tp.pbOKClick();
    EXPECT_FALSE(tp.isVisible());
    EXPECT_EQ(tp.Minutes(), 90);
  }
  c->close();
  Pump();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST(ChartWindow, PlainBackgroundResizeAndLabelsClearOfTheButtons) {
  // The slot-3 indicator colour is no longer the ask line's.
  const GlobVars defaults;
  EXPECT_NE(defaults.Ind[2], defaults.AskClr);
  EXPECT_NE(defaults.Ind[2], defaults.BidClr);
  EXPECT_NE(defaults.Ind[2], defaults.PriceClr);

  const GlobVars saved = LiveSettings;
  LiveSettings.Gradient = false;
  LiveSettings.BackClr = RGBColor(20, 70, 20);
  LiveSettings.GradStart = RGBColor(90, 0, 0);
  Feed("SIZE", 200, 30);
  TdlgChart* c = OpenChart("SIZE");
  ASSERT_TRUE(c);
  // Sized tiny, updated, then enlarged.
  c->resize(120, 90);
  Pump();
  c->msgRedraw(true);
  Pump();
  c->resize(800, 560);
  Pump();
  const double lastTime = At(9, 30) + 199 * MinuteDays;
  const ChartAxis& t = c->PriceChart->BottomAxis;
  EXPECT_LT(t.Max - lastTime, 2 * MinuteDays);  // no long empty stretch into the future
  EXPECT_LT(t.Min, At(9, 31));
  const QRect pr = c->PriceChart->rect();
  const QFontMetrics fm(c->PriceChart->font());
  int priceLabels = 0;
  for (const TChart::AxisLabel& l : c->PriceChart->Labels(pr, fm)) {
    EXPECT_TRUE(pr.contains(l.Box)) << l.Text.toStdString();
    if (l.Bottom) continue;
    ++priceLabels;
    // No caption button covers a price label.
    for (const QToolButton* b : {c->LookupButton(), c->HelpButton()}) {
      ASSERT_FALSE(b->isHidden());
      const QRect br(c->PriceChart->mapFrom(c, b->geometry().topLeft()), b->size());
      EXPECT_FALSE(br.intersects(l.Box)) << l.Text.toStdString();
    }
  }
  EXPECT_GE(priceLabels, 4);
  // Nor could it: a label at the very top of the plot starts below them.
  const int highestLabel = c->PriceChart->PlotRect(pr, fm).top() - fm.height() / 2;
  for (const QToolButton* b : {c->LookupButton(), c->HelpButton()})
    EXPECT_GT(highestLabel, c->PriceChart->mapFrom(c, b->geometry().bottomLeft()).y());
  const QRect vr = c->VolChart->rect();
  for (const TChart::AxisLabel& l : c->VolChart->Labels(vr, QFontMetrics(c->VolChart->font())))
    EXPECT_TRUE(vr.contains(l.Box)) << l.Text.toStdString();
  // With the gradient off the chart is the back colour.
  const QImage img = c->PriceChart->grab().toImage();
  EXPECT_EQ(QColor(img.pixel(1, img.height() / 2)), ToQColor(LiveSettings.BackClr));
  c->close();
  Pump();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  LiveSettings = saved;
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
  // The legend names the slots in their colours, inside the window.
  EXPECT_TRUE(c->lbLegend[1]->isVisible());
  EXPECT_EQ(c->lbLegend[1]->text(), "SMA(20)");
  EXPECT_EQ(c->lbLegend[2]->text(), "BHi(10)");
  EXPECT_TRUE(c->MainPan->rect().contains(c->lbLegend[3]->geometry()));
  EXPECT_FALSE(c->lbLegend[1]->geometry().intersects(c->lbLegend[2]->geometry()));
  // The price line reaches the last price at the height the axis gives it.
  const ChartLineSeries& line = c->PriceChart->Series(0);
  const QImage img = c->PriceChart->grab().toImage();
  const int last = line.Count() - 1;
  const QPoint at = Mapped(*c->PriceChart, c->PriceChart->rect(), line.X(last), line.Y(last));
  EXPECT_TRUE(ColourNear(img, at.x(), at.y(), line.Color)) << at.x() << "," << at.y();
  EXPECT_TRUE(c->windowTitle().startsWith("SHOT: "));
  for (TChart* chart : {c->PriceChart, c->VolChart})
    for (const TChart::AxisLabel& l : chart->Labels(chart->rect(), QFontMetrics(chart->font())))
      EXPECT_TRUE(chart->rect().contains(l.Box)) << l.Text.toStdString();
  const std::string dir = VN_BINARY_DIR "/screenshots";
  std::filesystem::create_directories(dir);
  EXPECT_TRUE(c->grab().save(QString::fromStdString(dir + "/intraday_chart.png")));
  {
    PickIndName = c->Settings.IndName;
    PickIndParam = c->Settings.IndParam;
    PickIndName[6] = "Slow Stoch.";
    TdlgPickInd dlg(c);
    dlg.show();
    Pump();
    dlg.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&dlg));
    EXPECT_EQ(TypeAndLeave(dlg.Field[2], "99999"), "1440");
    EXPECT_TRUE(dlg.grab().save(QString::fromStdString(dir + "/indicator_picker.png")));
    dlg.reject();
  }
  c->close();
  Pump();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
