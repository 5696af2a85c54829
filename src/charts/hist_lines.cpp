#include "charts/hist_lines.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

TrendLines::Hit TrendLines::HitTest(int x, int y, int& line) const {
  line = 0;
  for (int i = 1; i <= count_; ++i) {
    const TrendLine& l = lines_[static_cast<size_t>(i - 1)];
    if (std::abs(l.X1 - x) <= 8 && std::abs(l.Y1 - y) <= 8) return line = i, Hit::End1;
    if (std::abs(l.X2 - x) <= 8 && std::abs(l.Y2 - y) <= 8) return line = i, Hit::End2;
    // The box reaches as far as the tolerance, or flat and upright lines could only be
    // grabbed on their exact pixel row or column.
    const int slackX = l.X1 == l.X2 ? 6 : 0;
    const bool inBox = x >= std::min(l.X1, l.X2) - slackX && x <= std::max(l.X1, l.X2) + slackX &&
                       y >= std::min(l.Y1, l.Y2) - 2 && y <= std::max(l.Y1, l.Y2) + 2;
    if (!inBox) continue;
    if (l.X1 == l.X2) {
      if (std::abs(x - l.X1) <= 6) return line = i, Hit::Body;
    } else {
      const double onLine = static_cast<double>(l.Y2 - l.Y1) * (x - l.X1) / (l.X2 - l.X1) + l.Y1;
      if (std::abs(std::lround(onLine) - y) <= 2) return line = i, Hit::Body;
    }
  }
  return Hit::None;
}

bool TrendLines::MouseDown(int x, int y) {
  newLine_ = false;
  moveLine_ = false;
  dragEnd_ = -1;
  selected_ = 0;
  int line = 0;
  const Hit hit = HitTest(x, y, line);
  bool redraw = false;
  if (hit == Hit::End1 || hit == Hit::End2) {
    selected_ = line;
    dragEnd_ = hit == Hit::End1 ? 1 : 2;
  } else if (hit == Hit::Body) {
    selected_ = line;
    moveLine_ = true;
    redraw = true;
  }
  if (!moveLine_ && dragEnd_ == -1) newLine_ = true;
  if (dragEnd_ > 0) {
    const TrendLine& l = Line(selected_);
    anchorX_ = dragEnd_ == 1 ? l.X2 : l.X1;
    anchorY_ = dragEnd_ == 1 ? l.Y2 : l.Y1;
  } else {
    anchorX_ = x;
    anchorY_ = y;
  }
  prevX_ = prevY_ = -1;
  return redraw;
}

bool TrendLines::MouseMove(int x, int y) {
  if (anchorX_ < 0) return false;
  prevX_ = x;
  prevY_ = y;
  return true;
}

bool TrendLines::RubberBand(TrendLine& band) const {
  if (anchorX_ < 0 || prevX_ < 0) return false;
  if (moveLine_ && SelectedLine() > 0) {
    const TrendLine& l = Line(selected_);
    const int dx = prevX_ - anchorX_, dy = prevY_ - anchorY_;
    band = {l.X1 + dx, l.Y1 + dy, l.X2 + dx, l.Y2 + dy};
  } else {
    band = {anchorX_, anchorY_, prevX_, prevY_};
  }
  return true;
}

void TrendLines::MouseUp() {
  if (anchorX_ >= 0 && prevX_ >= 0) {
    if (newLine_) {
      const bool tooShort = std::abs(anchorX_ - prevX_) <= 5 && std::abs(anchorY_ - prevY_) <= 5;
      if (!tooShort && count_ < MaxLines) {
        lines_[static_cast<size_t>(count_)] = {anchorX_, anchorY_, prevX_, prevY_};
        selected_ = ++count_;
      }
    } else if (SelectedLine() > 0) {
      TrendLine& l = lines_[static_cast<size_t>(selected_ - 1)];
      if (moveLine_) {
        const int dx = prevX_ - anchorX_, dy = prevY_ - anchorY_;
        l = {l.X1 + dx, l.Y1 + dy, l.X2 + dx, l.Y2 + dy};
      } else if (dragEnd_ == 1) {
        l.X1 = prevX_;
        l.Y1 = prevY_;
      } else if (dragEnd_ == 2) {
        l.X2 = prevX_;
        l.Y2 = prevY_;
      }
    }
  }
  ResetDrag();
}

void TrendLines::ResetDrag() {
  anchorX_ = anchorY_ = -1;
  prevX_ = prevY_ = -1;
  newLine_ = moveLine_ = false;
  dragEnd_ = -1;
}

bool TrendLines::DeleteSelected() {
  const int sel = SelectedLine();
  if (sel > 0) {
    std::move(lines_.begin() + sel, lines_.begin() + count_, lines_.begin() + sel - 1);
    --count_;
  }
  selected_ = 0;
  ResetDrag();
  return sel > 0;
}

void TrendLines::Clear() {
  count_ = 0;
  selected_ = 0;
  ResetDrag();
}
