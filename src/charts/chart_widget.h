#pragma once
// Our chart component: line series over a left, right and date-time bottom axis, painted with
// QPainter onto the widget or onto any other painter (printing).
#include <QColor>
#include <QPolygonF>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "charts/chart_series.h"

class QPainter;

enum class VertAxisSide { Left, Right };

class ChartLineSeries : public SeriesPoints {
public:
  bool Active = true;
  QColor Color = Qt::yellow;
  int PenWidth = 1;
  VertAxisSide Axis = VertAxisSide::Right;
};

class ChartAxis {
public:
  bool Visible = true;
  double Min = 0;
  double Max = 1;
  double Increment = 0;          // 0: a step is chosen from the room
  bool DateTime = false;         // labels are times of day
  std::string DateTimeFormat = "h:mm";
  std::string ValueFormat = "#,##0.###";  // '#'/'0' digits, ',' groups, '.' decimals
  std::string Title;
  QColor AxisColor = Qt::white;
  QColor GridColor = Qt::gray;
  QColor LabelColor = Qt::white;
  bool GridVisible = true;
  // Receives each value and its default text, returns the text to show.
  std::function<std::string(double value, const std::string& text)> LabelFormatter;

  void SetMinMax(double min, double max) {
    Min = min;
    Max = max;
  }
  std::string LabelText(double value) const;
  // The tick values between Min and Max for the given step (at most maxTicks of them).
  std::vector<double> Ticks(double step, int maxTicks) const;
};

// A value as a "#,##0.00###"-style pattern gives it, always with "." and ",".
std::string FormatFloatPattern(const std::string& pattern, double value);

class TChart : public QWidget {
public:
  explicit TChart(QWidget* parent = nullptr);

  ChartLineSeries* AddSeries();
  int SeriesCount() const { return static_cast<int>(series_.size()); }
  ChartLineSeries& Series(int i) { return *series_.at(static_cast<size_t>(i)); }
  const ChartLineSeries& Series(int i) const { return *series_.at(static_cast<size_t>(i)); }

  ChartAxis LeftAxis, RightAxis, BottomAxis;

  // Room kept free above the plot (in pixels), e.g. for buttons over the chart's top edge.
  int TopMargin = 0;
  bool Gradient = true;
  QColor GradientStart = QColor(0, 0, 64);
  QColor GradientEnd = Qt::black;
  QColor BackColor = Qt::black;
  QColor FrameColor = Qt::gray;

  // Paints the whole chart into rect of any painter.
  void Render(QPainter& p, const QRect& rect) const;
  // The plot area that Render uses for a given outer rectangle.
  QRect PlotRect(const QRect& rect, const QFontMetrics& fm) const;
  // Paints only the series into a plot rectangle (the axes' ranges map the points).
  void RenderSeries(QPainter& p, const QRect& plot) const;

  // Where Render puts each axis label for a given outer rectangle: every label lies inside it.
  struct AxisLabel {
    QRect Box;
    QString Text;
    bool Bottom;  // a time label; else a value label of the visible side axis
  };
  std::vector<AxisLabel> Labels(const QRect& rect, const QFontMetrics& fm) const;

protected:
  void paintEvent(QPaintEvent* event) override;

private:
  void RenderVertAxis(QPainter& p, const ChartAxis& axis, const QRect& plot, bool left,
                      const QFontMetrics& fm) const;
  void RenderBottomAxis(QPainter& p, const QRect& plot, const QFontMetrics& fm) const;
  void VertLabels(const ChartAxis& axis, const QRect& rect, const QRect& plot, bool left, const QFontMetrics& fm,
                  std::vector<AxisLabel>& out) const;
  void BottomLabels(const QRect& rect, const QRect& plot, const QFontMetrics& fm, std::vector<AxisLabel>& out) const;
  int VertAxisWidth(const ChartAxis& axis, const QFontMetrics& fm, int plotHeight) const;
  double VertStep(const ChartAxis& axis, int plotHeight, const QFontMetrics& fm) const;
  double BottomStep(int plotWidth, const QFontMetrics& fm) const;

  std::vector<std::unique_ptr<ChartLineSeries>> series_;
  mutable QPolygonF poly_;  // reused between paints
};
