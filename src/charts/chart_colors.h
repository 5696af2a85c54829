#pragma once
// The chart colour scheme of the preferences applied to one chart.
#include "platform/color.h"

class TChart;

// Gradient from start to end colour, or solid back colour when the gradient is off; series 0
// in the series colour; the bottom axis, the grid and the frame in the axis colour with labels
// in the text colour, and the same for the left axis when leftAxis is set, else the right one.
void ApplyChartColors(TChart* chart, bool leftAxis, bool gradient, TColor backColor, TColor gradStart,
                      TColor gradEnd, TColor seriesColor, TColor axisColor, TColor textColor);
