#include "charts/chart_colors.h"

#include <QPalette>

#include "charts/chart_widget.h"

void ApplyChartColors(TChart* chart, bool leftAxis, bool gradient, TColor backColor, TColor gradStart,
                      TColor gradEnd, TColor seriesColor, TColor axisColor, TColor textColor) {
  if (!chart) return;
  chart->Gradient = gradient;
  chart->GradientStart = ToQColor(gradStart);
  chart->GradientEnd = ToQColor(gradEnd);
  chart->BackColor = ToQColor(backColor);
  if (!gradient) {
    QPalette pal = chart->palette();
    pal.setColor(QPalette::Window, ToQColor(backColor));
    chart->setPalette(pal);
  }
  if (chart->SeriesCount() > 0) chart->Series(0).Color = ToQColor(seriesColor);
  chart->FrameColor = ToQColor(axisColor);
  auto paint = [&](ChartAxis& a) {
    a.AxisColor = ToQColor(axisColor);
    a.GridColor = ToQColor(axisColor);
    a.LabelColor = ToQColor(textColor);
  };
  paint(chart->BottomAxis);
  chart->BottomAxis.Visible = true;
  chart->LeftAxis.Visible = leftAxis;
  chart->RightAxis.Visible = !leftAxis;
  paint(leftAxis ? chart->LeftAxis : chart->RightAxis);
  chart->update();
}
