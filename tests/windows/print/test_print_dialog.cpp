#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMessageBox>
#include <QPageSetupDialog>
#include <QPrinter>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QWindow>
#include <QtTest/QTest>

#include "core/main_hooks.h"
#include "core/settings.h"
#include "grid/grid_columns.h"
#include "grid/grid_views.h"
#include "grid/stock_grid.h"
#include "platform/messages.h"
#include "prefs/prefs_dialog.h"
#include "print_test_util.h"
#include "report_test_data.h"
#include "windows/print/page_printer.h"
#include "windows/print/print_dialog.h"
#include "windows/print/print_install.h"
#include "windows/print/print_progress.h"
#include "windows/print/warning_dialog.h"

namespace {

std::string ScreenshotPath(const char* name) {
  const std::string dir = std::string(VN_BINARY_DIR) + "/screenshots/";
  QDir().mkpath(QString::fromStdString(dir));
  return dir + name;
}

void Key(QWidget* w, int key, Qt::KeyboardModifiers mods) {
  QKeyEvent e(QEvent::KeyPress, key, mods);
  QCoreApplication::sendEvent(w, &e);
}

// Lets the dialog build its first preview (bounded). Not a WaitUntil: the report's own wait
// inside would be refused as a second wait.
void Settle(TdlgPrintPort& dlg) {
  for (int i = 0; i < 2000 && (dlg.pbPreview->isEnabled() || dlg.Busy()); ++i) WaitAndPump(10);
  ASSERT_FALSE(dlg.Busy());
  ASSERT_FALSE(dlg.pbPreview->isEnabled());
}

// A real click: through the window system's input, where a modal window blocks the others.
void Click(QWidget* w) {
  QWidget* top = w->window();
  QTest::mouseClick(top->windowHandle(), Qt::LeftButton, {}, w->mapTo(top, w->rect().center()));
}

// Acts on whatever modal window is on top, every 10 ms, while the test waits in a modal loop.
// Past the deadline it rejects every modal window instead, so a step that failed cannot leave
// the test waiting in a modal loop for ever.
struct ModalDriver {
  QTimer timer;
  QElapsedTimer clock;
  explicit ModalDriver(std::function<void(QWidget* modal)> step, int deadlineMs = 30000) {
    clock.start();
    QObject::connect(&timer, &QTimer::timeout, [this, step, deadlineMs] {
      QWidget* w = QApplication::activeModalWidget();
      if (!w) return;
      if (clock.elapsed() < deadlineMs) {
        step(w);
        return;
      }
      ADD_FAILURE() << "a modal window was still open at the driver's deadline";
      for (int i = 0; i < 10 && (w = QApplication::activeModalWidget()); ++i) {
        if (auto* d = qobject_cast<QDialog*>(w)) d->reject();
        else w->close();
      }
    });
    timer.start(10);
  }
};

// The report's data, no "Print" section and the live view "Report": a first opening.
void FirstOpeningData() {
  SeedReportData();
  Ini().EraseSection("Print");
  LiveSettings.CurView = "Report";
}

QStringList Items(QComboBox* c) {
  QStringList out;
  for (int i = 0; i < c->count(); ++i) out << c->itemText(i);
  return out;
}

}  // namespace

