// TPagePrinter: the preview of the recorded pages, zoom and page navigation.
#include <QEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <cmath>

#include "windows/print/page_printer.h"

double TPagePrinter::ScreenRatioX() const {
  const int screen = logicalDpiX();
  return screen > 0 ? static_cast<double>(metrics_.DpiX) / screen : 1.0;
}

double TPagePrinter::ScreenRatioY() const {
  const int screen = logicalDpiY();
  return screen > 0 ? static_cast<double>(metrics_.DpiY) / screen : 1.0;
}

int TPagePrinter::PageCount() const { return static_cast<int>(pages_->size()); }

void TPagePrinter::SetPageNumber(int page) {
  const int count = PageCount();
  if (!(count == 0 && page == 0) && (page < 1 || page > count))
    throw EPagePrinter("PageNumber must be between 1 and " + std::to_string(count));
  pageNumber_ = page;
  PlaceScroll();
  if (box_) box_->update();
}

void TPagePrinter::SetZoomPercent(int percent) {
  zoom_ = std::max(1, percent);
  UpdatePreviewSize();
  PlaceScroll();
  if (box_) box_->update();
}

void TPagePrinter::SetShadowOffset(int pixels) {
  shadowOffset_ = std::max(0, pixels);
  UpdatePreviewSize();
  PlaceScroll();
  if (box_) box_->update();
}

namespace {
// The zoom at which pagePixels printer pixels take client screen pixels (ratio: printer to
// screen resolution).
int FitZoom(int client, double ratio, int pagePixels) {
  return pagePixels > 0 ? static_cast<int>(client * 100.0 * ratio / pagePixels) : 100;
}

// The zoom that makes one side of the page exactly as long as the view's side. When the other
// side then passes the view, the scroll bar it brings (bar pixels thick) takes room from this
// side first.
int FitSide(int client, double ratio, int page, int otherClient, double otherRatio, int otherPage, int bar) {
  const int zoom = FitZoom(client, ratio, page);
  if (std::lround(otherPage / otherRatio * zoom / 100.0) <= otherClient) return zoom;
  return FitZoom(client - bar, ratio, page);
}
}  // namespace

// A fitted page's frame and shadow may pass the view's edge, and no scroll bar comes for them.
void TPagePrinter::ZoomToWidth() {
  const QSize max = maximumViewportSize();
  if (max.width() <= 0) return;
  SetZoomPercent(FitSide(max.width(), ScreenRatioX(), metrics_.PageWidth, max.height(), ScreenRatioY(),
                         metrics_.PageHeight, verticalScrollBar()->sizeHint().width()));
}

void TPagePrinter::ZoomToHeight() {
  const QSize max = maximumViewportSize();
  if (max.height() <= 0) return;
  SetZoomPercent(FitSide(max.height(), ScreenRatioY(), metrics_.PageHeight, max.width(), ScreenRatioX(),
                         metrics_.PageWidth, horizontalScrollBar()->sizeHint().height()));
}

void TPagePrinter::ZoomToFit() {
  const QSize client = maximumViewportSize();
  const int cw = client.width(), ch = client.height();
  if (cw <= 0 || ch <= 0) return;
  const double pageRatio = (metrics_.PageWidth / ScreenRatioX()) / (metrics_.PageHeight / ScreenRatioY());
  if (pageRatio <= static_cast<double>(cw) / ch) ZoomToHeight();
  else ZoomToWidth();
}

QRect TPagePrinter::PageRectOnScreen(const QRect& box) const {
  const int w = static_cast<int>(std::lround(metrics_.PageWidth / ScreenRatioX() * zoom_ / 100.0));
  const int h = static_cast<int>(std::lround(metrics_.PageHeight / ScreenRatioY() * zoom_ / 100.0));
  return QRect(box.left() + (box.width() - w) / 2, box.top() + (box.height() - h) / 2, w, h);
}

