#include "charts/chart_widget.h"

#include <QFontMetrics>
#include <QLinearGradient>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <charconv>

#include "platform/datetime.h"

namespace {

constexpr int TickLen = 4;
constexpr int MaxTicks = 200;
// Mapped coordinates are held in a range the raster engine handles without trouble.
constexpr double CoordLimit = 1.0e6;

double NiceStep(double raw) {
  if (!(raw > 0) || !std::isfinite(raw)) return 1.0;
  const double mag = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0})
    if (m * mag >= raw * (1 - 1e-9)) return m * mag;
  return 10.0 * mag;
}

double TimeStep(double rawDays) {
  static const double minutes[] = {1, 2, 5, 10, 15, 30, 60, 120, 180, 240, 360, 720, 1440};
  for (double m : minutes)
    if (m / 1440.0 >= rawDays) return m / 1440.0;
  return std::ceil(rawDays);
}

double Clamp(double v) { return std::clamp(v, -CoordLimit, CoordLimit); }

}  // namespace

std::string FormatFloatPattern(const std::string& pattern, double value) {
  if (!std::isfinite(value)) return "";
  const size_t dot = pattern.find('.');
  const std::string intPart = pattern.substr(0, dot);
  const std::string decPart = dot == std::string::npos ? "" : pattern.substr(dot + 1);
  const bool groups = intPart.find(',') != std::string::npos;
  const int minInt = static_cast<int>(std::count(intPart.begin(), intPart.end(), '0'));
  const int minDec = static_cast<int>(std::count(decPart.begin(), decPart.end(), '0'));
  const int maxDec = static_cast<int>(std::count(decPart.begin(), decPart.end(), '0') +
                                      std::count(decPart.begin(), decPart.end(), '#'));
  char buf[400];
  const auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::fixed, maxDec);
  std::string text(buf, res.ec == std::errc() ? res.ptr : buf);
  std::string whole = text, frac;
  if (const size_t p = text.find('.'); p != std::string::npos) {
    whole = text.substr(0, p);
    frac = text.substr(p + 1);
  }
  while (static_cast<int>(frac.size()) > minDec && !frac.empty() && frac.back() == '0') frac.pop_back();
  if (whole == "0" && minInt == 0) whole.clear();
  if (static_cast<int>(whole.size()) < minInt) whole = std::string(static_cast<size_t>(minInt) - whole.size(), '0') + whole;
  if (groups && whole.size() > 3) {
    std::string g;
    const int n = static_cast<int>(whole.size());
    for (int i = 0; i < n; ++i) {
      if (i > 0 && (n - i) % 3 == 0) g += ',';
      g += whole[static_cast<size_t>(i)];
    }
    whole = g;
  }
  std::string out = whole;
  if (!frac.empty()) {
    out += '.';
    out += frac;
  }
  if (out.empty()) out.push_back('0');
  const bool zero = out.find_first_not_of("0.,") == std::string::npos;
  if (value < 0 && !zero) {
    std::string neg = "-";
    neg += out;
    return neg;
  }
  return out;
}

std::string ChartAxis::LabelText(double value) const {
  std::string text = DateTime ? FormatDateTime(DateTimeFormat, value) : FormatFloatPattern(ValueFormat, value);
  if (LabelFormatter) text = LabelFormatter(value, text);
  return text;
}

std::vector<double> ChartAxis::Ticks(double step, int maxTicks) const {
  std::vector<double> out;
  if (!(step > 0) || !std::isfinite(Min) || !std::isfinite(Max) || Max < Min) return out;
  while ((Max - Min) / step > maxTicks) step *= 2;
  const double first = std::ceil(Min / step - 1e-9) * step;
  for (int i = 0; i < maxTicks + 1; ++i) {
    const double v = first + i * step;
    if (v > Max + step * 1e-9) break;
    out.push_back(std::fabs(v) < step * 1e-9 ? 0.0 : v);
  }
  return out;
}