TEST(PrintDialog, FirstOpeningUsesDefaultsShowsThePreviewAndKeepsTheChoices) {
  FirstOpeningData();
  Ini().WriteString("Views", "Tiny", "LastCol,VolCol");
  LoadViews();
  QWidget main;
  main.show();
  TdlgPrintPort dlg(&main);
  dlg.show();
  Settle(dlg);
  EXPECT_EQ(dlg.windowTitle(), "Print Portfolio(s)");
  EXPECT_EQ(dlg.size(), QSize(620, 440));
  EXPECT_EQ(dlg.udFont->value(), 9);
  EXPECT_EQ(dlg.udPadX->value(), 4);
  EXPECT_EQ(dlg.udPadY->value(), 4);
  for (QSpinBox* s : {dlg.udMarTop, dlg.udMarLeft, dlg.udMarRight, dlg.udMarBottom}) EXPECT_EQ(s->value(), 10);
  EXPECT_TRUE(dlg.cbNewPage->isChecked());
  EXPECT_TRUE(dlg.sbAsc->isChecked());
  EXPECT_FALSE(dlg.Detailed());
  EXPECT_FALSE(dlg.udPadX->isVisibleTo(&dlg));
  // Only the main window's portfolio is ticked; the view is the live one.
  ASSERT_EQ(dlg.lbPorts->count(), 2);
  EXPECT_EQ(dlg.lbPorts->item(0)->checkState(), Qt::Checked);
  EXPECT_EQ(dlg.lbPorts->item(1)->checkState(), Qt::Unchecked);
  EXPECT_EQ(dlg.cmbViews->currentText(), "Report");
  // The sort list offers neither the gap nor the chart column.
  EXPECT_EQ(Items(dlg.cmbSortCol), (QStringList{"--None--", "Gain", "Note", "Symbol", "Tick", "Value Change", "Volume"}));
  EXPECT_EQ(dlg.cmbSortCol->currentText(), "--None--");
  EXPECT_FALSE(dlg.pbPreview->isEnabled());
  EXPECT_EQ(dlg.lbPage->text(), "Page 1 of 1");
  EXPECT_NE(dlg.lbZoom->text(), "");
  EXPECT_GE(dlg.PP->ZoomPercent(), 10);
  EXPECT_LE(dlg.PP->ZoomPercent(), 400);
  EXPECT_TRUE(dlg.lbNoPrinter->isVisible() == TdlgPrintPort::NoPrinterInstalled());
  EXPECT_GT(dlg.PP->Pages()->front().Ops.size(), 50u);  // the table, not only the page header
  dlg.grab().save(QString::fromStdString(ScreenshotPath("print_dialog_preview.png")));

  // A sort column the next view still shows is kept; otherwise "--None--".
  dlg.cmbSortCol->setCurrentIndex(dlg.cmbSortCol->findText("Volume"));
  dlg.cmbViews->setCurrentIndex(dlg.cmbViews->findText("Tiny"));
  dlg.cmbViewsClick();
  EXPECT_EQ(dlg.cmbSortCol->currentText(), "Volume");
  EXPECT_TRUE(dlg.pbPreview->isEnabled());
  dlg.cmbSortCol->setCurrentIndex(dlg.cmbSortCol->findText("Last"));
  dlg.cmbViews->setCurrentIndex(dlg.cmbViews->findText("Report"));
  dlg.cmbViewsClick();
  EXPECT_EQ(dlg.cmbSortCol->currentText(), "--None--");

  // Both portfolios, each on its own page; Ctrl+Right turns the page and stops at the last.
  Key(dlg.lbPorts, Qt::Key_A, Qt::ControlModifier);  // the dialog sees it before the list
  EXPECT_EQ(dlg.lbPorts->item(1)->checkState(), Qt::Checked);
  dlg.pbPreviewClick();
  EXPECT_EQ(dlg.lbPage->text(), "Page 1 of 2");
  EXPECT_FALSE(dlg.pbLeft->isEnabled());
  Key(&dlg, Qt::Key_Right, Qt::ControlModifier);
  EXPECT_EQ(dlg.lbPage->text(), "Page 2 of 2");
  Key(&dlg, Qt::Key_Right, Qt::ControlModifier);
  EXPECT_EQ(dlg.PP->PageNumber(), 2);
  EXPECT_FALSE(dlg.pbRight->isEnabled());

  // The zoom bar's top end is 400 %.
  dlg.ZoomBar->setValue(40);
  EXPECT_EQ(dlg.lbZoom->text(), "Zoom = 400%");
  dlg.ZoomBar->setValue(10);
  EXPECT_EQ(dlg.PP->ZoomPercent(), 100);
  dlg.pbLeftClick();
  dlg.PP->grab().save(QString::fromStdString(ScreenshotPath("print_preview_100.png")));

  // Alt+D shows the cell spacing and margins.
  Key(&dlg, Qt::Key_D, Qt::AltModifier);
  EXPECT_TRUE(dlg.Detailed());
  EXPECT_TRUE(dlg.udMarTop->isVisibleTo(&dlg));
  WaitAndPump(50);  // the new layout settles
  dlg.pbBestFitClick();
  WaitAndPump(50);
  dlg.grab().save(QString::fromStdString(ScreenshotPath("print_dialog_detailed_preview.png")));

  // Print It: without a printer the pages go to the PDF file the user names.
  QTemporaryDir dir;
  const std::string pdf = dir.filePath("portfolios").toStdString();
  dlg.AskPdfFileName = [&](const std::string&) { return pdf; };
  dlg.PP->ShowProgress = false;
  dlg.sbDesc->click();
  dlg.pbPrintItClick();
  if (TdlgPrintPort::NoPrinterInstalled()) {
    EXPECT_EQ(PdfPages(QString::fromStdString(pdf + ".pdf")), 2);
  }
  // A cancelled file choice prints nothing.
  dlg.AskPdfFileName = [](const std::string&) { return std::string(); };
  dlg.pbPrintItClick();
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"portfolios.pdf"});

  // Edit Views opens the preferences on their Views page, above the print dialog that opened
  // them (which stays above the main window only); closing them rebuilds the preview.
  EXPECT_FALSE(dlg.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(dlg.windowHandle()->transientParent(), main.windowHandle());
  QWidget* seen = nullptr;  // gone once the dialog closed
  QString seenTitle;
  bool above = false, closing = false;
  QElapsedTimer seenFor;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    QWidget* w = QApplication::activeModalWidget();
    if (!w || w == &dlg || closing) return;
    if (!seen) {
      seen = w;
      seenTitle = w->windowTitle();
      seenFor.start();
    }
    // It becomes the active window a little after it is shown (later on a busy machine).
    above = w->windowHandle()->transientParent() == dlg.windowHandle() && QApplication::activeWindow() == w;
    if (above || seenFor.elapsed() > 5000) {
      closing = true;
      QTimer::singleShot(0, w, [w] { w->close(); });
    }
  });
  closer.start(20);
  dlg.ChoiceChanged();
  Click(dlg.pbEditViews);
  closer.stop();
  ASSERT_NE(seen, nullptr);
  EXPECT_EQ(seenTitle, "Preferences");
  EXPECT_TRUE(above);
  EXPECT_FALSE(dlg.pbPreview->isEnabled());
  EXPECT_EQ(dlg.cmbViews->currentText(), "Report");
  EXPECT_EQ(dlg.PP->PageCount(), 2);

  // Closing keeps every choice in section "Print".
  dlg.udFont->setValue(12);
  dlg.close();
  EXPECT_EQ(Ini().ReadInteger("Print", "PortFont", 0), 12);
  EXPECT_EQ(Ini().ReadString("Print", "SortDir", ""), "Dn");
  EXPECT_EQ(Ini().ReadString("Print", "SortBy", ""), "--None--");
  EXPECT_EQ(Ini().ReadString("Print", "NewPage", ""), "Y");
  EXPECT_EQ(Ini().ReadString("Print", "Detailed", ""), "Y");
  EXPECT_EQ(Ini().ReadInteger("Print", "MarLeft", 0), 10);
  const PrintDialogSettings s = LoadPrintSettings();
  EXPECT_EQ(s.FormWidth, dlg.width());
}

