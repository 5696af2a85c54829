#include "charts/hist_chart_view.h"

#include <QMouseEvent>
#include <QPaintEngine>
#include <QPainter>

#include "ads/gif/anim_gif.h"
#include "core/gif_hooks.h"

HistChartView::HistChartView(QWidget* parent) : QWidget(parent), gif_(std::make_unique<TAnimGif>()) {
  SetGifDithering(gif_.get());
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
  // A click on the chart takes the focus out of an edit field, so Delete then goes to the lines.
  setFocusPolicy(Qt::ClickFocus);
}

HistChartView::~HistChartView() {
  gif_->StopPainters();
}

bool HistChartView::ShowGif(const std::string& gif) {
  QImage still;
  try {
    gif_->LoadFromMemory(reinterpret_cast<const uint8_t*>(gif.data()), gif.size());
    if (gif_->Empty()) return false;
    still = gif_->GetBitmap().convertToFormat(QImage::Format_RGB32);
  } catch (...) {
    return false;
  }
  if (still.isNull()) return false;
  still_ = std::move(still);
  setCursor(Qt::CrossCursor);
  update();
  return true;
}

void HistChartView::ClearChart() {
  gif_->Clear();
  still_ = QImage();
  unsetCursor();
  update();
}

QColor HistChartView::LineColour() const {
  if (!InverseLineColour || still_.width() <= 3 || still_.height() <= 3) return Qt::black;
  const QRgb c = still_.pixel(3, 3);
  return QColor(255 - qRed(c), 255 - qGreen(c), 255 - qBlue(c));
}

void HistChartView::Paint(QPainter& p, bool withBand) const {
  TrendLine band;
  if (!withBand || !lines_.RubberBand(band)) {
    PaintChartAndLines(p);
    return;
  }
  // Drawn on a copy of the chart with its lines: the band's colour is read from it, and an
  // image takes the XOR mode whatever the window's surface does.
  QImage canvas(size(), QImage::Format_RGB32);
  {
    QPainter c(&canvas);
    PaintChartAndLines(c);
    std::optional<QColor> colour = BandColour ? BandColour() : std::nullopt;
    if (!colour) colour = canvas.rect().contains(BandPixel) ? QColor(canvas.pixel(BandPixel)) : QColor(Qt::black);
    c.setRenderHint(QPainter::Antialiasing, false);
    c.setPen(QPen(*colour, 2));
    if (c.paintEngine()->hasFeature(QPaintEngine::RasterOpModes))
      c.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    c.drawLine(band.X1, band.Y1, band.X2, band.Y2);
  }
  p.drawImage(0, 0, canvas);
}

void HistChartView::PaintChartAndLines(QPainter& p) const {
  p.fillRect(rect(), palette().window());
  if (!still_.isNull()) p.drawImage(0, 0, still_);
  const QColor colour = LineColour();
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setPen(QPen(colour, 2));
  for (int i = 1; i <= lines_.LineCount(); ++i) {
    const TrendLine& l = lines_.Line(i);
    p.drawLine(l.X1, l.Y1, l.X2, l.Y2);
  }
  if (const int sel = lines_.SelectedLine(); sel > 0) {
    p.setPen(QPen(colour, 1));
    p.setBrush(colour);
    const TrendLine& l = lines_.Line(sel);
    p.drawRect(l.X1 - 4, l.Y1 - 4, 8, 8);
    p.drawRect(l.X2 - 4, l.Y2 - 4, 8, 8);
    p.setBrush(Qt::NoBrush);
  }
}

QImage HistChartView::Rendered() const {
  QImage out(size(), QImage::Format_RGB32);
  QPainter p(&out);
  Paint(p, true);
  return out;
}

void HistChartView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  Paint(p, true);
}

void HistChartView::UpdateCursor(int x, int y) {
  if (!HasChart()) return;
  int line = 0;
  setCursor(lines_.HitTest(x, y, line) != TrendLines::Hit::None ? Qt::PointingHandCursor : Qt::CrossCursor);
}

void HistChartView::mousePressEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  if (lines_.MouseDown(pos.x(), pos.y())) setCursor(Qt::PointingHandCursor);
  update();
}

void HistChartView::mouseMoveEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  if (!(event->buttons() & Qt::LeftButton) && !lines_.Dragging()) {
    UpdateCursor(pos.x(), pos.y());
    return;
  }
  if (lines_.MouseMove(pos.x(), pos.y())) update();
}

void HistChartView::mouseReleaseEvent(QMouseEvent*) {
  const int before = lines_.LineCount();
  const bool dragged = lines_.Dragging();
  lines_.MouseUp();
  update();
  if ((dragged || before != lines_.LineCount()) && OnLinesChanged) OnLinesChanged();
}

void HistChartView::DeleteSelectedLine() {
  lines_.DeleteSelected();
  update();
  if (OnLinesChanged) OnLinesChanged();
}

void HistChartView::ClearLines() {
  lines_.Clear();
  update();
  if (OnLinesChanged) OnLinesChanged();
}