TChart::TChart(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  BottomAxis.DateTime = true;
  RightAxis.Visible = true;
  LeftAxis.Visible = false;
}

ChartLineSeries* TChart::AddSeries() {
  series_.push_back(std::make_unique<ChartLineSeries>());
  return series_.back().get();
}

double TChart::VertStep(const ChartAxis& axis, int plotHeight, const QFontMetrics& fm) const {
  const double span = axis.Max - axis.Min;
  if (!(span > 0) || !std::isfinite(span)) return 0;
  const double rows = std::max(1.0, plotHeight / (1.5 * fm.height()));
  double step = axis.Increment > 0 ? axis.Increment : NiceStep(span / rows);
  // Labels never overlap: a given increment is widened when the room is too small.
  while (span / step > rows * 1.0001 && std::isfinite(step)) step *= 2;
  return step;
}

double TChart::BottomStep(int plotWidth, const QFontMetrics& fm) const {
  const ChartAxis& a = BottomAxis;
  const double span = a.Max - a.Min;
  if (!(span > 0) || !std::isfinite(span)) return 0;
  const int labelW = fm.horizontalAdvance(QString::fromStdString(a.LabelText(a.Max))) + 12;
  const double cols = std::max(1.0, static_cast<double>(plotWidth) / std::max(labelW, 1));
  double step = a.Increment > 0 ? a.Increment : (a.DateTime ? TimeStep(span / cols) : NiceStep(span / cols));
  while (span / step > cols * 1.0001 && std::isfinite(step)) step *= 2;
  return step;
}

int TChart::VertAxisWidth(const ChartAxis& axis, const QFontMetrics& fm, int plotHeight) const {
  if (!axis.Visible) return 4;
  int w = 0;
  for (double v : axis.Ticks(VertStep(axis, plotHeight, fm), MaxTicks))
    w = std::max(w, fm.horizontalAdvance(QString::fromStdString(axis.LabelText(v))));
  if (w == 0) w = fm.horizontalAdvance(QStringLiteral("0.00"));
  return w + TickLen + 4 + (axis.Title.empty() ? 0 : fm.height() + 2);
}

QRect TChart::PlotRect(const QRect& rect, const QFontMetrics& fm) const {
  const int bottomH =
      BottomAxis.Visible ? fm.height() + TickLen + 4 + (BottomAxis.Title.empty() ? 0 : fm.height()) : 4;
  const int top = std::max(TopMargin, 0) + fm.height() / 2 + 2;
  const int plotH = std::max(1, rect.height() - bottomH - top);
  const int left = VertAxisWidth(LeftAxis, fm, plotH);
  const int right = VertAxisWidth(RightAxis, fm, plotH);
  return QRect(rect.left() + left, rect.top() + top, std::max(1, rect.width() - left - right), plotH);
}

void TChart::Render(QPainter& p, const QRect& rect) const {
  p.save();
  p.setClipRect(rect);
  if (Gradient) {
    QLinearGradient g(rect.topLeft(), rect.bottomLeft());
    g.setColorAt(0, GradientStart);
    g.setColorAt(1, GradientEnd);
    p.fillRect(rect, g);
  } else {
    p.fillRect(rect, BackColor);
  }
  p.setFont(font());
  const QFontMetrics fm(p.font());
  const QRect plot = PlotRect(rect, fm);
  RenderVertAxis(p, LeftAxis, plot, true, fm);
  RenderVertAxis(p, RightAxis, plot, false, fm);
  RenderBottomAxis(p, plot, fm);
  std::vector<AxisLabel> labels;
  VertLabels(LeftAxis, rect, plot, true, fm, labels);
  VertLabels(RightAxis, rect, plot, false, fm, labels);
  for (const AxisLabel& l : labels) {
    p.setPen((l.Box.left() < plot.left() ? LeftAxis : RightAxis).LabelColor);
    p.drawText(l.Box.left(), l.Box.top() + fm.ascent(), l.Text);
  }
  labels.clear();
  BottomLabels(rect, plot, fm, labels);
  p.setPen(BottomAxis.LabelColor);
  for (const AxisLabel& l : labels) p.drawText(l.Box.left(), l.Box.top() + fm.ascent(), l.Text);
  RenderSeries(p, plot);
  p.setClipRect(rect);
  p.setPen(FrameColor);
  p.setBrush(Qt::NoBrush);
  p.drawRect(plot.adjusted(0, 0, -1, -1));
  p.restore();
}