// Edit Views changes the main window's view at once: a column taken out of the current view
// leaves the main window's grid (which draws from the live settings) when the preferences close.
TEST(PrintDialog, EditViewsReappliesTheMainWindowsView) {
  FirstOpeningData();
  ApplyView("Report", LiveSettings);
  QMainWindow main;
  auto* mainGrid = new TStockGrid(&main);  // the main window's grid: the live settings' layout
  main.setCentralWidget(mainGrid);
  mainGrid->ApplyLayout(false);
  main.show();
  ASSERT_GE(mainGrid->GridCol[VolCol], 0);
  const int columns = mainGrid->ColCount();
  TdlgPrintPort dlg(&main);
  dlg.show();
  Settle(dlg);
  bool edited = false;
  ModalDriver driver([&](QWidget* modal) {
    auto* prefs = dynamic_cast<TdlgPref*>(modal);
    if (!prefs || edited) return;
    edited = true;
    // The user unticks Volume in the current view's columns and presses OK.
    QListWidget* list = prefs->lbColumns;
    const QList<QListWidgetItem*> volume = list->findItems("Volume", Qt::MatchExactly);
    ASSERT_EQ(volume.size(), 1);
    list->setFocus();
    list->setCurrentItem(volume.front());
    QTest::keyClick(list, Qt::Key_Space);
    EXPECT_EQ(volume.front()->checkState(), Qt::Unchecked);
    Click(prefs->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok));
  });
  Click(dlg.pbEditViews);
  EXPECT_TRUE(edited);
  // At once, with no other message to the main window.
  EXPECT_EQ(mainGrid->GridCol[VolCol], -1);
  EXPECT_EQ(mainGrid->ColCount(), columns - 1);
  for (int c = 0; c < mainGrid->ColCount(); ++c) EXPECT_NE(mainGrid->Cells(c, 0), "Volume");
  EXPECT_EQ(Items(dlg.cmbSortCol), (QStringList{"--None--", "Gain", "Note", "Symbol", "Tick", "Value Change"}));
  EXPECT_FALSE(dlg.pbPreview->isEnabled());
  dlg.close();
}

