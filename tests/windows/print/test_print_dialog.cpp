#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QRegularExpression>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include "core/main_hooks.h"
#include "core/settings.h"
#include "platform/messages.h"
#include "report_test_data.h"
#include "windows/print/page_printer.h"
#include "windows/print/print_dialog.h"
#include "windows/print/print_install.h"
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

QStringList Items(QComboBox* c) {
  QStringList out;
  for (int i = 0; i < c->count(); ++i) out << c->itemText(i);
  return out;
}

}  // namespace

TEST(PrintDialog, FirstOpeningUsesDefaultsShowsThePreviewAndKeepsTheChoices) {
  SeedReportData();
  Ini().WriteString("Views", "Tiny", "LastCol,VolCol");
  LoadViews();
  Ini().EraseSection("Print");
  LiveSettings.CurView = "Report";
  TdlgPrintPort dlg(nullptr);
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
    QProcess p;
    p.start("pdfinfo", {QString::fromStdString(pdf + ".pdf")});
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_TRUE(QString::fromUtf8(p.readAllStandardOutput()).contains(QRegularExpression("Pages:\\s+2")));
  }
  // A cancelled file choice prints nothing.
  dlg.AskPdfFileName = [](const std::string&) { return std::string(); };
  dlg.pbPrintItClick();
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"portfolios.pdf"});

  // Edit Views opens the preferences on their Views page; closing them rebuilds the preview.
  QWidget* seen = nullptr;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    if (QWidget* w = QApplication::activeModalWidget(); w && w != &dlg) {
      seen = w;
      w->close();
    }
  });
  closer.start(20);
  dlg.ChoiceChanged();
  dlg.pbEditViewsClick();
  closer.stop();
  EXPECT_NE(seen, nullptr);
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