void TChart::RenderVertAxis(QPainter& p, const ChartAxis& axis, const QRect& plot, bool left,
                            const QFontMetrics& fm) const {
  if (!axis.Visible) return;
  const double span = axis.Max - axis.Min;
  if (!(span > 0) || !std::isfinite(span)) return;
  const double step = VertStep(axis, plot.height(), fm);
  const int x = left ? plot.left() : plot.right();
  for (double v : axis.Ticks(step, MaxTicks)) {
    const int y = static_cast<int>(std::lround(plot.bottom() - (v - axis.Min) * (plot.height() - 1) / span));
    if (axis.GridVisible) {
      p.setPen(QPen(axis.GridColor, 1, Qt::DotLine));
      p.drawLine(plot.left(), y, plot.right(), y);
    }
    p.setPen(axis.AxisColor);
    p.drawLine(left ? x - TickLen : x, y, left ? x : x + TickLen, y);
  }
  p.setPen(axis.AxisColor);
  p.drawLine(x, plot.top(), x, plot.bottom());
  if (!axis.Title.empty()) {
    p.save();
    p.setPen(axis.LabelColor);
    const QString t = QString::fromStdString(axis.Title);
    const int tw = fm.horizontalAdvance(t);
    const int cy = plot.top() + plot.height() / 2;
    if (left) {
      p.translate(plot.left() - VertAxisWidth(axis, fm, plot.height()) + fm.ascent(), cy + tw / 2);
      p.rotate(-90);
    } else {
      p.translate(plot.right() + VertAxisWidth(axis, fm, plot.height()) - fm.ascent() + 2, cy - tw / 2);
      p.rotate(90);
    }
    p.drawText(0, 0, t);
    p.restore();
  }
}

void TChart::RenderBottomAxis(QPainter& p, const QRect& plot, const QFontMetrics& fm) const {
  const ChartAxis& a = BottomAxis;
  if (!a.Visible) return;
  const double span = a.Max - a.Min;
  p.setPen(a.AxisColor);
  p.drawLine(plot.left(), plot.bottom(), plot.right(), plot.bottom());
  if (!(span > 0) || !std::isfinite(span)) return;
  for (double v : a.Ticks(BottomStep(plot.width(), fm), MaxTicks)) {
    const int x = static_cast<int>(std::lround(plot.left() + (v - a.Min) * (plot.width() - 1) / span));
    if (a.GridVisible) {
      p.setPen(QPen(a.GridColor, 1, Qt::DotLine));
      p.drawLine(x, plot.top(), x, plot.bottom());
    }
    p.setPen(a.AxisColor);
    p.drawLine(x, plot.bottom(), x, plot.bottom() + TickLen);
  }
  if (!a.Title.empty()) {
    const QString t = QString::fromStdString(a.Title);
    p.setPen(a.LabelColor);
    p.drawText(plot.left() + (plot.width() - fm.horizontalAdvance(t)) / 2,
               plot.bottom() + TickLen + 2 + fm.height() + fm.ascent(), t);
  }
}

std::vector<TChart::AxisLabel> TChart::Labels(const QRect& rect, const QFontMetrics& fm) const {
  std::vector<AxisLabel> out;
  const QRect plot = PlotRect(rect, fm);
  VertLabels(LeftAxis, rect, plot, true, fm, out);
  VertLabels(RightAxis, rect, plot, false, fm, out);
  BottomLabels(rect, plot, fm, out);
  return out;
}

