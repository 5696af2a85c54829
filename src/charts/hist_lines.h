#pragma once
// Straight trend lines drawn with the mouse over a chart image: at most 20 pixel segments, one
// selected, a press grabbing an end, a body or starting a new line, a drag showing a rubber
// band and a release applying it. No drawing here: the view asks for the lines and the band.
#include <array>
#include <cstddef>

struct TrendLine {
  int X1 = 0, Y1 = 0, X2 = 0, Y2 = 0;
};

class TrendLines {
public:
  static constexpr int MaxLines = 20;
  enum class Hit { None, End1, End2, Body };

  // The first line hit at (x, y) (1-based in line, 0 for none): its ends within 8 pixels,
  // then its body within 2 pixels of the line (6 across a vertical one).
  Hit HitTest(int x, int y, int& line) const;

  // Returns true when the view should redraw (a body was grabbed: its handles appear).
  bool MouseDown(int x, int y);
  // Returns true while a drag is under way (the rubber band moved).
  bool MouseMove(int x, int y);
  // Applies the drag (the last move position counts, not the release's).
  void MouseUp();
  // Removes the selected line; true when one went.
  bool DeleteSelected();
  void Clear();

  int LineCount() const { return count_; }
  const TrendLine& Line(int i) const { return lines_.at(static_cast<size_t>(i - 1)); }
  int SelectedLine() const { return selected_ >= 1 && selected_ <= count_ ? selected_ : 0; }
  bool Dragging() const { return anchorX_ >= 0; }
  bool MovingBody() const { return moveLine_; }
  // The segment to show as rubber band; false when none.
  bool RubberBand(TrendLine& band) const;
  void ResetDrag();

private:
  std::array<TrendLine, MaxLines> lines_{};
  int count_ = 0;
  int selected_ = 0;
  bool newLine_ = false, moveLine_ = false;
  int dragEnd_ = -1;
  int anchorX_ = -1, anchorY_ = -1;
  int prevX_ = -1, prevY_ = -1;
};
