#pragma once
// Shared set-up of the printing tests: a PDF printer of known geometry (US Letter, 600 dpi,
// no unprintable border) and a replay of a recorded page onto the logging device.
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPrinter>

#include <memory>

#include "page_log_device.h"
#include "windows/print/page_printer.h"

inline std::unique_ptr<QPrinter> MakeTestPrinter() {
  auto p = std::make_unique<QPrinter>(QPrinter::HighResolution);
  p->setOutputFormat(QPrinter::PdfFormat);
  p->setResolution(600);
  p->setPageSize(QPageSize(QPageSize::Letter));
  p->setPageOrientation(QPageLayout::Portrait);
  p->setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
  return p;
}

// Replays page n (from 1) of the printer's recording onto a fresh logging device.
inline std::unique_ptr<PageLogDevice> ReplayPage(const TPagePrinter& pp, int page) {
  auto dev = std::make_unique<PageLogDevice>();
  QPainter painter(dev.get());
  (*pp.Pages())[static_cast<size_t>(page - 1)].Replay(painter);
  painter.end();
  return dev;
}
