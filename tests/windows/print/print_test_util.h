#pragma once
// Shared set-up of the printing tests: a PDF printer of known geometry (US Letter, 600 dpi,
// no unprintable border) and a replay of a recorded page onto the logging device.
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPrinter>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "grid/stock_grid.h"
#include "page_log_device.h"
#include "windows/print/page_printer.h"
#include "windows/print/portfolio_report.h"

inline std::unique_ptr<QPrinter> MakeTestPrinter() {
  auto p = std::make_unique<QPrinter>(QPrinter::HighResolution);
  p->setOutputFormat(QPrinter::PdfFormat);
  p->setResolution(600);
  p->setPageSize(QPageSize(QPageSize::Letter));
  p->setPageOrientation(QPageLayout::Portrait);
  p->setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
  return p;
}

// A tool's standard output; empty when it did not end within the deadline.
inline QString RunTool(const QString& program, const QStringList& args, int deadlineMs = 30000) {
  QProcess p;
  p.start(program, args);
  if (!p.waitForFinished(deadlineMs)) return {};
  return QString::fromUtf8(p.readAllStandardOutput());
}

// The PDF file's page count; -1 when it cannot be read.
inline int PdfPages(const QString& file) {
  for (const QString& line : RunTool("pdfinfo", {file}).split('\n'))
    if (line.startsWith("Pages:")) return line.mid(6).trimmed().toInt();
  return -1;
}

// Replays page n (from 1) of the printer's recording onto a fresh logging device.
inline std::unique_ptr<PageLogDevice> ReplayPage(const TPagePrinter& pp, int page) {
  auto dev = std::make_unique<PageLogDevice>();
  QPainter painter(dev.get());
  (*pp.Pages())[static_cast<size_t>(page - 1)].Replay(painter);
  painter.end();
  return dev;
}

// Where a recorded text lands: its ink box on one line (advance by ascent and descent), in
// printer pixels, and the text.
struct TextBox {
  QRectF Rect;
  QString Text;
};
inline std::vector<TextBox> TextBoxes(const TRecordedPage& page, QPrinter& printer) {
  std::vector<TextBox> out;
  for (const PageOp& op : page.Ops) {
    if (op.Op != PageOp::Text) continue;
    const QFontMetricsF fm(page.Fonts[static_cast<size_t>(op.Font)], &printer);
    out.push_back({QRectF(op.Pos.x(), op.Pos.y() - fm.ascent(), fm.horizontalAdvance(op.String), fm.ascent() + fm.descent()),
                   op.String});
  }
  return out;
}

// The page's texts, except those matching skip.
inline std::vector<QString> OpTexts(const TRecordedPage& page, const QString& skipPrefix = QString()) {
  std::vector<QString> out;
  for (const PageOp& op : page.Ops)
    if (op.Op == PageOp::Text && (skipPrefix.isEmpty() || !op.String.startsWith(skipPrefix))) out.push_back(op.String);
  return out;
}

// The same operations, the clock's own line aside (it may have moved a second).
inline ::testing::AssertionResult SamePages(const TPageList& a, const TPageList& b) {
  if (a.size() != b.size()) return ::testing::AssertionFailure() << a.size() << " pages against " << b.size();
  for (size_t p = 0; p < a.size(); ++p) {
    const auto& x = a[p].Ops;
    const auto& y = b[p].Ops;
    if (x.size() != y.size()) return ::testing::AssertionFailure() << "page " << p + 1 << ": " << x.size() << " against " << y.size() << " operations";
    for (size_t i = 0; i < x.size(); ++i) {
      const bool clock = x[i].String.startsWith("Printed on: ") && y[i].String.startsWith("Printed on: ");
      if (x[i].Op != y[i].Op || x[i].Pos != y[i].Pos || x[i].End != y[i].End || x[i].Points != y[i].Points ||
          x[i].PenWidth != y[i].PenWidth || (!clock && x[i].String != y[i].String) ||
          (x[i].Op == PageOp::Text && a[p].Fonts[static_cast<size_t>(x[i].Font)] != b[p].Fonts[static_cast<size_t>(y[i].Font)]))
        return ::testing::AssertionFailure() << "page " << p + 1 << ", operation " << i << ": \"" << x[i].String.toStdString()
                                             << "\" at " << x[i].Pos.x() << "," << x[i].Pos.y() << " against \""
                                             << y[i].String.toStdString() << "\" at " << y[i].Pos.x() << "," << y[i].Pos.y();
    }
  }
  return ::testing::AssertionSuccess();
}


// A report on the test printer, whose page printer is set up as the print dialog's: grid lines
// and the page number at the top right.
class ReportOnTestPrinter : public ::testing::Test {
protected:
  ReportOnTestPrinter() {
    pp.TableGrid = true;
    pp.SetFriendlyHeader("&r Page: &p");
  }
  std::unique_ptr<QPrinter> printer = MakeTestPrinter();
  TPagePrinter pp{nullptr, printer.get()};
  TStockGrid grid;
  TPortfolioReport report{pp, grid};
};