// The zoom bar's ticks stand at 5, 10, ... 30 (50 % to 300 %); a page turned to landscape in
// Page Setup is fitted whole as the dialog comes back, and Width fits the page to the view's
// width exactly.
TEST(PrintDialog, BestFitAfterPageSetupAndTheZoomBarsTicks) {
  if (!TdlgPrintPort::NoPrinterInstalled()) GTEST_SKIP() << "a printer is installed: its set-up dialog differs";
  FirstOpeningData();
  QWidget main;
  main.show();
  TdlgPrintPort dlg(&main);
  dlg.show();
  Settle(dlg);

  // A tick is drawn where the handle's middle stands for the value, right of the groove.
  QSlider* bar = dlg.ZoomBar;
  const QImage bars = bar->grab().toImage();
  auto tickAt = [&](int value) {
    QStyleOptionSlider opt;
    opt.initFrom(bar);
    opt.orientation = Qt::Vertical;
    opt.minimum = bar->minimum();
    opt.maximum = bar->maximum();
    opt.sliderPosition = opt.sliderValue = value;
    opt.tickPosition = bar->tickPosition();
    opt.upsideDown = !bar->invertedAppearance();
    opt.subControls = QStyle::SC_All;
    const int y = bar->style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, bar).center().y();
    for (int dy = -1; dy <= 1; ++dy)
      if (qGray(bars.pixel(bar->width() - 3, y + dy)) < 128) return true;
    return false;
  };
  for (int v = 5; v <= 30; v += 5) EXPECT_TRUE(tickAt(v)) << v;
  for (int v : {1, 6, 11, 36, 40}) EXPECT_FALSE(tickAt(v)) << v;
  dlg.grab().save(QString::fromStdString(ScreenshotPath("print_dialog_zoom_ticks.png")));

  // Whole pages fit the view: wholly inside it, as wide or as high as it.
  auto fitsWhole = [&] {
    const QSize view = dlg.PP->viewport()->size();
    const QRect page = dlg.PP->PageRectOnScreen(QRect(QPoint(0, 0), view));
    const double grow = (dlg.PP->ZoomPercent() + 1.0) / dlg.PP->ZoomPercent();
    return page.width() <= view.width() && page.height() <= view.height() &&
           (page.width() * grow > view.width() || page.height() * grow > view.height());
  };
  EXPECT_TRUE(fitsWhole());
  const int portraitZoom = dlg.PP->ZoomPercent();
  bool turned = false;
  ModalDriver driver([&](QWidget* modal) {
    auto* setup = qobject_cast<QPageSetupDialog*>(modal);
    if (!setup || turned) return;
    auto* landscape = setup->findChild<QRadioButton*>("landscape");
    ASSERT_NE(landscape, nullptr);
    turned = true;
    ASSERT_TRUE(QTest::qWaitForWindowExposed(setup));
    // On its round mark (a radio button takes clicks on its mark and its text only).
    QTest::mouseClick(setup->windowHandle(), Qt::LeftButton, {}, landscape->mapTo(setup, QPoint(6, landscape->height() / 2)));
    EXPECT_TRUE(landscape->isChecked());
    Click(setup->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok));
  });
  Click(dlg.pbPrintSetup);
  ASSERT_TRUE(turned);
  EXPECT_GT(dlg.PP->Metrics().PageWidth, dlg.PP->Metrics().PageHeight);
  EXPECT_TRUE(fitsWhole()) << portraitZoom << " -> " << dlg.PP->ZoomPercent();
  EXPECT_EQ(dlg.lbZoom->text(), QStringLiteral("Zoom = %1%").arg(dlg.PP->ZoomPercent()));
  dlg.grab().save(QString::fromStdString(ScreenshotPath("print_dialog_landscape_fitted.png")));

  // Width, in a wide window: the page's height goes past the view, so it is as wide as the view
  // beside the vertical scroll bar.
  dlg.resize(1000, 440);
  QTest::qWait(50);
  Click(dlg.pbRLfit);
  QTest::qWait(50);  // the scroll bars follow
  EXPECT_TRUE(dlg.PP->verticalScrollBar()->isVisible());
  const int view = dlg.PP->viewport()->width();
  const int width = dlg.PP->PageRectOnScreen(dlg.PP->viewport()->rect()).width();
  EXPECT_LE(width, view);
  EXPECT_GT(width * (dlg.PP->ZoomPercent() + 1.0) / dlg.PP->ZoomPercent(), view) << width << " of " << view;
  EXPECT_FALSE(dlg.PP->horizontalScrollBar()->isVisible());
  dlg.grab().save(QString::fromStdString(ScreenshotPath("print_dialog_width_fitted.png")));
  dlg.PP->Printer().setPageOrientation(QPageLayout::Portrait);
  dlg.close();
}

