#pragma once
// A banner in a window: takes a banner location for its kind, shows what the ad thread puts up,
// keeps the location's minimised and blocked flags current and passes clicks to OpenAdLink.
// Made only when there are ads for the kind (CreateAdBanner answers null otherwise).
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

class QLabel;
class QTimer;
class TAnimGif;
class TGifImageControl;

class AdBanner : public QWidget {
public:
  AdBanner(int kind, int location, QWidget* parent);
  ~AdBanner() override;

  int Location() const { return location_; }
  TGifImageControl* Image() const { return image_; }
  TAnimGif* Gif() const { return gif_.get(); }
  // Runs before OpenAdLink on a click (the main banner's own steps).
  std::function<void()> BeforeClick;

protected:
  void mousePressEvent(QMouseEvent* e) override;

private:
  int location_;
  std::unique_ptr<TAnimGif> gif_;
  TGifImageControl* image_ = nullptr;
  QLabel *blurb1_ = nullptr, *blurb2_ = nullptr;
  QTimer* flags_ = nullptr;
};

// Width of the main banner's blurb column.
constexpr int BlurbColumnWidth = 230;

// A banner for the kind, or null when no ad serves it or every location is taken. With blurbs
// the two blurb labels stand beside it in a column of fixed width.
AdBanner* CreateAdBanner(int kind, QWidget* parent, int width = 468, int height = 60, bool blurbs = false);

// Makes the two labels the banner location's blurb labels; the hosting window owns them.
void SetBannerBlurbLabels(AdBanner* banner, QLabel* first, QLabel* second);

// Shows a blurb in its label elided to the label's width (the full text as tooltip), so no
// blurb a server sends can widen the window. A null label is left alone.
void SetBlurbText(QLabel* label, const std::string& text);
