#pragma once
// The small line chart of a symbol's collected prices drawn inside a grid cell.
#include <string_view>

class QPainter;
class QRect;

// Draws the symbol's collected last prices as a line filling the rectangle; a portfolio's name
// draws the chart of that portfolio's value. printing non-zero draws in black for paper, else
// in the price colour of the live settings. Nothing is drawn without values.
void DrawMiniChart(std::string_view symbol, QPainter& canvas, const QRect& rect, int printing);