TEST(PrintDialog, TheMainWindowsPrintCommandReachesTheDialog) {
  MainHooks = {};
  QWidget main;
  InstallPrinting(&main);
  EXPECT_TRUE(static_cast<bool>(MainHooks.OpenPrintDialog));
  MainHooks = {};
}

TEST(WarningDialog, OkStoresTheChoiceAndClosingStoresNothing) {
  Ini().EraseSection("Warn");
  {
    TdlgWarning w;
    w.Message = "Something to know.";
    w.Section = "Warn";
    w.Key = "First";
    w.show();
    EXPECT_EQ(w.Label1->text(), "Something to know.");
    EXPECT_EQ(w.windowTitle(), "Warning");
    w.cbNoWarn->setChecked(true);
    w.BitBtn1->click();
    EXPECT_EQ(w.result(), QDialog::Accepted);
    w.grab().save(QString::fromStdString(ScreenshotPath("print_warning_dialog.png")));
  }
  EXPECT_EQ(Ini().ReadString("Warn", "First", ""), "NO");
  {
    TdlgWarning w;
    w.Section = "Warn";
    w.Key = "Second";
    w.show();
    w.BitBtn1->click();
  }
  EXPECT_EQ(Ini().ReadString("Warn", "Second", ""), "YES");
  {
    TdlgWarning w;
    w.Section = "Warn";
    w.Key = "Third";
    w.show();
    w.cbNoWarn->setChecked(true);
    w.close();
  }
  EXPECT_EQ(Ini().ReadString("Warn", "Third", "unset"), "unset");
  {
    TdlgWarning w;  // no section: nothing is written
    w.show();
    w.BitBtn1->click();
    EXPECT_EQ(w.result(), QDialog::Accepted);
  }
}

