#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLayout>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "print_test_util.h"
#include "windows/print/print_progress.h"

namespace {

// The "Page: n" number printed on each page of the PDF, in order.
std::vector<int> PageNumbersInPdf(const QString& file, int pages) {
  std::vector<int> out;
  for (int i = 1; i <= pages; ++i) {
    const QString text = RunTool("pdftotext", {"-f", QString::number(i), "-l", QString::number(i), "-layout", file, "-"});
    const qsizetype at = text.indexOf("Page: ");
    out.push_back(at < 0 ? -1 : text.mid(at + 6).section(QRegularExpression("\\s"), 0, 0).toInt());
  }
  return out;
}

// Three pages, each headed "Page: n".
void RecordThreePages(TPagePrinter& pp) {
  pp.SetMarginTop(0.5);
  pp.SetMarginBottom(0.5);
  pp.SetMarginLeft(0.5);
  pp.SetMarginRight(0.5);
  pp.SetFriendlyHeader("&r Page: &p");
  pp.BeginDoc();
  for (int page = 1; page <= 3; ++page) {
    if (page > 1) pp.NewPage();
    pp.WriteLine("Body of page " + std::to_string(page));
  }
  pp.EndDoc();
}

}  // namespace

TEST(PdfOutput, CopiesAreCollatedOrRepeatedAndEveryPageCarriesItsNumber) {
  QTemporaryDir dir;
  auto printer = MakeTestPrinter();
  TPagePrinter pp(nullptr, printer.get());
  pp.ShowProgress = false;
  RecordThreePages(pp);
  ASSERT_EQ(pp.PageCount(), 3);
  pp.SetCopies(2);
  for (bool collate : {true, false}) {
    const QString file = dir.filePath(collate ? "collated.pdf" : "plain.pdf");
    printer->setOutputFileName(file);
    pp.Collate = collate;
    pp.PrintPages();
    ASSERT_TRUE(QFile::exists(file));
    ASSERT_EQ(PdfPages(file), 6);
    EXPECT_EQ(PageNumbersInPdf(file, 6), collate ? (std::vector<int>{1, 2, 3, 1, 2, 3}) : (std::vector<int>{1, 1, 2, 2, 3, 3}));
    EXPECT_EQ(printer->outputFileName(), file);
    EXPECT_EQ(printer->copyCount(), 1);
  }
  // A page range prints only its pages.
  pp.SetCopies(1);
  pp.SetFirstPage(2);
  pp.SetLastPage(3);
  const QString range = dir.filePath("range.pdf");
  printer->setOutputFileName(range);
  pp.PrintPages();
  EXPECT_EQ(PageNumbersInPdf(range, PdfPages(range)), (std::vector<int>{2, 3}));
  EXPECT_TRUE(RunTool("pdftotext", {range, "-"}).contains("Body of page 3"));
  EXPECT_FALSE(QFile::exists(range + ".part"));
}

TEST(PdfOutput, CancelOrFailureLeavesNoFileAndTheProgressBoxCloses) {
  QTemporaryDir dir;
  auto printer = MakeTestPrinter();
  TPagePrinter pp(nullptr, printer.get());
  RecordThreePages(pp);
  pp.SetCopies(2);
  pp.Collate = true;
  const QString file = dir.filePath("cancelled.pdf");
  printer->setOutputFileName(file);
  std::vector<int> printed;
  std::string progressText;
  int progressMax = 0;
  pp.OnPagePrinted = [&](int page, int) {
    printed.push_back(page);
    ASSERT_NE(pp.ProgressDialog(), nullptr);
    progressText = pp.ProgressDialog()->lblPageNumber->text().toStdString();
    progressMax = pp.ProgressDialog()->ProgBar->maximum();
    if (page == 2) pp.ProgressDialog()->btnCancel->click();
  };
  pp.PrintPages();  // cancelling ends quietly
  EXPECT_EQ(printed, (std::vector<int>{1, 2}));
  EXPECT_EQ(progressText, "Page 2 of 3 x 2 Copies");
  EXPECT_EQ(progressMax, 6);
  EXPECT_EQ(pp.ProgressDialog(), nullptr);
  EXPECT_FALSE(pp.Printing());
  EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());

  // Neither a new recording nor a second print job starts while the pages are being printed
  // (the events processed between pages may ask for one); the print goes on whole.
  const QString whole = dir.filePath("whole.pdf");
  printer->setOutputFileName(whole);
  pp.SetCopies(1);
  int refused = 0;
  pp.OnPagePrinted = [&](int page, int) {
    if (page != 1) return;
    try {
      pp.PrintPages();
    } catch (const EPagePrinter&) {
      ++refused;
    }
    try {
      pp.BeginDoc();  // still refused after the second job was
    } catch (const EPagePrinter&) {
      ++refused;
    }
  };
  pp.PrintPages();
  EXPECT_EQ(refused, 2);
  EXPECT_EQ(PdfPages(whole), 3);
  QFile::remove(whole);

  // A PDF that cannot be created is reported, not taken as printed.
  pp.OnPagePrinted = nullptr;
  printer->setOutputFileName(dir.filePath("missing/folder/out.pdf"));
  EXPECT_THROW(pp.PrintPages(), EPagePrinter);
  EXPECT_FALSE(pp.Printing());
  EXPECT_EQ(pp.ProgressDialog(), nullptr);
  EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());
}

// Without AbortOnCancel a Cancel ends the job after the pages already sent, which the PDF keeps
// (with no blank page after them); without ShowCancel the progress box has no button and the
// height of its texts and bar only.
TEST(PdfOutput, WithoutAbortOnCancelTheSentPagesAreKeptAndTheBoxWithoutCancelIsLower) {
  QTemporaryDir dir;
  auto printer = MakeTestPrinter();
  TPagePrinter pp(nullptr, printer.get());
  RecordThreePages(pp);
  pp.AbortOnCancel = false;
  const QString kept = dir.filePath("kept.pdf");
  printer->setOutputFileName(kept);
  pp.OnPagePrinted = [&](int page, int) {
    if (page == 2) pp.ProgressDialog()->btnCancel->click();
  };
  pp.PrintPages();
  EXPECT_EQ(PdfPages(kept), 2);
  EXPECT_EQ(PageNumbersInPdf(kept, 2), (std::vector<int>{1, 2}));
  EXPECT_FALSE(QFile::exists(kept + ".part"));
  EXPECT_EQ(pp.ProgressDialog(), nullptr);

  pp.ShowCancel = false;
  const QString whole = dir.filePath("whole.pdf");
  printer->setOutputFileName(whole);
  int height = 0, needed = 0, standard = 0;
  bool button = true;
  pp.OnPagePrinted = [&](int, int) {
    TPPPrnPrgDlg* box = pp.ProgressDialog();
    height = box->height();
    needed = box->layout()->minimumSize().height();
    standard = box->logicalDpiY() * 98 / 96;
    button = box->btnCancel->isVisible();
  };
  pp.PrintPages();
  EXPECT_EQ(PdfPages(whole), 3);
  EXPECT_FALSE(button);
  EXPECT_EQ(height, standard);
  EXPECT_LE(needed, height);  // its texts and bar still fit
}
