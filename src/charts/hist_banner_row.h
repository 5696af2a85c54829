#pragma once
// A history window's banner row: the 470 x 62 banner panel with its two blurb labels left and
// right of it, outside it on the window's background, each with its arrow picture (where the
// window has them) pointing at the banner. Too narrow for them, the row shows the panel alone.
#include <QWidget>

class QLabel;

class HistBannerRow : public QWidget {
public:
  // Takes the panel, the labels and the pictures (either picture may be null) as children. The
  // labels keep labelWidth whatever their text, so a new blurb never moves the banner.
  HistBannerRow(QWidget* parent, QWidget* panel, QLabel* left, QLabel* right, QLabel* picLeft, QLabel* picRight,
                int labelWidth);

  QSize sizeHint() const override;         // the panel with its labels
  QSize minimumSizeHint() const override;  // the panel alone
  bool LabelsShown() const { return labelsShown_; }

  static constexpr int Gap = 4;

protected:
  void resizeEvent(QResizeEvent* event) override;

private:
  int SideWidth(const QLabel* pic) const;
  void Place();

  QWidget* panel_;
  QLabel *left_, *right_, *picLeft_, *picRight_;
  int labelWidth_;
  bool labelsShown_ = false;
};