TEST(PrintDialog, TheProgressBoxStandsAboveTheModalDialogAndARealClickOrEscapeCancels) {
  std::vector<PortRowRec> rows;
  for (int i = 0; i < 150; ++i) {
    const std::string sym = "P" + std::to_string(100 + i);
    SeedQuote(sym.c_str(), 10.0f + static_cast<float>(i), 10.0f, 1000.0f);
    rows.push_back(Holding(sym.c_str(), 1, 9));
  }
  SetPortfolios({MakePort("Many", "MANY1", rows)});
  Ini().WriteString("Views", "Narrow", "SymCol,LastCol");
  LoadViews();
  Ini().EraseSection("Print");
  Ini().WriteInteger("Print", "PortFont", 30);
  LiveSettings.CurView = "Narrow";
  QWidget main;
  main.show();
  QTemporaryDir dir;
  const QString pdf = dir.filePath("cancelled.pdf");
  for (bool byKey : {false, true}) {
    SCOPED_TRACE(byKey ? "Escape" : "click");
    TdlgPrintPort dlg(&main);
    dlg.PP->Printer().setOutputFormat(QPrinter::PdfFormat);
    dlg.AskPdfFileName = [&](const std::string&) { return pdf.toStdString(); };
    std::shared_ptr<const TPageList> shown;
    std::vector<int> printed;
    bool modal = false, owned = false, active = false;
    ::testing::AssertionResult same = ::testing::AssertionFailure() << "nothing printed";
    dlg.PP->OnPagePrinted = [&](int page, int) {
      printed.push_back(page);
      // What prints is what the preview showed.
      if (page == 1) same = SamePages(*shown, *dlg.PP->Pages());
      if (page != 2) return;
      TPPPrnPrgDlg* box = dlg.PP->ProgressDialog();
      modal = QApplication::activeModalWidget() == &dlg;
      owned = box->windowHandle()->transientParent() == dlg.windowHandle();
      active = QApplication::activeWindow() == box;
      // The user's click (or key) comes through the event loop, before page 3 is drawn.
      QTimer::singleShot(0, box, [box, byKey] {
        if (byKey) QTest::keyClick(box->windowHandle(), Qt::Key_Escape);
        else Click(box->btnCancel);
      });
    };
    QTimer::singleShot(0, &dlg, [&] {
      Settle(dlg);
      shown = dlg.PP->Pages();
      EXPECT_GT(dlg.PP->PageCount(), 5);
      Click(dlg.pbPrintIt);
      dlg.close();
    });
    dlg.exec();
    EXPECT_TRUE(modal);
    EXPECT_TRUE(owned);
    EXPECT_TRUE(active);
    EXPECT_TRUE(same);
    EXPECT_EQ(printed, (std::vector<int>{1, 2}));
    EXPECT_FALSE(QFile::exists(pdf));
    EXPECT_EQ(dlg.PP->ProgressDialog(), nullptr);
  }
}

TEST(PrintDialog, ANameTypedWithoutItsEndingIsAskedAboutBeforeItsFileIsReplaced) {
  SeedReportData();
  Ini().EraseSection("Print");
  QWidget main;
  main.show();
  TdlgPrintPort dlg(&main);
  dlg.show();
  Settle(dlg);
  dlg.PP->ShowProgress = false;
  dlg.PP->Printer().setOutputFormat(QPrinter::PdfFormat);
  QTemporaryDir dir;
  const QString existing = dir.filePath("portfolios.pdf");
  {
    QFile f(existing);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("keep me");
  }
  dlg.PP->Printer().setOutputFileName(dir.filePath("suggested.pdf"));
  auto content = [&] {
    QFile f(existing);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  };
  // The user types the name in the file dialog and answers the question with a click. Each
  // act runs from the event loop, as the nested dialog it opens waits there.
  std::vector<QString> questions;
  QMessageBox::StandardButton answer = QMessageBox::No;
  QPointer<QWidget> fileDialog, lastBox;
  int fileActs = 0;
  ModalDriver driver([&](QWidget* w) {
    if (auto* box = qobject_cast<QMessageBox*>(w)) {
      if (box == lastBox) return;
      lastBox = box;
      questions.push_back(box->text());
      QTimer::singleShot(0, box, [box, &answer] { Click(box->button(answer)); });
    } else if (qobject_cast<QFileDialog*>(w)) {
      if (w != fileDialog) {
        fileDialog = w;
        fileActs = 0;
      }
      if (fileActs++ == 0) {
        QTimer::singleShot(0, w, [w] {
          auto* edit = w->findChild<QLineEdit*>("fileNameEdit");
          if (!edit) {
            qobject_cast<QDialog*>(w)->reject();
            FAIL() << "the file dialog has no name field";
          }
          edit->clear();
          QTest::keyClicks(edit, "portfolios");
          QTest::keyClick(w->windowHandle(), Qt::Key_Return);
        });
      } else if (fileActs == 2) {  // asked again after a "No": the user gives up
        QTimer::singleShot(0, w, [w] { QTest::keyClick(w->windowHandle(), Qt::Key_Escape); });
      }
    }
  });
  Click(dlg.pbPrintIt);
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_TRUE(questions[0].contains("portfolios.pdf already exists")) << questions[0].toStdString();
  EXPECT_EQ(content(), "keep me");
  // A name handed over without the ending is asked about too.
  dlg.AskPdfFileName = [&](const std::string&) { return dir.filePath("portfolios").toStdString(); };
  Click(dlg.pbPrintIt);
  ASSERT_EQ(questions.size(), 2u);
  EXPECT_TRUE(questions[1].contains("portfolios.pdf already exists"));
  EXPECT_EQ(content(), "keep me");
  // "Yes" replaces it.
  answer = QMessageBox::Yes;
  Click(dlg.pbPrintIt);
  EXPECT_EQ(questions.size(), 3u);
  EXPECT_EQ(PdfPages(existing), 1);
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"portfolios.pdf"});
}

