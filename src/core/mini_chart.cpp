#include "core/mini_chart.h"

#include <QPainter>
#include <QPolygonF>
#include <QRect>

#include <algorithm>
#include <vector>

#include "core/locks.h"
#include "core/portfolios.h"
#include "core/settings.h"
#include "core/stock_table.h"

namespace {
struct Point {
  double t;
  double v;
};

// The chart symbol of the portfolio with that name, or the symbol itself.
std::string ChartSymbol(std::string_view symbol) {
  LockHold hold(PortLock, "MINICH", LockHold::Now{});
  if (hold) {
    for (const PortType& p : PortList)
      if (p.Name == symbol) return p.Id;
  }
  return std::string(symbol);
}
}  // namespace

void DrawMiniChart(std::string_view symbol, QPainter& canvas, const QRect& rect, int printing) {
  if (rect.width() < 2 || rect.height() < 2) return;
  const int index = StockTable.Find(ChartSymbol(symbol));
  if (index < 0) return;
  ValueList& list = StockTable.Objects(index)->Values;

  // Copy a bounded sample under the lock; a few points per pixel is plenty.
  std::vector<Point> pts;
  {
    // Painting never waits: a busy list is drawn on the next repaint.
    LockHold hold(list.Cs(), "MINICH", LockHold::Now{});
    if (!hold) return;
    const int count = list.Count();
    const int want = rect.width() * 4;
    const int step = count > want ? count / want + 1 : 1;
    pts.reserve(static_cast<size_t>(count / step + 2));
    for (int i = 0; i < count; i += step)
      if (list[i].Last > 0) pts.push_back({list[i].Time, list[i].Last});
    if (count > 0 && (count - 1) % step != 0 && list[count - 1].Last > 0)
      pts.push_back({list[count - 1].Time, list[count - 1].Last});
  }
  if (pts.empty()) return;

  const auto [lo, hi] = std::minmax_element(pts.begin(), pts.end(), [](const Point& a, const Point& b) { return a.v < b.v; });
  const double vmin = lo->v, vmax = hi->v;
  const double t0 = pts.front().t, t1 = pts.back().t;
  const double left = rect.left(), top = rect.top();
  const double w = rect.width() - 1, h = rect.height() - 1;

  QPolygonF line;
  line.reserve(static_cast<int>(pts.size()));
  for (const Point& p : pts) {
    const double x = t1 > t0 ? left + (p.t - t0) / (t1 - t0) * w : left + w;
    const double y = vmax > vmin ? top + (vmax - p.v) / (vmax - vmin) * h : top + h / 2;
    line << QPointF(x, y);
  }
  if (line.size() == 1) line.prepend(QPointF(left, line.front().y()));

  canvas.save();
  canvas.setClipRect(rect);
  canvas.setPen(QPen(printing ? QColor(Qt::black) : ToQColor(LiveSettings.PriceClr), 1));
  canvas.drawPolyline(line);
  canvas.restore();
}