void TChart::VertLabels(const ChartAxis& axis, const QRect& rect, const QRect& plot, bool left,
                        const QFontMetrics& fm, std::vector<AxisLabel>& out) const {
  if (!axis.Visible) return;
  const double span = axis.Max - axis.Min;
  if (!(span > 0) || !std::isfinite(span)) return;
  const int x = left ? plot.left() : plot.right();
  for (double v : axis.Ticks(VertStep(axis, plot.height(), fm), MaxTicks)) {
    const int y = static_cast<int>(std::lround(plot.bottom() - (v - axis.Min) * (plot.height() - 1) / span));
    const QString text = QString::fromStdString(axis.LabelText(v));
    const int w = fm.horizontalAdvance(text);
    const int tx = left ? x - TickLen - 2 - w : x + TickLen + 2;
    // Centred on its tick, but never cut by the chart's top or bottom edge.
    const int top = std::clamp(y - fm.height() / 2, rect.top(), rect.bottom() + 1 - fm.height());
    out.push_back({QRect(tx, top, w, fm.height()), text, false});
  }
}

void TChart::BottomLabels(const QRect& rect, const QRect& plot, const QFontMetrics& fm,
                          std::vector<AxisLabel>& out) const {
  const ChartAxis& a = BottomAxis;
  if (!a.Visible) return;
  const double span = a.Max - a.Min;
  if (!(span > 0) || !std::isfinite(span)) return;
  for (double v : a.Ticks(BottomStep(plot.width(), fm), MaxTicks)) {
    const int x = static_cast<int>(std::lround(plot.left() + (v - a.Min) * (plot.width() - 1) / span));
    const QString text = QString::fromStdString(a.LabelText(v));
    const int w = fm.horizontalAdvance(text);
    // Centred under its tick, but a label near either edge is moved inside the chart rather
    // than cut (the first time label lost its hour).
    const int left = std::clamp(x - w / 2, rect.left(), std::max(rect.left(), rect.right() + 1 - w));
    out.push_back({QRect(left, plot.bottom() + TickLen + 2, w, fm.height()), text, true});
  }
}

void TChart::RenderSeries(QPainter& p, const QRect& plot) const {
  const double xSpan = BottomAxis.Max - BottomAxis.Min;
  if (!(xSpan > 0) || !std::isfinite(xSpan)) return;
  p.save();
  p.setClipRect(plot);
  p.setRenderHint(QPainter::Antialiasing, false);
  const double sx = (plot.width() - 1) / xSpan;
  const double ox = plot.left() - BottomAxis.Min * sx;
  for (const auto& s : series_) {
    if (!s->Active || s->Count() < 2) continue;
    const ChartAxis& va = s->Axis == VertAxisSide::Left ? LeftAxis : RightAxis;
    const double ySpan = va.Max - va.Min;
    if (!(ySpan > 0) || !std::isfinite(ySpan)) continue;
    const double sy = -(plot.height() - 1) / ySpan;
    const double oy = plot.bottom() - va.Min * sy;
    p.setPen(QPen(s->Color, s->PenWidth, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    const int n = s->Count();
    const double* xs = s->XData();
    const double* ys = s->YData();
    poly_.resize(n);
    QPointF* out = poly_.data();
    int run = 0;
    // A non-finite point ends the line; the next finite one starts a new line.
    for (int i = 0; i < n; ++i) {
      const double x = xs[i], y = ys[i];
      if (std::isfinite(x) && std::isfinite(y)) {
        out[run++] = QPointF(Clamp(x * sx + ox), Clamp(y * sy + oy));
      } else {
        if (run > 1) p.drawPolyline(out, run);
        run = 0;
      }
    }
    if (run > 1) p.drawPolyline(out, run);
  }
  p.restore();
}

void TChart::paintEvent(QPaintEvent*) {
  QPainter p(this);
  Render(p, rect());
}
