#pragma once
// The chart image of a historical chart window: a still copy of the fetched GIF with the trend
// lines over it. The rubber band of a drag is painted over the still copy in the paint event.
#include <QImage>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "charts/hist_lines.h"

class TAnimGif;

class HistChartView : public QWidget {
public:
  explicit HistChartView(QWidget* parent = nullptr);
  ~HistChartView() override;

  // Decodes the GIF and shows it (the lines stay); false when it does not decode, and the view
  // keeps what it showed.
  bool ShowGif(const std::string& gif);
  void ClearChart();
  bool HasChart() const { return !still_.isNull(); }
  const QImage& Still() const { return still_; }

  TrendLines& Lines() { return lines_; }
  // The lines' colour: site 1 the inverse of the chart's pixel (3, 3); site 2 black.
  bool InverseLineColour = true;
  QColor LineColour() const;
  // The rubber band of a drag: width 2, the colour of the drawn chart's pixel at BandPixel
  // unless BandColour gives one (site 1 by its chart style), combined with the chart by XOR
  // where the painter can, so it shows on any background.
  QPoint BandPixel{3, 3};
  std::function<std::optional<QColor>()> BandColour;

  // Runs after a line was added, changed or removed (the window shows "Clear Lines").
  std::function<void()> OnLinesChanged;
  void DeleteSelectedLine();
  void ClearLines();
  // The chart with its lines as the screen shows it.
  QImage Rendered() const;

protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

private:
  void Paint(QPainter& p, bool withBand) const;
  void PaintChartAndLines(QPainter& p) const;
  void UpdateCursor(int x, int y);
  std::unique_ptr<TAnimGif> gif_;
  QImage still_;
  TrendLines lines_;
};
