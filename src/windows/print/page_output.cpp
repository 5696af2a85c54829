// TPagePrinter: sending the recorded pages to the printer, with copies, collation, progress
// and cancelling.
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QPainter>
#include <QPrinter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

#include "platform/messages.h"
#include "windows/print/page_printer.h"
#include "windows/print/print_progress.h"

std::vector<int> PrintOrder(int first, int last, int copies, bool collate) {
  std::vector<int> order;
  if (first < 1 || last < first || copies < 1) return order;
  if (collate) {
    for (int c = 0; c < copies; ++c)
      for (int p = first; p <= last; ++p) order.push_back(p);
  } else {
    for (int p = first; p <= last; ++p)
      for (int c = 0; c < copies; ++c) order.push_back(p);
  }
  return order;
}

std::string ProgressPageText(int page, int firstPage, int lastPage, int copies) {
  std::string s = "Page " + std::to_string(page);
  if (firstPage == 1) s += " of " + std::to_string(lastPage);
  if (copies > 1) s += " x " + std::to_string(copies) + " Copies";
  return s;
}

void TPagePrinter::SetFirstPage(int page) {
  firstPage_ = std::max(0, page);
  if (lastPage_ && firstPage_ > lastPage_) lastPage_ = firstPage_;
}

void TPagePrinter::SetLastPage(int page) {
  lastPage_ = std::max(0, page);
  if (lastPage_ && firstPage_ > lastPage_) firstPage_ = lastPage_;
}

void TPagePrinter::PrintPages() {
  if (printing_) throw EPagePrinter("The pages are being printed already");
  if (recording_) EndDoc();
  // Our own hold on the pages: nothing done while events are processed can free them.
  const std::shared_ptr<const TPageList> pages = pages_;
  const int count = static_cast<int>(pages->size());
  if (count == 0) return;
  const int first = firstPage_ ? std::min(firstPage_, count) : 1;
  const int last = lastPage_ ? std::min(lastPage_, count) : count;
  const std::vector<int> order = PrintOrder(first, last, copies_, Collate);
  if (order.empty()) return;

  QPrinter& printer = *printer_;
  const int savedCopies = printer.copyCount();
  printer.setCopyCount(1);  // copies come from repeating the pages
  printer.setDocName(QString::fromStdString(Title));
  // A PDF is written under a temporary name and renamed only when it is complete.
  const bool pdf = printer.outputFormat() == QPrinter::PdfFormat;
  const QString finalName = printer.outputFileName();
  const QString tempName = finalName + QStringLiteral(".part");
  if (pdf) {
    if (finalName.isEmpty()) {
      printer.setCopyCount(savedCopies);
      throw EPagePrinter("No file name was given for the PDF output");
    }
    printer.setOutputFileName(tempName);
  }
  cancel_ = false;
  printing_ = true;
  QPainter painter;
  auto cleanUp = [&](bool failed) {
    if (failed) {
      printer.abort();
      if (painter.isActive()) painter.end();
      if (pdf) QFile::remove(tempName);
    }
    if (pdf) printer.setOutputFileName(finalName);
    printing_ = false;
    UpdatePrintProgress("<FINISH>", 0, 0, 0);
    printer.setCopyCount(savedCopies);
  };
  size_t sent = 0;  // pages drawn on the printer
  // Ends the job with what was sent: the printer prints it, a PDF is renamed into place.
  auto finish = [&] {
    if (!painter.end()) throw EPagePrinter("The printer did not finish the job");
    if (pdf) {
      QFile::remove(finalName);
      if (!QFile::rename(tempName, finalName)) {
        QFile::remove(tempName);
        throw EPagePrinter("The PDF file \"" + finalName.toStdString() + "\" could not be written");
      }
    }
  };
  try {
    if (!painter.begin(&printer))
      throw EPagePrinter(pdf ? "The PDF file \"" + finalName.toStdString() + "\" could not be created"
                             : "The printer \"" + printer.printerName().toStdString() + "\" did not start");
    const double sx = static_cast<double>(printer.resolution()) / recordDpiX_;
    const double sy = static_cast<double>(printer.resolution()) / recordDpiY_;
    for (size_t i = 0; i < order.size(); ++i) {
      if (ShowProgress && ShowCancel) QCoreApplication::processEvents();
      if (cancel_ || ShuttingDown.load()) throw ECancelPrinting();
      // Each page but the first starts a new printer page, only once it is sure to be drawn:
      // a job ended by a cancel has no blank page behind the pages it keeps.
      if (i > 0 && !printer.newPage()) throw EPagePrinter("The printer refused a new page");
      const int page = order[i];
      UpdatePrintProgress(ProgressMessage, page, last, first);
      painter.save();
      painter.scale(sx, sy);
      (*pages)[static_cast<size_t>(page - 1)].Replay(painter);
      painter.restore();
      sent = i + 1;
      if (OnPagePrinted) OnPagePrinted(page, Collate ? static_cast<int>(i) / (last - first + 1) + 1
                                                     : static_cast<int>(i) % copies_ + 1);
    }
    finish();
  } catch (const ECancelPrinting&) {
    if (AbortOnCancel || sent == 0) {
      cleanUp(true);
      return;
    }
    try {
      finish();
    } catch (...) {
      cleanUp(true);
      throw;
    }
    cleanUp(false);
    return;
  } catch (...) {
    cleanUp(true);
    throw;
  }
  cleanUp(false);
}

void TPagePrinter::UpdatePrintProgress(const std::string& message, int page, int lastPage, int firstPage) {
  if (!ShowProgress || message == "<FINISH>") {
    if (progress_) {
      progress_->hide();
      delete progress_;
      progress_ = nullptr;
    }
    return;
  }
  if (!progress_) {
    // The box belongs to the window the pages are printed from: a modal print dialog then lets
    // its clicks and keys through, and it stands above that window.
    progress_ = new TPPPrnPrgDlg(window());
    progress_->OnCancel = [this] { RequestCancel(); };
    // That window may go first.
    QObject::connect(progress_, &QObject::destroyed, this, [this] { progress_ = nullptr; });
    if (!ShowCancel) {
      progress_->btnCancel->setEnabled(false);
      progress_->btnCancel->hide();
      // The box keeps the height of its texts and bar, without the button's room.
      progress_->setFixedHeight(progress_->logicalDpiY() * 98 / 96);
    }
    progress_->ProgBar->setRange(0, copies_ * (lastPage - firstPage + 1));
    progress_->ProgBar->setValue(0);
  }
  progress_->setWindowTitle(Title.empty() ? QStringLiteral("Print Progress") : QString::fromStdString(Title));
  progress_->lblStatus->setText(message.empty() ? QStringLiteral("Sending Pages To Printer") : QString::fromStdString(message));
  progress_->ProgBar->setMaximum(copies_ * (lastPage - firstPage + 1));
  progress_->ProgBar->setValue(progress_->ProgBar->value() + 1);
  progress_->lblPageNumber->setText(QString::fromStdString(ProgressPageText(page, firstPage, lastPage, copies_)));
  if (!progress_->isVisible()) {
    progress_->adjustSize();
    if (const QScreen* screen = window()->screen()) {
      QRect frame = progress_->frameGeometry();
      frame.moveCenter(screen->availableGeometry().center());
      progress_->move(frame.topLeft());
    }
    progress_->show();
    progress_->raise();
    progress_->activateWindow();
  }
  progress_->repaint();
}