// A click on Close while the pages for printing are being made ends the job: no save box, no
// file, and the dialog closes.
TEST(PrintDialog, CancelWhileGenerating) {
  std::vector<PortRowRec> rows;
  for (int i = 0; i < 1200; ++i) {
    const std::string sym = "G" + std::to_string(1000 + i);
    SeedQuote(sym.c_str(), 10.0f + static_cast<float>(i % 50), 10.0f, 1000.0f);
    rows.push_back(Holding(sym.c_str(), 1, 9));
  }
  SetPortfolios({MakePort("Big", "BIG1", rows)});
  Ini().WriteString("Views", "Narrow", "SymCol,LastCol");
  LoadViews();
  Ini().EraseSection("Print");
  LiveSettings.CurView = "Narrow";
  QWidget main;
  main.show();
  QTemporaryDir dir;
  const QString pdf = dir.filePath("cancelled.pdf");
  TdlgPrintPort dlg(&main);
  dlg.PP->Printer().setOutputFormat(QPrinter::PdfFormat);
  int asked = 0;
  dlg.AskPdfFileName = [&](const std::string&) {
    ++asked;
    return pdf.toStdString();
  };
  // Once the preview stands, one more symbol has no quote; the fetch it asks for never comes,
  // so the pages for printing are still being made when the user clicks Close.
  int fetches = 0;
  MainHooks.FetchNow = [&] { ++fetches; };
  bool clicked = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (clicked || !dlg.lbProcess->isVisible() || dlg.lbProcess->text() != "Generating Print Page(s)" || fetches == 0)
      return;
    clicked = true;
    Click(dlg.pbClose);
  });
  QElapsedTimer clock;
  QTimer::singleShot(0, &dlg, [&] {
    Settle(dlg);
    rows.push_back(Holding("GNOQUOTE", 1, 9));
    SetPortfolios({MakePort("Big", "BIG1", rows)});
    poll.start(10);
    clock.start();
    Click(dlg.pbPrintIt);
  });
  dlg.exec();
  MainHooks = {};
  EXPECT_TRUE(clicked);
  EXPECT_LT(clock.elapsed(), 20000);  // ended by the click, not by the quote wait's deadline
  EXPECT_EQ(asked, 0);
  EXPECT_FALSE(QFile::exists(pdf));
  EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());
  EXPECT_FALSE(dlg.isVisible());
  EXPECT_FALSE(dlg.lbPrinting->isVisible());
}

// A dialog closed while maximised keeps the place and size it had as a normal window.
TEST(PrintDialog, ClosedMaximisedItKeepsItsNormalPlace) {
  SeedReportData();
  Ini().EraseSection("Print");
  Ini().WriteInteger("Print", "FormLeft", 60);
  Ini().WriteInteger("Print", "FormTop", 50);
  Ini().WriteInteger("Print", "FormWidth", 640);
  Ini().WriteInteger("Print", "FormHeight", 450);
  QWidget main;
  main.show();
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    TdlgPrintPort dlg(&main);
    dlg.show();
    Settle(dlg);
    dlg.showMaximized();
    for (int i = 0; i < 50 && dlg.width() <= 640; ++i) WaitAndPump(10);
    ASSERT_GT(dlg.width(), 640);
    Click(dlg.pbClose);
    EXPECT_EQ(Ini().ReadInteger("Print", "FormWidth", 0), 640);
    EXPECT_EQ(Ini().ReadInteger("Print", "FormHeight", 0), 450);
    EXPECT_EQ(Ini().ReadInteger("Print", "FormLeft", 0), 60);
    EXPECT_EQ(Ini().ReadInteger("Print", "FormTop", 0), 50);
  }
  Ini().EraseSection("Print");
}
