#pragma once
// A paint device that records what is drawn on it, for checking the geometry of a replayed page.
#include <QPaintDevice>
#include <QPaintEngine>
#include <QPolygonF>
#include <QTextItem>

#include <vector>

#include "windows/print/page_printer.h"

struct LoggedText {
  QPointF Pos;
  QString Text;
  int PixelSize = 0;
  bool Bold = false;
};
struct LoggedLine {
  QLineF Line;
  double Width = 0;
};

class PageLogEngine : public QPaintEngine {
public:
  PageLogEngine() : QPaintEngine(QPaintEngine::AllFeatures) {}
  bool begin(QPaintDevice*) override { return true; }
  bool end() override { return true; }
  void updateState(const QPaintEngineState& state) override {
    if (state.state() & DirtyPen) pen_ = state.pen();
    if (state.state() & DirtyTransform) transform_ = state.transform();
  }
  void drawLines(const QLineF* lines, int count) override {
    for (int i = 0; i < count; ++i) Lines.push_back({transform_.map(lines[i]), pen_.widthF()});
  }
  void drawLines(const QLine* lines, int count) override {
    for (int i = 0; i < count; ++i) Lines.push_back({transform_.map(QLineF(lines[i])), pen_.widthF()});
  }
  void drawPolygon(const QPointF* points, int count, PolygonDrawMode) override {
    QPolygonF p;
    for (int i = 0; i < count; ++i) p << points[i];
    Polygons.push_back(transform_.map(p));
  }
  void drawPolygon(const QPoint* points, int count, PolygonDrawMode) override {
    QPolygonF p;
    for (int i = 0; i < count; ++i) p << QPointF(points[i]);
    Polygons.push_back(transform_.map(p));
  }
  void drawTextItem(const QPointF& p, const QTextItem& item) override {
    Texts.push_back({transform_.map(p), item.text(), item.font().pixelSize(), item.font().bold()});
  }
  void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
  Type type() const override { return QPaintEngine::User; }

  std::vector<LoggedText> Texts;
  std::vector<LoggedLine> Lines;
  std::vector<QPolygonF> Polygons;

private:
  QPen pen_;
  QTransform transform_;
};

class PageLogDevice : public QPaintDevice {
public:
  explicit PageLogDevice(int dpi = 600, QSize size = QSize(5100, 6600)) : dpi_(dpi), size_(size) {}
  QPaintEngine* paintEngine() const override { return &engine_; }
  PageLogEngine& Engine() const { return engine_; }

protected:
  int metric(PaintDeviceMetric m) const override {
    PrinterMetrics page;
    page.DpiX = page.DpiY = dpi_;
    page.PageWidth = size_.width();
    page.PageHeight = size_.height();
    return PageDeviceMetric(m, page);
  }

private:
  int dpi_;
  QSize size_;
  mutable PageLogEngine engine_;
};