void TPagePrinter::UpdatePreviewSize() {
  // The box fills the view and grows past it (scroll bars, with room for the shadow) only when
  // the page itself does not fit.
  if (!box_) return;
  const QRect page = PageRectOnScreen(QRect());
  const int border = 2 * shadowOffset_ + 2;
  const QSize view = viewport()->size();
  const QSize want(page.width() <= view.width() ? view.width() : page.width() + border,
                   page.height() <= view.height() ? view.height() : page.height() + border);
  if (box_->size() != want) box_->resize(want);
}

void TPagePrinter::PlaceScroll() {
  QScrollBar* h = horizontalScrollBar();
  QScrollBar* v = verticalScrollBar();
  switch (ZoomLocation) {
    case zlTopLeft:
      h->setValue(h->minimum());
      v->setValue(v->minimum());
      break;
    case zlTopCenter:
      h->setValue((h->minimum() + h->maximum()) / 2);
      v->setValue(v->minimum());
      break;
    case zlCenter:
      h->setValue((h->minimum() + h->maximum()) / 2);
      v->setValue((v->minimum() + v->maximum()) / 2);
      break;
  }
}

void TPagePrinter::resizeEvent(QResizeEvent* e) {
  QScrollArea::resizeEvent(e);
  UpdatePreviewSize();
}

bool TPagePrinter::eventFilter(QObject* watched, QEvent* e) {
  // Scroll bars coming or going resize the view: the box follows it.
  if (watched == viewport() && e->type() == QEvent::Resize) UpdatePreviewSize();
  if (watched == box_ && e->type() == QEvent::Paint) {
    QPainter painter(box_);
    PaintPage(painter, box_->rect());
    return true;
  }
  return QScrollArea::eventFilter(watched, e);
}

void TPagePrinter::PaintPage(QPainter& painter, const QRect& box) {
  if (GradientBackground) {
    QLinearGradient g(box.topLeft(), box.bottomLeft());
    g.setColorAt(0, BackColor);
    g.setColorAt(1, Qt::black);
    painter.fillRect(box, g);
  } else {
    painter.fillRect(box, QColor(128, 128, 128));
  }
  const QRect page = PageRectOnScreen(box);
  if (shadowOffset_ > 0) {
    painter.fillRect(QRect(page.right() + 1, page.top() + shadowOffset_, shadowOffset_, page.height()), ShadowColor);
    painter.fillRect(QRect(page.left() + shadowOffset_, page.bottom() + 1, page.width(), shadowOffset_), ShadowColor);
  }
  painter.fillRect(page, Qt::white);
  painter.setPen(Qt::black);
  painter.drawRect(page.adjusted(0, 0, -1, -1));
  const double zx = zoom_ / 100.0 / ScreenRatioX(), zy = zoom_ / 100.0 / ScreenRatioY();
  // Hold the pages while painting, whatever happens to the recording meanwhile.
  const std::shared_ptr<const TPageList> pages = pages_;
  if (pageNumber_ >= 1 && pageNumber_ <= static_cast<int>(pages->size())) {
    painter.save();
    painter.setClipRect(page);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.translate(page.left() + metrics_.OffsetX * zx + 1, page.top() + metrics_.OffsetY * zy + 1);
    painter.scale(zx, zy);
    (*pages)[static_cast<size_t>(pageNumber_ - 1)].Replay(painter);
    painter.restore();
  }
  if (ShowMargins) {
    QPen pen(QColor(192, 192, 192));
    pen.setStyle(Qt::DotLine);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const int l = page.left() + static_cast<int>(std::lround(UnitToPixelsX(margins_[2]) * zx));
    const int t = page.top() + static_cast<int>(std::lround(UnitToPixelsY(margins_[0]) * zy));
    const int r = page.left() + static_cast<int>(std::lround((metrics_.PageWidth - UnitToPixelsX(margins_[3])) * zx));
    const int b = page.top() + static_cast<int>(std::lround((metrics_.PageHeight - UnitToPixelsY(margins_[1])) * zy));
    painter.drawRect(QRect(QPoint(l, t), QPoint(r, b)));
  }
}
